#ifndef VIDODERAVEV_INTERNATIONALISATION_SEARCHPATH_H
#define VIDODERAVEV_INTERNATIONALISATION_SEARCHPATH_H

#include <list>
#include <string>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

// The directories searched for translator files, and the module name the
// files are named after. Duplicates stay, and no directory is tested for
// existence: a list is only ever walked in order.
class CSearchPath
{
public:
    // The default list and module name for the shared object (or, failing
    // that, the executable) that holds the given address: its directory, "./",
    // the current directory and $LANGUAGEPATH.
    static void BuildForModuleOf(const void* address, std::list<std::string>& paths, std::string& application);

    // The same from given files. soFile is the file of the shared object
    // holding the library (from dladdr), exeFile the resolved path of the
    // running executable; either may be null when it could not be found, and
    // with both null the module is named "vidOderavev".
    static void _BuildDefaultSearchPathList(std::list<std::string>& paths, std::string& application, const char* soFile,
                                            const char* exeFile);
    // The search path list and module name derived from a module file path.
    static void _BuildApplicationSearchPathList(std::list<std::string>& paths, std::string& application,
                                                const std::string& applicationPath);

private:
    static void _AddApplicationPathAndName(std::list<std::string>& paths, std::string& application, const char* soFile,
                                           const char* exeFile);
    static void _AddCurrentPath(std::list<std::string>& paths);
    static void _AddEnvironmentPath(std::list<std::string>& paths);
    static void _SplitModulePath(const std::string& file, std::list<std::string>& paths, std::string& application);
};

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz

#endif
