#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace mirvo {

// Finds the executables of the external tools, only in the directories the application manages itself.
class ToolLocator {
public:
    // Without a list, the one default tools directory is searched; a given list (even empty) is used as is.
    explicit ToolLocator(std::optional<QStringList> directories = std::nullopt);

    // The locator of the tools directory inside the data directory `root`.
    static ToolLocator inDataDirectory(const QString& root);

    // The executables the application needs: "ipatool" and "ios".
    static QStringList required();
    static QList<int> minimumIPAToolVersion();
    static QString defaultToolsDirectory();

    const QStringList& directories() const { return m_directories; }

    // The absolute path of the first executable called `name`, in directory order.
    std::optional<QString> find(const QString& name) const;
    // Like find(), but throws MirvoError::missingTool(name) when there is none.
    QString require(const QString& name) const;

private:
    QStringList m_directories;
};

} // namespace mirvo
