// The process-wide translator (search path, loading, write-back, threads, exit), the table with its
// base modules, and the .trl file: exact bytes written, what the reader accepts, where it stops.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/SearchPath.h>
#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Internationalisation;
using namespace Test;
typedef std::list<std::string> TPaths;
typedef CTranslatorData::TTranslatorMap TMap;

namespace {

// A well-formed file; bases are the base-module names, already quoted and separated.
std::string MakeTrl(const std::string& name, const std::string& language, const std::string& bases,
                    const std::string& entries)
{
    return "TF(0001)\nSettings\n(\n\tModuleName(\"" + name + "\")\n\tLanguage(\"" + language + "\")\n\tBaseModules( " +
           bases + " )\n)\nTranslations\n(\n" + entries + ")\n";
}
const std::string g_sHeader = "TF(0001)",
                  g_sSettings = "\nSettings\n(\n\tModuleName(\"m\")\n\tLanguage(\"l\")\n\tBaseModules(  )\n)\nTranslations\n(\n";

// Sets LANGUAGEPATH (nullptr: unsets it); the tests run with it unset.
void SetLanguagePath(const char* value) { value ? ::setenv("LANGUAGEPATH", value, 1) : ::unsetenv("LANGUAGEPATH"); }

// Every test leaves the translator on a missing directory, so that nothing it recorded is written.
class TranslatorTest : public testing::Test
{
protected:
    void TearDown() override
    {
        SetLanguagePath(nullptr);
        CTranslator::Init("/nonexistent/vidOderavev-test", "none", "Default");
    }
};

CTranslatorData MakeTable(const std::string& name, const std::string& x = std::string())
{
    CTranslatorData table;
    table.Init(name, "Default");
    if (!x.empty())
        table.SetTranslation("x", x);
    return table;
}

std::pair<bool, std::string> ReadInto(const std::string& fileName, CTranslatorData& table)
{
    testing::internal::CaptureStderr();
    const bool ok = CTranslatorFile(fileName).Read(table);
    return {ok, testing::internal::GetCapturedStderr()};
}

std::pair<bool, std::string> ReadContent(const std::string& content, CTranslatorData& table)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "t.trl", content);
    return ReadInto(dir / "t.trl", table);
}

std::pair<bool, std::string> ParseError(std::size_t position)
{
    return {false, "Parse Error at position " + std::to_string(position) + "\n"};
}

} // namespace

TEST_F(TranslatorTest, SearchPathLists)
{
    const std::string here = boost::filesystem::current_path().string();
    struct SCase
    {
        const char *m_pLanguagePath, *m_pModule, *m_pProgram;
        std::string m_sName;
        TPaths m_oPaths;
    } const cases[] = {
        {"/lang:/more", nullptr, nullptr, "vidOderavev", {"./", here, "/lang:/more"}}, // no file found
        {"/lang:/more", "/opt/lib/vidOderavev.so", "/usr/bin/host", "vidOderavev", {"/opt/lib", "./", here, "/lang:/more"}},
        {nullptr, "vidOderavev.so", nullptr, "", {"./", here}}, // no directory: no name
        {nullptr, nullptr, "/srv/app/tool.exe", "tool", {"/srv/app", here}}, // an application's list
    };
    for (const SCase& c : cases) {
        SetLanguagePath(c.m_pLanguagePath);
        TPaths paths{"stale"};
        std::string name = "stale";
        if (&c - cases < 3)
            CSearchPath::_BuildDefaultSearchPathList(paths, name, c.m_pModule, c.m_pProgram);
        else
            CSearchPath::_BuildApplicationSearchPathList(paths, name, c.m_pProgram);
        EXPECT_EQ(name, c.m_sName);
        EXPECT_EQ(paths, c.m_oPaths) << c.m_sName;
    }
}

TEST_F(TranslatorTest, UntranslatedTextsWithALetterAreRecordedAndWrittenOnLanguageChange)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "mDefault.trl", MakeTrl("m", "Default", "", "\"50\"=\"fifty\"\n"));
    CTranslator::Init(dir.Path(), "m", "Default");
    EXPECT_EQ(CTranslator::GetBaseFilePath(), dir.Path());
    // Texts without a letter are not recorded; non-ASCII bytes count as letters.
    for (const std::string text : {"Startup", "", "13 s", "\xc3\x9c", "Startup", "13.125", " - ", "%1%"})
        EXPECT_EQ(CTranslator::Translate(text), text);
    EXPECT_EQ(CTranslator::Translate("50"), "fifty");
    EXPECT_EQ(ReadFile(dir / "mDefault.trl"), MakeTrl("m", "Default", "", "\"50\"=\"fifty\"\n"));
    CTranslator::SetLanguage("de");
    EXPECT_EQ(ReadFile(dir / "mDefault.trl"),
              MakeTrl("m", "Default", "",
                      "\"\"=\"\"\n\"13 s\"=\"13 s\"\n\"50\"=\"fifty\"\n\"Startup\"=\"Startup\"\n\"\xc3\x9c\"=\"\xc3\x9c\"\n"));
    EXPECT_EQ(CTranslator::GetLanguage(), "de");
    // No German file: the new table starts empty and is due for writing.
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(dir / "mde.trl"), MakeTrl("m", "de", "", ""));
}

TEST_F(TranslatorTest, ReadsTranslationsAndBaseModulesAlongThePath)
{
    CTemporaryDirectory first, second;
    WriteTextFile(second / "appfr.trl", MakeTrl("app", "fr", "\"Missing\", \"Common\"",
                                                "\"Yes\"=\"Oui (app)\"\n\"Only app\"=\"Seulement\"\n"));
    WriteTextFile(first / "Commonfr.trl", MakeTrl("Common", "fr", "", "\"Yes\"=\"Oui\"\n\"No\"=\"Non\"\n"));
    // Found in the earlier directory only.
    WriteTextFile(second / "Commonfr.trl", MakeTrl("Common", "fr", "", "\"No\"=\"Non (second)\"\n"));
    CTranslator::Init(TPaths{first.Path(), second.Path()}, "app", "fr");
    EXPECT_EQ(CTranslator::GetBaseFilePath(), second.Path());
    EXPECT_EQ(CTranslator::Translate("Yes") + CTranslator::Translate("No") + CTranslator::Translate("Only app"),
              "OuiNonSeulement"); // deep: the base module wins
    CTranslator::SetSearchMode(false);
    EXPECT_FALSE(CTranslator::GetSearchMode());
    EXPECT_EQ(CTranslator::Translate("Yes"), "Oui (app)");
    CTranslator::SetSearchMode(true);
    // The missing base module was dropped without marking the table: nothing new, nothing written.
    const std::string before = ReadFile(second / "appfr.trl");
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(second / "appfr.trl"), before);
    CTranslator::SetLanguage("fr");
    CTranslator::Translate("recorded");
    // The name of the missing module is the user's: a write-back keeps it.
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(second / "appfr.trl"),
              MakeTrl("app", "fr", "\"Missing\", \"Common\"",
                      "\"Only app\"=\"Seulement\"\n\"Yes\"=\"Oui (app)\"\n\"recorded\"=\"recorded\"\n"));
    CTranslator::Init(second / "tool.exe", "en");
    EXPECT_EQ(CTranslator::GetApplicationName() + CTranslator::GetBaseFilePath(), "tool" + second.Path());
}

TEST_F(TranslatorTest, FileThatFailsToReadIsNeverOverwritten)
{
    CTemporaryDirectory dir;
    const std::string broken = MakeTrl("m", "Default", "", "\"a\"=\"A\"\n\"b\" \"B\"\n");
    for (const std::string& content : {broken, MakeTrl("other", "Default", "", "\"a\"=\"other A\"\n"),
                                       std::string("TF(0002)\n")}) {
        WriteTextFile(dir / "mDefault.trl", content);
        testing::internal::CaptureStderr();
        CTranslator::Init(dir.Path(), "m", "Default");
        const std::string reported = testing::internal::GetCapturedStderr();
        if (content == broken) { // what the reader stored before the parse error is still used
            EXPECT_EQ(reported + CTranslator::Translate("a"), ParseError(broken.find("\"b\"") - 8).second + "A");
        }
        // The translator keeps its own identity whatever the file says.
        EXPECT_EQ(CTranslator::GetApplicationName() + CTranslator::GetLanguage(), "mDefault");
        CTranslator::Translate("new text");
        CTranslator::SetLanguage("fr");
        EXPECT_EQ(ReadFile(dir / "mDefault.trl"), content);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"mDefault.trl"}));
    }
}

TEST_F(TranslatorTest, BaseModuleCyclesAreCutAndReportedOnce)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "Aen.trl", MakeTrl("A", "en", "\"B\", \"A\"", "\"a\"=\"from A\"\n"));
    WriteTextFile(dir / "Ben.trl", MakeTrl("B", "en", "\"A\", \"C\"", "\"b\"=\"from B\"\n"));
    WriteTextFile(dir / "Cen.trl", MakeTrl("C", "en", "\"C\"", "\"c\"=\"from C\"\n"));
    testing::internal::CaptureStderr();
    CTranslator::Init(dir.Path(), "A", "en");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Base module cycle cut: A -> B -> A\n"
                                                      "Base module cycle cut: A -> B -> C -> C\n"
                                                      "Base module cycle cut: A -> A\n");
    EXPECT_EQ(CTranslator::Translate("a") + CTranslator::Translate("b") + CTranslator::Translate("c"),
              "from Afrom Bfrom C");
    // Cut names are kept when the table is written back.
    CTranslator::Translate("recorded");
    CTranslator::SetLanguage("de");
    EXPECT_EQ(ReadFile(dir / "Aen.trl"),
              MakeTrl("A", "en", "\"B\", \"A\"", "\"a\"=\"from A\"\n\"recorded\"=\"recorded\"\n"));
}

TEST_F(TranslatorTest, TranslateIsSafeAgainstConcurrentInitAndSetLanguage)
{
    CTemporaryDirectory dir;
    // Long translations live on the heap: a dangling reference would show.
    const std::string german(200, 'd'), french(200, 'f');
    WriteTextFile(dir / "mde.trl", MakeTrl("m", "de", "", "\"t\"=\"" + german + "\"\n"));
    WriteTextFile(dir / "mfr.trl", MakeTrl("m", "fr", "", "\"t\"=\"" + french + "\"\n"));
    CTranslator::Init(dir.Path(), "m", "de");
    std::atomic<int> bad(0), rounds(0);
    std::thread reader([&] {
        while (rounds.load() < 100) {
            const std::string text = CTranslator::Translate("t");
            bad += (text != german && text != french && text != "t") || CTranslator::Translate("new") != "new" ||
                   CTranslator::GetLanguage().empty() || CTranslator::GetApplicationName() != "m";
        }
    });
    for (; rounds.load() < 100; ++rounds) {
        CTranslator::SetLanguage(rounds % 2 ? "de" : "fr");
        CTranslator::Init(dir.Path(), "m", rounds % 3 ? "de" : "fr");
    }
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(TranslatorTest, WriteBackAtExit)
{
    CTemporaryDirectory dir;
    // The child records texts and exits while two threads keep translating.
    testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_EXIT(
        {
            CTranslator::Init(dir.Path(), "exit", "Default");
            std::atomic<int> running(0);
            for (int i = 0; i < 2; ++i)
                std::thread([&running]() {
                    for (++running;;)
                        if (CTranslator::Translate("racing text") != "racing text")
                            std::abort();
                }).detach();
            while (running.load() < 2)
                std::this_thread::yield();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(dir / "exitDefault.trl"),
              MakeTrl("exit", "Default", "", "\"racing text\"=\"racing text\"\n"));
}

TEST(TranslatorData, BaseModulesShallowAndDeep)
{
    // M has base modules A and B; B has the base module C. A, C and (optionally) M and B translate x.
    auto worked = [](const std::string& m, const std::string& b, const std::string& c) {
        CTranslatorData tableC = MakeTable("C", c), tableB = MakeTable("B", b), table = MakeTable("M", m);
        tableB.AddBaseModule(tableC);
        table.AddBaseModule(MakeTable("A", "xA"));
        table.AddBaseModule(tableB);
        return table;
    };
    EXPECT_EQ(worked("xM", "", "xC").Translate("x", false), "xM");
    EXPECT_EQ(worked("", "", "xC").Translate("x", false) + worked("xM", "", "xC").Translate("x", true), "xAxC");
    // Without C's entry A is deepest; A and B tie at depth 1 and A, the earlier, wins.
    EXPECT_EQ(worked("xM", "xB", "").Translate("x", true), "xA");
    EXPECT_EQ(worked("", "xB", "").Translate("x", false), "xA");
    // Shallow prefers a strictly nearer later module.
    CTranslatorData first = MakeTable("F"), table = MakeTable("M");
    first.AddBaseModule(MakeTable("I", "deep"));
    table.AddBaseModule(first);
    table.AddBaseModule(MakeTable("S", "near"));
    EXPECT_EQ(table.Translate("x", false) + table.Translate("x", true), "neardeep");
    EXPECT_FALSE(table.CanTranslate("x"));
}

TEST(TranslatorFile, WritesExactBytesReplacingTheFileAsAWhole)
{
    CTemporaryDirectory dir;
    CTranslatorData table;
    table.Init("vidOderavev", "Default");
    for (const char* text : {"Startup", "Total Runtime: %1%s", "Failed to open the file \"%1%\""})
        table.Translate(text, true);
    const std::string fileName = CTranslatorFile::BuildFileName(dir.Path() + "/", "vidOderavev", "Default");
    EXPECT_EQ(fileName, dir.Path() + "/vidOderavevDefault.trl");
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    const std::string written = ReadFile(fileName);
    EXPECT_EQ(written, "TF(0001)\nSettings\n(\n\tModuleName(\"vidOderavev\")\n\tLanguage(\"Default\")\n"
                       "\tBaseModules(  )\n)\nTranslations\n(\n"
                       "\"Failed to open the file \\\"%1%\\\"\"=\"Failed to open the file \\\"%1%\\\"\"\n"
                       "\"Startup\"=\"Startup\"\n"
                       "\"Total Runtime: %1%s\"=\"Total Runtime: %1%s\"\n"
                       ")\n");
    EXPECT_EQ(_BuildQuotedString(std::string("\b\t\n\f\r\"'\\\x0b\0x", 11)),
              std::string("\"\\b\\t\\n\\f\\r\\\"\\'\\\\\x0b\0x\"", 21));
    EXPECT_EQ(CTranslatorFile::BuildFileName("", "m", "l") + CTranslatorFile::BuildFileName("/a//b///", "m//x", "l"),
              "/ml.trl/a/b/m/xl.trl");
    // The new file is renamed over the name, never the old one truncated and rewritten: a second
    // name of the old file keeps the old bytes, and the mode stays.
    ASSERT_EQ(::link(fileName.c_str(), (dir / "old.trl").c_str()), 0);
    ::chmod(fileName.c_str(), 0640);
    ASSERT_TRUE(CTranslatorFile(fileName).Write(MakeTable("n")));
    EXPECT_EQ(ReadFile(dir / "old.trl"), written);
    EXPECT_EQ(ReadFile(fileName), MakeTrl("n", "Default", "", ""));
    struct stat status;
    ASSERT_EQ(::stat(fileName.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"old.trl", "vidOderavevDefault.trl"})); // no temporary left
    // Through a symbolic link the link stays.
    ASSERT_EQ(::symlink("vidOderavevDefault.trl", (dir / "link.trl").c_str()), 0);
    ASSERT_TRUE(CTranslatorFile(dir / "link.trl").Write(MakeTable("s")));
    EXPECT_TRUE(boost::filesystem::is_symlink(dir / "link.trl"));
    EXPECT_EQ(ReadFile(fileName), MakeTrl("s", "Default", "", ""));
    EXPECT_FALSE(CTranslatorFile(dir / "missing/dir/m.trl").Write(table));
    EXPECT_FALSE(CTranslatorFile(dir.Path()).Write(table));
}

TEST(TranslatorFile, ReadsEscapesRawBytesAndAnyWhiteSpace)
{
    CTranslatorData table;
    // Escapes on both sides of a step of the reader's 16- and 64-byte scans.
    const std::string escapes = "\"\\b\\r\\n\\t\\f\\\\\\\"\\'\"", raw = std::string("'\0\x0b\x80\xff", 5) + "\nline";
    const std::string longText = std::string(15, 'a') + "\"" + std::string(48, 'b') + "\\" + std::string(80, 'c');
    const std::string content = g_sHeader + g_sSettings + escapes + "=\"" + raw + "\"\n" + escapes + "=\"2\"\n" +
                                _BuildQuotedString(longText) + "=\"x\\\\\")";
    ASSERT_EQ(ReadContent(content, table), std::make_pair(true, std::string()));
    // The second entry for the same text is ignored; the loader, not the reader, clears the modified flag.
    EXPECT_EQ(table.GetTranslatorMap(), (TMap{{"\b\r\n\t\f\\\"'", raw}, {longText, "x\\"}}));
    EXPECT_EQ(table.GetName() + table.GetLanguage(), "ml");
    EXPECT_TRUE(table.IsModified());
    // Any white space between the tokens, none needed.
    const std::string spaced = "TF(0001) \r\n\v\f Settings \t ( \r\n ModuleName \n ( \"m\" ) Language(\"l\"\r\n) "
                               "BaseModules ( \"A\" , \"B\"\r\n)) Translations(\"a\" \r\n = \"1\"\"b\"=\n\"2\" ) \r\n\t";
    CTranslatorData other;
    ASSERT_EQ(ReadContent(spaced, other), std::make_pair(true, std::string()));
    EXPECT_EQ(other.GetTranslatorMap(), (TMap{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(other.GetNumBaseModules(), 2u);
}

TEST(TranslatorFile, FailuresAndWhereParsingStopped)
{
    // A header that is not ours (here after a byte order mark) fails silently and changes nothing.
    CTranslatorData kept = MakeTable("keep");
    EXPECT_EQ(ReadContent("\xef\xbb\xbfTF(0001)" + g_sSettings + ")\n", kept), std::make_pair(false, std::string()));
    EXPECT_EQ(kept.GetName(), "keep");
    EXPECT_FALSE(kept.IsModified());
    CTranslatorData other;
    EXPECT_EQ(ReadContent("TF(0002)" + g_sSettings + ")\n", other),
              std::make_pair(false, std::string("Invalid file version (TF(0001) expected)\n")));
    EXPECT_EQ(other.GetName(), "");
    // Parse errors give the position after the header; what was stored before stays.
    const std::string ok = g_sSettings + "\"ok\"=\"1\"\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {ok + "\"b\" \"2\"\n\"c\"=\"3\"\n)\n", "\"b\""},
        {ok + "  \"a\\x\"=\"1\"\n)\n", "\"a"},
        {ok + ")\n \t x\n", "x"},
        {"\nSettings\n(\n\tLanguage(\"l\")\n)\nTranslations\n(\n)\n", "Language"},
        {"", ""},
    };
    for (const auto& c : cases) {
        CTranslatorData table;
        EXPECT_EQ(ReadContent(g_sHeader + c.first, table), ParseError(c.first.find(c.second))) << c.first;
        EXPECT_EQ(table.GetTranslatorMap(), c.first.find("ok") == std::string::npos ? TMap() : TMap({{"ok", "1"}}));
    }
    // Missing, empty, a directory: silent.
    CTemporaryDirectory dir;
    CTranslatorData table = MakeTable("keep");
    WriteTextFile(dir / "empty.trl", "");
    EXPECT_TRUE(CTranslatorFile::Exists(dir / "empty.trl") && !CTranslatorFile::Exists(dir / "missing.trl"));
    for (const std::string& name : {dir / "missing.trl", dir / "empty.trl", dir.Path()})
        EXPECT_EQ(ReadInto(name, table), std::make_pair(false, std::string())) << name;
    EXPECT_EQ(table.GetName(), "keep");
    EXPECT_FALSE(table.IsModified());
}

TEST(TranslatorFile, TranslationsWithOtherPlaceholdersAreHeldBack)
{
    struct SCase
    {
        const char *m_pText, *m_pTranslation;
        bool m_bUsed;
    } const cases[] = {
        {"A %1% of %2%", "%2% von %1% (%1%)", true},
        {"B 100%% in %1%s", "%1%s: 100%%", true},
        {"C plain", "mit 100%", true}, // no placeholders: never formatted
        {"D multi", "Zeile\neins", true},
        {"E Total Runtime: %1%s", "%1% %2%", false},
        {"F Failed: %1%", "Fehler", false},
        {"G plain", "%1%", false},
        {"H took %1%s", "%1%s (100%)", false},
    };
    CTemporaryDirectory dir;
    const std::string fileName = dir / "m.trl";
    std::string entries, written, errors;
    TMap expected;
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
    WriteTextFile(fileName, MakeTrl("m", "l", "", entries + "\"G plain\"=\"G\"\n"));
    CTranslatorData table;
    EXPECT_EQ(ReadInto(fileName, table), std::make_pair(true, errors));
    EXPECT_EQ(table.GetTranslatorMap(), expected);
    // A write-back gives the author's texts back.
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    EXPECT_EQ(ReadFile(fileName), MakeTrl("m", "l", "", written));
    // A translation reaching the formatting unchecked falls back to the original, then to the raw one.
    EXPECT_EQ(FormatTranslation("%1% %2%", "Total Runtime: %1%s", "7"), "Total Runtime: 7s");
    EXPECT_EQ(FormatTranslation("100%", "Failed %1% and %2%", 7), "100%");
}
