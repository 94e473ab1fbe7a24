#include "AppModel.h"

namespace mirvo {

QCoro::Task<> AppModel::restoreAccount()
{
    // Asking ipatool for the signed-in Apple ID arrives with the tool service.
    co_return;
}

} // namespace mirvo
