#include "ToolLocator.h"

#include "MirvoError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

ToolLocator::ToolLocator(std::optional<QStringList> directories)
    : m_directories(directories ? std::move(*directories) : QStringList{defaultToolsDirectory()})
{
}

ToolLocator ToolLocator::inDataDirectory(const QString& root)
{
    return ToolLocator(QStringList{QDir(root).filePath(u"Tools"_s)});
}

QStringList ToolLocator::required()
{
    return {u"ipatool"_s, u"ios"_s};
}

QList<int> ToolLocator::minimumIPAToolVersion()
{
    return {2, 3, 2};
}

QString ToolLocator::defaultToolsDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Mirvo/Tools"_s;
}

std::optional<QString> ToolLocator::find(const QString& name) const
{
    // Only a plain file name is looked for: no path pieces, and never a search of PATH.
    if (name.isEmpty() || name.contains(u'/') || name == u"."_s || name == u".."_s)
        return std::nullopt;
    for (const QString& directory : m_directories) {
        if (directory.isEmpty())
            continue;
        const QString candidate = QFileInfo(QDir(directory).filePath(name)).absoluteFilePath();
        const QByteArray path = QFile::encodeName(candidate);
        struct stat info {};
        // access() follows symbolic links; a directory passes it but can never be run.
        if (::access(path.constData(), X_OK) == 0 && ::stat(path.constData(), &info) == 0 &&
            !S_ISDIR(info.st_mode))
            return candidate;
    }
    return std::nullopt;
}

QString ToolLocator::require(const QString& name) const
{
    if (auto location = find(name))
        return *location;
    throw MirvoError::missingTool(name);
}

} // namespace mirvo
