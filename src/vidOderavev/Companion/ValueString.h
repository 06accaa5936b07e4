#ifndef VIDODERAVEV_COMPANION_VALUESTRING_H
#define VIDODERAVEV_COMPANION_VALUESTRING_H

#include <cstdint>
#include <string>

#include <vidOderavev/Export.h>

namespace Qz {
namespace Varnel {
namespace Strings {

// Formatting parameters of the value-to-string service. Only the precision is
// set by the library; for floating-point values it counts the digits after the
// decimal point, and trailing zeros (and a trailing point) are dropped.
struct VIDODERAVEV_API SMakeValueStringParameter
{
    SMakeValueStringParameter();

    int32_t m_nBase;
    int32_t m_nPrecision;
};

namespace Detail {

template <typename T> struct SMakeValueStringImpl;

template <> struct VIDODERAVEV_API SMakeValueStringImpl<int>
{
    std::string operator()(int value, const SMakeValueStringParameter& parameter) const;
};

template <> struct VIDODERAVEV_API SMakeValueStringImpl<unsigned int>
{
    std::string operator()(unsigned int value, const SMakeValueStringParameter& parameter) const;
};

// Never produces an exponent form, "nan" or "inf": a value that is not finite
// is written as 0, and negative zero as 0.
template <> struct VIDODERAVEV_API SMakeValueStringImpl<double>
{
    std::string operator()(double value, const SMakeValueStringParameter& parameter) const;
};

} // namespace Detail

template <typename T> inline std::string MakeValueString(T value)
{
    SMakeValueStringParameter parameter;
    return Detail::SMakeValueStringImpl<T>()(value, parameter);
}

// The percentage text of the outputs: fraction times 100 at the given precision.
inline std::string MakePercentString(double fraction, int32_t precision)
{
    SMakeValueStringParameter parameter;
    parameter.m_nPrecision = precision;
    return Detail::SMakeValueStringImpl<double>()(fraction * 100.0, parameter);
}

} // namespace Strings
} // namespace Varnel
} // namespace Qz

#endif
