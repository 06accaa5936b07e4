#include "watch/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

// Length of the UTF-8 sequence that starts with this byte; continuation and
// invalid bytes count as one so that the walk always advances.
std::size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

const double g_dLongestEta = 999.0 * 3600.0;

} // namespace

std::string MakePrintable(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20) {
            if (c == '\t')
                result += ' ';
            else {
                result += '^';
                result += static_cast<char>(c + 0x40);
            }
        } else if (c == 0x7F)
            result += "^?";
        else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                 static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            char code[16];
            std::snprintf(code, sizeof(code), "<U+%04X>", static_cast<unsigned char>(text[i + 1]));
            result += code;
            ++i;
        } else
            result += static_cast<char>(c);
    }
    return result;
}

std::size_t DisplayWidth(const std::string& text)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); i += SequenceLength(static_cast<unsigned char>(text[i])))
        ++width;
    return width;
}

std::string FitToWidth(const std::string& text, std::size_t width, bool pad)
{
    std::size_t cells = 0;
    std::size_t i = 0;
    while (i < text.size() && cells < width) {
        i += SequenceLength(static_cast<unsigned char>(text[i]));
        ++cells;
    }
    std::string result = text.substr(0, std::min(i, text.size()));
    if (pad && cells < width)
        result.append(width - cells, ' ');
    return result;
}

std::string FormatEta(double seconds)
{
    // A rate of almost nothing extrapolates to any number of years, or to no
    // number at all.
    if (!(seconds < g_dLongestEta))
        return ">999h";
    const long long total = seconds > 0.0 ? static_cast<long long>(std::llround(seconds)) : 0;
    char text[64];
    if (total < 60)
        std::snprintf(text, sizeof(text), "%llds", total);
    else if (total < 3600)
        std::snprintf(text, sizeof(text), "%lldm %02llds", total / 60, total % 60);
    else
        std::snprintf(text, sizeof(text), "%lldh %02lldm", total / 3600, (total / 60) % 60);
    return text;
}

std::string MakeBar(double percentage, std::size_t width)
{
    double fraction = percentage / 100.0;
    if (!(fraction > 0.0))
        fraction = 0.0;
    if (fraction > 1.0)
        fraction = 1.0;
    const std::size_t filled = static_cast<std::size_t>(fraction * static_cast<double>(width) + 1e-9);
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

std::string FormatPercentage(double percentage)
{
    if (percentage >= 100.0)
        return "100%";
    if (!(percentage > 0.0))
        percentage = 0.0;
    char text[32];
    // Truncated, not rounded: 99.96 % must not read as 100 %.
    std::snprintf(text, sizeof(text), "%.1f%%", std::floor(percentage * 10.0) / 10.0);
    return text;
}

std::string TimeOfDay(const std::string& stamp)
{
    const std::size_t blank = stamp.find(' ');
    if (blank == std::string::npos || stamp.size() != 19)
        return stamp;
    return stamp.substr(blank + 1);
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
