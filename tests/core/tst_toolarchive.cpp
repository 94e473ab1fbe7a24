#include "ArchiveWriter.h"
#include "MirvoError.h"
#include "ToolArchive.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

using Zip = ArchiveWriter::ZipEntry;
using Tar = ArchiveWriter::TarEntry;
using Gzip = ArchiveWriter::GzipOptions;

const QString noCompressedData = u"Архив не содержит данных."_s;
const QString expandsTooFar = u"Распакованный файл превышает допустимый размер."_s;
const QString badCompressedData = u"Архив содержит некорректные сжатые данные."_s;
const QString zipDamaged = u"Архив go-ios повреждён."_s;
const QString zipBadStructure = u"Архив go-ios имеет неверную структуру."_s;
const QString zipMissing = u"В архиве go-ios отсутствует исполняемый файл ios."_s;
const QString zipBadDirectory = u"Архив go-ios имеет неверный каталог."_s;
const QString zipBadRecord = u"Архив go-ios имеет повреждённую запись."_s;
const QString zipTooLarge = u"Исполняемый файл go-ios слишком большой."_s;
const QString zipBadLocal = u"Архив go-ios имеет неверную локальную запись."_s;
const QString zipCutShort = u"Архив go-ios обрывается до конца файла."_s;
const QString zipUnsupported = u"Архив go-ios использует неподдерживаемое сжатие."_s;
const QString zipWrongSize = u"Не удалось распаковать исполняемый файл go-ios."_s;
const QString gzipDamaged = u"Архив IPATool повреждён."_s;
const QString gzipBadHeader = u"Архив IPATool имеет неверный заголовок."_s;
const QString gzipTooLarge = u"Архив IPATool слишком большой."_s;
const QString tarMissing = u"В архиве IPATool отсутствует исполняемый файл ipatool."_s;
const QString tarBadRecord = u"Архив IPATool имеет повреждённую запись."_s;
const QString tarNotRegular = u"Исполняемый файл IPATool имеет неверный формат."_s;

constexpr quint32 largestExecutable = 314'572'800;

QByteArray pseudoRandom(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// Text that deflate shrinks but not to nothing, like an executable's mix of code and strings.
QByteArray pseudoText(qsizetype size, quint32 seed)
{
    static const QList<QByteArray> words{"mach", "dyld",  "ipatool", "keychain",      "bundle",   "__TEXT",
                                         "json", "arm64", "store",   "_objc_msgSend", "\x00\x01", "go"};
    QRandomGenerator random(seed);
    QByteArray text;
    text.reserve(size + 16);
    while (text.size() < size) {
        text += words.at(random.bounded(words.size()));
        text += char(random.bounded(32, 127));
    }
    text.truncate(size);
    return text;
}

QByteArray executable()
{
    return "\xCF\xFA\xED\xFE executable bytes of ios"_ba;
}

QByteArray ipatool()
{
    return "\x7F"
           "ELF ipatool executable"_ba;
}

Zip zipFile(QByteArray name, QByteArray content)
{
    return {.name = std::move(name), .content = std::move(content)};
}

Tar tarFile(QByteArray name, QByteArray content)
{
    return {.name = std::move(name), .content = std::move(content)};
}

QByteArray zipOf(const QList<Zip>& entries, const QByteArray& comment = {})
{
    return ArchiveWriter::zip(entries, comment).bytes;
}

QByteArray tarGzipOf(const QList<Tar>& entries, const Gzip& options = Gzip())
{
    return ArchiveWriter::gzip(ArchiveWriter::tar(entries), options);
}

// The error's text, or an empty string with the bytes in `output`.
template <typename Extract> QString failureOf(Extract extract, QByteArray* output)
{
    try {
        *output = extract();
        return {};
    } catch (const MirvoError& error) {
        if (error.kind() != MirvoError::Kind::Message)
            return u"<not a message>"_s;
        return error.errorDescription();
    }
}

} // namespace

class TestToolArchive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void zipEntry_data();
    void zipEntry();
    void zipStructure_data();
    void zipStructure();
    void tarGzipEntry_data();
    void tarGzipEntry();
    void gzipWrapper_data();
    void gzipWrapper();
    void largeEntriesCrossManySteps_data();
    void largeEntriesCrossManySteps();
    void archivesOfAnotherWriter_data();
    void archivesOfAnotherWriter();
    void everyFailureIsAMessage();
};

void TestToolArchive::zipEntry_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("error");

    const QByteArray ios = executable();
    const QByteArray text = pseudoText(200'000, 1);
    const QByteArray deflated = ArchiveWriter::deflateRaw(text);

    QTest::newRow("stored at the top level") << zipOf({zipFile("ios", ios)}) << u"ios"_s << ios << QString();
    QTest::newRow("deflated at the top level")
        << zipOf({{.name = "ios", .content = text, .method = 8}}) << u"ios"_s << text << QString();
    QTest::newRow("after other entries with extra fields and comments")
        << zipOf({{.name = "LICENSE",
                   .content = "MIT",
                   .extra = "\x55\x54\x05\x00\x01\x00\x00\x00\x00"_ba,
                   .comment = "licence"},
                  {.name = "docs/", .content = {}},
                  {.name = "ios", .content = text, .method = 8, .localExtra = QByteArray(17, 'x')}})
        << u"ios"_s << text << QString();
    QTest::newRow("the first of two entries of that name wins")
        << zipOf({zipFile("ios", "first"), zipFile("ios", "second")}) << u"ios"_s << "first"_ba << QString();
    QTest::newRow("an empty stored file")
        << zipOf({zipFile("ios", {})}) << u"ios"_s << QByteArray() << QString();
    QTest::newRow("comment of 65,535 bytes")
        << zipOf({zipFile("ios", ios)}, QByteArray(65'535, 'c')) << u"ios"_s << ios << QString();
    QTest::newRow("comment of 65,536 bytes")
        << zipOf({zipFile("ios", ios)}, QByteArray(65'536, 'c')) << u"ios"_s << QByteArray() << zipDamaged;
    QTest::newRow("bin/ios asked for as ios")
        << zipOf({zipFile("bin/ios", ios)}) << u"ios"_s << QByteArray() << zipMissing;
    QTest::newRow("bin/ios asked for by its whole path")
        << zipOf({zipFile("bin/ios", ios)}) << u"bin/ios"_s << ios << QString();
    QTest::newRow("the Linux release has no file named ios")
        << zipOf({zipFile("ios-amd64", ios), zipFile("ios-arm64", ios)}) << u"ios"_s << QByteArray()
        << zipMissing;
    QTest::newRow("another name missing, the same message")
        << zipOf({zipFile("ios", ios)}) << u"ios.exe"_s << QByteArray() << zipMissing;
    QTest::newRow("names are case-sensitive")
        << zipOf({zipFile("IOS", ios)}) << u"ios"_s << QByteArray() << zipMissing;
    QTest::newRow("a name that is not UTF-8 matches nothing")
        << zipOf({zipFile("\xFFios", ios)}) << u"\uFFFDios"_s << QByteArray() << zipMissing;
    QTest::newRow("a byte order mark belongs to the name")
        << zipOf({zipFile("\xEF\xBB\xBFios", ios)}) << u"ios"_s << QByteArray() << zipMissing;
    QTest::newRow("a UTF-8 name") << zipOf({zipFile("инструменты/ios", ios)}) << u"инструменты/ios"_s << ios
                                  << QString();
    QTest::newRow("stored with differing sizes")
        << zipOf({{.name = "ios", .content = ios, .expandedSize = quint32(ios.size() + 1)}}) << u"ios"_s
        << QByteArray() << zipWrongSize;
    QTest::newRow("stored, the recorded size at the limit")
        << zipOf({{.name = "ios", .content = ios, .expandedSize = largestExecutable}}) << u"ios"_s
        << QByteArray() << zipWrongSize;
    QTest::newRow("the recorded size one byte over the limit")
        << zipOf({{.name = "ios", .content = ios, .expandedSize = largestExecutable + 1}}) << u"ios"_s
        << QByteArray() << zipTooLarge;
    QTest::newRow("ZIP64 placeholder for the size")
        << zipOf({{.name = "ios", .content = text, .method = 8, .expandedSize = 0xFFFFFFFF}}) << u"ios"_s
        << QByteArray() << zipTooLarge;
    QTest::newRow("ZIP64 placeholder for the compressed size")
        << zipOf({{.name = "ios", .content = text, .method = 8, .compressedSize = 0xFFFFFFFF}}) << u"ios"_s
        << QByteArray() << zipCutShort;
    QTest::newRow("deflate stream cut short")
        << zipOf({{.name = "ios", .content = text, .method = 8, .data = deflated.first(deflated.size() / 2)}})
        << u"ios"_s << QByteArray() << badCompressedData;
    QTest::newRow("deflate stream without its last byte")
        << zipOf({{.name = "ios", .content = text, .method = 8, .data = deflated.chopped(1)}}) << u"ios"_s
        << QByteArray() << badCompressedData;
    QTest::newRow("tiny deflate stream cut short")
        << zipOf({{.name = "ios",
                   .content = ios,
                   .method = 8,
                   .data = ArchiveWriter::deflateRaw(ios).first(3)}})
        << u"ios"_s << QByteArray() << badCompressedData;
    QTest::newRow("deflate stream expanding beyond its recorded size")
        << zipOf({{.name = "ios", .content = text, .method = 8, .expandedSize = quint32(text.size() - 1)}})
        << u"ios"_s << QByteArray() << expandsTooFar;
    QTest::newRow("deflate stream expanding to less than its recorded size")
        << zipOf({{.name = "ios", .content = text, .method = 8, .expandedSize = quint32(text.size() + 1)}})
        << u"ios"_s << QByteArray() << zipWrongSize;
    QTest::newRow("bytes after the end of the deflate stream are not read")
        << zipOf({{.name = "ios", .content = text, .method = 8, .data = deflated + "trailing"}}) << u"ios"_s
        << text << QString();
    QTest::newRow("deflate stream of an empty file")
        << zipOf({{.name = "ios", .content = {}, .method = 8}}) << u"ios"_s << QByteArray() << QString();
    QTest::newRow("deflated entry without compressed bytes")
        << zipOf({{.name = "ios", .content = ios, .method = 8, .data = QByteArray()}}) << u"ios"_s
        << QByteArray() << noCompressedData;
    QTest::newRow("invalid block type")
        << zipOf({{.name = "ios", .content = ios, .method = 8, .data = "\xFF\xFF\xFF\xFF"_ba}}) << u"ios"_s
        << QByteArray() << badCompressedData;
    QTest::newRow("stored block whose length check fails")
        << zipOf({{.name = "ios", .content = ios, .method = 8, .data = "\x01\x05\x00\x00\x00hello"_ba}})
        << u"ios"_s << QByteArray() << badCompressedData;
    QTest::newRow("bzip2 method") << zipOf({{.name = "ios", .content = ios, .method = 12}}) << u"ios"_s
                                  << QByteArray() << zipUnsupported;
    QTest::newRow("21 bytes") << QByteArray("PK\x05\x06", 4) + QByteArray(17, '\0') << u"ios"_s
                              << QByteArray() << zipDamaged;
    QTest::newRow("an empty archive of 22 bytes")
        << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0') << u"ios"_s << QByteArray() << zipMissing;
    QTest::newRow("empty input") << QByteArray() << u"ios"_s << QByteArray() << zipDamaged;
    QTest::newRow("a gzip file") << tarGzipOf({tarFile("ios", ios)}) << u"ios"_s << QByteArray()
                                 << zipDamaged;
}

void TestToolArchive::zipEntry()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, named);
    QFETCH(QByteArray, expected);
    QFETCH(QString, error);

    QByteArray output;
    QCOMPARE(failureOf([&] { return ToolArchive::zipEntry(named, archive); }, &output), error);
    if (error.isEmpty())
        QCOMPARE(output, expected);
}

// Archives spoiled after they were written: offsets, signatures and lengths that no writer would produce.
void TestToolArchive::zipStructure_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("error");

    const QByteArray ios = executable();
    const ArchiveWriter::Zip good = ArchiveWriter::zip({zipFile("LICENSE", "MIT"), zipFile("ios", ios)});
    const qint64 end = good.endRecordOffset;
    const qint64 directorySize = end - good.directoryOffset;
    const qint64 secondRecord = good.centralOffsets.at(1);
    const auto spoiled = [&good](const std::function<void(QByteArray&)>& change) {
        QByteArray bytes = good.bytes;
        change(bytes);
        return bytes;
    };

    QTest::newRow("untouched") << good.bytes << QString();
    QTest::newRow("no end record") << spoiled([end](QByteArray& b) { b[qsizetype(end)] = 'X'; })
                                   << zipDamaged;
    QTest::newRow("only the start of an end record") << good.bytes.first(qsizetype(end + 21)) << zipDamaged;
    QTest::newRow("directory one byte past the end") << spoiled([end, directorySize](QByteArray& b) {
        ArchiveWriter::put32(b, end + 12, quint32(directorySize + 23));
    }) << zipBadStructure;
    QTest::newRow("directory reaching exactly the end") << spoiled([end, directorySize](QByteArray& b) {
        ArchiveWriter::put32(b, end + 12, quint32(directorySize + 22));
    }) << QString();
    QTest::newRow("directory offset and size at their largest") << spoiled([end](QByteArray& b) {
        ArchiveWriter::put32(b, end + 12, 0xFFFFFFFF);
        ArchiveWriter::put32(b, end + 16, 0xFFFFFFFF);
    }) << zipBadStructure;
    QTest::newRow("directory offset past the end") << spoiled([end, &good](QByteArray& b) {
        ArchiveWriter::put32(b, end + 12, 0);
        ArchiveWriter::put32(b, end + 16, quint32(good.bytes.size() + 1));
    }) << zipBadStructure;
    QTest::newRow("empty directory") << spoiled([end](QByteArray& b) {
        ArchiveWriter::put32(b, end + 12, 0);
    }) << zipMissing;
    QTest::newRow("directory too short for the second record")
        << spoiled([end, secondRecord, &good](QByteArray& b) {
               ArchiveWriter::put32(b, end + 12, quint32(secondRecord - good.directoryOffset + 45));
           })
        << zipMissing;
    QTest::newRow("directory ends inside the second name") << spoiled([end, directorySize](QByteArray& b) {
        ArchiveWriter::put32(b, end + 12, quint32(directorySize - 1));
    }) << zipBadRecord;
    QTest::newRow("bad signature of the second record")
        << spoiled([secondRecord](QByteArray& b) { b[qsizetype(secondRecord)] = 'X'; }) << zipBadDirectory;
    QTest::newRow("directory offset pointing at a local header")
        << spoiled([end](QByteArray& b) { ArchiveWriter::put32(b, end + 16, 0); }) << zipBadDirectory;
    QTest::newRow("comment length past the directory")
        << spoiled([secondRecord](QByteArray& b) { ArchiveWriter::put16(b, secondRecord + 32, 0xFFFF); })
        << zipBadRecord;
    QTest::newRow("name length past the directory")
        << spoiled([secondRecord](QByteArray& b) { ArchiveWriter::put16(b, secondRecord + 28, 0xFFFF); })
        << zipBadRecord;
    QTest::newRow("extra length of the first record overrunning") << spoiled([&good](QByteArray& b) {
        ArchiveWriter::put16(b, good.centralOffsets.at(0) + 30, 0xFFFF);
    }) << zipBadRecord;
    QTest::newRow("local offset past the end")
        << spoiled([secondRecord](QByteArray& b) { ArchiveWriter::put32(b, secondRecord + 42, 0xFFFFFFFF); })
        << zipBadLocal;
    QTest::newRow("local header one byte too short") << spoiled([secondRecord, &good](QByteArray& b) {
        ArchiveWriter::put32(b, secondRecord + 42, quint32(good.bytes.size() - 29));
    }) << zipBadLocal;
    QTest::newRow("bad local signature")
        << spoiled([&good](QByteArray& b) { b[qsizetype(good.localOffsets.at(1))] = 'X'; }) << zipBadLocal;
    QTest::newRow("local offset pointing at the central record") << spoiled([secondRecord](QByteArray& b) {
        ArchiveWriter::put32(b, secondRecord + 42, quint32(secondRecord));
    }) << zipBadLocal;
    QTest::newRow("local name and extra lengths at their largest") << spoiled([&good](QByteArray& b) {
        ArchiveWriter::put16(b, good.localOffsets.at(1) + 26, 0xFFFF);
        ArchiveWriter::put16(b, good.localOffsets.at(1) + 28, 0xFFFF);
    }) << zipCutShort;
    QTest::newRow("local sizes and name are not read") << spoiled([&good](QByteArray& b) {
        const qint64 local = good.localOffsets.at(1);
        ArchiveWriter::put32(b, local + 18, 0xFFFFFFFF);
        ArchiveWriter::put32(b, local + 22, 0);
        b[qsizetype(local + 30)] = 'X';
    }) << QString();
    QTest::newRow("data running past the end") << spoiled([secondRecord, &good](QByteArray& b) {
        ArchiveWriter::put32(b, secondRecord + 20, quint32(good.bytes.size()));
    }) << zipCutShort;
}

void TestToolArchive::zipStructure()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, error);

    QByteArray output;
    QCOMPARE(failureOf([&] { return ToolArchive::zipEntry(u"ios"_s, archive); }, &output), error);
    if (error.isEmpty())
        QCOMPARE(output, executable());
}

void TestToolArchive::tarGzipEntry_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("error");

    const QByteArray tool = ipatool();
    const QByteArray text = pseudoText(3000, 2);
    const auto sized = [&tool](const QByteArray& field) {
        return tarGzipOf({{.name = "ipatool", .content = tool, .sizeField = field}});
    };

    QTest::newRow("the release layout")
        << tarGzipOf({{.name = "bin/", .type = '5'}, tarFile("bin/ipatool-2.3.2-macos-arm64", tool)})
        << u"ipatool"_s << tool << QString();
    QTest::newRow("inside several directories")
        << tarGzipOf({tarFile("./release/v2/bin/ipatool-2.3.2-linux-amd64", tool)}) << u"ipatool"_s << tool
        << QString();
    QTest::newRow("asked for by its whole path")
        << tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}) << u"bin/ipatool-2.3.2-macos-arm64"_s
        << tool << QString();
    QTest::newRow("asked for by its last component")
        << tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}) << u"ipatool-2.3.2-macos-arm64"_s
        << tool << QString();
    QTest::newRow("exactly the name at the top level")
        << tarGzipOf({tarFile("ipatool", tool)}) << u"ipatool"_s << tool << QString();
    QTest::newRow("after other files, their data padded")
        << tarGzipOf({tarFile("README.md", text), tarFile("LICENSE", QByteArray(512, 'L')),
                      tarFile("bin/ipatool-2.3.2-macos-arm64", tool)})
        << u"ipatool"_s << tool << QString();
    QTest::newRow("the first match wins") << tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", tool),
                                                        tarFile("bin/ipatool-2.3.1-macos-arm64", "older")})
                                          << u"ipatool"_s << tool << QString();
    QTest::newRow("ustar prefix") << tarGzipOf({{.name = "ipatool-2.3.2-macos-arm64",
                                                 .content = tool,
                                                 .prefix = "very/long/directory/names/that/did/not/fit"}})
                                  << u"ipatool"_s << tool << QString();
    QTest::newRow("ustar prefix and name joined into the path")
        << tarGzipOf({{.name = "bin/ipatool-2.3.2", .content = tool, .prefix = "release"}})
        << u"release/bin/ipatool-2.3.2"_s << tool << QString();
    QTest::newRow("a name filling its whole field")
        << tarGzipOf({tarFile(QByteArray(92, 'd') + "/ipatool", tool)}) << u"ipatool"_s << tool << QString();
    QTest::newRow("a prefix filling its whole field")
        << tarGzipOf({{.name = "ipatool", .content = tool, .prefix = QByteArray(155, 'p')}})
        << QString(155, u'p') + u"/ipatool"_s << tool << QString();
    QTest::newRow("an old-style regular file")
        << tarGzipOf({{.name = "ipatool", .content = tool, .type = '\0'}}) << u"ipatool"_s << tool
        << QString();
    QTest::newRow("an empty file") << tarGzipOf({tarFile("ipatool", {})}) << u"ipatool"_s << QByteArray()
                                   << QString();
    QTest::newRow("a pax header skipped by its size")
        << tarGzipOf({{.name = "pax_global_header",
                       .content = "512 comment=" + QByteArray(499, 'a') + '\n' +
                                  ArchiveWriter::tarHeader(tarFile("ipatool", "inside the extended header")),
                       .type = 'g'},
                      tarFile("bin/ipatool-2.3.2-macos-arm64", tool)})
        << u"ipatool"_s << tool << QString();
    QTest::newRow("a file's pax header named after the file (bsdtar)")
        << tarGzipOf({{.name = "bin/PaxHeader/ipatool-2.3.2-macos-arm64",
                       .content = "30 mtime=1733560000.123456789\n",
                       .type = 'x'},
                      tarFile("bin/ipatool-2.3.2-macos-arm64", tool)})
        << u"ipatool"_s << tool << QString();
    QTest::newRow("a file's pax header named after the file (GNU tar)")
        << tarGzipOf(
               {{.name = "./PaxHeaders/ipatool", .content = "30 mtime=1733560000.123456789\n", .type = 'x'},
                tarFile("ipatool", tool)})
        << u"ipatool"_s << tool << QString();
    QTest::newRow("a GNU long name skipped by its size")
        << tarGzipOf({{.name = "././@LongLink", .content = QByteArray(600, 'n'), .type = 'L'},
                      tarFile("bin/ipatool-2.3.2-macos-arm64", tool)})
        << u"ipatool"_s << tool << QString();
    QTest::newRow("not followed by a dash")
        << tarGzipOf({tarFile("bin/ipatool_2.3.2", tool), tarFile("bin/ipatools", tool)}) << u"ipatool"_s
        << QByteArray() << tarMissing;
    QTest::newRow("the name inside a component")
        << tarGzipOf({tarFile("bin/my-ipatool-2", tool), tarFile("ipatool-2/README", tool)}) << u"ipatool"_s
        << QByteArray() << tarMissing;
    QTest::newRow("names are case-sensitive")
        << tarGzipOf({tarFile("bin/IPATool-2.3.2", tool)}) << u"ipatool"_s << QByteArray() << tarMissing;
    QTest::newRow("another name missing, the same message")
        << tarGzipOf({tarFile("bin/ipatool-2.3.2", tool)}) << u"ios"_s << QByteArray() << tarMissing;
    QTest::newRow("invalid UTF-8 becomes U+FFFD")
        << tarGzipOf({tarFile("bin/\xFFipatool", tool)}) << u"bin/\uFFFDipatool"_s << tool << QString();
    QTest::newRow("a symbolic link") << tarGzipOf({{.name = "bin/ipatool-2.3.2-macos-arm64", .type = '2'}})
                                     << u"ipatool"_s << QByteArray() << tarNotRegular;
    QTest::newRow("a hard link") << tarGzipOf({{.name = "bin/ipatool-2.3.2-macos-arm64", .type = '1'}})
                                 << u"ipatool"_s << QByteArray() << tarNotRegular;
    QTest::newRow("a directory named ipatool")
        << tarGzipOf({{.name = "ipatool", .type = '5'}, tarFile("ipatool/ipatool", tool)}) << u"ipatool"_s
        << QByteArray() << tarNotRegular;
    QTest::newRow("a directory named ipatool with its trailing slash")
        << tarGzipOf({{.name = "bin/ipatool/", .type = '5'}, tarFile("bin/ipatool/ipatool", tool)})
        << u"ipatool"_s << QByteArray() << tarNotRegular;
    QTest::newRow("a contiguous file") << tarGzipOf({{.name = "ipatool", .content = tool, .type = '7'}})
                                       << u"ipatool"_s << QByteArray() << tarNotRegular;
    QTest::newRow("after the end-of-archive marker")
        << ArchiveWriter::gzip(ArchiveWriter::tar({tarFile("README", text)}) +
                               ArchiveWriter::tar({tarFile("ipatool", tool)}))
        << u"ipatool"_s << QByteArray() << tarMissing;
    QTest::newRow("no end-of-archive marker")
        << ArchiveWriter::gzip(ArchiveWriter::tar({tarFile("README", text)}, false)) << u"ipatool"_s
        << QByteArray() << tarMissing;
    QTest::newRow("a header cut short")
        << ArchiveWriter::gzip(ArchiveWriter::tarHeader(tarFile("ipatool", {})).first(511)) << u"ipatool"_s
        << QByteArray() << tarMissing;
    QTest::newRow("an empty tar") << ArchiveWriter::gzip({}) << u"ipatool"_s << QByteArray() << tarMissing;
    QTest::newRow("data running past the end")
        << ArchiveWriter::gzip(
               ArchiveWriter::tar({tarFile("ipatool", tool)}, false).first(512 + tool.size() - 1))
        << u"ipatool"_s << QByteArray() << tarBadRecord;
    QTest::newRow("data past the end of a file not asked for")
        << ArchiveWriter::gzip(ArchiveWriter::tar({tarFile("README", text)}, false).first(1024))
        << u"ipatool"_s << QByteArray() << tarBadRecord;

    QTest::newRow("size with white space around")
        << sized("  " + ArchiveWriter::octal(tool.size(), 3).chopped(1) + " \n") << u"ipatool"_s << tool
        << QString();
    QTest::newRow("size with a plus sign")
        << sized("+" + QByteArray::number(tool.size(), 8)) << u"ipatool"_s << tool << QString();
    QTest::newRow("size filling its field without a zero")
        << sized(ArchiveWriter::octal(tool.size(), 12).chopped(1)) << u"ipatool"_s << tool << QString();
    QTest::newRow("size of minus zero")
        << tarGzipOf({{.name = "ipatool", .sizeField = "-0"}}) << u"ipatool"_s << QByteArray() << QString();
    QTest::newRow("negative size") << sized("-1") << u"ipatool"_s << QByteArray() << tarBadRecord;
    QTest::newRow("empty size") << sized(QByteArray(12, '\0')) << u"ipatool"_s << QByteArray()
                                << tarBadRecord;
    QTest::newRow("size of spaces") << sized(QByteArray(11, ' ')) << u"ipatool"_s << QByteArray()
                                    << tarBadRecord;
    QTest::newRow("a sign alone") << sized("+") << u"ipatool"_s << QByteArray() << tarBadRecord;
    QTest::newRow("a decimal digit") << sized("00000000038") << u"ipatool"_s << QByteArray() << tarBadRecord;
    QTest::newRow("space inside the size")
        << sized("0000 000046") << u"ipatool"_s << QByteArray() << tarBadRecord;
    QTest::newRow("base-256 size") << sized("\x80\0\0\0\0\0\0\0\0\0\0\x26"_ba) << u"ipatool"_s << QByteArray()
                                   << tarBadRecord;
    QTest::newRow("the largest size the field holds")
        << sized("77777777777") << u"ipatool"_s << QByteArray() << tarBadRecord;
    QTest::newRow("a bad size in an entry not asked for")
        << tarGzipOf({{.name = "README", .content = text, .sizeField = "x"}, tarFile("ipatool", tool)})
        << u"ipatool"_s << QByteArray() << tarBadRecord;
}

void TestToolArchive::tarGzipEntry()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, named);
    QFETCH(QByteArray, expected);
    QFETCH(QString, error);

    QByteArray output;
    QCOMPARE(failureOf([&] { return ToolArchive::tarGzipEntry(named, archive); }, &output), error);
    if (error.isEmpty())
        QCOMPARE(output, expected);
}

void TestToolArchive::gzipWrapper_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("error");

    const QByteArray tar = ArchiveWriter::tar({tarFile("bin/ipatool-2.3.2-macos-arm64", ipatool())});
    const QByteArray good = ArchiveWriter::gzip(tar);
    const QByteArray deflated = ArchiveWriter::deflateRaw(tar);
    const auto header = [](quint8 flags) -> QByteArray {
        return QByteArray("\x1F\x8B\x08", 3) + char(flags) + QByteArray(6, '\0');
    };
    const auto trailer = [&tar](quint32 size) {
        QByteArray bytes;
        ArchiveWriter::append32(bytes, ArchiveWriter::crc(tar));
        ArchiveWriter::append32(bytes, size);
        return bytes;
    };

    QTest::newRow("plain") << good << QString();
    QTest::newRow("with a file name")
        << ArchiveWriter::gzip(tar, {.flags = ArchiveWriter::gzipName, .name = "ipatool.tar"}) << QString();
    QTest::newRow("with an empty file name")
        << ArchiveWriter::gzip(tar, {.flags = ArchiveWriter::gzipName}) << QString();
    QTest::newRow("with a comment") << ArchiveWriter::gzip(
                                           tar, {.flags = ArchiveWriter::gzipComment, .comment = "release"})
                                    << QString();
    QTest::newRow("with a header checksum")
        << ArchiveWriter::gzip(tar, {.flags = ArchiveWriter::gzipHeaderChecksum}) << QString();
    QTest::newRow("with an extra field")
        << ArchiveWriter::gzip(tar, {.flags = ArchiveWriter::gzipExtra, .extra = "AB\x04\0\0\0\0\0"_ba})
        << QString();
    QTest::newRow("with an extra field holding zero bytes and every optional field")
        << ArchiveWriter::gzip(tar, {.flags = ArchiveWriter::gzipExtra | ArchiveWriter::gzipName |
                                              ArchiveWriter::gzipComment | ArchiveWriter::gzipHeaderChecksum,
                                     .extra = QByteArray(300, '\0'),
                                     .name = "ipatool.tar",
                                     .comment = "comment"})
        << QString();
    QTest::newRow("reserved flags are ignored") << ArchiveWriter::gzip(tar, {.flags = 0xE0}) << QString();
    // The trailer read is the last one, so the second member expands to as many bytes as the first.
    QTest::newRow("a second member is not read")
        << good + ArchiveWriter::gzip(ArchiveWriter::tar({tarFile("ipatool", "second")})) << QString();
    QTest::newRow("ISIZE above the true size")
        << ArchiveWriter::gzip(tar, {.expandedSize = quint32(tar.size() + 1)}) << QString();
    QTest::newRow("ISIZE at the limit")
        << ArchiveWriter::gzip(tar, {.expandedSize = largestExecutable}) << QString();
    QTest::newRow("ISIZE one above the limit")
        << ArchiveWriter::gzip(tar, {.expandedSize = largestExecutable + 1}) << gzipTooLarge;
    QTest::newRow("ISIZE at its largest")
        << ArchiveWriter::gzip(tar, {.expandedSize = 0xFFFFFFFF}) << gzipTooLarge;
    QTest::newRow("ISIZE below the true size")
        << ArchiveWriter::gzip(tar, {.expandedSize = quint32(tar.size() - 1)}) << expandsTooFar;
    QTest::newRow("ISIZE of zero") << ArchiveWriter::gzip(tar, {.expandedSize = 0}) << expandsTooFar;
    QTest::newRow("17 bytes") << good.first(17) << gzipDamaged;
    QTest::newRow("empty input") << QByteArray() << gzipDamaged;
    QTest::newRow("18 bytes, no compressed data") << header(0) + trailer(0) << gzipBadHeader;
    QTest::newRow("19 bytes, one compressed byte") << header(0) + '\x03' + trailer(0) << badCompressedData;
    QTest::newRow("wrong first byte") << "\x1E" + good.sliced(1) << gzipDamaged;
    QTest::newRow("wrong second byte") << "\x1F\x8A" + good.sliced(2) << gzipDamaged;
    QTest::newRow("method other than deflate") << ArchiveWriter::gzip(tar, {.method = 7}) << gzipDamaged;
    QTest::newRow("a zip file") << zipOf({zipFile("ios", executable())}) << gzipDamaged;
    QTest::newRow("FNAME and no terminator")
        << header(ArchiveWriter::gzipName) + QByteArray(40, 'n') + trailer(quint32(tar.size()))
        << gzipBadHeader;
    QTest::newRow("FNAME ending just before the trailer")
        << header(ArchiveWriter::gzipName) + QByteArray(40, 'n') + '\0' + trailer(quint32(tar.size()))
        << gzipBadHeader;
    QTest::newRow("FCOMMENT and no terminator")
        << header(ArchiveWriter::gzipComment) + QByteArray(40, 'c') + trailer(quint32(tar.size()))
        << gzipBadHeader;
    QTest::newRow("FHCRC running into the trailer")
        << header(ArchiveWriter::gzipHeaderChecksum) + '\x03' + trailer(0) << gzipBadHeader;
    QTest::newRow("FEXTRA longer than the file")
        << header(ArchiveWriter::gzipExtra) + "\xFF\xFF"_ba + deflated + trailer(quint32(tar.size()))
        << gzipBadHeader;
    QTest::newRow("FEXTRA with FNAME both past the end")
        << header(ArchiveWriter::gzipExtra | ArchiveWriter::gzipName | ArchiveWriter::gzipComment) +
               "\xFF\xFF"_ba + trailer(0)
        << gzipBadHeader;
    QTest::newRow("deflate stream cut short")
        << header(0) + deflated.first(deflated.size() / 2) + trailer(quint32(tar.size()))
        << badCompressedData;
    QTest::newRow("garbage for deflate data")
        << header(0) + QByteArray(64, '\xFF') + trailer(quint32(tar.size())) << badCompressedData;
}

void TestToolArchive::gzipWrapper()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, error);

    QByteArray output;
    QCOMPARE(failureOf([&] { return ToolArchive::tarGzipEntry(u"ipatool"_s, archive); }, &output), error);
    if (error.isEmpty())
        QCOMPARE(output, ipatool());
}

// Entries far larger than one decompression step, in either archive, and with the wanted file either
// most of a tar or a small part of it.
void TestToolArchive::largeEntriesCrossManySteps_data()
{
    QTest::addColumn<bool>("zip");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray text = pseudoText(3'000'000, 3);
    const QByteArray noise = pseudoRandom(1'000'000, 4);
    QTest::newRow("zip, deflated text")
        << true << zipOf({{.name = "ios", .content = text, .method = 8}}) << u"ios"_s << text;
    QTest::newRow("zip, deflated noise")
        << true << zipOf({{.name = "ios", .content = noise, .method = 8}}) << u"ios"_s << noise;
    QTest::newRow("zip, stored noise")
        << true << zipOf({zipFile("README", text), zipFile("ios", noise)}) << u"ios"_s << noise;
    QTest::newRow("tar.gz, the file most of the archive")
        << false << tarGzipOf({tarFile("README", "read me"), tarFile("bin/ipatool-2.3.2-macos-arm64", text)})
        << u"ipatool"_s << text;
    QTest::newRow("tar.gz, the file a small part of the archive")
        << false << tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", noise), tarFile("share/data", text)})
        << u"ipatool"_s << noise;
}

void TestToolArchive::largeEntriesCrossManySteps()
{
    QFETCH(bool, zip);
    QFETCH(QByteArray, archive);
    QFETCH(QString, named);
    QFETCH(QByteArray, expected);

    const QByteArray output =
        zip ? ToolArchive::zipEntry(named, archive) : ToolArchive::tarGzipEntry(named, archive);
    QCOMPARE(output.size(), expected.size());
    QVERIFY(output == expected);
}

// The fuzzer's seeds, written by Python's zipfile, tarfile and gzip modules.
void TestToolArchive::archivesOfAnotherWriter_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("error");

    const QByteArray ios = QByteArray("\xCF\xFA\xED\xFE ios ").repeated(6);
    const QByteArray tool = QByteArray("\x7F"
                                       "ELF ipatool ")
                                .repeated(6);
    QTest::newRow("go-ios for macOS") << u"go-ios-mac.zip"_s << u"ios"_s << ios << QString();
    QTest::newRow("go-ios for Linux") << u"go-ios-linux.zip"_s << u"ios"_s << QByteArray() << zipMissing;
    QTest::newRow("go-ios for Linux, by its own name")
        << u"go-ios-linux.zip"_s << u"ios-arm64"_s << ios << QString();
    QTest::newRow("stored, with a comment") << u"stored.zip"_s << u"ios"_s << ios << QString();
    QTest::newRow("ipatool for macOS")
        << u"ipatool-macos-arm64.tar.gz"_s << u"ipatool"_s << tool << QString();
    // The long path lives in a pax record, which is not read; the ustar name holds its first 100 bytes.
    QTest::newRow("a path only a pax record holds")
        << u"ipatool-pax.tar.gz"_s << u"ipatool"_s << QByteArray() << tarMissing;
    QTest::newRow("a symbolic link in GNU format")
        << u"ipatool-link.tar.gz"_s << u"ipatool"_s << QByteArray() << tarNotRegular;
}

void TestToolArchive::archivesOfAnotherWriter()
{
    QFETCH(QString, file);
    QFETCH(QString, named);
    QFETCH(QByteArray, expected);
    QFETCH(QString, error);

    QFile archive(QStringLiteral(SEED_CORPUS_DIR) + u'/' + file);
    QVERIFY2(archive.open(QIODevice::ReadOnly), qPrintable(archive.errorString()));
    const QByteArray data = archive.readAll();
    QByteArray output;
    QCOMPARE(failureOf(
                 [&] {
                     return file.endsWith(u".zip"_s) ? ToolArchive::zipEntry(named, data)
                                                     : ToolArchive::tarGzipEntry(named, data);
                 },
                 &output),
             error);
    if (error.isEmpty())
        QCOMPARE(output, expected);
}

void TestToolArchive::everyFailureIsAMessage()
{
    try {
        ToolArchive::zipEntry(u"ios"_s, QByteArray(21, 'x'));
        QFAIL("no failure");
    } catch (const MirvoError& error) {
        QCOMPARE(error.kind(), MirvoError::Kind::Message);
        QCOMPARE(error.payload(), zipDamaged);
        QCOMPARE(QString::fromUtf8(error.what()), zipDamaged);
    }
    try {
        ToolArchive::tarGzipEntry(u"ipatool"_s, QByteArray(17, 'x'));
        QFAIL("no failure");
    } catch (const MirvoError& error) {
        QCOMPARE(error.kind(), MirvoError::Kind::Message);
        QCOMPARE(error.payload(), gzipDamaged);
    }
}

QTEST_GUILESS_MAIN(TestToolArchive)
#include "tst_toolarchive.moc"
