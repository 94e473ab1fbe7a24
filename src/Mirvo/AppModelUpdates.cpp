#include "AppModel.h"

namespace mirvo {

QCoro::Task<> AppModel::checkForUpdates(bool manual)
{
    Q_UNUSED(manual);
    // The update-manifest check arrives with the update service.
    co_return;
}

} // namespace mirvo
