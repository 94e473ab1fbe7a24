#pragma once

#include <QByteArray>
#include <QString>

namespace mirvo {

// Takes one named file out of a release archive held in memory: go-ios' zip, ipatool's gzip-compressed
// tar. Every length and offset is checked against the data before use and the output is capped; every
// failure is a MirvoError with a Russian text naming the tool. Pure functions: call them off the GUI thread.
class ToolArchive {
public:
    ToolArchive() = delete;

    static constexpr qint64 maximumExecutableBytes = 314'572'800;

    static QByteArray tarGzipEntry(const QString& named, const QByteArray& data);
    static QByteArray zipEntry(const QString& named, const QByteArray& data);
};

} // namespace mirvo
