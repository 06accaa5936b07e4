#ifndef VIDODERAVEV_COMPANION_TRANSLATORREGISTRY_H
#define VIDODERAVEV_COMPANION_TRANSLATORREGISTRY_H

#include <cstddef>

#include <boost/shared_ptr.hpp>

namespace Qz {
namespace Varnel {
namespace Internationalisation {
class CTranslator;
}
namespace Strings {

// Keeps track of the translators of the loaded modules. A translator registers
// itself when it is created and unregisters when it is destroyed.
class CTranslatorRegistry
{
public:
    static void Register(Internationalisation::CTranslator* translator);
    static void Unregister(Internationalisation::CTranslator* translator);
    static std::size_t GetNumberOfTranslators();
};

extern boost::shared_ptr<CTranslatorRegistry> g_oTranslatorRegistry;

} // namespace Strings
} // namespace Varnel
} // namespace Qz

#endif
