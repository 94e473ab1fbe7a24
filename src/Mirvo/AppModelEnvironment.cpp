#include "AppModelEnvironment.h"

#include "NetworkHttpClient.h"
#include "ProcessRunner.h"

#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

AppModelEnvironment AppModelEnvironment::production()
{
    AppModelEnvironment environment;
    const QString applicationSupport = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!applicationSupport.isEmpty())
        environment.dataRoot = applicationSupport + u"/Mirvo"_s;
    environment.bundleInfo = BundleInfo::main();
    environment.settings = std::make_shared<QSettings>();
    environment.runner = std::make_shared<ProcessRunner>();
    environment.http = std::make_shared<NetworkHttpClient>();
    return environment;
}

} // namespace mirvo
