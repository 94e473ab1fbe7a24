#include "LogCategories.h"

#include "CancelledError.h"
#include "SystemError.h"

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcTools, "mirvo.tools", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNetwork, "mirvo.network", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSignIn, "mirvo.signin", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCatalog, "mirvo.catalog", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStore, "mirvo.store", QtWarningMsg)

namespace mirvo {

QString describeFailure(const std::exception_ptr& failure)
{
    if (!failure)
        return u"no failure"_s;
    try {
        std::rethrow_exception(failure);
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    } catch (const std::exception& error) {
        return localizedDescription(error);
    } catch (...) {
        return u"unknown failure"_s;
    }
}

} // namespace mirvo
