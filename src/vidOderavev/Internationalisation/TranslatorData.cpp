#include <vidOderavev/Internationalisation/TranslatorData.h>

#include <iterator>
#include <limits>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

CTranslatorData::CTranslatorData() : m_bModified(false) {}

CTranslatorData::~CTranslatorData() {}

void CTranslatorData::Init(const std::string& name, const std::string& language)
{
    m_sName = name;
    m_sLanguage = language;
    m_oTranslatorMap.clear();
    m_oHeldBackTranslations.clear();
    m_oBaseModules.clear();
    m_bModified = false;
}

void CTranslatorData::SetName(const std::string& name)
{
    if (name == m_sName)
        return;
    m_sName = name;
    m_bModified = true;
}

void CTranslatorData::SetLanguage(const std::string& language)
{
    if (language == m_sLanguage)
        return;
    m_sLanguage = language;
    m_bModified = true;
}

void CTranslatorData::SetTranslation(const std::string& text, const std::string& translation)
{
    m_oTranslatorMap[text] = translation;
    m_oHeldBackTranslations.erase(text);
    m_bModified = true;
}

void CTranslatorData::AddTranslation(const std::string& text, const std::string& translation)
{
    // Files list their texts in ascending order: a text beyond the last key
    // goes to the end without a search.
    if (m_oTranslatorMap.empty() || m_oTranslatorMap.rbegin()->first < text)
        m_oTranslatorMap.emplace_hint(m_oTranslatorMap.end(), text, translation);
    else
        m_oTranslatorMap.emplace(text, translation);
    m_bModified = true;
}

void CTranslatorData::HoldBackTranslation(const std::string& text, const std::string& translation)
{
    // Like AddTranslation: the first translation of a text stays.
    if (!CanTranslate(text))
        m_oHeldBackTranslations.emplace(text, translation);
    AddTranslation(text, text);
}

void CTranslatorData::ClearTranslatorMap()
{
    if (m_oTranslatorMap.empty())
        return;
    m_oTranslatorMap.clear();
    m_oHeldBackTranslations.clear();
    m_bModified = true;
}

bool CTranslatorData::CanTranslate(const std::string& text) const
{
    return m_oTranslatorMap.find(text) != m_oTranslatorMap.end();
}

const std::string& CTranslatorData::Translate(const std::string& text, bool deep)
{
    unsigned int depth = 0;
    const std::string* found = deep ? _TranslateDeep(text, depth) : _TranslateShallow(text, depth);
    if (found)
        return *found;
    // A miss records the text as its own translation; base modules are never
    // changed by a look-up.
    auto result = m_oTranslatorMap.emplace(text, text);
    m_bModified = true;
    return result.first->second;
}

const CTranslatorData& CTranslatorData::GetBaseModule(unsigned int index) const
{
    return *std::next(m_oBaseModules.begin(), index);
}

CTranslatorData& CTranslatorData::GetBaseModule(unsigned int index)
{
    return *std::next(m_oBaseModules.begin(), index);
}

bool CTranslatorData::HasBaseModule(const std::string& name, bool recursive) const
{
    for (const CTranslatorData& module : m_oBaseModules) {
        if (module.m_sName == name)
            return true;
        if (recursive && module.HasBaseModule(name, true))
            return true;
    }
    return false;
}

void CTranslatorData::AddBaseModule(const CTranslatorData& module)
{
    // push_back builds the whole copy before linking it in, so a failing copy
    // leaves the list as it was.
    m_oBaseModules.push_back(module);
    m_bModified = true;
}

void CTranslatorData::RemoveBaseModule(const std::string& name)
{
    for (auto it = m_oBaseModules.begin(); it != m_oBaseModules.end(); ++it) {
        if (it->m_sName == name) {
            m_oBaseModules.erase(it);
            m_bModified = true;
            return;
        }
    }
}

void CTranslatorData::RemoveBaseModule(unsigned int index)
{
    m_oBaseModules.erase(std::next(m_oBaseModules.begin(), index));
    m_bModified = true;
}

const std::string* CTranslatorData::_TranslateShallow(const std::string& text, unsigned int& depth) const
{
    auto own = m_oTranslatorMap.find(text);
    if (own != m_oTranslatorMap.end())
        return &own->second;

    const std::string* best = nullptr;
    unsigned int bestDepth = std::numeric_limits<unsigned int>::max();
    for (const CTranslatorData& module : m_oBaseModules) {
        unsigned int d = 1;
        const std::string* found = module._TranslateShallow(text, d);
        // A later module must be strictly nearer to win.
        if (found && d < bestDepth) {
            best = found;
            bestDepth = d;
        }
    }
    depth += bestDepth;
    return best;
}

const std::string* CTranslatorData::_TranslateDeep(const std::string& text, unsigned int& depth) const
{
    const std::string* best = nullptr;
    unsigned int bestDepth = 0;
    for (const CTranslatorData& module : m_oBaseModules) {
        unsigned int d = 1;
        const std::string* found = module._TranslateDeep(text, d);
        // A later module must be strictly deeper to win.
        if (found && d > bestDepth) {
            best = found;
            bestDepth = d;
        }
    }
    if (best) {
        depth += bestDepth;
        return best;
    }
    auto own = m_oTranslatorMap.find(text);
    return own != m_oTranslatorMap.end() ? &own->second : nullptr;
}

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz
