// The process-wide translator (search path, loading along it, write-back,
// threads and exit) and the translation table with its base modules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Companion/TranslatorRegistry.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/SearchPath.h>
#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

#include "translator_test_util.h"

using Qz::Varnel::Internationalisation::CSearchPath;
using Qz::Varnel::Internationalisation::CTranslator;
using Qz::Varnel::Internationalisation::CTranslatorData;
using Test::CTemporaryDirectory;
using Test::FileExists;
using Test::ReadFile;
using Test::WriteTextFile;
using TranslatorTest::MakeTrl;
typedef std::list<std::string> TPaths;

namespace {

std::string CurrentDirectory()
{
    char buffer[4096];
    return ::getcwd(buffer, sizeof(buffer)) ? buffer : "";
}

// Sets LANGUAGEPATH (nullptr: unsets it) for the life of the object.
class CLanguagePath
{
public:
    explicit CLanguagePath(const char* value) : m_bWasSet(std::getenv("LANGUAGEPATH") != nullptr)
    {
        if (m_bWasSet)
            m_sValue = std::getenv("LANGUAGEPATH");
        Set(value);
    }
    ~CLanguagePath() { Set(m_bWasSet ? m_sValue.c_str() : nullptr); }
    void Set(const char* value) { value ? ::setenv("LANGUAGEPATH", value, 1) : ::unsetenv("LANGUAGEPATH"); }

private:
    bool m_bWasSet;
    std::string m_sValue;
};

// Every test leaves the translator pointing at a directory that does not
// exist, so that nothing it recorded is written anywhere.
class TranslatorTest : public testing::Test
{
protected:
    void TearDown() override { CTranslator::Init("/nonexistent/vidOderavev-test", "none", "Default"); }
};

// A late static user: destroyed after the translator (constructed before
// every ordinary static object), it translates in its destructor when armed.
struct SLateUser
{
    bool m_bArmed = false;
    ~SLateUser()
    {
        if (!m_bArmed)
            return;
        const std::string result = CTranslator::Translate("late text"), name = CTranslator::GetApplicationName();
        CTranslator::Init("/tmp", "late", "Default");
        CTranslator::SetLanguage("other");
        std::fprintf(stderr, "late:[%s] name:[%s] language:[%s]\n", result.c_str(), name.c_str(),
                     CTranslator::GetLanguage().c_str());
    }
};
SLateUser g_oLateUser __attribute__((init_priority(101)));

CTranslatorData MakeTable(const std::string& name, const std::string& x = std::string())
{
    CTranslatorData table;
    table.Init(name, "Default");
    if (!x.empty())
        table.SetTranslation("x", x);
    return table;
}

} // namespace

TEST_F(TranslatorTest, SearchPathLists)
{
    CLanguagePath languagePath("/lang:/more");
    TPaths paths;
    std::string name = "stale";
    CSearchPath::_BuildDefaultSearchPathList(paths, name, nullptr, nullptr); // no file found
    EXPECT_EQ(name, "vidOderavev");
    EXPECT_EQ(paths, (TPaths{"./", CurrentDirectory(), "/lang:/more"}));
    CSearchPath::_BuildDefaultSearchPathList(paths, name, "/opt/lib/vidOderavev.so", "/usr/bin/host");
    EXPECT_EQ(name, "vidOderavev");
    EXPECT_EQ(paths, (TPaths{"/opt/lib", "./", CurrentDirectory(), "/lang:/more"}));
    languagePath.Set(nullptr);
    CSearchPath::_BuildDefaultSearchPathList(paths, name, nullptr, "/usr/bin/host.bin.x");
    EXPECT_EQ(name, "host.bin");
    EXPECT_EQ(paths, (TPaths{"/usr/bin", "./", CurrentDirectory()}));
    CSearchPath::_BuildDefaultSearchPathList(paths, name, "vidOderavev.so", nullptr); // no directory: no name
    EXPECT_EQ(name, "");
    EXPECT_EQ(paths, (TPaths{"./", CurrentDirectory()}));
    languagePath.Set("");
    CSearchPath::_BuildDefaultSearchPathList(paths, name, "C:\\lib\\mod", nullptr);
    EXPECT_EQ(name, "mod");
    EXPECT_EQ(paths, (TPaths{"C:\\lib", "./", CurrentDirectory(), ""}));
    languagePath.Set(nullptr);
    CSearchPath::_BuildApplicationSearchPathList(paths, name, "/srv/app/tool.exe");
    EXPECT_EQ(name, "tool");
    EXPECT_EQ(paths, (TPaths{"/srv/app", CurrentDirectory()}));
    CSearchPath::_BuildApplicationSearchPathList(paths, name, "tool.v2.exe");
    EXPECT_EQ(name, "tool.v2");
    EXPECT_EQ(paths, (TPaths{CurrentDirectory()}));
}

TEST_F(TranslatorTest, FirstUseWithoutInitUsesModuleFileAndDefaultLanguage)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe"; // a fresh process: no translator yet
    EXPECT_EXIT(
        {
            const std::string translated = CTranslator::Translate("first text");
            const TPaths paths = CTranslator::GetSearchPathList();
            // The test program holds the library's code here.
            const bool ok = translated == "first text" && CTranslator::GetApplicationName() == "translation_test" &&
                            CTranslator::GetLanguage() == "Default" && CTranslator::GetSearchMode() &&
                            paths.size() >= 3 && *std::next(paths.begin()) == "./" &&
                            CTranslator::GetBaseFilePath() == paths.front() &&
                            Qz::Varnel::Strings::CTranslatorRegistry::GetNumberOfTranslators() == 1;
            CTranslator::Init("/nonexistent/vidOderavev-test", "none", "Default");
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(TranslatorTest, UntranslatedTextsAreRecordedAndWrittenOnLanguageChange)
{
    CTemporaryDirectory dir;
    CTranslator::Init(dir.Path(), "mod", "Default");
    CTranslator::Translate("dropped"); // Init discards what was recorded, without writing
    CTranslator::Init(dir.Path(), "mod", "Default");
    EXPECT_EQ(CTranslator::GetBaseFilePath(), dir.Path());
    for (const std::string text : {"Startup", "", "Total Runtime: %1%s", "Startup"})
        EXPECT_EQ(CTranslator::Translate(text), text);
    EXPECT_FALSE(FileExists(dir / "modDefault.trl"));
    CTranslator::SetLanguage("de");
    EXPECT_EQ(ReadFile(dir / "modDefault.trl"),
              MakeTrl("mod", "Default", "",
                      "\"\"=\"\"\n\"Startup\"=\"Startup\"\n\"Total Runtime: %1%s\"=\"Total Runtime: %1%s\"\n"));
    EXPECT_EQ(CTranslator::GetLanguage(), "de");
    // No German file: the new table starts empty and is due for writing.
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(dir / "modde.trl"), MakeTrl("mod", "de", "", ""));
    EXPECT_THROW(CTranslator::Translate(static_cast<const char*>(nullptr)), std::logic_error);
}

TEST_F(TranslatorTest, TextsWithoutALetterAreNotRecorded)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "mDefault.trl", MakeTrl("m", "Default", "", "\"50\"=\"fifty\"\n"));
    CTranslator::Init(dir.Path(), "m", "Default");
    // Texts without a letter come back unchanged, or translated if the table
    // has them, and are not recorded; non-ASCII bytes count as letters.
    const std::vector<std::string> notRecorded = {"13.125", "100", " - ", "%1%"};
    const std::vector<std::string> recorded = {"", "13 s", "x", "\xc3\x9c", "\xe2\x82\xac"};
    for (const std::vector<std::string>* texts : {&notRecorded, &recorded}) {
        for (const std::string& text : *texts)
            EXPECT_EQ(CTranslator::Translate(text), text);
    }
    EXPECT_EQ(CTranslator::Translate("50"), "fifty");
    CTranslator::SetLanguage("de");
    std::map<std::string, std::string> table = {{"50", "fifty"}};
    for (const std::string& text : recorded)
        table.emplace(text, text);
    std::string entries;
    for (const auto& entry : table)
        entries += "\"" + entry.first + "\"=\"" + entry.second + "\"\n";
    EXPECT_EQ(ReadFile(dir / "mDefault.trl"), MakeTrl("m", "Default", "", entries));
}

TEST_F(TranslatorTest, TranslationWithOtherPlaceholdersNeverBreaksAnOutput)
{
    namespace Progress = Qz::Varnel::Progress;
    struct CMessages : Progress::Detail::CVisualizerBase
    {
        std::vector<std::string> m_oTexts;
        void _ShowMessage(const std::string& text, Progress::_EVerbosityLevel, const std::string&,
                          const std::string&) override
        {
            m_oTexts.push_back(text);
        }
    };
    CTemporaryDirectory dir;
    WriteTextFile(dir / "mDefault.trl", MakeTrl("m", "Default", "", "\"Total Runtime: %1%s\"=\"%1% %2%\"\n"));
    testing::internal::CaptureStderr();
    CTranslator::Init(dir.Path(), "m", "Default");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Placeholder mismatch at line 10 of " + dir / "mDefault.trl" + ", original text used\n");
    const auto logger = boost::make_shared<Progress::CLogger>("run");
    const auto output = boost::make_shared<CMessages>();
    output->AddLogger(logger);
    EXPECT_NO_THROW(output->Clear());
    ASSERT_EQ(output->m_oTexts.size(), 2u);
    EXPECT_EQ(output->m_oTexts[1].rfind("Total Runtime: 00:00:00", 0), 0u) << output->m_oTexts[1];

    // A translation that reaches the formatting unchecked falls back to the
    // original, and to the raw translation if that fails as well.
    using Qz::Varnel::Internationalisation::FormatTranslation;
    EXPECT_EQ(FormatTranslation("%1% %2%", "Total Runtime: %1%s", "7"), "Total Runtime: 7s");
    EXPECT_EQ(FormatTranslation("100%", "Failed %1% and %2%", 7), "100%");
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
    EXPECT_EQ(CTranslator::Translate("Yes"), "Oui"); // deep: the base module wins
    EXPECT_EQ(CTranslator::Translate("No"), "Non");
    EXPECT_EQ(CTranslator::Translate("Only app"), "Seulement");
    CTranslator::SetSearchMode(false);
    EXPECT_FALSE(CTranslator::GetSearchMode());
    EXPECT_EQ(CTranslator::Translate("Yes"), "Oui (app)");
    CTranslator::SetSearchMode(true);
    // The missing base module was dropped without marking the table: a
    // language change with nothing new leaves the file alone.
    const std::string before = ReadFile(second / "appfr.trl");
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(second / "appfr.trl"), before);
    CTranslator::SetLanguage("fr");
    EXPECT_EQ(CTranslator::Translate("Yes"), "Oui");
    // The name of the missing module is the user's: a write-back keeps it.
    CTranslator::Translate("recorded");
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(second / "appfr.trl"),
              MakeTrl("app", "fr", "\"Missing\", \"Common\"",
                      "\"Only app\"=\"Seulement\"\n\"Yes\"=\"Oui (app)\"\n\"recorded\"=\"recorded\"\n"));

    // The earlier directory wins; the same language neither writes nor reloads.
    WriteTextFile(first / "xDefault.trl", MakeTrl("x", "Default", "", "\"a\"=\"first\"\n"));
    WriteTextFile(second / "xDefault.trl", MakeTrl("x", "Default", "", "\"a\"=\"second\"\n"));
    CTranslator::Init(TPaths{first.Path(), second.Path()}, "x", "Default");
    EXPECT_EQ(CTranslator::Translate("a"), "first");
    EXPECT_EQ(CTranslator::Translate("new"), "new");
    WriteTextFile(first / "xDefault.trl", MakeTrl("x", "Default", "", "\"a\"=\"changed\"\n"));
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(CTranslator::Translate("a"), "first");
    EXPECT_EQ(ReadFile(first / "xDefault.trl"), MakeTrl("x", "Default", "", "\"a\"=\"changed\"\n"));

    // From an application's path, with LANGUAGEPATH last.
    CLanguagePath languagePath(first.Path().c_str());
    WriteTextFile(first / "toolen.trl", MakeTrl("tool", "en", "", "\"k\"=\"from LANGUAGEPATH\"\n"));
    CTranslator::Init(second / "tool.exe", "en");
    EXPECT_EQ(CTranslator::GetApplicationName(), "tool");
    EXPECT_EQ(CTranslator::GetSearchPathList(), (TPaths{second.Path(), CurrentDirectory(), first.Path()}));
    EXPECT_EQ(CTranslator::GetBaseFilePath(), first.Path());
    EXPECT_EQ(CTranslator::Translate("k"), "from LANGUAGEPATH");
    CTranslator::Init(TPaths(), "none", "Default");
    EXPECT_EQ(CTranslator::GetSearchPathList(), TPaths{"./"});
    EXPECT_EQ(CTranslator::GetBaseFilePath(), "./");
}

TEST_F(TranslatorTest, FileThatFailsToReadIsNeverOverwritten)
{
    CTemporaryDirectory dir;
    const std::string broken = MakeTrl("m", "Default", "", "\"a\"=\"A\"\n\"b\" \"B\"\n");
    for (const std::string& content : {broken, MakeTrl("other", "Default", "", "\"a\"=\"other A\"\n"),
                                       MakeTrl("m", "de", "", ""), std::string("TF(0002)\n"), std::string("garbage")}) {
        WriteTextFile(dir / "mDefault.trl", content);
        testing::internal::CaptureStderr();
        CTranslator::Init(dir.Path(), "m", "Default");
        testing::internal::GetCapturedStderr();
        // The translator keeps its own identity whatever the file says.
        EXPECT_EQ(CTranslator::GetApplicationName(), "m");
        EXPECT_EQ(CTranslator::GetLanguage(), "Default");
        CTranslator::Translate("new text");
        CTranslator::SetLanguage("fr");
        EXPECT_EQ(ReadFile(dir / "mDefault.trl"), content);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"mDefault.trl"}));
    }
    // What the reader stored before the parse error is still used.
    WriteTextFile(dir / "mDefault.trl", broken);
    testing::internal::CaptureStderr();
    CTranslator::Init(dir.Path(), "m", "Default");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Parse Error at position " + std::to_string(broken.find("\"b\"") - 8) + "\n");
    EXPECT_EQ(CTranslator::Translate("a"), "A");
    // An empty file holds nothing to lose and is filled.
    WriteTextFile(dir / "mDefault.trl", "");
    CTranslator::Init(dir.Path(), "m", "Default");
    CTranslator::Translate("x");
    CTranslator::SetLanguage("fr");
    EXPECT_EQ(ReadFile(dir / "mDefault.trl"), MakeTrl("m", "Default", "", "\"x\"=\"x\"\n"));
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
    for (const char* text : {"a", "b", "c"})
        EXPECT_EQ(CTranslator::Translate(text), std::string("from ") + static_cast<char>(text[0] - 'a' + 'A'));
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
    std::atomic<bool> stop(false);
    std::atomic<int> bad(0), seen(0);
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&, i]() {
            while (!stop.load()) {
                const std::string text = CTranslator::Translate("t"), own = "new " + std::to_string(i);
                if ((text != german && text != french && text != "t") || CTranslator::Translate(own) != own ||
                    CTranslator::GetLanguage().empty() || CTranslator::GetApplicationName() != "m")
                    ++bad;
                ++seen;
            }
        });
    for (int round = 0; round < 100; ++round) {
        CTranslator::SetLanguage(round % 2 ? "de" : "fr");
        CTranslator::Init(dir.Path(), "m", round % 3 ? "de" : "fr");
    }
    while (seen.load() < 100)
        std::this_thread::yield();
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(TranslatorTest, WriteBackAtExit)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir / "brokenDefault.trl", "TF(0001) broken");
    // The child records texts and exits; a static object destroyed after the
    // translator then translates.
    testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_EXIT(
        {
            CTranslator::Init(dir.Path(), "exit", "Default");
            CTranslator::Translate("recorded at exit");
            g_oLateUser.m_bArmed = true;
            std::exit(0);
        },
        testing::ExitedWithCode(0), "late:\\[late text\\] name:\\[\\] language:\\[\\]");
    EXPECT_EQ(ReadFile(dir / "exitDefault.trl"),
              MakeTrl("exit", "Default", "", "\"recorded at exit\"=\"recorded at exit\"\n"));
    EXPECT_FALSE(FileExists("/tmp/lateDefault.trl"));
    // A file that failed to read is not replaced at exit either; threads that
    // keep translating through the exit neither crash nor block the write-back.
    EXPECT_EXIT(
        {
            CTranslator::Init(dir.Path(), "broken", "Default");
            CTranslator::Translate("recorded at exit");
            CTranslator::Init(dir.Path(), "racing", "Default");
            std::atomic<int> running(0);
            for (int i = 0; i < 2; ++i)
                std::thread([&running]() {
                    ++running;
                    for (;;)
                        if (CTranslator::Translate("racing text") != "racing text")
                            std::abort();
                }).detach();
            while (running.load() < 2)
                std::this_thread::yield();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(dir / "brokenDefault.trl"), "TF(0001) broken");
    EXPECT_EQ(ReadFile(dir / "racingDefault.trl"),
              MakeTrl("racing", "Default", "", "\"racing text\"=\"racing text\"\n"));
}

TEST(TranslatorData, BaseModulesShallowAndDeep)
{
    // M has base modules A and B; B has the base module C. A, C and
    // (optionally) M and B translate x.
    auto worked = [](const std::string& m, const std::string& b, const std::string& c) {
        CTranslatorData tableC = MakeTable("C", c), tableB = MakeTable("B", b), table = MakeTable("M", m);
        tableB.AddBaseModule(tableC);
        table.AddBaseModule(MakeTable("A", "xA"));
        table.AddBaseModule(tableB);
        return table;
    };
    EXPECT_EQ(worked("xM", "", "xC").Translate("x", false), "xM");
    unsigned int depth = 0;
    const CTranslatorData shallow = worked("", "", "xC");
    const std::string* found = shallow._TranslateShallow("x", depth);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, "xA");
    EXPECT_EQ(depth, 1u);
    for (const char* own : {"xM", ""}) {
        CTranslatorData table = worked(own, "", "xC");
        depth = 5;
        found = table._TranslateDeep("x", depth);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, "xC");
        EXPECT_EQ(depth, 7u); // 5 + depth 2
    }
    // Without C's entry A is deepest; A and B tie at depth 1 and A, the
    // earlier, wins.
    EXPECT_EQ(worked("xM", "", "").Translate("x", true), "xA");
    EXPECT_EQ(worked("xM", "xB", "").Translate("x", true), "xA");
    EXPECT_EQ(worked("", "xB", "").Translate("x", false), "xA");
    // Shallow prefers a strictly nearer later module.
    CTranslatorData first = MakeTable("F"), table = MakeTable("M");
    first.AddBaseModule(MakeTable("I", "deep"));
    table.AddBaseModule(first);
    table.AddBaseModule(MakeTable("S", "near"));
    EXPECT_EQ(table.Translate("x", false), "near");
    EXPECT_EQ(table.Translate("x", true), "deep");
    EXPECT_FALSE(table.CanTranslate("x"));
    EXPECT_TRUE(table.HasBaseModule("F", false));
    EXPECT_FALSE(table.HasBaseModule("I", false));
    EXPECT_TRUE(table.HasBaseModule("I", true));
    EXPECT_FALSE(table.HasBaseModule("M", true));
    EXPECT_FALSE(table.HasBaseModule("i", true));
    // Removal by name takes the first of two.
    table.AddBaseModule(MakeTable("S", "second"));
    table.RemoveBaseModule(std::string("S"));
    ASSERT_EQ(table.GetNumBaseModules(), 2u);
    EXPECT_EQ(table.Translate("x", false), "second");
}

TEST(TranslatorData, MissesAndTheModifiedFlag)
{
    CTranslatorData table = MakeTable("M");
    table.AddBaseModule(MakeTable("B"));
    table.SetModifiedFlag(false);
    // A miss adds an identity entry to the table itself and marks it.
    const std::string& first = table.Translate("", true);
    EXPECT_TRUE(table.IsModified());
    EXPECT_TRUE(table.CanTranslate(""));
    EXPECT_FALSE(table.GetBaseModule(0).CanTranslate(""));
    table.SetModifiedFlag(false);
    EXPECT_EQ(&first, &table.Translate("", false));
    EXPECT_FALSE(table.IsModified());
    for (int i = 0; i < 1000; ++i) // references survive insertions
        table.Translate("text " + std::to_string(i), i % 2 == 0);
    EXPECT_EQ(&first, &table.Translate("", false));

    // Which changes mark the table.
    CTranslatorData flags;
    flags.Init("M", "en");
    EXPECT_FALSE(flags.IsModified());
    const std::vector<std::pair<std::function<void()>, bool>> changes = {
        {[&] { flags.SetName("M"); }, false},
        {[&] { flags.SetLanguage("en"); }, false},
        {[&] { flags.ClearTranslatorMap(); }, false},
        {[&] { flags.SetName("m"); }, true}, // byte-wise, no case folding
        {[&] { flags.SetLanguage("EN"); }, true},
        {[&] { flags.AddBaseModule(MakeTable("A")); }, true},
        {[&] { flags.RemoveBaseModule(std::string("absent")); }, false},
        {[&] { flags.RemoveBaseModule(std::string("A")); }, true},
        {[&] { flags.AddTranslation("a", "1"); }, true},
        {[&] { flags.AddTranslation("a", "2"); }, true}, // keeps "1"
        {[&] { flags.SetTranslation("b", "3"); }, true},
        {[&] { flags.Translate("a", false); }, false},
        {[&] { flags.ClearTranslatorMap(); }, true},
        {[&] { flags.AddBaseModule(MakeTable("B")); }, true},
        {[&] { flags.RemoveBaseModule(0u); }, true},
        {[&] { flags.Init("N", "de"); }, false},
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        flags.SetModifiedFlag(i == changes.size() - 1);
        changes[i].first();
        EXPECT_EQ(flags.IsModified(), changes[i].second) << i;
        if (i == 9) {
            EXPECT_EQ(flags.GetTranslatorMap().at("a"), "1");
        }
    }
    EXPECT_EQ(flags.GetName(), "N");
    EXPECT_EQ(flags.GetLanguage(), "de");
    EXPECT_TRUE(flags.GetTranslatorMap().empty());
}

TEST(TranslatorData, BaseModulesAreDeepSnapshots)
{
    CTranslatorData base = MakeTable("B");
    base.AddBaseModule(MakeTable("I", "xI"));
    CTranslatorData table = MakeTable("M");
    table.AddBaseModule(base);
    // Later changes to the tables passed in do not reach the copies.
    base.GetBaseModule(0).SetTranslation("x", "changed");
    base.SetTranslation("y", "yB");
    EXPECT_EQ(table.Translate("x", true), "xI");
    EXPECT_TRUE(table.GetBaseModule(0).IsModified()); // the copy keeps the flag
    EXPECT_FALSE(table.GetBaseModule(0).CanTranslate("y"));
    table.GetBaseModule(0).SetTranslation("z", "zB"); // filled in place
    EXPECT_EQ(table.Translate("z", false), "zB");
    CTranslatorData copy(table);
    copy.GetBaseModule(0).GetBaseModule(0).SetTranslation("x", "copy");
    EXPECT_EQ(table.Translate("x", true), "xI");
    EXPECT_EQ(copy.Translate("x", true), "copy");
}
