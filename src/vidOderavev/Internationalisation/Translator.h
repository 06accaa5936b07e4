#ifndef VIDODERAVEV_INTERNATIONALISATION_TRANSLATOR_H
#define VIDODERAVEV_INTERNATIONALISATION_TRANSLATOR_H

#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/ThreadSafety.h>

namespace Qz {
namespace Varnel {
namespace Strings {
class CTranslatorRegistry;
}
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

// The process-wide translator of the library: one table for the library's
// module in the current language, loaded from a .trl file found along a
// search path list. Texts without a translation come back unchanged and are
// recorded; a changed table is written back when the language changes and
// when the translator is destroyed at static destruction.
//
// Every operation that hands out a text returns a copy taken under the lock:
// another thread may re-initialise the translator (Init, SetLanguage) at any
// moment, and that drops the table the text lived in.
//
// After static destruction the static operations still work without a
// translator: Translate returns the text unchanged, the setters do nothing
// and the getters return empty values.
class CTranslator : private boost::noncopyable
{
public:
    virtual ~CTranslator();

    static std::string Translate(const std::string& text);
    static std::string Translate(const char* text);

    static void Init(const std::string& language);
    static void Init(const std::string& application, const std::string& language);
    static void Init(const std::string& path, const std::string& application, const std::string& language);
    static void Init(const std::list<std::string>& paths, const std::string& application, const std::string& language);
    static void SetLanguage(const std::string& language);
    static void SetSearchMode(bool deep);
    static bool GetSearchMode();
    static std::string GetApplicationName();
    static std::string GetLanguage();
    static std::list<std::string> GetSearchPathList();
    static std::string GetBaseFilePath();

    // The same on one translator object, for a holder of the instance pointer
    // (the registry).
    std::string _Translate(const std::string& text);
    std::string _Translate(const char* text);
    bool CanTranslate(const std::string& text) const;
    bool _IsInit() const;
    void _SetLanguage(const std::string& language);
    void _SetSearchMode(bool deep);
    bool _GetSearchMode() const;
    std::string _GetApplicationName() const;
    std::string _GetLanguage() const;
    std::list<std::string> _GetSearchPathList() const;
    std::string _GetBaseFilePath() const;

    // The default search path list and module name. soFile is the file of the
    // shared object holding the library (from dladdr), exeFile the resolved
    // path of the running executable; either may be null when it could not be
    // found, and with both null the module is named "vidOderavev".
    static void _BuildDefaultSearchPathList(std::list<std::string>& paths, std::string& application, const char* soFile,
                                            const char* exeFile);
    // The search path list and module name derived from a module file path.
    static void _BuildApplicationSearchPathList(std::list<std::string>& paths, std::string& application,
                                                const std::string& applicationPath);

private:
    // Counts a running static operation and hands out the instance, unless
    // static destruction has begun.
    class CCall;

    CTranslator();

    static CTranslator* _CreateTranslator();
    // Never destroyed, so that creation stays safe during static destruction.
    static Varnel::Detail::CMutex& _CreateMutex();

    void _Init(const std::list<std::string>& paths, const std::string& application, const std::string& language);
    bool _FindFile(const std::string& application, const std::string& language, std::string& path) const;
    bool _Read(const std::string& path, CTranslatorData& table);
    void _Write();

    static void _AddApplicationPathAndName(std::list<std::string>& paths, std::string& application, const char* soFile,
                                           const char* exeFile);
    static void _AddCurrentPath(std::list<std::string>& paths);
    static void _AddEnvironmentPath(std::list<std::string>& paths);
    static void _SplitModulePath(const std::string& file, std::list<std::string>& paths, std::string& application);

    // Declared first so that it is released last.
    boost::shared_ptr<Strings::CTranslatorRegistry> m_oRegistry;
    CTranslatorData m_oData VIDODERAVEV_GUARDED_BY(m_oLock);
    bool m_bSearchMode VIDODERAVEV_GUARDED_BY(m_oLock);
    std::list<std::string> m_oSearchPathList VIDODERAVEV_GUARDED_BY(m_oLock);
    std::string m_sBaseFilePath VIDODERAVEV_GUARDED_BY(m_oLock);
    // False while the table's file exists but could not be read: the file is
    // the user's data and must not be replaced by what was salvaged from it.
    bool m_bWriteBackAllowed VIDODERAVEV_GUARDED_BY(m_oLock);
    // Modules being loaded, outermost first, to cut base-module cycles; and the
    // cycles already reported during the current load.
    std::vector<std::string> m_oLoadChain VIDODERAVEV_GUARDED_BY(m_oLock);
    std::set<std::pair<std::string, std::string>> m_oReportedCycles VIDODERAVEV_GUARDED_BY(m_oLock);
    // Recursive: loading and writing back call each other with it held.
    mutable Varnel::Detail::CRecursiveMutex m_oLock;

    friend struct STranslatorTeardown;
};

// The only owner of the instance; empty until the first use and after static
// destruction.
extern boost::shared_ptr<CTranslator> g_oTranslator;

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz

#endif
