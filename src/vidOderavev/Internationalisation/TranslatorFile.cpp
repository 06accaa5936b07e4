#include <vidOderavev/Internationalisation/TranslatorFile.h>

// Several tables may be read at the same time on different threads; the
// grammar keeps its definitions per thread then.
#define BOOST_SPIRIT_THREADSAFE

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <list>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <boost/iostreams/device/mapped_file.hpp>
#include <boost/spirit/include/classic_core.hpp>

#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

namespace sc = boost::spirit::classic;

namespace {

// The position of an escape letter in the grammar's escape characters (b, r,
// n, t, f, backslash, double quote, apostrophe), or -1 for any other byte.
inline int EscapeIndex(char letter)
{
    switch (letter) {
    case 'b':
        return 0;
    case 'r':
        return 1;
    case 'n':
        return 2;
    case 't':
        return 3;
    case 'f':
        return 4;
    case '\\':
        return 5;
    case '"':
        return 6;
    case '\'':
        return 7;
    default:
        return -1;
    }
}

// White space as the C library sees it in the current locale, the byte taken
// as unsigned. The answers are asked once per read and kept in a table: a
// library call per byte costs more than the rest of the white-space parsing.
struct SSpaceParser : sc::char_parser<SSpaceParser>
{
    typedef SSpaceParser self_t;
    explicit SSpaceParser(const bool* table) : m_pbSpace(table) {}
    template <typename CharT> bool test(CharT ch) const { return m_pbSpace[static_cast<unsigned char>(ch)]; }
    const bool* m_pbSpace;
};

struct SEscapeLetterParser : sc::char_parser<SEscapeLetterParser>
{
    typedef SEscapeLetterParser self_t;
    template <typename CharT> bool test(CharT ch) const { return EscapeIndex(static_cast<char>(ch)) >= 0; }
};

// Finds the first double quote or backslash at or after a place in the file.
// The bytes are compared 64 at a time, and the result for the last 64 bytes
// is kept: the runs of one text between its escapes, and often the next text
// too, lie within the same 64 bytes, so that most runs are found without
// looking at their bytes again.
class CQuoteOrBackslashFinder
{
public:
    const char* Find(const char* first, const char* last)
    {
#if defined(__SSE2__)
        const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(first) - m_nBlock;
        if (offset < 64) {
            const std::uint64_t rest = m_nMask >> offset;
            if (rest != 0)
                return first + __builtin_ctzll(rest);
            first += 64 - offset;
        }
        while (last - first >= 64) {
            m_nBlock = reinterpret_cast<std::uintptr_t>(first);
            m_nMask =
                Mask16(first) | (Mask16(first + 16) << 16) | (Mask16(first + 32) << 32) | (Mask16(first + 48) << 48);
            if (m_nMask != 0)
                return first + __builtin_ctzll(m_nMask);
            first += 64;
        }
        while (last - first >= 16) {
            const std::uint64_t mask = Mask16(first);
            if (mask != 0)
                return first + __builtin_ctzll(mask);
            first += 16;
        }
#endif
        while (first != last && *first != '"' && *first != '\\')
            ++first;
        return first;
    }

private:
#if defined(__SSE2__)
    // One bit per byte of the 16 at the place, set for a double quote or a
    // backslash.
    static std::uint64_t Mask16(const char* at)
    {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i special =
            _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')), _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
        return static_cast<std::uint64_t>(static_cast<unsigned int>(_mm_movemask_epi8(special)));
    }

    // The address of the 64 bytes last compared (0: none yet) and one bit
    // per byte of them.
    std::uintptr_t m_nBlock = 0;
    std::uint64_t m_nMask = 0;
#endif
};

// A run of at least one byte that is neither a backslash nor a double quote.
// Taking the run at once rather than byte by byte, with one action call,
// keeps the reader near the speed of a plain scan. The scan stops at
// whichever of the two bytes comes first: searching for one of them past the
// other would make long escaped texts quadratic.
struct SPlainRunParser : sc::parser<SPlainRunParser>
{
    typedef SPlainRunParser self_t;

    explicit SPlainRunParser(CQuoteOrBackslashFinder& finder) : m_oFinder(finder) {}

    template <typename ScannerT> struct result
    {
        typedef typename sc::match_result<ScannerT, sc::nil_t>::type type;
    };

    template <typename ScannerT> typename sc::parser_result<self_t, ScannerT>::type parse(const ScannerT& scan) const
    {
        const char* const start = scan.first;
        const char* const end = m_oFinder.Find(start, scan.last);
        if (end == start)
            return scan.no_match();
        scan.first = end;
        return scan.create_match(static_cast<std::size_t>(end - start), sc::nil_t(), start, end);
    }

    CQuoteOrBackslashFinder& m_oFinder;
};

} // namespace

// The grammar of a translator file's body, built for one read. The actions
// fill the table while the parse runs.
struct STranslatorFileGrammar : sc::grammar<STranslatorFileGrammar>
{
    // text: the first byte of the file, for the line numbers of the reports.
    STranslatorFileGrammar(CTranslatorData& table, const char* text)
        : m_pLineCountedTo(text), m_nLine(1), m_oTable(table)
    {
        static const char s_acEscapeCharacters[8] = {0x08, 0x0D, 0x0A, 0x09, 0x0C, 0x5C, 0x22, 0x27};
        std::memcpy(m_acEscapeCharacters, s_acEscapeCharacters, sizeof(m_acEscapeCharacters));
        for (int ch = 0; ch < 256; ++ch)
            m_abSpace[ch] = std::isspace(ch) != 0;
    }

    // The state the actions work on; the parser framework hands the grammar
    // to its definition as const.
    char m_acEscapeCharacters[8];
    bool m_abSpace[256];
    mutable CQuoteOrBackslashFinder m_oFinder;
    mutable std::pair<std::string, std::string> m_oCurrentEntry;
    mutable std::string m_sBuffer;
    mutable std::list<std::string> m_oBaseModuleNames;
    // Lines of the entries whose translation was held back; the lines are
    // counted on from the last such entry, so a file is counted once.
    mutable std::vector<unsigned long> m_oHeldBackLines;
    mutable const char* m_pLineCountedTo;
    mutable unsigned long m_nLine;
    CTranslatorData& m_oTable;

    // The line of the entry whose match begins at first (white space before
    // its opening quote included).
    unsigned long LineOf(const char* first) const
    {
        while (m_abSpace[static_cast<unsigned char>(*first)])
            ++first;
        m_nLine += static_cast<unsigned long>(std::count(m_pLineCountedTo, first, '\n'));
        m_pLineCountedTo = first;
        return m_nLine;
    }

    struct SClearBufferAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(char) const { m_oGrammar.m_sBuffer.clear(); }
    };

    struct SAppendRunAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(const char* first, const char* last) const
        {
            m_oGrammar.m_sBuffer.append(first, static_cast<std::size_t>(last - first));
        }
    };

    struct SAppendEscapeAction
    {
        const STranslatorFileGrammar& m_oGrammar;
        void operator()(char letter) const
        {
            m_oGrammar.m_sBuffer.push_back(m_oGrammar.m_acEscapeCharacters[EscapeIndex(letter)]);
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
        void operator()(const char* first, const char*) const
        {
            const std::pair<std::string, std::string>& entry = m_oGrammar.m_oCurrentEntry;
            CTranslatorData& table = m_oGrammar.m_oTable;
            if (PlaceholdersMatch(entry.first, entry.second)) {
                table.AddTranslation(entry.first, entry.second);
                return;
            }
            // A second entry for the text would be ignored anyway.
            if (!table.CanTranslate(entry.first))
                m_oGrammar.m_oHeldBackLines.push_back(m_oGrammar.LineOf(first));
            table.HoldBackTranslation(entry.first, entry.second);
        }
    };

    // A quoted string: the buffer is cleared at the opening quote and takes
    // each run of plain bytes and each escaped byte up to the closing quote.
    // The scanner type is not used; as a template parameter it defers working
    // out the result type until the grammar is complete.
    template <typename ScannerT>
    static auto MakeQuoted(const sc::kleene_star<SSpaceParser>& ws, const STranslatorFileGrammar& self)
    {
        using sc::ch_p;
        return ws >> ch_p('"')[SClearBufferAction{self}] >>
               *(SPlainRunParser(self.m_oFinder)[SAppendRunAction{self}] |
                 (ch_p('\\') >> SEscapeLetterParser()[SAppendEscapeAction{self}])) >>
               ch_p('"');
    }

    template <typename ScannerT> struct definition
    {
        // White space and quoted strings come several times in every
        // translation entry. Kept as parsers of their own types rather than
        // rules, they are compiled into the rules that use them instead of
        // being called through a virtual function each time.
        typedef sc::kleene_star<SSpaceParser> TWhiteSpace;
        typedef decltype(MakeQuoted<ScannerT>(std::declval<const TWhiteSpace&>(),
                                              std::declval<const STranslatorFileGrammar&>())) TQuoted;

        explicit definition(const STranslatorFileGrammar& self)
            : ws(SSpaceParser(self.m_abSpace)), quoted(MakeQuoted<ScannerT>(ws, self))
        {
            using sc::ch_p;
            using sc::str_p;

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

        TWhiteSpace ws;
        TQuoted quoted;
        sc::rule<ScannerT> moduleName, language, nameList, baseModules, settings, entry, translations, body;
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
    // The reader's complaints stay in English: it runs while the translator
    // loads the very table that would translate them.
    if (version != 1) {
        Varnel::Detail::WriteDiagnostic("Invalid file version (TF(0001) expected)\n");
        return false;
    }

    STranslatorFileGrammar grammar(table, data);
    const char* const begin = data + s_nHeaderSize;
    const char* const end = data + size;
    sc::parse_info<const char*> info = sc::parse(begin, end, grammar);
    for (unsigned long line : grammar.m_oHeldBackLines)
        Varnel::Detail::WriteDiagnostic("Placeholder mismatch at line " + std::to_string(line) + " of " + m_sFileName +
                                        ", original text used\n");
    if (info.full)
        return true;
    Varnel::Detail::WriteDiagnostic("Parse Error at position " + std::to_string(info.stop - begin) + "\n");
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
    const CTranslatorData::TTranslatorMap& heldBack = table.GetHeldBackTranslations();
    for (const auto& entry : table.GetTranslatorMap()) {
        const auto held = heldBack.empty() ? heldBack.end() : heldBack.find(entry.first);
        content += _BuildQuotedString(entry.first);
        content += '=';
        content += _BuildQuotedString(held != heldBack.end() ? held->second : entry.second);
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
