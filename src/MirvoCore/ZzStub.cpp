#include "AppStoreMetadata.h"
namespace mirvo {
QCoro::Task<std::optional<QString>> AppStoreMetadata::storeIDForBundleID(QString, QStringList, std::stop_token) const { co_return std::nullopt; }
}
