#ifndef VIDODERAVEV_INTERNATIONALISATION_TRANSLATORFILE_H
#define VIDODERAVEV_INTERNATIONALISATION_TRANSLATORFILE_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

class CTranslatorData;

// Reads and writes one .trl translator file: the header "TF(0001)", a settings
// block with module name, language and base-module names, and the module's
// own translations as "text"="translation" lines. Texts are byte strings.
class CTranslatorFile
{
public:
    explicit CTranslatorFile(const std::string& fileName);
    virtual ~CTranslatorFile();

    // <path>/<application><language>.trl, with every "//" folded to "/".
    static std::string BuildFileName(const std::string& path, const std::string& application,
                                     const std::string& language);
    static bool Exists(const std::string& file);

    // Adds the file's content to the table; true only for a complete,
    // well-formed file. Bad versions and parse errors are reported on the
    // standard error stream, and so is each translation that is held back
    // because its placeholders differ from its text's (the text then
    // translates to itself).
    bool Read(CTranslatorData& table);
    // Writes the table's name, language, base-module names and own map, with
    // the held-back translations in place of their texts' entries. The
    // file is replaced as a whole (written beside it, then renamed over it),
    // so that a crash never leaves half a file.
    bool Write(const CTranslatorData& table) const;

private:
    std::string m_sFileName;
};

// The text in double quotes, with backspace, tab, line feed, form feed,
// carriage return, double quote, apostrophe and backslash escaped.
std::string _BuildQuotedString(const std::string& text);

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz

#endif
