// The number texts of the outputs: percentages, ports and process numbers.

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <stdlib.h>

#include <gtest/gtest.h>

#include <vidOderavev/Companion/ValueString.h>

#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Strings;

namespace {

std::string Fixed(double value, int32_t precision)
{
    SMakeValueStringParameter parameter;
    parameter.m_nPrecision = precision;
    return Detail::SMakeValueStringImpl<double>()(value, parameter);
}

} // namespace

TEST(ValueString, DigitsAfterThePointWithoutTrailingZeros)
{
    const std::pair<std::string, std::string> cases[] = {{MakePercentString(0.123456, 3), "12.346"},
                                                         {MakePercentString(0.123456, 4), "12.3456"},
                                                         {MakePercentString(1.0, 3), "100"},
                                                         {MakePercentString(0.429, 3), "42.9"},
                                                         {MakePercentString(0.0, 3), "0"},
                                                         {Fixed(-0.0001, 3), "0"}, // no "-0"
                                                         {Fixed(-1.5, 3), "-1.5"},
                                                         {Fixed(1e20, 3), "100000000000000000000"}, // no exponent
                                                         {Fixed(std::numeric_limits<double>::quiet_NaN(), 3), "0"},
                                                         {Fixed(std::numeric_limits<double>::infinity(), 3), "0"},
                                                         {MakeValueString<int>(-7), "-7"},
                                                         {MakeValueString<unsigned int>(4294967295u), "4294967295"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.first, c.second);
}

// A host that sets a locale with a decimal comma (as many do with
// setlocale(LC_ALL, "")) still gets points in streams and files, which
// readers parse as numbers.
TEST(ValueString, IgnoresTheHostsNumericLocale)
{
    ::Test::CTemporaryDirectory directory;
    const std::string command = "localedef -i de_DE -f UTF-8 " + directory.File("de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "no locale with a decimal comma can be built here";
    // The library reads locales from LOCPATH; the test's own setting is put
    // back however the test ends.
    struct SLocalePath
    {
        explicit SLocalePath(const std::string& path)
            : m_bHad(std::getenv("LOCPATH") != nullptr), m_sPrevious(m_bHad ? std::getenv("LOCPATH") : "")
        {
            ::setenv("LOCPATH", path.c_str(), 1);
        }
        ~SLocalePath() { m_bHad ? ::setenv("LOCPATH", m_sPrevious.c_str(), 1) : ::unsetenv("LOCPATH"); }
        bool m_bHad;
        std::string m_sPrevious;
    } localePath(directory.Path());
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "the locale could not be set";
    const std::string comma = std::localeconv()->decimal_point;
    const std::string percent = MakePercentString(0.123456, 3);
    const std::string whole = MakePercentString(1.0, 4);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_EQ(",", comma); // the locale really has a decimal comma
    EXPECT_EQ("12.346", percent);
    EXPECT_EQ("100", whole);
}
