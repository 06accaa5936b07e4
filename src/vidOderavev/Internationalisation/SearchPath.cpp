#include <vidOderavev/Internationalisation/SearchPath.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <unistd.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

namespace {

const char* const g_pDefaultModuleName = "vidOderavev";

void CutAtLastDot(std::string& name)
{
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
}

// The file of the shared object holding the address, or of the running
// executable; neither flag is set if neither can be found.
void FindModuleFile(const void* address, std::string& soFile, std::string& exeFile, bool& haveSo, bool& haveExe)
{
    Dl_info info;
    haveSo = ::dladdr(address, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] != '\0';
    if (haveSo) {
        soFile = info.dli_fname;
        haveExe = false;
        return;
    }
    char procPath[64];
    std::snprintf(procPath, sizeof(procPath), "/proc/%d/exe", static_cast<int>(::getpid()));
    char resolved[PATH_MAX];
    haveExe = ::realpath(procPath, resolved) != nullptr;
    if (haveExe)
        exeFile = resolved;
}

} // namespace

void CSearchPath::BuildForModuleOf(const void* address, std::list<std::string>& paths, std::string& application)
{
    std::string soFile, exeFile;
    bool haveSo = false, haveExe = false;
    FindModuleFile(address, soFile, exeFile, haveSo, haveExe);
    _BuildDefaultSearchPathList(paths, application, haveSo ? soFile.c_str() : nullptr,
                                haveExe ? exeFile.c_str() : nullptr);
}

void CSearchPath::_BuildDefaultSearchPathList(std::list<std::string>& paths, std::string& application,
                                              const char* soFile, const char* exeFile)
{
    paths.clear();
    application.clear();
    _AddApplicationPathAndName(paths, application, soFile, exeFile);
    _AddCurrentPath(paths);
    _AddEnvironmentPath(paths);
    if (paths.empty())
        paths.push_back("./");
}

void CSearchPath::_BuildApplicationSearchPathList(std::list<std::string>& paths, std::string& application,
                                                  const std::string& applicationPath)
{
    paths.clear();
    std::string::size_type separator = applicationPath.find_last_of("/\\");
    if (separator != std::string::npos) {
        paths.push_back(applicationPath.substr(0, separator));
        application = applicationPath.substr(separator + 1);
    } else
        application = applicationPath;
    CutAtLastDot(application);
    _AddCurrentPath(paths);
    _AddEnvironmentPath(paths);
    if (paths.empty())
        paths.push_back("./");
}

void CSearchPath::_AddApplicationPathAndName(std::list<std::string>& paths, std::string& application,
                                             const char* soFile, const char* exeFile)
{
    const char* file = soFile ? soFile : exeFile;
    if (file)
        _SplitModulePath(file, paths, application);
    else
        application = g_pDefaultModuleName;
    paths.push_back("./");
}

void CSearchPath::_SplitModulePath(const std::string& file, std::list<std::string>& paths, std::string& application)
{
    std::string::size_type separator = file.find_last_of("/\\");
    if (separator == std::string::npos)
        return;
    paths.push_back(file.substr(0, separator));
    application = file.substr(separator + 1);
    CutAtLastDot(application);
}

void CSearchPath::_AddCurrentPath(std::list<std::string>& paths)
{
    char buffer[1023];
    if (::getcwd(buffer, sizeof(buffer)))
        paths.push_back(buffer);
}

void CSearchPath::_AddEnvironmentPath(std::list<std::string>& paths)
{
    if (const char* value = std::getenv("LANGUAGEPATH"))
        paths.push_back(value);
}

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz
