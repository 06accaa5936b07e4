#ifndef VIDODERAVEV_TOOLS_WATCH_TEXT_H
#define VIDODERAVEV_TOOLS_WATCH_TEXT_H

#include <cstddef>
#include <string>

namespace Qz {
namespace Varnel {
namespace Watch {

// How much of a text that is kept for showing later (a root text, a message on
// the screen) is kept: more than any terminal line shows.
const std::size_t g_nMaxKeptCells = 1000;

// Replaces control characters (C0, DEL and the C1 range) by caret notation or
// "<U+0085>" so that a stream can never move the cursor, recolour or retitle
// the terminal it is shown on, or break a plain output line in two.
std::string MakePrintable(const std::string& text);

// Number of character cells that the (printable, UTF-8) text takes, counting
// one cell per code point.
std::size_t DisplayWidth(const std::string& text);

// Cuts the text to at most the given number of cells, at a code point
// boundary, and pads it with blanks to exactly that width when pad is set.
std::string FitToWidth(const std::string& text, std::size_t width, bool pad);

// "42s", "3m 05s", "2h 07m"; for whole seconds, negative values give "0s",
// 999 hours and more (or no number) ">999h".
std::string FormatEta(double seconds);

// "[#####-----]" with the given inner width, for a percentage 0 to 100.
std::string MakeBar(double percentage, std::size_t width);

// "42.5%" style: one digit after the point, "100%" at the end.
std::string FormatPercentage(double percentage);

// Time-of-day part of a "%Y-%m-%d %H:%M:%S" stamp; other texts unchanged.
std::string TimeOfDay(const std::string& stamp);

} // namespace Watch
} // namespace Varnel
} // namespace Qz

#endif
