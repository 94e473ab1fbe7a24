#include "AppModelEnvironment.h"

#include "NetworkHttpClient.h"
#include "ProcessRunner.h"

#include <QDesktopServices>
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
    environment.openURL = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return environment;
}

} // namespace mirvo
