#pragma once

#include "AppModelEnvironment.h"
#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QFile>
#include <QVariantMap>

#include <memory>

namespace mirvo::test {

// A model environment inside `dir`: the data directory "Mirvo" and an empty settings file beside it.
inline AppModelEnvironment modelEnvironment(const TemporaryDataDirectory& dir, QVariantMap bundle = {})
{
    AppModelEnvironment environment;
    environment.dataRoot = dir.filePath(QStringLiteral("Mirvo"));
    environment.bundleInfo = BundleInfo(std::move(bundle));
    environment.settings =
        std::make_shared<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    environment.settings->clear();
    return environment;
}

// The same, but with a file where the data directory should be.
inline AppModelEnvironment blockedModelEnvironment(const TemporaryDataDirectory& dir)
{
    AppModelEnvironment environment = modelEnvironment(dir);
    environment.dataRoot = dir.filePath(QStringLiteral("blocked"));
    QFile blocker(environment.dataRoot);
    if (!blocker.open(QIODevice::WriteOnly))
        qFatal("cannot create %s", qPrintable(blocker.fileName()));
    return environment;
}

// Points the fake ipatool at an empty home inside `dir`: nobody is signed in yet.
inline void useEmptyFakeHome(const TemporaryDataDirectory& dir)
{
    const QString home = dir.filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    qputenv("MIRVO_FAKE_HOME", QFile::encodeName(home));
}

// Copies the fake tools called `names` ("ipatool", "ios") into the environment's tools directory.
inline void installFakeTools(const AppModelEnvironment& environment, const QStringList& names)
{
    const QString fakes = qEnvironmentVariable("MIRVO_FAKES_DIR");
    const QString tools = environment.dataRoot + QStringLiteral("/Tools/");
    QDir().mkpath(tools);
    for (const QString& name : names) {
        if (!QFile::copy(fakes + u'/' + name, tools + name))
            qFatal("cannot install the fake %s from %s", qPrintable(name), qPrintable(fakes));
    }
}

} // namespace mirvo::test
