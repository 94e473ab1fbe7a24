// Taking a tool's executable out of its release archive against the command-line tools doing the same:
// a zip and a tar.gz whose executable expands to 100 MiB of generated text (words and noise, so that
// deflate shrinks it to about a fifth rather than to nothing) are written to a temporary directory; the
// reader works on the archive in memory, `unzip -p` and `gzip -dc` read the file and write to /dev/null.
// Raw zlib inflating into a buffer allocated and touched beforehand is shown as the floor any reader
// stands on; the reader's distance from it is mostly the first touch of the fresh output's pages.
#include "ArchiveWriter.h"
#include "ToolArchive.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype executableBytes = 100 * 1024 * 1024;
constexpr int runs = 7;

volatile qsizetype sink = 0;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double millisecondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

QByteArray generatedExecutable()
{
    static const QList<QByteArray> words{
        "_objc_msgSend",    "__TEXT",   "__DATA_CONST", "github.com/majd/ipatool/v2/pkg/appstore",
        "keychain",         "runtime.", "json:\"",      "\x48\x89\xE5\x41\x57",
        "\x00\x00\x00\x00", "bundleID", "storefront",   "cobra.Command"};
    QRandomGenerator random(20260501);
    QByteArray data;
    data.reserve(executableBytes + 64);
    while (data.size() < executableBytes) {
        const quint32 choice = random.generate();
        if (choice % 4 == 0) {
            const quint64 noise = random.generate64();
            data.append(reinterpret_cast<const char*>(&noise), 1 + choice / 4 % 7);
        } else {
            data += words.at(choice / 4 % words.size());
        }
    }
    data.truncate(executableBytes);
    return data;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The baseline command, or nothing with a message when it is not installed.
std::optional<QString> program(const QString& name)
{
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty()) {
        std::printf("%s is not installed: that side is skipped\n", qPrintable(name));
        return std::nullopt;
    }
    return path;
}

void runToDevNull(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        std::exit(1);
    }
}

void inflateIntoReadyBuffer(const QByteArray& deflated, QByteArray& output)
{
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    stream.avail_in = uInt(deflated.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = uInt(output.size());
    inflate(&stream, Z_FINISH);
    sink = sink + qsizetype(stream.total_out);
    inflateEnd(&stream);
}

struct Comparison {
    const char* name;
    std::function<void()> reader;
    std::optional<std::function<void()>> command;
    std::function<void()> zlibAlone;
};

// Medians in milliseconds, the sides alternating; returns reader / command, or nothing without a command.
std::optional<double> compare(const Comparison& comparison)
{
    std::vector<double> reader;
    std::vector<double> command;
    std::vector<double> zlibAlone;
    for (int run = 0; run < runs; ++run) {
        reader.push_back(millisecondsOf(comparison.reader));
        if (comparison.command)
            command.push_back(millisecondsOf(*comparison.command));
        zlibAlone.push_back(millisecondsOf(comparison.zlibAlone));
    }
    std::printf("%s, median of %d runs: ToolArchive %.0f ms, zlib alone %.0f ms", comparison.name, runs,
                median(reader), median(zlibAlone));
    if (!comparison.command) {
        std::printf("\n");
        return std::nullopt;
    }
    std::printf(", command %.0f ms\n", median(command));
    return median(reader) / median(command);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir directory;
    if (!directory.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }

    const QByteArray executable = generatedExecutable();
    const QByteArray deflated = ArchiveWriter::deflateRaw(executable);
    const QByteArray zip =
        ArchiveWriter::zip({{.name = "ios", .content = executable, .method = 8, .data = deflated}}).bytes;
    const QByteArray tar = ArchiveWriter::tar(
        {{.name = "ipatool-2.3.2-macos-arm64", .content = executable, .prefix = "bin"}, {.name = "LICENSE"}});
    const QByteArray tarGzip = ArchiveWriter::gzip(tar);
    const QByteArray tarDeflated = tarGzip.sliced(10, tarGzip.size() - 18);
    const QString zipPath = directory.filePath(u"go-ios.zip"_s);
    const QString tarGzipPath = directory.filePath(u"ipatool.tar.gz"_s);
    if (!writeFile(zipPath, zip) || !writeFile(tarGzipPath, tarGzip)) {
        std::fprintf(stderr, "cannot write the archives\n");
        return 1;
    }
    std::printf("executable %lld bytes; zip %lld bytes, tar.gz %lld bytes\n", (long long)executable.size(),
                (long long)zip.size(), (long long)tarGzip.size());
    if (ToolArchive::zipEntry(u"ios"_s, zip) != executable ||
        ToolArchive::tarGzipEntry(u"ipatool"_s, tarGzip) != executable) {
        std::fprintf(stderr, "the reader did not return the executable\n");
        return 1;
    }

    QByteArray ready(executableBytes, Qt::Uninitialized);
    QByteArray readyTar(tar.size(), Qt::Uninitialized);
    const std::optional<QString> unzip = program(u"unzip"_s);
    const std::optional<QString> gzip = program(u"gzip"_s);
    std::optional<std::function<void()>> unzipCommand;
    if (unzip)
        unzipCommand = [&] { runToDevNull(*unzip, {u"-p"_s, zipPath, u"ios"_s}); };
    std::optional<std::function<void()>> gzipCommand;
    if (gzip)
        gzipCommand = [&] { runToDevNull(*gzip, {u"-dc"_s, tarGzipPath}); };

    const std::optional<double> zipRatio =
        compare({"zip", [&] { sink = sink + ToolArchive::zipEntry(u"ios"_s, zip).size(); }, unzipCommand,
                 [&] { inflateIntoReadyBuffer(deflated, ready); }});
    const std::optional<double> tarGzipRatio =
        compare({"tar.gz", [&] { sink = sink + ToolArchive::tarGzipEntry(u"ipatool"_s, tarGzip).size(); },
                 gzipCommand, [&] { inflateIntoReadyBuffer(tarDeflated, readyTar); }});

    std::printf("== ratios (lower is better, aim: within 1.1)\n");
    if (zipRatio)
        std::printf("ToolArchive::zipEntry / unzip -p: %.2f\n", *zipRatio);
    if (tarGzipRatio)
        std::printf("ToolArchive::tarGzipEntry / gzip -dc: %.2f\n", *tarGzipRatio);
    return 0;
}
