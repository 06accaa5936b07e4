#include <vidOderavev/Internationalisation/Translator.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include <sys/stat.h>

#include <boost/thread/thread.hpp>

#include <vidOderavev/Companion/TranslatorRegistry.h>
#include <vidOderavev/Diagnostics.h>
#include <vidOderavev/Internationalisation/SearchPath.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

namespace {

// Static destruction of the translator may meet calls on other threads, and
// calls from static destructors that run after it. These three are constant
// initialised and trivially destroyed, so they can be read at any time.
std::atomic<CTranslator*> g_pTranslator(nullptr);
std::atomic<bool> g_bTranslatorDestroyed(false);
std::atomic<unsigned int> g_nRunningCalls(0);

typedef Detail::CScopedLock<Detail::CRecursiveMutex> TLock;

// Whether a text may hold a word worth translating: an ASCII letter, or any
// byte of a multi-byte UTF-8 sequence, which may be a letter of another script.
bool MayHoldWord(const std::string& text)
{
    for (char ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        if (byte >= 0x80 || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'))
            return true;
    }
    return false;
}

bool IsEmptyRegularFile(const std::string& fileName)
{
    struct stat status;
    return ::stat(fileName.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0;
}

} // namespace

boost::shared_ptr<CTranslator> g_oTranslator;

// Destroyed before g_oTranslator (defined after it): marks the translator as
// gone, waits for the calls still running on other threads, and only then
// destroys it, which writes the table back.
struct STranslatorTeardown
{
    ~STranslatorTeardown()
    {
        g_bTranslatorDestroyed.store(true);
        while (g_nRunningCalls.load() != 0)
            boost::this_thread::yield();
        boost::shared_ptr<CTranslator> instance;
        {
            Detail::CScopedLock<Detail::CMutex> lock(CTranslator::CreationMutex());
            instance.swap(g_oTranslator);
            g_pTranslator.store(nullptr);
        }
        instance.reset();
    }
};

namespace {
STranslatorTeardown g_oTranslatorTeardown;
}

class CTranslator::CCall : private boost::noncopyable
{
public:
    CCall() : m_pTranslator(nullptr)
    {
        // Counted before the flag is read: the teardown sets the flag before it
        // reads the count, so either it waits for this call or this call sees
        // the flag.
        g_nRunningCalls.fetch_add(1);
        if (!g_bTranslatorDestroyed.load())
            m_pTranslator = _CreateTranslator();
    }
    ~CCall() { g_nRunningCalls.fetch_sub(1); }

    CTranslator* Get() const { return m_pTranslator; }

private:
    CTranslator* m_pTranslator;
};

Detail::CMutex& CTranslator::CreationMutex()
{
    static Detail::CMutex* s_pMutex = new Detail::CMutex;
    return *s_pMutex;
}

CTranslator* CTranslator::_CreateTranslator()
{
    CTranslator* translator = g_pTranslator.load(std::memory_order_acquire);
    if (translator)
        return translator;
    Detail::CScopedLock<Detail::CMutex> lock(CreationMutex());
    translator = g_pTranslator.load(std::memory_order_acquire);
    if (!translator) {
        boost::shared_ptr<CTranslator> instance(new CTranslator);
        g_oTranslator = instance;
        translator = instance.get();
        g_pTranslator.store(translator, std::memory_order_release);
    }
    return translator;
}

CTranslator::CTranslator() : m_bSearchMode(true), m_bWriteBackAllowed(true)
{
    std::list<std::string> paths;
    std::string application;
    CSearchPath::BuildForModuleOf(&g_oTranslator, paths, application);
    _Init(paths, application, "Default");
    Strings::CTranslatorRegistry::Register(this);
    m_oRegistry = Strings::g_oTranslatorRegistry;
}

CTranslator::~CTranslator()
{
    try {
        TLock lock(m_oLock);
        if (m_oData.IsModified())
            _Write();
    } catch (...) {
        // The write-back is best effort, like every write-back.
    }
    Strings::CTranslatorRegistry::Unregister(this);
}

// Static operations

std::string CTranslator::Translate(const std::string& text)
{
    CCall call;
    if (CTranslator* translator = call.Get())
        return translator->_Translate(text);
    return text;
}

std::string CTranslator::Translate(const char* text)
{
    if (text == nullptr)
        throw std::logic_error("CTranslator::Translate: null text");
    return Translate(std::string(text));
}

void CTranslator::Init(const std::string& language)
{
    CCall call;
    if (CTranslator* translator = call.Get()) {
        std::list<std::string> paths;
        std::string application;
        CSearchPath::BuildForModuleOf(&g_oTranslator, paths, application);
        translator->_Init(paths, application, language);
    }
}

void CTranslator::Init(const std::string& application, const std::string& language)
{
    CCall call;
    if (CTranslator* translator = call.Get()) {
        std::list<std::string> paths;
        std::string name;
        CSearchPath::_BuildApplicationSearchPathList(paths, name, application);
        translator->_Init(paths, name, language);
    }
}

void CTranslator::Init(const std::string& path, const std::string& application, const std::string& language)
{
    Init(std::list<std::string>(1, path), application, language);
}

void CTranslator::Init(const std::list<std::string>& paths, const std::string& application, const std::string& language)
{
    CCall call;
    if (CTranslator* translator = call.Get())
        translator->_Init(paths, application, language);
}

void CTranslator::SetLanguage(const std::string& language)
{
    CCall call;
    if (CTranslator* translator = call.Get())
        translator->_SetLanguage(language);
}

void CTranslator::SetSearchMode(bool deep)
{
    CCall call;
    if (CTranslator* translator = call.Get())
        translator->_SetSearchMode(deep);
}

bool CTranslator::GetSearchMode()
{
    CCall call;
    CTranslator* translator = call.Get();
    return translator ? translator->_GetSearchMode() : true;
}

std::string CTranslator::GetApplicationName()
{
    CCall call;
    CTranslator* translator = call.Get();
    return translator ? translator->_GetApplicationName() : std::string();
}

std::string CTranslator::GetLanguage()
{
    CCall call;
    CTranslator* translator = call.Get();
    return translator ? translator->_GetLanguage() : std::string();
}

std::list<std::string> CTranslator::GetSearchPathList()
{
    CCall call;
    CTranslator* translator = call.Get();
    return translator ? translator->_GetSearchPathList() : std::list<std::string>();
}

std::string CTranslator::GetBaseFilePath()
{
    CCall call;
    CTranslator* translator = call.Get();
    return translator ? translator->_GetBaseFilePath() : std::string();
}

// Instance operations

std::string CTranslator::_Translate(const std::string& text)
{
    TLock lock(m_oLock);
    // Generated texts without a letter, the percentages of the console output
    // for one, would add an entry per value to the table: they are looked up
    // but not recorded. The empty text is recorded like any other.
    if (!text.empty() && !MayHoldWord(text)) {
        unsigned int depth = 0;
        const std::string* found =
            m_bSearchMode ? m_oData._TranslateDeep(text, depth) : m_oData._TranslateShallow(text, depth);
        return found ? *found : text;
    }
    return m_oData.Translate(text, m_bSearchMode);
}

std::string CTranslator::_Translate(const char* text)
{
    if (text == nullptr)
        throw std::logic_error("CTranslator::_Translate: null text");
    return _Translate(std::string(text));
}

bool CTranslator::CanTranslate(const std::string& text) const
{
    TLock lock(m_oLock);
    return m_oData.CanTranslate(text);
}

bool CTranslator::_IsInit() const
{
    TLock lock(m_oLock);
    return !m_oData.GetName().empty();
}

void CTranslator::_SetLanguage(const std::string& language)
{
    TLock lock(m_oLock);
    if (language == m_oData.GetLanguage())
        return;
    if (m_oData.IsModified())
        _Write();
    // Copies: _Init replaces the fields these come from.
    std::list<std::string> paths = m_oSearchPathList;
    std::string application = m_oData.GetName();
    _Init(paths, application, language);
}

void CTranslator::_SetSearchMode(bool deep)
{
    TLock lock(m_oLock);
    m_bSearchMode = deep;
}

bool CTranslator::_GetSearchMode() const
{
    TLock lock(m_oLock);
    return m_bSearchMode;
}

std::string CTranslator::_GetApplicationName() const
{
    TLock lock(m_oLock);
    return m_oData.GetName();
}

std::string CTranslator::_GetLanguage() const
{
    TLock lock(m_oLock);
    return m_oData.GetLanguage();
}

std::list<std::string> CTranslator::_GetSearchPathList() const
{
    TLock lock(m_oLock);
    return m_oSearchPathList;
}

std::string CTranslator::_GetBaseFilePath() const
{
    TLock lock(m_oLock);
    return m_sBaseFilePath;
}

// Loading and writing back

void CTranslator::_Init(const std::list<std::string>& paths, const std::string& application,
                        const std::string& language)
{
    TLock lock(m_oLock);
    // An empty list would leave no directory to write back to.
    m_oSearchPathList = paths.empty() ? std::list<std::string>(1, "./") : paths;
    m_sBaseFilePath = m_oSearchPathList.front();
    m_oData.Init(application, language);
    m_bWriteBackAllowed = true;
    m_oLoadChain.clear();
    m_oReportedCycles.clear();

    if (!_FindFile(application, language, m_sBaseFilePath)) {
        // Written at the latest when the translator is destroyed.
        m_oData.SetModifiedFlag(true);
        return;
    }
    if (_Read(m_sBaseFilePath, m_oData))
        return;
    // The table keeps what the reader stored, but the file's content must not
    // rename the module or change its language; and the file, which is the
    // user's data, is not replaced by this table. An empty file holds nothing
    // to lose.
    m_oData.SetName(application);
    m_oData.SetLanguage(language);
    if (!IsEmptyRegularFile(CTranslatorFile::BuildFileName(m_sBaseFilePath, application, language)))
        m_bWriteBackAllowed = false;
}

bool CTranslator::_FindFile(const std::string& application, const std::string& language, std::string& path) const
{
    TLock lock(m_oLock);
    for (const std::string& entry : m_oSearchPathList) {
        if (CTranslatorFile::Exists(CTranslatorFile::BuildFileName(entry, application, language))) {
            path = entry;
            return true;
        }
    }
    return false;
}

bool CTranslator::_Read(const std::string& path, CTranslatorData& table)
{
    TLock lock(m_oLock);
    const std::string name = table.GetName();
    const std::string language = table.GetLanguage();
    if (!CTranslatorFile(CTranslatorFile::BuildFileName(path, name, language)).Read(table))
        return false;
    if (table.GetName() != name || table.GetLanguage() != language)
        return false;

    // A base module that cannot be loaded stays in the list, empty and under
    // the name the file gave: the names are the user's, and the write-back
    // must keep every one of them, in the order written.
    m_oLoadChain.push_back(name);
    try {
        for (unsigned int index = 0; index < table.GetNumBaseModules(); ++index) {
            CTranslatorData& module = table.GetBaseModule(index);
            const std::string moduleName = module.GetName();
            if (std::find(m_oLoadChain.begin(), m_oLoadChain.end(), moduleName) != m_oLoadChain.end()) {
                // A module that names one of the modules it is being loaded for:
                // loading it again would never end.
                if (m_oReportedCycles.insert(std::make_pair(name, moduleName)).second) {
                    // In English: the table that could translate it is the one
                    // being loaded.
                    std::string report = "Base module cycle cut: ";
                    for (const std::string& loaded : m_oLoadChain)
                        report += loaded + " -> ";
                    report += moduleName;
                    report += '\n';
                    Varnel::Detail::WriteDiagnostic(report);
                }
                continue;
            }
            std::string directory;
            // A file that failed to read may have left part of its content.
            if (!_FindFile(moduleName, language, directory) || !_Read(directory, module))
                module.Init(moduleName, language);
        }
    } catch (...) {
        m_oLoadChain.pop_back();
        throw;
    }
    m_oLoadChain.pop_back();
    table.SetModifiedFlag(false);
    return true;
}

void CTranslator::_Write()
{
    TLock lock(m_oLock);
    if (!m_bWriteBackAllowed)
        return;
    CTranslatorFile(CTranslatorFile::BuildFileName(m_sBaseFilePath, m_oData.GetName(), m_oData.GetLanguage()))
        .Write(m_oData);
}

} // namespace Internationalisation
} // namespace Varnel
} // namespace Qz
