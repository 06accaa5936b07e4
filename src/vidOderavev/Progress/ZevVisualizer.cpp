#include <vidOderavev/Progress/ZevVisualizer.h>

#include <iostream>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Internationalisation/Translator.h>
#include <vidOderavev/Progress/XmlLogStream.h>

namespace Qz {
namespace Varnel {
namespace Progress {

using Internationalisation::CTranslator;

CZevVisualizer::CZevVisualizer() : m_dLastFraction(0.0) {}

CZevVisualizer::CZevVisualizer(bool) : m_dLastFraction(0.0) {}

CZevVisualizer::~CZevVisualizer() {}

void CZevVisualizer::_ShowMessage(const std::string& text, _EVerbosityLevel level, const std::string& timeStamp,
                                  const std::string&)
{
    std::string line;
    line.reserve(timeStamp.size() + text.size() + 12);
    line.append(timeStamp).append(" ").append(_GetLevel(level)).append(": ").append(text);
    std::cout << line << std::endl;
}

void CZevVisualizer::_ProgressChanged(const boost::shared_ptr<CLogger>&)
{
    if (m_oLoggers.empty())
        return;
    const boost::shared_ptr<CLogger> first = m_oLoggers.front();
    const std::string rootText = first->GetText(0);
    if (rootText != m_sLastRootText) {
        std::cout << "Progress: " + rootText << std::endl;
        m_sLastRootText = rootText;
    }
    // The getter may re-enter this hook on the same thread; the stored
    // fraction is read only after it.
    const double fraction = first->GetRelativeProgressValue(0);
    if (Detail::TruncateToInt32(fraction * 50.0) == Detail::TruncateToInt32(m_dLastFraction * 50.0))
        return;
    const std::string percent = CTranslator::Translate(Strings::MakePercentString(fraction, 3));
    std::cout << "Progress: " + percent + "%" << std::endl;
    m_dLastFraction = fraction;
}

} // namespace Progress
} // namespace Varnel
} // namespace Qz
