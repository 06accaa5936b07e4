#include <gtest/gtest.h>

#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

#include "translator_test_util.h"

using Qz::Varnel::Internationalisation::_BuildQuotedString;
using Qz::Varnel::Internationalisation::CTranslatorData;
using Qz::Varnel::Internationalisation::CTranslatorFile;
using namespace TranslatorTest;

namespace {

const std::string g_sHeader = "TF(0001)";
const std::string g_sSettings =
    "\nSettings\n(\n\tModuleName(\"m\")\n\tLanguage(\"l\")\n\tBaseModules(  )\n)\nTranslations\n(\n";

struct SReadResult
{
    bool m_bOk;
    std::string m_sError;
};

SReadResult ReadInto(const std::string& fileName, CTranslatorData& table)
{
    testing::internal::CaptureStderr();
    bool ok = CTranslatorFile(fileName).Read(table);
    return SReadResult{ok, testing::internal::GetCapturedStderr()};
}

SReadResult ReadContent(const std::string& content, CTranslatorData& table)
{
    CTempDir dir;
    WriteFile(dir.File("t.trl"), content);
    return ReadInto(dir.File("t.trl"), table);
}

std::string ParseError(std::size_t position) { return "Parse Error at position " + std::to_string(position) + "\n"; }

} // namespace

TEST(TranslatorFile, WritesExactExampleBytes)
{
    CTempDir dir;
    CTranslatorData table;
    table.Init("vidOderavev", "Default");
    for (const char* text : {"Startup", "Total Runtime: %1%s", "Failed to open the file \"%1%\""})
        table.Translate(text, true);
    std::string fileName = CTranslatorFile::BuildFileName(dir.Path() + "/", "vidOderavev", "Default");
    EXPECT_EQ(fileName, dir.Path() + "/vidOderavevDefault.trl");
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    EXPECT_EQ(ReadFile(fileName), "TF(0001)\n"
                                  "Settings\n"
                                  "(\n"
                                  "\tModuleName(\"vidOderavev\")\n"
                                  "\tLanguage(\"Default\")\n"
                                  "\tBaseModules(  )\n"
                                  ")\n"
                                  "Translations\n"
                                  "(\n"
                                  "\"Failed to open the file \\\"%1%\\\"\"=\"Failed to open the file \\\"%1%\\\"\"\n"
                                  "\"Startup\"=\"Startup\"\n"
                                  "\"Total Runtime: %1%s\"=\"Total Runtime: %1%s\"\n"
                                  ")\n");
}

TEST(TranslatorFile, WritesBaseModuleNamesAndEmptyTable)
{
    CTempDir dir;
    CTranslatorData table;
    table.Init("M", "de");
    CTranslatorData base;
    base.Init("A\"", "de");
    base.SetTranslation("not", "written");
    table.AddBaseModule(base);
    base.Init("B", "de");
    table.AddBaseModule(base);
    ASSERT_TRUE(CTranslatorFile(dir.File("a.trl")).Write(table));
    EXPECT_EQ(ReadFile(dir.File("a.trl")), MakeTrl("M", "de", "\"A\\\"\", \"B\"", ""));

    CTranslatorData empty;
    ASSERT_TRUE(CTranslatorFile(dir.File("e.trl")).Write(empty));
    EXPECT_EQ(ReadFile(dir.File("e.trl")), MakeTrl("", "", "", ""));
    CTranslatorData back;
    SReadResult result = ReadInto(dir.File("e.trl"), back);
    EXPECT_TRUE(result.m_bOk);
    EXPECT_EQ(result.m_sError, "");
    EXPECT_EQ(back.GetNumBaseModules(), 0u);
    EXPECT_TRUE(back.GetTranslatorMap().empty());
}

TEST(TranslatorFile, QuotesEveryEscape)
{
    EXPECT_EQ(_BuildQuotedString(std::string("\b\t\n\f\r\"'\\\x0b\0x", 11)),
              std::string("\"\\b\\t\\n\\f\\r\\\"\\'\\\\\x0b\0x\"", 21));
}

TEST(TranslatorFile, ReadsEveryEscapeAndRawBytes)
{
    CTranslatorData table;
    std::string content = g_sHeader + g_sSettings + "\"\\b\\r\\n\\t\\f\\\\\\\"\\'\"=\"'" +
                          std::string("\0\x0b\x80\xff", 4) + "\nsecond line\"\n)\n";
    SReadResult result = ReadContent(content, table);
    ASSERT_TRUE(result.m_bOk) << result.m_sError;
    ASSERT_EQ(table.GetTranslatorMap().size(), 1u);
    EXPECT_EQ(table.GetTranslatorMap().begin()->first, "\b\r\n\t\f\\\"'");
    EXPECT_EQ(table.GetTranslatorMap().begin()->second, std::string("'\0\x0b\x80\xff\nsecond line", 17));
    EXPECT_EQ(table.GetName(), "m");
    EXPECT_EQ(table.GetLanguage(), "l");
}

TEST(TranslatorFile, ReadsEscapesAtEveryPlaceOfLongTexts)
{
    // The reader looks for quotes and backslashes 16 and 64 bytes at a time:
    // an escape at every place relative to those steps, and texts spanning
    // many of them.
    std::string content = g_sHeader + g_sSettings;
    CTranslatorData::TTranslatorMap expected;
    for (std::size_t at = 0; at < 150; ++at) {
        for (char special : {'"', '\\', '\n', '\''}) {
            std::string text = std::string(at, 'a') + special + std::string(150 - at, 'z');
            std::string translation = std::string(150 - at, 'y') + special + special + std::string(at, 'x');
            content += _BuildQuotedString(text) + "=" + _BuildQuotedString(translation) + "\n";
            expected.emplace(text, translation);
        }
    }
    std::string plain(1000, 'p');
    content += _BuildQuotedString(plain) + "=" + _BuildQuotedString(plain + "\t") + "\n)\n";
    expected.emplace(plain, plain + "\t");
    CTranslatorData table;
    SReadResult result = ReadContent(content, table);
    ASSERT_TRUE(result.m_bOk) << result.m_sError;
    EXPECT_EQ(table.GetTranslatorMap(), expected);
}

TEST(TranslatorFile, ReadsTextsCloseToTheEndOfTheFile)
{
    // The last bytes of a file are fewer than one step of the search.
    for (std::size_t length = 0; length < 140; ++length) {
        CTranslatorData table;
        std::string text = std::string(length, 'q') + "\"";
        std::string content =
            g_sHeader + g_sSettings + _BuildQuotedString(text) + "=\"" + std::string(length, 'r') + "\\\\\")";
        SReadResult result = ReadContent(content, table);
        ASSERT_TRUE(result.m_bOk) << length << ": " << result.m_sError;
        EXPECT_EQ(table.GetTranslatorMap(), (CTranslatorData::TTranslatorMap{{text, std::string(length, 'r') + "\\"}}))
            << length;

        CTranslatorData unterminated;
        std::string body = g_sSettings + "\"a\"=\"1\"\n";
        std::size_t entry = body.size();
        body += "\"" + std::string(length, 'q');
        result = ReadContent(g_sHeader + body, unterminated);
        EXPECT_FALSE(result.m_bOk) << length;
        EXPECT_EQ(result.m_sError, ParseError(entry)) << length;
        EXPECT_EQ(unterminated.GetTranslatorMap().size(), 1u) << length;
    }
}

TEST(TranslatorFile, ReadsAnyWhiteSpaceLayout)
{
    CTranslatorData table;
    std::string content = "TF(0001)Settings(ModuleName(\"m\")Language(\"l\")BaseModules(\"A\",\"B\"))"
                          "Translations(\"a\"=\"1\")";
    ASSERT_TRUE(ReadContent(content, table).m_bOk);
    EXPECT_EQ(table.GetTranslatorMap().at("a"), "1");
    ASSERT_EQ(table.GetNumBaseModules(), 2u);

    CTranslatorData spaced;
    content = "TF(0001) \r\n\v\f Settings \t ( \r\n ModuleName \n ( \"m\" ) Language(\"l\"\r\n) BaseModules ( \"A\" "
              ", \"B\" \r\n) \r\n) Translations ( \"a\" \r\n = \"1\" \r\n \"b\"=\n\"2\" ) \r\n\t";
    SReadResult result = ReadContent(content, spaced);
    ASSERT_TRUE(result.m_bOk) << result.m_sError;
    EXPECT_EQ(spaced.GetTranslatorMap(), (CTranslatorData::TTranslatorMap{{"a", "1"}, {"b", "2"}}));
    ASSERT_EQ(spaced.GetNumBaseModules(), 2u);
    EXPECT_EQ(spaced.GetBaseModule(0).GetName(), "A");
    EXPECT_EQ(spaced.GetBaseModule(1).GetName(), "B");
    // Base modules start empty in the table's language.
    EXPECT_EQ(spaced.GetBaseModule(1).GetLanguage(), "l");
    EXPECT_TRUE(spaced.GetBaseModule(1).GetTranslatorMap().empty());
}

TEST(TranslatorFile, RejectsBadHeadersWithoutMessage)
{
    for (const std::string& content :
         {std::string("TF(001)") + g_sSettings + ")\n", " TF(0001)" + g_sSettings + ")\n",
          "\xef\xbb\xbfTF(0001)" + g_sSettings + ")\n", std::string("TF(00a1)") + g_sSettings + ")\n",
          std::string("TF(0001"), std::string("tf(0001)") + g_sSettings + ")\n"}) {
        CTranslatorData table;
        table.Init("keep", "keep");
        SReadResult result = ReadContent(content, table);
        EXPECT_FALSE(result.m_bOk) << content;
        EXPECT_EQ(result.m_sError, "") << content;
        EXPECT_EQ(table.GetName(), "keep");
        EXPECT_FALSE(table.IsModified());
    }
}

TEST(TranslatorFile, RejectsOtherVersionsWithMessage)
{
    for (const char* header : {"TF(0002)", "TF(0000)", "TF(9999)"}) {
        CTranslatorData table;
        SReadResult result = ReadContent(header + g_sSettings + ")\n", table);
        EXPECT_FALSE(result.m_bOk);
        EXPECT_EQ(result.m_sError, "Invalid file version (TF(0001) expected)\n");
        EXPECT_EQ(table.GetName(), "");
    }
}

TEST(TranslatorFile, MissingEmptyAndDirectoryFailSilently)
{
    CTempDir dir;
    CTranslatorData table;
    table.Init("keep", "keep");
    WriteFile(dir.File("empty.trl"), "");
    for (const std::string& name : {dir.File("missing.trl"), dir.File("empty.trl"), dir.Path()}) {
        SReadResult result = ReadInto(name, table);
        EXPECT_FALSE(result.m_bOk);
        EXPECT_EQ(result.m_sError, "");
    }
    EXPECT_EQ(table.GetName(), "keep");
    EXPECT_FALSE(table.IsModified());
}

TEST(TranslatorFile, ReportsPositionOfBrokenEntry)
{
    CTranslatorData table;
    std::string body = g_sSettings + "\"a\"=\"1\"\n\"b\" \"2\"\n\"c\"=\"3\"\n)\n";
    SReadResult result = ReadContent(g_sHeader + body, table);
    EXPECT_FALSE(result.m_bOk);
    EXPECT_EQ(result.m_sError, ParseError(body.find("\"b\"")));
    // What the actions stored before the failure stays.
    EXPECT_EQ(table.GetTranslatorMap(), (CTranslatorData::TTranslatorMap{{"a", "1"}}));
    EXPECT_EQ(table.GetName(), "m");
}

TEST(TranslatorFile, UnknownEscapeIsParseError)
{
    for (const char* bad : {"\\x", "\\v", "\\0", "\\"}) {
        CTranslatorData table;
        std::string body = g_sSettings + "\"ok\"=\"1\"\n  \"a" + bad + "\"=\"1\"\n)\n";
        SReadResult result = ReadContent(g_sHeader + body, table);
        EXPECT_FALSE(result.m_bOk) << bad;
        EXPECT_EQ(result.m_sError, ParseError(body.find("\"a"))) << bad;
        EXPECT_EQ(table.GetTranslatorMap().size(), 1u);
    }
}

TEST(TranslatorFile, UnknownEscapeFarIntoALongTextIsParseError)
{
    for (std::size_t at : {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 200}) {
        CTranslatorData table;
        std::string body = g_sSettings + "\"ok\"=\"1\"\n";
        std::size_t entry = body.size();
        body += "\"" + std::string(at, 'a') + "\\x" + std::string(100, 'b') + "\"=\"1\"\n\"c\"=\"2\"\n)\n";
        SReadResult result = ReadContent(g_sHeader + body, table);
        EXPECT_FALSE(result.m_bOk) << at;
        EXPECT_EQ(result.m_sError, ParseError(entry)) << at;
        EXPECT_EQ(table.GetTranslatorMap(), (CTranslatorData::TTranslatorMap{{"ok", "1"}})) << at;
    }
}

TEST(TranslatorFile, TrailingTextIsParseError)
{
    CTranslatorData table;
    std::string body = g_sSettings + "\"a\"=\"1\"\n)\n \t x\n";
    SReadResult result = ReadContent(g_sHeader + body, table);
    EXPECT_FALSE(result.m_bOk);
    EXPECT_EQ(result.m_sError, ParseError(body.find('x')));
    EXPECT_EQ(table.GetTranslatorMap().size(), 1u);
}

TEST(TranslatorFile, BrokenSettingsReportWhereParsingStopped)
{
    CTranslatorData table;
    // The settings block must hold all three entries in order.
    std::string body = "\nSettings\n(\n\tLanguage(\"l\")\n)\nTranslations\n(\n)\n";
    SReadResult result = ReadContent(g_sHeader + body, table);
    EXPECT_FALSE(result.m_bOk);
    EXPECT_EQ(result.m_sError, ParseError(body.find("Language")));

    CTranslatorData empty;
    result = ReadContent(g_sHeader, empty);
    EXPECT_FALSE(result.m_bOk);
    EXPECT_EQ(result.m_sError, ParseError(0));

    CTranslatorData unterminated;
    body = g_sSettings + "\"a\"=\"1\n";
    result = ReadContent(g_sHeader + body, unterminated);
    EXPECT_FALSE(result.m_bOk);
    EXPECT_EQ(result.m_sError, ParseError(body.find("\"a\"")));
}

TEST(TranslatorFile, SecondEntryForSameTextIsIgnored)
{
    CTranslatorData table;
    ASSERT_TRUE(ReadContent(g_sHeader + g_sSettings + "\"a\"=\"1\"\n\"a\"=\"2\"\n)\n", table).m_bOk);
    EXPECT_EQ(table.GetTranslatorMap().at("a"), "1");
    EXPECT_TRUE(table.IsModified()); // the reader leaves clearing to the loader
}

TEST(TranslatorFile, TranslationsWithOtherPlaceholdersAreHeldBack)
{
    struct SCase
    {
        const char* m_pText;
        const char* m_pTranslation;
        bool m_bUsed;
    };
    const SCase cases[] = {
        {"A %1% of %2%", "%2% von %1% (%1%)", true},
        {"B 100%% in %1%s", "%1%s: 100%%", true},
        {"C plain", "mit 100%", true}, // no placeholders: never formatted
        {"D multi", "Zeile\neins", true},
        {"E Total Runtime: %1%s", "%1% %2%", false},
        {"F Failed: %1%", "Fehler", false},
        {"G plain", "%1%", false},
        {"H took %1%s", "%1%s (100%)", false},
        {"I took %1%s", "%1$s", false},
        {"J took %1%s", "%%1%", false},
        {"K took %1%s", "%01%s", false},
    };
    CTempDir dir;
    const std::string fileName = dir.File("m.trl");
    std::string entries, written, errors;
    CTranslatorData::TTranslatorMap expected;
    unsigned int line = 10;
    for (const SCase& entry : cases) {
        entries += _BuildQuotedString(entry.m_pText) + "=\"" + entry.m_pTranslation + "\"\n";
        written += _BuildQuotedString(entry.m_pText) + "=" + _BuildQuotedString(entry.m_pTranslation) + "\n";
        if (!entry.m_bUsed)
            errors += "Placeholder mismatch at line " + std::to_string(line) + " of " + fileName +
                      ", original text used\n";
        line += entry.m_pText[0] == 'D' ? 2 : 1;
        expected.emplace(entry.m_pText, entry.m_bUsed ? entry.m_pTranslation : entry.m_pText);
    }
    // A later entry for a held-back text is ignored like any second entry.
    const std::string content = MakeTrl("m", "l", "", entries + "\"G plain\"=\"G\"\n");
    WriteFile(fileName, content);
    CTranslatorData table;
    SReadResult result = ReadInto(fileName, table);
    EXPECT_TRUE(result.m_bOk);
    EXPECT_EQ(result.m_sError, errors);
    EXPECT_EQ(table.GetTranslatorMap(), expected);
    // A write-back gives the author's texts back.
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    EXPECT_EQ(ReadFile(fileName), MakeTrl("m", "l", "", written));
}

TEST(TranslatorFile, BuildFileNameFoldsSlashes)
{
    EXPECT_EQ(CTranslatorFile::BuildFileName("./", "vidOderavev", "Default"), "./vidOderavevDefault.trl");
    EXPECT_EQ(CTranslatorFile::BuildFileName("", "m", "l"), "/ml.trl");
    EXPECT_EQ(CTranslatorFile::BuildFileName("/a//b///", "m//x", "l"), "/a/b/m/xl.trl");
    EXPECT_EQ(CTranslatorFile::BuildFileName("a", "m", "/"), "a/m/.trl");
}

TEST(TranslatorFile, Exists)
{
    CTempDir dir;
    EXPECT_FALSE(CTranslatorFile::Exists(dir.File("x.trl")));
    WriteFile(dir.File("x.trl"), "");
    EXPECT_TRUE(CTranslatorFile::Exists(dir.File("x.trl")));
    // A named pipe without a writer neither blocks the test nor reads.
    ASSERT_EQ(::mkfifo(dir.File("pipe.trl").c_str(), 0600), 0);
    EXPECT_TRUE(CTranslatorFile::Exists(dir.File("pipe.trl")));
    CTranslatorData table;
    SReadResult result = ReadInto(dir.File("pipe.trl"), table);
    EXPECT_FALSE(result.m_bOk);
    EXPECT_EQ(result.m_sError, "");
}

TEST(TranslatorFile, RoundTripOfGeneratedTablesWithEveryByte)
{
    CTempDir dir;
    std::mt19937 random(12345);
    auto randomText = [&random](std::size_t maxLength) {
        std::string text(random() % (maxLength + 1), '\0');
        for (char& ch : text)
            ch = static_cast<char>(random() % 256);
        return text;
    };
    for (int round = 0; round < 200; ++round) {
        CTranslatorData table;
        table.Init(randomText(12), randomText(6));
        unsigned int bases = random() % 4;
        for (unsigned int i = 0; i < bases; ++i) {
            CTranslatorData base;
            base.Init(randomText(8), table.GetLanguage());
            table.AddBaseModule(base);
        }
        unsigned int entries = random() % 40;
        for (unsigned int i = 0; i < entries; ++i)
            table.SetTranslation(randomText(30), randomText(30));
        if (round == 0) {
            // Every byte value at least once, as text and as translation.
            std::string all;
            for (int b = 0; b < 256; ++b)
                all.push_back(static_cast<char>(b));
            table.SetTranslation(all, all);
            table.SetTranslation("", "");
            table.SetName(all);
        }
        std::string fileName = dir.File("round.trl");
        ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
        CTranslatorData back;
        SReadResult result = ReadInto(fileName, back);
        ASSERT_TRUE(result.m_bOk) << "round " << round << ": " << result.m_sError;
        EXPECT_EQ(back.GetName(), table.GetName());
        EXPECT_EQ(back.GetLanguage(), table.GetLanguage());
        ASSERT_EQ(back.GetNumBaseModules(), table.GetNumBaseModules());
        for (unsigned int i = 0; i < bases; ++i)
            EXPECT_EQ(back.GetBaseModule(i).GetName(), table.GetBaseModule(i).GetName());
        ASSERT_EQ(back.GetTranslatorMap(), table.GetTranslatorMap()) << "round " << round;
    }
}

TEST(TranslatorFile, WriteReplacesTheFileAsAWhole)
{
    CTempDir dir;
    std::string fileName = dir.File("m.trl");
    WriteFile(fileName, "old content");
    ::chmod(fileName.c_str(), 0640);
    // A second name of the old file keeps the old bytes: the new file is a new
    // file renamed over the name, never the old one truncated and rewritten.
    ASSERT_EQ(::link(fileName.c_str(), dir.File("old.trl").c_str()), 0);
    CTranslatorData table;
    table.Init("m", "l");
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    EXPECT_EQ(ReadFile(dir.File("old.trl")), "old content");
    EXPECT_EQ(ReadFile(fileName), MakeTrl("m", "l", "", ""));
    struct stat status;
    ASSERT_EQ(::stat(fileName.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(boost::filesystem::directory_iterator(dir.Path()), {}), 2);
}

TEST(TranslatorFile, WriteThroughSymbolicLinkKeepsTheLink)
{
    CTempDir dir;
    WriteFile(dir.File("real.trl"), "old");
    ASSERT_EQ(::symlink("real.trl", dir.File("link.trl").c_str()), 0);
    CTranslatorData table;
    table.Init("m", "l");
    ASSERT_TRUE(CTranslatorFile(dir.File("link.trl")).Write(table));
    EXPECT_TRUE(boost::filesystem::is_symlink(dir.File("link.trl")));
    EXPECT_EQ(ReadFile(dir.File("real.trl")), MakeTrl("m", "l", "", ""));
}

TEST(TranslatorFile, WriteFailuresReturnFalse)
{
    CTempDir dir;
    CTranslatorData table;
    EXPECT_FALSE(CTranslatorFile(dir.File("missing/dir/m.trl")).Write(table));
    EXPECT_FALSE(CTranslatorFile(dir.Path()).Write(table)); // a directory
    EXPECT_TRUE(boost::filesystem::is_directory(dir.Path()));
}

TEST(TranslatorFile, WritableFileInClosedDirectoryIsWrittenInPlace)
{
    CTempDir dir;
    std::string sub = dir.File("closed");
    boost::filesystem::create_directory(sub);
    WriteFile(sub + "/m.trl", "old");
    ::chmod(dir.Path().c_str(), 0755);
    ::chmod(sub.c_str(), 0555);
    ::chmod((sub + "/m.trl").c_str(), 0666);
    auto attempt = [&sub]() {
        CTranslatorData table;
        table.Init("m", "l");
        bool replaced = CTranslatorFile(sub + "/m.trl").Write(table);
        bool created = CTranslatorFile(sub + "/new.trl").Write(table);
        return replaced && !created;
    };
    if (::geteuid() == 0) {
        // Permissions do not bind the superuser: try as nobody in a child.
        testing::FLAGS_gtest_death_test_style = "fast"; // the child must see this directory
        EXPECT_EXIT(std::exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && attempt() ? 0 : 1),
                    testing::ExitedWithCode(0), "");
    } else
        EXPECT_TRUE(attempt());
    ::chmod(sub.c_str(), 0755);
    EXPECT_EQ(ReadFile(sub + "/m.trl"), MakeTrl("m", "l", "", ""));
    EXPECT_FALSE(FileExists(sub + "/new.trl"));
}

TEST(TranslatorFile, ReadOnlyFileIsNotReplaced)
{
    CTempDir dir;
    const std::string file = dir.File("m.trl");
    WriteFile(file, "kept");
    ::chmod(dir.Path().c_str(), 0777);
    ::chmod(file.c_str(), 0444);
    auto attempt = [&file]() {
        CTranslatorData table;
        table.Init("m", "l");
        return CTranslatorFile(file).Write(table);
    };
    if (::geteuid() == 0) {
        testing::FLAGS_gtest_death_test_style = "fast";
        EXPECT_EXIT(std::exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && !attempt() ? 0 : 1),
                    testing::ExitedWithCode(0), "");
    } else
        EXPECT_FALSE(attempt());
    EXPECT_EQ(ReadFile(file), "kept");
    ::chmod(dir.Path().c_str(), 0700);
}

TEST(TranslatorFile, LargeFileParsesCompletely)
{
    CTempDir dir;
    CTranslatorData table;
    table.Init("big", "l");
    for (int i = 0; i < 50000; ++i)
        table.SetTranslation("text number " + std::to_string(i), "Text \"" + std::to_string(i) + "\"\n");
    ASSERT_TRUE(CTranslatorFile(dir.File("big.trl")).Write(table));
    CTranslatorData back;
    ASSERT_TRUE(ReadInto(dir.File("big.trl"), back).m_bOk);
    EXPECT_EQ(back.GetTranslatorMap(), table.GetTranslatorMap());
}

TEST(TranslatorFile, FuzzSeedCorpusIsWellFormed)
{
    // The seeds must reach the grammar's far end, not stop at the header.
    const boost::filesystem::path corpus = boost::filesystem::path(__FILE__).parent_path() / "fuzz" / "corpus";
    int files = 0;
    for (const auto& entry : boost::filesystem::directory_iterator(corpus)) {
        CTranslatorData table;
        SReadResult result = ReadInto(entry.path().string(), table);
        EXPECT_TRUE(result.m_bOk) << entry.path() << ": " << result.m_sError;
        EXPECT_FALSE(table.GetTranslatorMap().empty() && table.GetName() != "") << entry.path();
        ++files;
    }
    EXPECT_GE(files, 5);
}
