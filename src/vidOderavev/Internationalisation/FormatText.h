#ifndef VIDODERAVEV_INTERNATIONALISATION_FORMATTEXT_H
#define VIDODERAVEV_INTERNATIONALISATION_FORMATTEXT_H

// Texts for people are translated and then used as Boost.Format strings with
// %N% placeholders. A translation is the user's text: whatever it holds, a
// report must never turn into a format exception inside an output.

#include <string>

#include <boost/format.hpp>

#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

// Whether a translation can stand in for its original as a format string: it
// has the same %N% placeholders (in any order, any number of times), and, if
// the original has placeholders, no other directive ("%s", "%|...|", a lone
// "%") that the original lacks. "%%" is a literal percent sign.
bool PlaceholdersMatch(const std::string& original, const std::string& translation);

// The translation formatted with the arguments; if it does not fit them, the
// original formatted instead, and the raw translation if neither formats.
template <typename... TArguments>
std::string FormatTranslation(const std::string& translation, const std::string& original,
                              const TArguments&... arguments)
{
    for (const std::string* text : {&translation, &original}) {
        try {
            boost::format format(*text);
            return (format % ... % arguments).str();
        } catch (const boost::io::format_error&) {
        }
    }
    return translation;
}

// The translation of the original text, formatted safely.
template <typename... TArguments> std::string FormatTranslated(const char* original, const TArguments&... arguments)
{
    return FormatTranslation(CTranslator::Translate(original), original, arguments...);
}

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz

#endif
