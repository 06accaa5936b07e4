#include <vidOderavev/Internationalisation/TranslatorFile.h>

// Several tables may be read at the same time on different threads; the
// grammar keeps its definitions per thread then.
#define BOOST_SPIRIT_THREADSAFE

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/iostreams/device/mapped_file.hpp>
#include <boost/spirit/include/classic_core.hpp>

#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

namespace sc = boost::spirit::classic;

namespace {

// The letters after a backslash, in the order of the grammar's escape
// characters.
const char g_acEscapeLetters[8] = {'b', 'r', 'n', 't', 'f', '\\', '"', '\''};

// White space as the C library sees it in the current locale, the byte taken
// as unsigned.
struct SSpaceParser : sc::char_parser<SSpaceParser>
{
    typedef SSpaceParser self_t;
    template <typename CharT> bool test(CharT ch) const { return std::isspace(static_cast<unsigned char>(ch)) != 0; }
};

struct SEscapeLetterParser : sc::char_parser<SEscapeLetterParser>
{
    typedef SEscapeLetterParser self_t;
    template <typename CharT> bool test(CharT ch) const
    {
        return std::memchr(g_acEscapeLetters, static_cast<unsigned char>(ch), sizeof(g_acEscapeLetters)) != nullptr;
    }
};

// A run of at least one byte that is neither a backslash nor a double quote.
// Taking the run at once rather than byte by byte, with one action call,
// keeps the reader near the speed of a plain scan.
struct SPlainRunParser : sc::parser<SPlainRunParser>
{
    typedef SPlainRunParser self_t;

    template <typename ScannerT> struct result
    {
        typedef typename sc::match_result<ScannerT, sc::nil_t>::type type;
    };

    template <typename ScannerT> typename sc::parser_result<self_t, ScannerT>::type parse(const ScannerT& scan) const
    {
        const char* const start = scan.first;
        const char* const last = scan.last;
        // One pass that stops at whichever comes first: searching for one of
        // the two bytes past the other would make long escaped texts quadratic.
        const char* end = start;
        while (end != last && *end != '"' && *end != '\\')
            ++end;
        if (end == start)
            return scan.no_match();
        scan.first = end;
        return scan.create_match(static_cast<std::size_t>(end - start), sc::nil_t(), start, end);
    }
};

} // namespace

// The grammar of a translator file's body, built for one read. The actions
// fill the table while the parse runs.
struct STranslatorFileGrammar : sc::grammar<STranslatorFileGrammar>
{
    explicit STranslatorFileGrammar(CTranslatorData& table) : m_oTable(table)
    {
        static const char s_acEscapeCharacters[8] = {0x08, 0x0D, 0x0A, 0x09, 0x0C, 0x5C, 0x22, 0x27};
        std::memcpy(m_acEscapeCharacters, s_acEscapeCharacters, sizeof(m_acEscapeCharacters));
    }

    // The state the actions work on; the parser framework hands the grammar
    // to its definition as const.
    char m_acEscapeCharacters[8];
    mutable std::pair<std::string, std::string> m_oCurrentEntry;
    mutable std::string m_sBuffer;
    mutable std::list<std::string> m_oBaseModuleNames;
    CTranslatorData& m_oTable;

    struct SClearBufferAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(char) const { m_oGrammar.m_sBuffer.clear(); }
    };

    struct SAppendRunAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char* first, const char* last) const { m_oGrammar.m_sBuffer.append(first, last); }
    };

    struct SAppendEscapeAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(char letter) const
        {
            const void* found =
                std::memchr(g_acEscapeLetters, static_cast<unsigned char>(letter), sizeof(g_acEscapeLetters));
            std::size_t index = static_cast<const char*>(found) - g_acEscapeLetters;
            m_oGrammar.m_sBuffer.push_back(m_oGrammar.m_acEscapeCharacters[index]);
        }
    };

    struct SAddBaseModuleNameAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const
        {
            m_oGrammar.m_oBaseModuleNames.push_back(m_oGrammar.m_sBuffer);
        }
    };

    struct SSetSourceTextAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const { m_oGrammar.m_oCurrentEntry.first.swap(m_oGrammar.m_sBuffer); }
    };

    struct SSetTranslationAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const
        {
            m_oGrammar.m_oCurrentEntry.second.swap(m_oGrammar.m_sBuffer);
        }
    };

    struct _SSetNameAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const { m_oGrammar.m_oTable.SetName(m_oGrammar.m_sBuffer); }
    };

    struct _SSetLanguageAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const { m_oGrammar.m_oTable.SetLanguage(m_oGrammar.m_sBuffer); }
    };

    struct _SSetBaseModuleAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const
        {
            CTranslatorData& table = m_oGrammar.m_oTable;
            for (const std::string& name : m_oGrammar.m_oBaseModuleNames) {
                CTranslatorData module;
                module.Init(name, table.GetLanguage());
                table.AddBaseModule(module);
            }
            m_oGrammar.m_oBaseModuleNames.clear();
        }
    };

    struct _SAddTranslationAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char*, const char*) const
        {
            m_oGrammar.m_oTable.AddTranslation(m_oGrammar.m_oCurrentEntry.first, m_oGrammar.m_oCurrentEntry.second);
        }
    };

    template <typename ScannerT> struct definition
    {
        explicit definition(const STranslatorFileGrammar& self)
        {
            using sc::ch_p;
            using sc::str_p;

            ws = *SSpaceParser();
            quoted = ws >> ch_p('"')[SClearBufferAction{self}] >>
                     *(SPlainRunParser()[SAppendRunAction{self}] |
                       (ch_p('\\') >> SEscapeLetterParser()[SAppendEscapeAction{self}])) >>
                     ch_p('"');

            moduleName =
                (ws >> str_p("ModuleName") >> ws >> ch_p('(') >> quoted >> ws >> ch_p(')'))[_SSetNameAction{self}];
            language =
                (ws >> str_p("Language") >> ws >> ch_p('(') >> quoted >> ws >> ch_p(')'))[_SSetLanguageAction{self}];
            nameList = quoted[SAddBaseModuleNameAction{self}] >> ws >>
                       *(ch_p(',') >> quoted[SAddBaseModuleNameAction{self}] >> ws);
            baseModules = (ws >> str_p("BaseModules") >> ws >> ch_p('(') >>
                           ((ws >> ch_p(')')) | (nameList >> ws >> ch_p(')'))))[_SSetBaseModuleAction{self}];
            settings =
                ws >> str_p("Settings") >> ws >> ch_p('(') >> moduleName >> language >> baseModules >> ws >> ch_p(')');

            entry = (quoted[SSetSourceTextAction{self}] >> ws >> ch_p('=') >>
                     quoted[SSetTranslationAction{self}])[_SAddTranslationAction{self}];
            translations = ws >> str_p("Translations") >> ws >> ch_p('(') >> *entry >> ws >> ch_p(')');

            body = settings >> translations >> ws;
        }

        const sc::rule<ScannerT>& start() const { return body; }

        sc::rule<ScannerT> ws, quoted, moduleName, language, nameList, baseModules, settings, entry, translations, body;
    };
};

namespace {

bool WriteAll(int handle, const std::string& content)
{
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t written = ::write(handle, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteInPlace(const std::string& fileName, const std::string& content)
{
    int handle = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle < 0)
        return false;
    bool ok = WriteAll(handle, content);
    if (::close(handle) != 0)
        ok = false;
    return ok;
}

// Writes the content beside the file and renames it over the file, so that
// readers and a crash in the middle see either the old or the new file.
bool ReplaceFile(const std::string& fileName, const std::string& content)
{
    static std::atomic<unsigned int> s_nCounter(0);

    // Replace the target of a symbolic link, not the link.
    std::string target = fileName;
    struct stat status;
    if (::lstat(target.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        if (char* resolved = ::realpath(target.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    bool exists = ::stat(target.c_str(), &status) == 0;
    // A file its owner made read-only stays as it is, as it would for a
    // write in place; the rename below would need only the directory.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return false;

    std::string temporary;
    int handle = -1;
    for (int attempt = 0; attempt < 100 && handle < 0; ++attempt) {
        temporary = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(s_nCounter++);
        handle = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST)
            break;
    }
    if (handle < 0) {
        // A directory that takes no new files may still hold a writable file:
        // then writing it in place is all that can be done.
        return exists && WriteInPlace(target, content);
    }

    bool ok = WriteAll(handle, content);
    if (ok && exists)
        static_cast<void>(::fchmod(handle, status.st_mode & 07777));
    if (ok)
        ok = ::fsync(handle) == 0;
    if (::close(handle) != 0)
        ok = false;
    if (ok)
        ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

} // namespace

// CTranslatorFile

CTranslatorFile::CTranslatorFile(const std::string& fileName) : m_sFileName(fileName) {}

CTranslatorFile::~CTranslatorFile() {}

std::string CTranslatorFile::BuildFileName(const std::string& path, const std::string& application,
                                           const std::string& language)
{
    std::string joined = path + "/" + application + language + ".trl";
    // Replacing the first "//" by "/" until none is left folds every run of
    // slashes into one; done in one pass.
    std::string result;
    result.reserve(joined.size());
    for (char ch : joined) {
        if (ch == '/' && !result.empty() && result.back() == '/')
            continue;
        result.push_back(ch);
    }
    return result;
}

bool CTranslatorFile::Exists(const std::string& file)
{
    // Opened without blocking: a named pipe would otherwise wait for a writer.
    int handle = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return false;
    ::close(handle);
    return true;
}

bool CTranslatorFile::Read(CTranslatorData& table)
{
    struct stat status;
    if (::stat(m_sFileName.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0)
        return false;

    boost::iostreams::mapped_file_source file;
    try {
        file.open(m_sFileName);
    } catch (const std::exception&) {
        return false;
    }
    if (!file.is_open())
        return false;

    const char* data = file.data();
    const std::size_t size = file.size();
    static const std::size_t s_nHeaderSize = 8;
    if (size < s_nHeaderSize || std::memcmp(data, "TF(", 3) != 0 || data[7] != ')')
        return false;
    int version = 0;
    for (std::size_t i = 3; i < 7; ++i) {
        if (data[i] < '0' || data[i] > '9')
            return false;
        version = version * 10 + (data[i] - '0');
    }
    if (version != 1) {
        std::cerr << "Invalid file version (TF(0001) expected)" << std::endl;
        return false;
    }

    STranslatorFileGrammar grammar(table);
    const char* const begin = data + s_nHeaderSize;
    const char* const end = data + size;
    sc::parse_info<const char*> info = sc::parse(begin, end, grammar);
    if (info.full)
        return true;
    std::cerr << "Parse Error at position " << (info.stop - begin) << std::endl;
    return false;
}

bool CTranslatorFile::Write(const CTranslatorData& table) const
{
    std::string content = "TF(0001)\nSettings\n(\n\tModuleName(";
    content += _BuildQuotedString(table.GetName());
    content += ")\n\tLanguage(";
    content += _BuildQuotedString(table.GetLanguage());
    content += ")\n\tBaseModules( ";
    for (unsigned int i = 0; i < table.GetNumBaseModules(); ++i) {
        if (i > 0)
            content += ", ";
        content += _BuildQuotedString(table.GetBaseModule(i).GetName());
    }
    content += " )\n)\nTranslations\n(\n";
    for (const auto& entry : table.GetTranslatorMap()) {
        content += _BuildQuotedString(entry.first);
        content += '=';
        content += _BuildQuotedString(entry.second);
        content += '\n';
    }
    content += ")\n";
    return ReplaceFile(m_sFileName, content);
}

std::string _BuildQuotedString(const std::string& text)
{
    std::string result;
    result.reserve(text.size() + 2);
    result.push_back('"');
    for (char ch : text) {
        switch (ch) {
        case '\b':
            result += "\\b";
            break;
        case '\t':
            result += "\\t";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\f':
            result += "\\f";
            break;
        case '\r':
            result += "\\r";
            break;
        case '"':
            result += "\\\"";
            break;
        case '\'':
            result += "\\'";
            break;
        case '\\':
            result += "\\\\";
            break;
        default:
            result.push_back(ch);
            break;
        }
    }
    result.push_back('"');
    return result;
}

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz
