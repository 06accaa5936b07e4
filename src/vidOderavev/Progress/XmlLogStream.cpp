#include <vidOderavev/Progress/XmlLogStream.h>

#include <cmath>

#include <vidOderavev/Companion/ValueString.h>
#include <vidOderavev/Progress/XmlEscape.h>

namespace Qz {
namespace Varnel {
namespace Progress {
namespace Detail {

const char g_acXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";
const char g_acXmlStreamStart[] = "<LOG_STREAM>\n";
const char g_acXmlStreamEnd[] = "<PROGRESS>\n<PERCENTAGE>-1</PERCENTAGE>\n</PROGRESS>\n</LOG_STREAM>";

int32_t TruncateToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT32_MAX;
    if (value <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

void AppendXmlLogRecord(std::string& out, const std::string& levelName, const std::string& timeStamp,
                        const std::string& identity, const std::string& taskId, const std::string& text)
{
    out.append("<LOG>\n<TIME>");
    AppendXmlEscaped(out, timeStamp);
    out.append("</TIME>\n<TYPE>");
    out.append(levelName); // one of the fixed level names, nothing to escape
    out.append("</TYPE>\n");
    out.append(identity);
    if (!taskId.empty()) {
        out.append("<TASKID>");
        AppendXmlEscaped(out, taskId);
        out.append("</TASKID>\n");
    }
    out.append("<TEXT>");
    AppendXmlEscaped(out, text);
    out.append("</TEXT>\n</LOG>\n");
}

bool TakeProgressRecord(const boost::shared_ptr<CLogger>& logger, double& lastFraction, std::string& lastRootText,
                        double& fraction, std::string& rootText, bool& textChanged)
{
    rootText = logger->GetText(0);
    fraction = logger->GetRelativeProgressValue(0);
    textChanged = rootText != lastRootText;
    if (!textChanged && TruncateToInt32(fraction * 100.0) == TruncateToInt32(lastFraction * 100.0))
        return false;
    lastFraction = fraction;
    if (textChanged)
        lastRootText = rootText;
    return true;
}

bool AppendXmlProgressRecord(std::string& out, const boost::shared_ptr<CLogger>& logger, const std::string& identity,
                             double& lastFraction, std::string& lastRootText)
{
    double fraction;
    std::string rootText;
    bool textChanged;
    if (!TakeProgressRecord(logger, lastFraction, lastRootText, fraction, rootText, textChanged))
        return false;
    out.append("<PROGRESS>\n");
    if (textChanged) {
        out.append("<TEXT>");
        AppendXmlEscaped(out, rootText);
        out.append("</TEXT>\n");
    }
    out.append("<PERCENTAGE>");
    out.append(Strings::MakePercentString(fraction, 3));
    out.append("</PERCENTAGE>\n");
    out.append(identity);
    out.append("</PROGRESS>\n");
    return true;
}

} // namespace Detail
} // namespace Progress
} // namespace Varnel
} // namespace Qz
