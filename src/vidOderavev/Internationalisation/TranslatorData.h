#ifndef VIDODERAVEV_INTERNATIONALISATION_TRANSLATORDATA_H
#define VIDODERAVEV_INTERNATIONALISATION_TRANSLATORDATA_H

#include <list>
#include <map>
#include <string>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

// One translation table: the texts of one module in one language, plus the
// tables of the base modules whose translations it inherits. Base modules are
// held by value, so the tables below a table form a tree without sharing.
//
// A look-up that finds nothing records the text as its own translation; that
// is how a run without translations produces a file ready to be translated.
// The table has no lock; its owner serialises every access.
class CTranslatorData
{
public:
    typedef std::map<std::string, std::string> TTranslatorMap;

    CTranslatorData();
    CTranslatorData(const CTranslatorData& other) = default;
    CTranslatorData(CTranslatorData&& other) = default;
    CTranslatorData& operator=(const CTranslatorData& other) = default;
    CTranslatorData& operator=(CTranslatorData&& other) = default;
    virtual ~CTranslatorData();

    void Init(const std::string& name, const std::string& language);

    void SetName(const std::string& name);
    void SetLanguage(const std::string& language);
    const std::string& GetName() const { return m_sName; }
    const std::string& GetLanguage() const { return m_sLanguage; }

    const TTranslatorMap& GetTranslatorMap() const { return m_oTranslatorMap; }
    void SetTranslation(const std::string& text, const std::string& translation);
    void AddTranslation(const std::string& text, const std::string& translation);
    void ClearTranslatorMap();
    bool CanTranslate(const std::string& text) const;

    // For a translation read from a file that cannot stand in for its text
    // (other placeholders): the text translates to itself, as AddTranslation
    // of the text would make it, but the file's translation is kept and
    // written back in its place, so that the author's text is not lost.
    void HoldBackTranslation(const std::string& text, const std::string& translation);
    // Text to held-back translation; every text in it is also in the map.
    const TTranslatorMap& GetHeldBackTranslations() const { return m_oHeldBackTranslations; }

    // The returned reference points into a map entry of this table; it stays
    // valid until that entry is erased (ClearTranslatorMap, Init, removal of
    // the base module holding it, destruction).
    const std::string& Translate(const std::string& text, bool deep);

    unsigned int GetNumBaseModules() const { return static_cast<unsigned int>(m_oBaseModules.size()); }
    const CTranslatorData& GetBaseModule(unsigned int index) const;
    CTranslatorData& GetBaseModule(unsigned int index);
    bool HasBaseModule(const std::string& name, bool recursive) const;
    void AddBaseModule(const CTranslatorData& module);
    void RemoveBaseModule(const std::string& name);
    void RemoveBaseModule(unsigned int index);

    void SetModifiedFlag(bool modified) { m_bModified = modified; }
    bool IsModified() const { return m_bModified; }

    // Nearest module first: the own map, then the smallest depth; on a tie
    // the earlier base module wins. Adds the depth of the hit to depth.
    const std::string* _TranslateShallow(const std::string& text, unsigned int& depth) const;
    // Deepest module first; the own map answers only when no base module has
    // the text. On a tie the first module reached depth-first wins.
    const std::string* _TranslateDeep(const std::string& text, unsigned int& depth) const;

private:
    TTranslatorMap m_oTranslatorMap;
    TTranslatorMap m_oHeldBackTranslations;
    // A list, not a vector: base modules are filled in place through
    // GetBaseModule while others are added, and must never move.
    std::list<CTranslatorData> m_oBaseModules;
    std::string m_sName;
    std::string m_sLanguage;
    bool m_bModified;
};

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz

#endif
