// The number texts of the outputs: percentages, ports and process numbers.
#include <clocale>
#include <cstdlib>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include <vidOderavev/Companion/ValueString.h>

#include "support/TemporaryDirectory.h"

using namespace Qz::Varnel::Strings;

// Digits after the point without trailing zeros, never "-0" or an exponent;
// a host that sets a locale with a decimal comma (as many do with
// setlocale(LC_ALL, "")) still gets points, which readers parse as numbers.
TEST(ValueString, DigitsAfterThePointWhateverTheHostsNumericLocale)
{
    auto fixed = [](double value) {
        SMakeValueStringParameter parameter;
        parameter.m_nPrecision = 3;
        return Detail::SMakeValueStringImpl<double>()(value, parameter);
    };
    auto texts = [&] {
        return MakePercentString(0.123456, 3) + " " + MakePercentString(0.123456, 4) + " " + MakePercentString(1.0, 3) +
               " " + MakePercentString(0.429, 3) + " " + MakePercentString(0.0, 3) + " " + fixed(-0.0001) + " " +
               fixed(-1.5) + " " + fixed(1e20) + " " + fixed(std::numeric_limits<double>::quiet_NaN()) + " " +
               fixed(std::numeric_limits<double>::infinity()) + " " + MakeValueString<int>(-7) + " " +
               MakeValueString<unsigned int>(4294967295u);
    };
    const std::string expected = "12.346 12.3456 100 42.9 0 0 -1.5 100000000000000000000 0 0 -7 4294967295";
    EXPECT_EQ(texts(), expected);
    ::Test::CTemporaryDirectory directory;
    const std::string command = "localedef -i de_DE -f UTF-8 " + directory.File("de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "no locale with a decimal comma can be built here";
    const char* previousPath = std::getenv("LOCPATH");
    const std::string savedPath = previousPath ? previousPath : "", saved = std::setlocale(LC_NUMERIC, nullptr);
    ::setenv("LOCPATH", directory.Path().c_str(), 1);
    const bool set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    const std::string comma = std::localeconv()->decimal_point, underComma = texts();
    std::setlocale(LC_NUMERIC, saved.c_str());
    previousPath ? ::setenv("LOCPATH", savedPath.c_str(), 1) : ::unsetenv("LOCPATH");
    if (!set)
        GTEST_SKIP() << "the locale could not be set";
    ASSERT_EQ(",", comma); // the locale really has a decimal comma
    EXPECT_EQ(underComma, expected);
}
