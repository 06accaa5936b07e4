#include <gtest/gtest.h>

#include <random>
#include <string>

#include <vidOderavev/Progress/XmlEscape.h>

#include "support/RandomText.h"
#include "support/XmlStream.h"

using Qz::Varnel::Progress::Detail::AppendXmlEscaped;
using Qz::Varnel::Progress::Detail::EscapeXml;

namespace {

const std::string R = "\xEF\xBF\xBD";

std::string Wrap(const std::string& content)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<LOG_STREAM>\n<LOG>\n<TEXT>" + content +
           "</TEXT>\n</LOG>\n</LOG_STREAM>\n";
}

} // namespace

TEST(XmlEscape, PlainTextUnchanged)
{
    EXPECT_EQ(EscapeXml(""), "");
    const std::string plain = "Copy 12 files to \"out\" isn't 100% done; [ok] {x} ~`!@#$^*()_+=|\\/?,.";
    EXPECT_EQ(EscapeXml(plain), plain);
    EXPECT_EQ(EscapeXml("tab\tline\ncarriage\r\n\x7F"), "tab\tline\ncarriage\r\n\x7F");
    const std::string utf8 = "\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E \xC2\x80 \xED\x9F\xBF \xEE\x80\x80 "
                             "\xEF\xBF\xBD \xEF\xB7\x90 \xF4\x8F\xBF\xBF";
    EXPECT_EQ(EscapeXml(utf8), utf8);
}

TEST(XmlEscape, MarkupCharacters)
{
    EXPECT_EQ(EscapeXml("a&b<c>d"), "a&amp;b&lt;c&gt;d");
    EXPECT_EQ(EscapeXml("</TEXT></LOG>\n\n<LOG>"), "&lt;/TEXT&gt;&lt;/LOG&gt;\n\n&lt;LOG&gt;");
    EXPECT_EQ(EscapeXml("]]>"), "]]&gt;");
    EXPECT_EQ(EscapeXml("&amp;"), "&amp;amp;");
}

TEST(XmlEscape, ForbiddenControlBytes)
{
    for (int c = 0; c < 0x20; ++c) {
        const std::string in = std::string("x") + static_cast<char>(c) + "y";
        const bool allowed = c == 0x09 || c == 0x0A || c == 0x0D;
        EXPECT_EQ(EscapeXml(in), allowed ? in : "x" + R + "y") << c;
    }
    EXPECT_EQ(EscapeXml(std::string("\0\0", 2)), R + R);
}

TEST(XmlEscape, NonCharactersFFFEAndFFFF)
{
    EXPECT_EQ(EscapeXml("a\xEF\xBF\xBE"
                        "b"),
              "a" + R + "b");
    EXPECT_EQ(EscapeXml("\xEF\xBF\xBF"), R);
    EXPECT_EQ(EscapeXml("\xEF\xBF\xBD"), R);
}

TEST(XmlEscape, IllFormedUtf8)
{
    EXPECT_EQ(EscapeXml("\x80"), R);
    EXPECT_EQ(EscapeXml("\xBF\x80"), R + R);
    EXPECT_EQ(EscapeXml("\xC0\x80"), R + R); // overlong lead
    EXPECT_EQ(EscapeXml("\xC1\xBF"), R + R);
    EXPECT_EQ(EscapeXml("\xE0\x80\x80"), R + R + R);         // overlong three-byte form
    EXPECT_EQ(EscapeXml("\xED\xA0\x80"), R + R + R);         // surrogate
    EXPECT_EQ(EscapeXml("\xF4\x90\x80\x80"), R + R + R + R); // above U+10FFFF
    EXPECT_EQ(EscapeXml("\xF5\x80"), R + R);
    EXPECT_EQ(EscapeXml("\xFE\xFF"), R + R);
    EXPECT_EQ(EscapeXml("\xE2\x82"), R); // truncated at the end
    EXPECT_EQ(EscapeXml("\xF0\x9D\x84"), R);
    EXPECT_EQ(EscapeXml("\xE2\x82"
                        "A"),
              R + "A");
    EXPECT_EQ(EscapeXml("\xE2\x82<"), R + "&lt;");
    EXPECT_EQ(EscapeXml("\xC3\xC3\xA9"), R + "\xC3\xA9");
    // The example of the Unicode standard for replacing maximal subparts.
    EXPECT_EQ(EscapeXml("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
              "a" + R + R + R + "b" + R + "c" + R + R + "d");
}

// Long plain texts are scanned a word at a time: a special byte must be found
// at every offset within and across words.
TEST(XmlEscape, SpecialBytesAtEveryOffset)
{
    const struct
    {
        std::string m_sIn;
        std::string m_sOut;
    } cases[] = {{"&", "&amp;"},
                 {"<", "&lt;"},
                 {">", "&gt;"},
                 {"\x01", R},
                 {"\x1F", R},
                 {"\x80", R},
                 {"\xEF\xBF\xBE", R},
                 {"\t", "\t"},
                 {"\r", "\r"},
                 {"\n", "\n"},
                 {" ", " "},
                 {"~", "~"},
                 {"\x7F", "\x7F"},
                 {"\xC3\xA9", "\xC3\xA9"},
                 {std::string(1, '\0'), R}};
    for (const auto& one : cases) {
        for (std::size_t offset = 0; offset <= 24; ++offset) {
            const std::string before(offset, 'a');
            const std::string after(24 - offset, 'z');
            EXPECT_EQ(EscapeXml(before + one.m_sIn + after), before + one.m_sOut + after) << offset;
        }
    }
}

TEST(XmlEscape, AppendsToWhatIsThere)
{
    std::string out = "<TEXT>";
    AppendXmlEscaped(out, "1 < 2");
    EXPECT_EQ(out, "<TEXT>1 &lt; 2");
}

// Any bytes give content that a conforming reader accepts; well-formed text
// comes back exactly (line ends aside).
TEST(XmlEscape, RandomBytesAlwaysParse)
{
    std::mt19937 random(20261206);
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes = ::Test::RandomBytes(random, 40);
        const ::Test::SXmlStream parsed = ::Test::ParseXmlStream(Wrap(EscapeXml(bytes)));
        ASSERT_TRUE(parsed.m_bWellFormed) << parsed.m_sError << " round " << round;
        ASSERT_EQ(parsed.m_oRecords.size(), 1u);

        const std::string text = ::Test::RandomXmlText(random, 40);
        const ::Test::SXmlStream back = ::Test::ParseXmlStream(Wrap(EscapeXml(text)));
        ASSERT_TRUE(back.m_bWellFormed) << back.m_sError << " round " << round;
        ASSERT_EQ(back.m_oRecords.size(), 1u);
        ASSERT_EQ(back.m_oRecords[0].Field("TEXT"), ::Test::NormaliseLineEnds(text)) << "round " << round;
    }
}
