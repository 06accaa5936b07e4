#include <vidOderavev/Companion/ValueString.h>

#include <charconv>
#include <cmath>

namespace Qz {
namespace Varnel {
namespace Strings {

SMakeValueStringParameter::SMakeValueStringParameter() : m_nBase(10), m_nPrecision(6) {}

namespace Detail {

std::string SMakeValueStringImpl<int>::operator()(int value, const SMakeValueStringParameter&) const
{
    return std::to_string(value);
}

std::string SMakeValueStringImpl<unsigned int>::operator()(unsigned int value,
                                                           const SMakeValueStringParameter&) const
{
    return std::to_string(value);
}

std::string SMakeValueStringImpl<double>::operator()(double value,
                                                     const SMakeValueStringParameter& parameter) const
{
    if (!std::isfinite(value))
        return "0";
    int precision = parameter.m_nPrecision;
    if (precision < 0)
        precision = 0;
    if (precision > 17)
        precision = 17;
    // Fixed notation never switches to an exponent; 350 bytes hold any
    // finite double. Unlike printf, to_chars ignores the C locale, so a host
    // that sets a decimal comma still writes a point into streams and files.
    char buffer[400];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    std::string text(buffer, result.ptr);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

} // namespace Detail
} // namespace Strings
} // namespace Varnel
} // namespace Qz
