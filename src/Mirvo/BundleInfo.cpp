#include "BundleInfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

BundleInfo BundleInfo::main()
{
    QVariantMap values{
        {u"CFBundleShortVersionString"_s, QStringLiteral(MIRVO_VERSION)},
        {u"CFBundleVersion"_s, QStringLiteral(MIRVO_BUILD_NUMBER)},
    };
#ifdef Q_OS_MACOS
    // Inside a bundle the Info.plist is the source of truth, including the update-manifest key.
    const QString plist = QCoreApplication::applicationDirPath() + u"/../Info.plist"_s;
    if (QFileInfo::exists(plist)) {
        const QSettings info(plist, QSettings::NativeFormat);
        for (const QString& key : info.allKeys())
            values.insert(key, info.value(key));
    }
#endif
    return BundleInfo(std::move(values));
}

} // namespace mirvo
