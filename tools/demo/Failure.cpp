#include "demo/Failure.h"

#include <exception>
#include <system_error>

#include <vidOderavev/Libraries/Fileio/FileioUnix.h>

namespace Qz {
namespace Varnel {
namespace Demo {

std::string DescribeCurrentError()
{
    try {
        throw;
    } catch (const Fileio::CBasicException& error) {
        std::string text = error.GetDescription();
        if (error.GetErrorCode() != 0)
            text += " (" + std::system_category().message(error.GetErrorCode()) + ")";
        return text;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace Demo
} // namespace Varnel
} // namespace Qz
