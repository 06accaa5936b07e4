#include <vidOderavev/Companion/TranslatorRegistry.h>

#include <algorithm>
#include <vector>

#include <boost/thread/mutex.hpp>

namespace Qz {
namespace Varnel {
namespace Strings {

namespace {

struct SRegistryState
{
    boost::mutex m_oMutex;
    std::vector<Internationalisation::CTranslator*> m_oTranslators;
};

// Never destroyed: translators unregister during static destruction, in an
// order that no other static object can be relied on to outlive.
SRegistryState& State()
{
    static SRegistryState* s_pState = new SRegistryState;
    return *s_pState;
}

} // namespace

boost::shared_ptr<CTranslatorRegistry> g_oTranslatorRegistry(new CTranslatorRegistry);

void CTranslatorRegistry::Register(Internationalisation::CTranslator* translator)
{
    SRegistryState& state = State();
    boost::mutex::scoped_lock lock(state.m_oMutex);
    state.m_oTranslators.push_back(translator);
}

void CTranslatorRegistry::Unregister(Internationalisation::CTranslator* translator)
{
    SRegistryState& state = State();
    boost::mutex::scoped_lock lock(state.m_oMutex);
    auto it = std::find(state.m_oTranslators.begin(), state.m_oTranslators.end(), translator);
    if (it != state.m_oTranslators.end())
        state.m_oTranslators.erase(it);
}

std::size_t CTranslatorRegistry::GetNumberOfTranslators()
{
    SRegistryState& state = State();
    boost::mutex::scoped_lock lock(state.m_oMutex);
    return state.m_oTranslators.size();
}

} // namespace Strings
} // namespace Varnel
} // namespace Qz
