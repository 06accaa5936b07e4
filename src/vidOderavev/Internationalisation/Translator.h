#ifndef VIDODERAVEV_INTERNATIONALISATION_TRANSLATOR_H
#define VIDODERAVEV_INTERNATIONALISATION_TRANSLATOR_H

#include <string>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

// The process-wide translator (internal to the library).
class CTranslator
{
public:
    // Returns a copy, so that a concurrent Init or SetLanguage can never leave
    // a caller with a dangling reference.
    static std::string Translate(const std::string& text);
    static std::string Translate(const char* text);
};

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz

#endif
