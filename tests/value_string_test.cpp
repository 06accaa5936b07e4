// The number texts of the outputs: percentages, ports and process numbers.

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <stdlib.h>

#include <gtest/gtest.h>

#include <vidOderavev/Companion/ValueString.h>

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
    EXPECT_EQ("12.346", MakePercentString(0.123456, 3));
    EXPECT_EQ("12.3456", MakePercentString(0.123456, 4));
    EXPECT_EQ("100", MakePercentString(1.0, 3));
    EXPECT_EQ("42.9", MakePercentString(0.429, 3));
    EXPECT_EQ("0", MakePercentString(0.0, 3));
    EXPECT_EQ("0", Fixed(-0.0001, 3)); // no "-0"
    EXPECT_EQ("-1.5", Fixed(-1.5, 3));
    EXPECT_EQ("100000000000000000000", Fixed(1e20, 3)); // never an exponent
    EXPECT_EQ("0", Fixed(std::numeric_limits<double>::quiet_NaN(), 3));
    EXPECT_EQ("0", Fixed(std::numeric_limits<double>::infinity(), 3));
    EXPECT_EQ("8080", MakeValueString<int>(8080));
    EXPECT_EQ("-7", MakeValueString<int>(-7));
    EXPECT_EQ("4294967295", MakeValueString<unsigned int>(4294967295u));
}

// A host that sets a locale with a decimal comma (as many do with
// setlocale(LC_ALL, "")) still gets points in streams and files, which
// readers parse as numbers.
TEST(ValueString, IgnoresTheHostsNumericLocale)
{
    char pattern[] = "/tmp/value-string-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    const std::string directory = pattern;
    const std::string command = "localedef -i de_DE -f UTF-8 " + directory + "/de_DE.UTF-8 >/dev/null 2>&1";
    const bool built = std::system(command.c_str()) == 0;
    struct SRemove
    {
        std::string m_sPath;
        ~SRemove() { static_cast<void>(std::system(("rm -rf " + m_sPath).c_str())); }
    } remove{directory};
    if (!built)
        GTEST_SKIP() << "no locale with a decimal comma can be built here";
    const char* previousPath = std::getenv("LOCPATH");
    const std::string savedPath = previousPath ? previousPath : "";
    ::setenv("LOCPATH", directory.c_str(), 1);
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        previousPath ? ::setenv("LOCPATH", savedPath.c_str(), 1) : ::unsetenv("LOCPATH");
        GTEST_SKIP() << "the locale could not be set";
    }
    const std::string comma = std::localeconv()->decimal_point;
    const std::string percent = MakePercentString(0.123456, 3);
    const std::string whole = MakePercentString(1.0, 4);
    std::setlocale(LC_NUMERIC, saved.c_str());
    previousPath ? ::setenv("LOCPATH", savedPath.c_str(), 1) : ::unsetenv("LOCPATH");
    ASSERT_EQ(",", comma); // the locale really has a decimal comma
    EXPECT_EQ("12.346", percent);
    EXPECT_EQ("100", whole);
}
