#ifndef VIDODERAVEV_INTERNATIONALISATION_TRANSLATOR_H
#define VIDODERAVEV_INTERNATIONALISATION_TRANSLATOR_H

#include <list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <vidOderavev/ThreadSafety.h>

#include <vidOderavev/Internationalisation/TranslatorData.h>

namespace Qz {
namespace Varnel {
namespace Strings {
class CTranslatorRegistry;
}
namespace Internationalisation {

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

private:
    // Counts a running static operation and hands out the instance, unless
    // static destruction has begun.
    class CCall;

    CTranslator();

    static CTranslator* _CreateTranslator();
    // Never destroyed, so that creation stays safe during static destruction.
    static Varnel::Detail::CMutex& CreationMutex();

    void _Init(const std::list<std::string>& paths, const std::string& application, const std::string& language);
    bool _FindFile(const std::string& application, const std::string& language, std::string& path) const;
    bool _Read(const std::string& path, CTranslatorData& table);
    void _Write();

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
