#include <vidOderavev/Internationalisation/Translator.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

std::string CTranslator::Translate(const std::string& text) { return text; }

std::string CTranslator::Translate(const char* text) { return std::string(text); }

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz
