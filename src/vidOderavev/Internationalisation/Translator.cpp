#include <vidOderavev/Internationalisation/Translator.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <limits>
#include <stdexcept>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/thread/thread.hpp>

#include <vidOderavev/Companion/TranslatorRegistry.h>
#include <vidOderavev/Internationalisation/TranslatorFile.h>

namespace Qz {
namespace Varnel {
namespace Internationalisation {

// CTranslatorData

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

// CTranslator

namespace {

// Static destruction of the translator may meet calls on other threads, and
// calls from static destructors that run after it. These three are constant
// initialised and trivially destroyed, so they can be read at any time.
std::atomic<CTranslator*> g_pTranslator(nullptr);
std::atomic<bool> g_bTranslatorDestroyed(false);
std::atomic<unsigned int> g_nRunningCalls(0);

const char* const g_pDefaultModuleName = "vidOderavev";

typedef Detail::CScopedLock<Detail::CRecursiveMutex> TLock;

void CutAtLastDot(std::string& name)
{
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
}

// The file of the shared object holding this code, or of the running
// executable; null if neither can be found.
void FindModuleFile(std::string& soFile, std::string& exeFile, bool& haveSo, bool& haveExe)
{
    Dl_info info;
    haveSo = ::dladdr(static_cast<const void*>(&g_oTranslator), &info) != 0 && info.dli_fname != nullptr &&
             info.dli_fname[0] != '\0';
    if (haveSo) {
        soFile = info.dli_fname;
        haveExe = false;
        return;
    }
    char procPath[64];
    std::snprintf(procPath, sizeof(procPath), "/proc/%d/exe", static_cast<int>(::getpid()));
    char resolved[PATH_MAX];
    haveExe = ::realpath(procPath, resolved) != nullptr;
    if (haveExe)
        exeFile = resolved;
}

void BuildDefaultSearchPathList(std::list<std::string>& paths, std::string& application)
{
    std::string soFile, exeFile;
    bool haveSo = false, haveExe = false;
    FindModuleFile(soFile, exeFile, haveSo, haveExe);
    CTranslator::_BuildDefaultSearchPathList(paths, application, haveSo ? soFile.c_str() : nullptr,
                                             haveExe ? exeFile.c_str() : nullptr);
}

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
            Detail::CScopedLock<Detail::CMutex> lock(CTranslator::_CreateMutex());
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

Detail::CMutex& CTranslator::_CreateMutex()
{
    static Detail::CMutex* s_pMutex = new Detail::CMutex;
    return *s_pMutex;
}

CTranslator* CTranslator::_CreateTranslator()
{
    CTranslator* translator = g_pTranslator.load(std::memory_order_acquire);
    if (translator)
        return translator;
    Detail::CScopedLock<Detail::CMutex> lock(_CreateMutex());
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
    BuildDefaultSearchPathList(paths, application);
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
        BuildDefaultSearchPathList(paths, application);
        translator->_Init(paths, application, language);
    }
}

void CTranslator::Init(const std::string& application, const std::string& language)
{
    CCall call;
    if (CTranslator* translator = call.Get()) {
        std::list<std::string> paths;
        std::string name;
        _BuildApplicationSearchPathList(paths, name, application);
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

// Search path lists

void CTranslator::_BuildDefaultSearchPathList(std::list<std::string>& paths, std::string& application,
                                              const char* soFile, const char* exeFile)
{
    paths.clear();
    application.clear();
    _AddApplicationPathAndName(paths, application, soFile, exeFile);
    _AddCurrentPath(paths);
    _AddEnvironmentPath(paths);
    if (paths.empty())
        paths.push_back("./");
}

void CTranslator::_BuildApplicationSearchPathList(std::list<std::string>& paths, std::string& application,
                                                  const std::string& applicationPath)
{
    paths.clear();
    std::string::size_type separator = applicationPath.find_last_of("/\\");
    if (separator != std::string::npos) {
        paths.push_back(applicationPath.substr(0, separator));
        application = applicationPath.substr(separator + 1);
    } else
        application = applicationPath;
    CutAtLastDot(application);
    _AddCurrentPath(paths);
    _AddEnvironmentPath(paths);
    if (paths.empty())
        paths.push_back("./");
}

void CTranslator::_AddApplicationPathAndName(std::list<std::string>& paths, std::string& application,
                                             const char* soFile, const char* exeFile)
{
    const char* file = soFile ? soFile : exeFile;
    if (file)
        _SplitModulePath(file, paths, application);
    else
        application = g_pDefaultModuleName;
    paths.push_back("./");
}

void CTranslator::_SplitModulePath(const std::string& file, std::list<std::string>& paths, std::string& application)
{
    std::string::size_type separator = file.find_last_of("/\\");
    if (separator == std::string::npos)
        return;
    paths.push_back(file.substr(0, separator));
    application = file.substr(separator + 1);
    CutAtLastDot(application);
}

void CTranslator::_AddCurrentPath(std::list<std::string>& paths)
{
    char buffer[1023];
    if (::getcwd(buffer, sizeof(buffer)))
        paths.push_back(buffer);
}

void CTranslator::_AddEnvironmentPath(std::list<std::string>& paths)
{
    if (const char* value = std::getenv("LANGUAGEPATH"))
        paths.push_back(value);
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
                    std::string cycle;
                    for (const std::string& loaded : m_oLoadChain)
                        cycle += loaded + " -> ";
                    std::cerr << "Base module cycle cut: " << cycle << moduleName << std::endl;
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
