#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include <unistd.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Companion/TranslatorRegistry.h>
#include <vidOderavev/Internationalisation/FormatText.h>
#include <vidOderavev/Internationalisation/SearchPath.h>
#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>
#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/Visualizer.h>

#include "support/TemporaryDirectory.h"
#include "translator_test_util.h"

using Qz::Varnel::Internationalisation::CSearchPath;
using Qz::Varnel::Internationalisation::CTranslator;
using Qz::Varnel::Internationalisation::CTranslatorFile;
using Test::CTemporaryDirectory;
using Test::FileExists;
using Test::ReadFile;
using Test::WriteTextFile;
using TranslatorTest::MakeTrl;

namespace {

std::string CurrentDirectory()
{
    char buffer[4096];
    return ::getcwd(buffer, sizeof(buffer)) ? buffer : "";
}

// Restores LANGUAGEPATH when the test ends.
class CLanguagePath
{
public:
    CLanguagePath()
    {
        const char* value = std::getenv("LANGUAGEPATH");
        m_bWasSet = value != nullptr;
        if (value)
            m_sValue = value;
    }
    ~CLanguagePath()
    {
        if (m_bWasSet)
            ::setenv("LANGUAGEPATH", m_sValue.c_str(), 1);
        else
            ::unsetenv("LANGUAGEPATH");
    }
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
        std::string result = CTranslator::Translate("late text");
        std::string name = CTranslator::GetApplicationName();
        CTranslator::Init("/tmp", "late", "Default");
        CTranslator::SetLanguage("other");
        std::fprintf(stderr, "late:[%s] name:[%s] language:[%s]\n", result.c_str(), name.c_str(),
                     CTranslator::GetLanguage().c_str());
    }
};
SLateUser g_oLateUser __attribute__((init_priority(101)));

} // namespace

TEST_F(TranslatorTest, DefaultSearchPathListFromLibraryFile)
{
    CLanguagePath languagePath;
    languagePath.Set("/lang:/more");
    std::list<std::string> paths;
    std::string name;
    CSearchPath::_BuildDefaultSearchPathList(paths, name, "/opt/lib/vidOderavev.so", "/usr/bin/host");
    EXPECT_EQ(name, "vidOderavev");
    EXPECT_EQ(paths, (std::list<std::string>{"/opt/lib", "./", CurrentDirectory(), "/lang:/more"}));

    languagePath.Set(nullptr);
    CSearchPath::_BuildDefaultSearchPathList(paths, name, nullptr, "/usr/bin/host.bin.x");
    EXPECT_EQ(name, "host.bin");
    EXPECT_EQ(paths, (std::list<std::string>{"/usr/bin", "./", CurrentDirectory()}));

    // A file name without a directory gives no module name.
    CSearchPath::_BuildDefaultSearchPathList(paths, name, "vidOderavev.so", nullptr);
    EXPECT_EQ(name, "");
    EXPECT_EQ(paths, (std::list<std::string>{"./", CurrentDirectory()}));

    languagePath.Set("");
    CSearchPath::_BuildDefaultSearchPathList(paths, name, "C:\\lib\\mod", nullptr);
    EXPECT_EQ(name, "mod");
    EXPECT_EQ(paths, (std::list<std::string>{"C:\\lib", "./", CurrentDirectory(), ""}));
}

TEST_F(TranslatorTest, DefaultSearchPathListWhenNoFileIsFound)
{
    CLanguagePath languagePath;
    languagePath.Set("/lang");
    std::list<std::string> paths;
    std::string name = "stale";
    CSearchPath::_BuildDefaultSearchPathList(paths, name, nullptr, nullptr);
    EXPECT_EQ(name, "vidOderavev");
    EXPECT_EQ(paths, (std::list<std::string>{"./", CurrentDirectory(), "/lang"}));
}

TEST_F(TranslatorTest, ApplicationSearchPathList)
{
    CLanguagePath languagePath;
    languagePath.Set(nullptr);
    std::list<std::string> paths;
    std::string name;
    CSearchPath::_BuildApplicationSearchPathList(paths, name, "/srv/app/tool.exe");
    EXPECT_EQ(name, "tool");
    EXPECT_EQ(paths, (std::list<std::string>{"/srv/app", CurrentDirectory()}));
    CSearchPath::_BuildApplicationSearchPathList(paths, name, "tool.v2.exe");
    EXPECT_EQ(name, "tool.v2");
    EXPECT_EQ(paths, (std::list<std::string>{CurrentDirectory()}));
}

TEST_F(TranslatorTest, FirstUseWithoutInitUsesModuleFileAndDefaultLanguage)
{
    // A fresh process: the translator does not exist yet.
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            bool ok = CTranslator::Translate("first text") == "first text";
            std::list<std::string> paths = CTranslator::GetSearchPathList();
            // The test program holds the library's code here.
            ok = ok && CTranslator::GetApplicationName() == "translator_test";
            ok = ok && CTranslator::GetLanguage() == "Default" && CTranslator::GetSearchMode();
            ok = ok && paths.size() >= 3 && *std::next(paths.begin()) == "./";
            ok = ok && CTranslator::GetBaseFilePath() == paths.front();
            ok = ok && Qz::Varnel::Strings::CTranslatorRegistry::GetNumberOfTranslators() == 1;
            CTranslator::Init("/nonexistent/vidOderavev-test", "none", "Default");
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(TranslatorTest, UntranslatedTextsAreRecordedAndWrittenOnLanguageChange)
{
    CTemporaryDirectory dir;
    CTranslator::Init(dir.Path(), "mod", "Default");
    EXPECT_EQ(CTranslator::GetBaseFilePath(), dir.Path());
    EXPECT_EQ(CTranslator::Translate("Startup"), "Startup");
    EXPECT_EQ(CTranslator::Translate(""), "");
    EXPECT_EQ(CTranslator::Translate(std::string("Total Runtime: %1%s")), "Total Runtime: %1%s");
    EXPECT_EQ(CTranslator::Translate("Startup"), "Startup");
    EXPECT_FALSE(FileExists(dir.File("modDefault.trl")));
    CTranslator::SetLanguage("de");
    EXPECT_EQ(ReadFile(dir.File("modDefault.trl")),
              MakeTrl("mod", "Default", "",
                      "\"\"=\"\"\n\"Startup\"=\"Startup\"\n\"Total Runtime: %1%s\"=\"Total "
                      "Runtime: %1%s\"\n"));
    EXPECT_EQ(CTranslator::GetLanguage(), "de");
    // No German file: the new table starts empty and is due for writing.
    CTranslator::SetLanguage("Default");
    EXPECT_TRUE(FileExists(dir.File("modde.trl")));
    EXPECT_EQ(ReadFile(dir.File("modde.trl")), MakeTrl("mod", "de", "", ""));
}

TEST_F(TranslatorTest, TextsWithoutALetterAreNotRecorded)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir.File("mDefault.trl"), MakeTrl("m", "Default", "", "\"50\"=\"fifty\"\n"));
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
    EXPECT_EQ(ReadFile(dir.File("mDefault.trl")), MakeTrl("m", "Default", "", entries));
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
    WriteTextFile(dir.File("mDefault.trl"), MakeTrl("m", "Default", "", "\"Total Runtime: %1%s\"=\"%1% %2%\"\n"));
    testing::internal::CaptureStderr();
    CTranslator::Init(dir.Path(), "m", "Default");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Placeholder mismatch at line 10 of " + dir.File("mDefault.trl") + ", original text used\n");
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
    WriteTextFile(second.File("appfr.trl"), MakeTrl("app", "fr", "\"Missing\", \"Common\"",
                                                    "\"Yes\"=\"Oui (app)\"\n\"Only app\"=\"Seulement\"\n"));
    WriteTextFile(first.File("Commonfr.trl"), MakeTrl("Common", "fr", "", "\"Yes\"=\"Oui\"\n\"No\"=\"Non\"\n"));
    // Found in the earlier directory only.
    WriteTextFile(second.File("Commonfr.trl"), MakeTrl("Common", "fr", "", "\"No\"=\"Non (second)\"\n"));
    CTranslator::Init(std::list<std::string>{first.Path(), second.Path()}, "app", "fr");
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
    std::string before = ReadFile(second.File("appfr.trl"));
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(second.File("appfr.trl")), before);
    CTranslator::SetLanguage("fr");
    EXPECT_EQ(CTranslator::Translate("Yes"), "Oui");

    // The name of the missing module is the user's: a write-back keeps it.
    CTranslator::Translate("recorded");
    CTranslator::SetLanguage("Default");
    EXPECT_EQ(ReadFile(second.File("appfr.trl")),
              MakeTrl("app", "fr", "\"Missing\", \"Common\"",
                      "\"Only app\"=\"Seulement\"\n\"Yes\"=\"Oui (app)\"\n\"recorded\"=\"recorded\"\n"));
}

TEST_F(TranslatorTest, EarlierDirectoryWinsAndSameLanguageDoesNothing)
{
    CTemporaryDirectory first, second;
    WriteTextFile(first.File("xDefault.trl"), MakeTrl("x", "Default", "", "\"a\"=\"first\"\n"));
    WriteTextFile(second.File("xDefault.trl"), MakeTrl("x", "Default", "", "\"a\"=\"second\"\n"));
    CTranslator::Init(std::list<std::string>{first.Path(), second.Path()}, "x", "Default");
    EXPECT_EQ(CTranslator::Translate("a"), "first");
    EXPECT_EQ(CTranslator::Translate("new"), "new");
    WriteTextFile(first.File("xDefault.trl"), MakeTrl("x", "Default", "", "\"a\"=\"changed\"\n"));
    CTranslator::SetLanguage("Default"); // neither writes nor reloads
    EXPECT_EQ(CTranslator::Translate("a"), "first");
    EXPECT_EQ(ReadFile(first.File("xDefault.trl")), MakeTrl("x", "Default", "", "\"a\"=\"changed\"\n"));
}

TEST_F(TranslatorTest, InitDiscardsRecordedTextsWithoutWriting)
{
    CTemporaryDirectory dir;
    CTranslator::Init(dir.Path(), "m", "Default");
    CTranslator::Translate("recorded");
    CTranslator::Init(dir.Path(), "m", "Default");
    EXPECT_FALSE(FileExists(dir.File("mDefault.trl")));
    CTranslator::SetLanguage("de");
    EXPECT_EQ(ReadFile(dir.File("mDefault.trl")), MakeTrl("m", "Default", "", ""));
}

TEST_F(TranslatorTest, InitFromApplicationPathAndLanguagePath)
{
    CTemporaryDirectory dir, languageDir;
    CLanguagePath languagePath;
    languagePath.Set(languageDir.Path().c_str());
    WriteTextFile(languageDir.File("toolen.trl"), MakeTrl("tool", "en", "", "\"k\"=\"from LANGUAGEPATH\"\n"));
    CTranslator::Init(dir.File("tool.exe"), "en");
    EXPECT_EQ(CTranslator::GetApplicationName(), "tool");
    EXPECT_EQ(CTranslator::GetSearchPathList(),
              (std::list<std::string>{dir.Path(), CurrentDirectory(), languageDir.Path()}));
    EXPECT_EQ(CTranslator::GetBaseFilePath(), languageDir.Path());
    EXPECT_EQ(CTranslator::Translate("k"), "from LANGUAGEPATH");

    CTranslator::Init(std::list<std::string>(), "none", "Default");
    EXPECT_EQ(CTranslator::GetSearchPathList(), std::list<std::string>{"./"});
    EXPECT_EQ(CTranslator::GetBaseFilePath(), "./");
}

TEST_F(TranslatorTest, FileThatFailsToReadIsNeverOverwritten)
{
    CTemporaryDirectory dir;
    const std::string broken = MakeTrl("m", "Default", "", "\"a\"=\"A\"\n\"b\" \"B\"\n");
    const std::string otherModule = MakeTrl("other", "Default", "", "\"a\"=\"other A\"\n");
    const std::string otherLanguage = MakeTrl("m", "de", "", "");
    const std::string badVersion = "TF(0002)\n";
    for (const std::string& content : {broken, otherModule, otherLanguage, badVersion, std::string("garbage")}) {
        WriteTextFile(dir.File("mDefault.trl"), content);
        testing::internal::CaptureStderr();
        CTranslator::Init(dir.Path(), "m", "Default");
        testing::internal::GetCapturedStderr();
        // The translator keeps its own identity whatever the file says.
        EXPECT_EQ(CTranslator::GetApplicationName(), "m");
        EXPECT_EQ(CTranslator::GetLanguage(), "Default");
        CTranslator::Translate("new text");
        CTranslator::SetLanguage("fr");
        EXPECT_EQ(ReadFile(dir.File("mDefault.trl")), content);
        EXPECT_FALSE(FileExists(dir.File("otherDefault.trl")));
        EXPECT_FALSE(FileExists(dir.File("mde.trl")));
    }
    // What the reader stored before the parse error is still used.
    WriteTextFile(dir.File("mDefault.trl"), broken);
    testing::internal::CaptureStderr();
    CTranslator::Init(dir.Path(), "m", "Default");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Parse Error at position " + std::to_string(broken.find("\"b\"") - 8) + "\n");
    EXPECT_EQ(CTranslator::Translate("a"), "A");

    // An empty file holds nothing to lose and is filled.
    WriteTextFile(dir.File("mDefault.trl"), "");
    CTranslator::Init(dir.Path(), "m", "Default");
    CTranslator::Translate("x");
    CTranslator::SetLanguage("fr");
    EXPECT_EQ(ReadFile(dir.File("mDefault.trl")), MakeTrl("m", "Default", "", "\"x\"=\"x\"\n"));
}

TEST_F(TranslatorTest, BaseModuleCyclesAreCutAndReportedOnce)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir.File("Aen.trl"), MakeTrl("A", "en", "\"B\", \"A\"", "\"a\"=\"from A\"\n"));
    WriteTextFile(dir.File("Ben.trl"), MakeTrl("B", "en", "\"A\", \"C\"", "\"b\"=\"from B\"\n"));
    WriteTextFile(dir.File("Cen.trl"), MakeTrl("C", "en", "\"C\"", "\"c\"=\"from C\"\n"));
    testing::internal::CaptureStderr();
    CTranslator::Init(dir.Path(), "A", "en");
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors, "Base module cycle cut: A -> B -> A\n"
                      "Base module cycle cut: A -> B -> C -> C\n"
                      "Base module cycle cut: A -> A\n");
    EXPECT_EQ(CTranslator::Translate("a"), "from A");
    EXPECT_EQ(CTranslator::Translate("b"), "from B");
    EXPECT_EQ(CTranslator::Translate("c"), "from C");
    // Cut names are kept when the table is written back.
    CTranslator::Translate("recorded");
    CTranslator::SetLanguage("de");
    EXPECT_EQ(ReadFile(dir.File("Aen.trl")),
              MakeTrl("A", "en", "\"B\", \"A\"", "\"a\"=\"from A\"\n\"recorded\"=\"recorded\"\n"));
}

TEST_F(TranslatorTest, NullTextThrowsLogicError)
{
    const char* nothing = nullptr;
    EXPECT_THROW(CTranslator::Translate(nothing), std::logic_error);
}

TEST_F(TranslatorTest, TranslateIsSafeAgainstConcurrentInitAndSetLanguage)
{
    CTemporaryDirectory dir;
    // Long translations live on the heap: a dangling reference would show.
    const std::string german(200, 'd'), french(200, 'f');
    WriteTextFile(dir.File("mde.trl"), MakeTrl("m", "de", "", "\"t\"=\"" + german + "\"\n"));
    WriteTextFile(dir.File("mfr.trl"), MakeTrl("m", "fr", "", "\"t\"=\"" + french + "\"\n"));
    CTranslator::Init(dir.Path(), "m", "de");

    std::atomic<bool> stop(false);
    std::atomic<int> bad(0), seen(0);
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&, i]() {
            while (!stop.load()) {
                std::string text = CTranslator::Translate("t");
                if (text != german && text != french && text != "t")
                    ++bad;
                std::string other = CTranslator::Translate("new " + std::to_string(i));
                if (other != "new " + std::to_string(i))
                    ++bad;
                if (CTranslator::GetLanguage().empty() || CTranslator::GetApplicationName() != "m")
                    ++bad;
                ++seen;
            }
        });
    }
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

TEST_F(TranslatorTest, WriteBackAtExitAndTranslateAfterDestruction)
{
    CTemporaryDirectory dir;
    WriteTextFile(dir.File("brokenDefault.trl"), "TF(0001) broken");
    // The child inherits the translator and this directory, records texts and
    // exits; a static object destroyed after the translator then translates.
    testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_EXIT(
        {
            CTranslator::Init(dir.Path(), "exit", "Default");
            CTranslator::Translate("recorded at exit");
            g_oLateUser.m_bArmed = true;
            std::exit(0);
        },
        testing::ExitedWithCode(0), "late:\\[late text\\] name:\\[\\] language:\\[\\]");
    EXPECT_EQ(ReadFile(dir.File("exitDefault.trl")),
              MakeTrl("exit", "Default", "", "\"recorded at exit\"=\"recorded at exit\"\n"));
    EXPECT_FALSE(FileExists("/tmp/lateDefault.trl"));

    // A file that failed to read is not replaced at exit either.
    EXPECT_EXIT(
        {
            CTranslator::Init(dir.Path(), "broken", "Default");
            CTranslator::Translate("recorded at exit");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(dir.File("brokenDefault.trl")), "TF(0001) broken");
}

TEST_F(TranslatorTest, ThreadsTranslatingThroughExitNeitherCrashNorBlockTheWriteBack)
{
    CTemporaryDirectory dir;
    testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_EXIT(
        {
            CTranslator::Init(dir.Path(), "racing", "Default");
            std::atomic<int> running(0);
            for (int i = 0; i < 2; ++i) {
                std::thread([&running]() {
                    ++running;
                    for (;;) {
                        if (CTranslator::Translate("racing text") != "racing text")
                            std::abort();
                    }
                }).detach();
            }
            while (running.load() < 2)
                std::this_thread::yield();
            // The translator is destroyed while both threads keep calling it.
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(dir.File("racingDefault.trl")),
              MakeTrl("racing", "Default", "", "\"racing text\"=\"racing text\"\n"));
}
