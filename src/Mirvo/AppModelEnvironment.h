#pragma once

#include "BundleInfo.h"

#include <QSettings>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace mirvo {

class CommandRunning;
class HttpClient;

// The platform pieces the application model is built on. Production uses the real ones; tests inject their
// own.
struct AppModelEnvironment {
    QString dataRoot; // the data directory; empty when the system reports none
    BundleInfo bundleInfo;
    std::shared_ptr<QSettings> settings;
    std::shared_ptr<CommandRunning> runner; // runs ipatool and go-ios
    std::shared_ptr<HttpClient> http;       // every network service goes through it; none in most tests
    // Opens a web address in the default browser and tells whether it could; none opens nothing.
    std::function<bool(const QUrl&)> openURL;
    double devicePollingSeconds = 8.0;

    static AppModelEnvironment production();
};

} // namespace mirvo
