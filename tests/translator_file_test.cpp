// The .trl file: exact bytes written, what the reader accepts and where it
// stops, and how a file is replaced.
#include <gtest/gtest.h>

#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Internationalisation/TranslatorData.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

#include "translator_test_util.h"

using Qz::Varnel::Internationalisation::_BuildQuotedString;
using Qz::Varnel::Internationalisation::CTranslatorData;
using Qz::Varnel::Internationalisation::CTranslatorFile;
using Test::CTemporaryDirectory;
using Test::ReadFile;
using Test::WriteTextFile;
using TranslatorTest::MakeTrl;
typedef CTranslatorData::TTranslatorMap TMap;

namespace {

const std::string g_sHeader = "TF(0001)";
const std::string g_sSettings =
    "\nSettings\n(\n\tModuleName(\"m\")\n\tLanguage(\"l\")\n\tBaseModules(  )\n)\nTranslations\n(\n";

// Whether the read succeeded, and what it wrote to standard error.
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

std::string ParseError(std::size_t position) { return "Parse Error at position " + std::to_string(position) + "\n"; }

// Runs the body as the user nobody where permissions do not bind root.
template <typename TBody> void AsUnprivileged(TBody body)
{
    if (::geteuid() != 0) {
        EXPECT_TRUE(body());
        return;
    }
    testing::FLAGS_gtest_death_test_style = "fast"; // the child must see the test's directory
    EXPECT_EXIT(std::exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && body() ? 0 : 1), testing::ExitedWithCode(0),
                "");
}

} // namespace

TEST(TranslatorFile, WritesExactBytes)
{
    CTemporaryDirectory dir;
    CTranslatorData table;
    table.Init("vidOderavev", "Default");
    for (const char* text : {"Startup", "Total Runtime: %1%s", "Failed to open the file \"%1%\""})
        table.Translate(text, true);
    const std::string fileName = CTranslatorFile::BuildFileName(dir.Path() + "/", "vidOderavev", "Default");
    EXPECT_EQ(fileName, dir.Path() + "/vidOderavevDefault.trl");
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    EXPECT_EQ(ReadFile(fileName), "TF(0001)\nSettings\n(\n\tModuleName(\"vidOderavev\")\n\tLanguage(\"Default\")\n"
                                  "\tBaseModules(  )\n)\nTranslations\n(\n"
                                  "\"Failed to open the file \\\"%1%\\\"\"=\"Failed to open the file \\\"%1%\\\"\"\n"
                                  "\"Startup\"=\"Startup\"\n"
                                  "\"Total Runtime: %1%s\"=\"Total Runtime: %1%s\"\n"
                                  ")\n");
    // Base modules by name only; an empty table.
    table.Init("M", "de");
    CTranslatorData base;
    base.Init("A\"", "de");
    base.SetTranslation("not", "written");
    table.AddBaseModule(base);
    base.Init("B", "de");
    table.AddBaseModule(base);
    ASSERT_TRUE(CTranslatorFile(dir / "a.trl").Write(table));
    EXPECT_EQ(ReadFile(dir / "a.trl"), MakeTrl("M", "de", "\"A\\\"\", \"B\"", ""));
    ASSERT_TRUE(CTranslatorFile(dir / "e.trl").Write(CTranslatorData()));
    EXPECT_EQ(ReadFile(dir / "e.trl"), MakeTrl("", "", "", ""));
    EXPECT_EQ(ReadInto(dir / "e.trl", base), std::make_pair(true, std::string()));
    EXPECT_EQ(_BuildQuotedString(std::string("\b\t\n\f\r\"'\\\x0b\0x", 11)),
              std::string("\"\\b\\t\\n\\f\\r\\\"\\'\\\\\x0b\0x\"", 21));
    for (const auto& folded : {std::make_pair(CTranslatorFile::BuildFileName("", "m", "l"), "/ml.trl"),
                               std::make_pair(CTranslatorFile::BuildFileName("/a//b///", "m//x", "l"), "/a/b/m/xl.trl"),
                               std::make_pair(CTranslatorFile::BuildFileName("a", "m", "/"), "a/m/.trl")})
        EXPECT_EQ(folded.first, folded.second);
}

TEST(TranslatorFile, ReadsEscapesRawBytesAndAnyWhiteSpace)
{
    CTranslatorData table;
    std::string content = g_sHeader + g_sSettings + "\"\\b\\r\\n\\t\\f\\\\\\\"\\'\"=\"'" +
                          std::string("\0\x0b\x80\xff", 4) +
                          "\nsecond line\"\n\"\\b\\r\\n\\t\\f\\\\\\\"\\'\"=\"2\"\n)\n";
    ASSERT_EQ(ReadContent(content, table), std::make_pair(true, std::string()));
    // The second entry for the same text is ignored; the reader leaves
    // clearing the modified flag to the loader.
    EXPECT_EQ(table.GetTranslatorMap(), (TMap{{"\b\r\n\t\f\\\"'", std::string("'\0\x0b\x80\xff\nsecond line", 17)}}));
    EXPECT_EQ(table.GetName(), "m");
    EXPECT_EQ(table.GetLanguage(), "l");
    EXPECT_TRUE(table.IsModified());

    for (const std::string& layout : {std::string("TF(0001)Settings(ModuleName(\"m\")Language(\"l\")BaseModules(\"A\","
                                                  "\"B\"))Translations(\"a\"=\"1\"\"b\"=\"2\")"),
                                      std::string("TF(0001) \r\n\v\f Settings \t ( \r\n ModuleName \n ( \"m\" ) "
                                                  "Language(\"l\"\r\n) BaseModules ( \"A\" , \"B\" \r\n) \r\n) "
                                                  "Translations ( \"a\" \r\n = \"1\" \r\n \"b\"=\n\"2\" ) \r\n\t")}) {
        CTranslatorData spaced;
        ASSERT_EQ(ReadContent(layout, spaced), std::make_pair(true, std::string()));
        EXPECT_EQ(spaced.GetTranslatorMap(), (TMap{{"a", "1"}, {"b", "2"}}));
        ASSERT_EQ(spaced.GetNumBaseModules(), 2u);
        EXPECT_EQ(spaced.GetBaseModule(0).GetName(), "A");
        // Base modules start empty in the table's language.
        EXPECT_EQ(spaced.GetBaseModule(1).GetName(), "B");
        EXPECT_EQ(spaced.GetBaseModule(1).GetLanguage(), "l");
    }
}

TEST(TranslatorFile, ReadsEscapesAtEveryPlaceAndUpToTheEnd)
{
    // The reader looks for quotes and backslashes 16 and 64 bytes at a time:
    // an escape at every place relative to those steps, texts spanning many
    // of them, and texts that end fewer than one step before the file.
    std::string content = g_sHeader + g_sSettings;
    TMap expected;
    for (std::size_t at = 0; at < 150; ++at)
        for (char special : {'"', '\\', '\n', '\''}) {
            const std::string text = std::string(at, 'a') + special + std::string(150 - at, 'z');
            const std::string translation = std::string(150 - at, 'y') + special + special + std::string(at, 'x');
            content += _BuildQuotedString(text) + "=" + _BuildQuotedString(translation) + "\n";
            expected.emplace(text, translation);
        }
    CTranslatorData table;
    ASSERT_EQ(ReadContent(content + ")\n", table), std::make_pair(true, std::string()));
    EXPECT_EQ(table.GetTranslatorMap(), expected);

    for (std::size_t length = 0; length < 140; ++length) {
        CTranslatorData last, unterminated;
        const std::string text = std::string(length, 'q') + "\"";
        ASSERT_TRUE(ReadContent(g_sHeader + g_sSettings + _BuildQuotedString(text) + "=\"" + std::string(length, 'r') +
                                    "\\\\\")",
                                last)
                        .first)
            << length;
        EXPECT_EQ(last.GetTranslatorMap(), (TMap{{text, std::string(length, 'r') + "\\"}})) << length;
        const std::string body = g_sSettings + "\"a\"=\"1\"\n";
        EXPECT_EQ(ReadContent(g_sHeader + body + "\"" + std::string(length, 'q'), unterminated),
                  std::make_pair(false, ParseError(body.size())))
            << length;
        EXPECT_EQ(unterminated.GetTranslatorMap(), (TMap{{"a", "1"}})) << length;
    }
}

TEST(TranslatorFile, FailuresAndWhereParsingStopped)
{
    // Headers that are not ours fail without a message and change nothing.
    for (const std::string& content :
         {"TF(001)" + g_sSettings + ")\n", " TF(0001)" + g_sSettings + ")\n",
          "\xef\xbb\xbfTF(0001)" + g_sSettings + ")\n", "TF(00a1)" + g_sSettings + ")\n", std::string("TF(0001"),
          "tf(0001)" + g_sSettings + ")\n", "TF(0x01)" + g_sSettings + ")\n", "TF(0001]" + g_sSettings + ")\n"}) {
        CTranslatorData table;
        table.Init("keep", "keep");
        EXPECT_EQ(ReadContent(content, table), std::make_pair(false, std::string())) << content;
        EXPECT_EQ(table.GetName(), "keep");
        EXPECT_FALSE(table.IsModified());
    }
    for (const char* header : {"TF(0002)", "TF(0000)", "TF(9999)", "TF(0011)", "TF(1001)"}) {
        CTranslatorData table;
        EXPECT_EQ(ReadContent(header + g_sSettings + ")\n", table),
                  std::make_pair(false, std::string("Invalid file version (TF(0001) expected)\n")));
        EXPECT_EQ(table.GetName(), "");
    }
    // Parse errors give the position after the header; what was stored
    // before stays.
    struct SCase
    {
        std::string m_sBody;
        std::string m_sStop;
        TMap m_oKept;
    };
    const SCase cases[] = {
        {g_sSettings + "\"a\"=\"1\"\n\"b\" \"2\"\n\"c\"=\"3\"\n)\n", "\"b\"", {{"a", "1"}}},
        {g_sSettings + "\"ok\"=\"1\"\n  \"a\\x\"=\"1\"\n)\n", "\"a", {{"ok", "1"}}},
        {g_sSettings + "\"ok\"=\"1\"\n  \"a\\v\"=\"1\"\n)\n", "\"a", {{"ok", "1"}}},
        {g_sSettings + "\"ok\"=\"1\"\n  \"a\\0\"=\"1\"\n)\n", "\"a", {{"ok", "1"}}},
        {g_sSettings + "\"ok\"=\"1\"\n  \"a\\\"=\"1\"\n)\n", "\"a", {{"ok", "1"}}},
        {g_sSettings + "\"a\"=\"1\"\n)\n \t x\n", "x", {{"a", "1"}}},
        {"\nSettings\n(\n\tLanguage(\"l\")\n)\nTranslations\n(\n)\n", "Language", {}},
        {"", "", {}},
        {g_sSettings + "\"a\"=\"1\n", "\"a\"", {}},
    };
    for (const SCase& c : cases) {
        CTranslatorData table;
        EXPECT_EQ(ReadContent(g_sHeader + c.m_sBody, table),
                  std::make_pair(false, ParseError(c.m_sBody.find(c.m_sStop))))
            << c.m_sBody;
        EXPECT_EQ(table.GetTranslatorMap(), c.m_oKept) << c.m_sBody;
    }
    for (std::size_t at : {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 200}) {
        CTranslatorData table;
        const std::string body = g_sSettings + "\"ok\"=\"1\"\n";
        EXPECT_EQ(ReadContent(g_sHeader + body + "\"" + std::string(at, 'a') + "\\x" + std::string(100, 'b') +
                                  "\"=\"1\"\n\"c\"=\"2\"\n)\n",
                              table),
                  std::make_pair(false, ParseError(body.size())))
            << at;
        EXPECT_EQ(table.GetTranslatorMap(), (TMap{{"ok", "1"}})) << at;
    }
    // Missing, empty, a directory, a named pipe without a writer: silent.
    CTemporaryDirectory dir;
    CTranslatorData table;
    table.Init("keep", "keep");
    WriteTextFile(dir / "empty.trl", "");
    ASSERT_EQ(::mkfifo((dir / "pipe.trl").c_str(), 0600), 0);
    EXPECT_FALSE(CTranslatorFile::Exists(dir / "missing.trl"));
    EXPECT_TRUE(CTranslatorFile::Exists(dir / "pipe.trl"));
    for (const std::string& name : {dir / "missing.trl", dir / "empty.trl", dir.Path(), dir / "pipe.trl"})
        EXPECT_EQ(ReadInto(name, table), std::make_pair(false, std::string())) << name;
    EXPECT_EQ(table.GetName(), "keep");
    EXPECT_FALSE(table.IsModified());
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
}

TEST(TranslatorFile, RoundTripOfGeneratedTablesWithEveryByte)
{
    CTemporaryDirectory dir;
    std::mt19937 random(12345);
    auto randomText = [&random](std::size_t maxLength) {
        std::string text(random() % (maxLength + 1), '\0');
        for (char& ch : text)
            ch = static_cast<char>(random() % 256);
        return text;
    };
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    for (int round = 0; round < 200; ++round) {
        CTranslatorData table;
        table.Init(round == 0 ? all : randomText(12), randomText(6));
        for (unsigned int i = random() % 4; i > 0; --i) {
            CTranslatorData base;
            base.Init(randomText(8), table.GetLanguage());
            table.AddBaseModule(base);
        }
        for (unsigned int i = random() % 40; i > 0; --i)
            table.SetTranslation(randomText(30), randomText(30));
        if (round == 0) {
            table.SetTranslation(all, all);
            table.SetTranslation("", "");
        }
        ASSERT_TRUE(CTranslatorFile(dir / "round.trl").Write(table));
        CTranslatorData back;
        ASSERT_TRUE(ReadInto(dir / "round.trl", back).first) << round;
        EXPECT_EQ(back.GetName(), table.GetName());
        EXPECT_EQ(back.GetLanguage(), table.GetLanguage());
        ASSERT_EQ(back.GetNumBaseModules(), table.GetNumBaseModules());
        for (unsigned int i = 0; i < back.GetNumBaseModules(); ++i)
            EXPECT_EQ(back.GetBaseModule(i).GetName(), table.GetBaseModule(i).GetName());
        ASSERT_EQ(back.GetTranslatorMap(), table.GetTranslatorMap()) << round;
    }
    // The seeds of the fuzzer reach the grammar's far end.
    int seeds = 0;
    for (const auto& entry : boost::filesystem::directory_iterator(VIDODERAVEV_FUZZ_CORPUS)) {
        CTranslatorData table;
        EXPECT_EQ(ReadInto(entry.path().string(), table), std::make_pair(true, std::string())) << entry.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 5);
}

TEST(TranslatorFile, WriteReplacesTheFileAsAWhole)
{
    CTemporaryDirectory dir;
    const std::string fileName = dir / "m.trl";
    WriteTextFile(fileName, "old content");
    ::chmod(fileName.c_str(), 0640);
    // A second name of the old file keeps the old bytes: the new file is
    // renamed over the name, never the old one truncated and rewritten.
    ASSERT_EQ(::link(fileName.c_str(), (dir / "old.trl").c_str()), 0);
    CTranslatorData table;
    table.Init("m", "l");
    ASSERT_TRUE(CTranslatorFile(fileName).Write(table));
    EXPECT_EQ(ReadFile(dir / "old.trl"), "old content");
    EXPECT_EQ(ReadFile(fileName), MakeTrl("m", "l", "", ""));
    struct stat status;
    ASSERT_EQ(::stat(fileName.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"m.trl", "old.trl"})); // no temporary left

    // Through a symbolic link the link stays.
    ASSERT_EQ(::symlink("m.trl", (dir / "link.trl").c_str()), 0);
    table.Init("n", "l");
    ASSERT_TRUE(CTranslatorFile(dir / "link.trl").Write(table));
    EXPECT_TRUE(boost::filesystem::is_symlink(dir / "link.trl"));
    EXPECT_EQ(ReadFile(fileName), MakeTrl("n", "l", "", ""));

    EXPECT_FALSE(CTranslatorFile(dir / "missing/dir/m.trl").Write(table));
    EXPECT_FALSE(CTranslatorFile(dir.Path()).Write(table));
    EXPECT_TRUE(boost::filesystem::is_directory(dir.Path()));
}

TEST(TranslatorFile, PermissionsOfFileAndDirectory)
{
    // A writable file in a closed directory is written in place; a new file
    // cannot be made there; a read-only file is not replaced.
    CTemporaryDirectory dir;
    const std::string sub = dir / "closed";
    boost::filesystem::create_directory(sub);
    WriteTextFile(sub + "/m.trl", "old");
    WriteTextFile(dir / "ro.trl", "kept");
    ::chmod(dir.Path().c_str(), 0777);
    ::chmod(sub.c_str(), 0555);
    ::chmod((sub + "/m.trl").c_str(), 0666);
    ::chmod((dir / "ro.trl").c_str(), 0444);
    AsUnprivileged([&] {
        CTranslatorData table;
        table.Init("m", "l");
        return CTranslatorFile(sub + "/m.trl").Write(table) && !CTranslatorFile(sub + "/new.trl").Write(table) &&
               !CTranslatorFile(dir / "ro.trl").Write(table);
    });
    ::chmod(sub.c_str(), 0755);
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(sub + "/m.trl"), MakeTrl("m", "l", "", ""));
    EXPECT_FALSE(::Test::FileExists(sub + "/new.trl"));
    EXPECT_EQ(ReadFile(dir / "ro.trl"), "kept");
}
