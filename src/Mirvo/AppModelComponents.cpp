#include "AppModel.h"

namespace mirvo {

QCoro::Task<> AppModel::installMissingTools()
{
    // Fetching the tools from their releases arrives with the tool bootstrapper.
    co_return;
}

QCoro::Task<> AppModel::refreshComponents()
{
    // Version checks arrive with the tool service.
    co_return;
}

} // namespace mirvo
