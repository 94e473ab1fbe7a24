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

QByteArray seed(const QString& file)
{
    QFile archive(QStringLiteral(SEED_CORPUS_DIR) + u'/' + file);
    return archive.open(QIODevice::ReadOnly) ? archive.readAll() : QByteArray();
}

// Rows of the extraction tables; an empty `named` asks for the table's tool, "ios" or "ipatool".
void addColumns()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("error");
}

void gives(const char* row, const QByteArray& archive, const QByteArray& expected, const QString& named = {})
{
    QTest::newRow(row) << archive << named << expected << QString();
}

void fails(const char* row, const QByteArray& archive, const QString& error, const QString& named = {})
{
    QTest::newRow(row) << archive << named << QByteArray() << error;
}

// Every failure must be a MirvoError of the message kind with the expected text.
void checkExtraction(QByteArray (*extract)(const QString&, const QByteArray&), const QString& tool)
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, named);
    QFETCH(QByteArray, expected);
    QFETCH(QString, error);
    QString failure;
    QByteArray output;
    try {
        output = extract(named.isEmpty() ? tool : named, archive);
    } catch (const MirvoError& thrown) {
        failure =
            thrown.kind() == MirvoError::Kind::Message ? thrown.errorDescription() : u"<not a message>"_s;
    }
    QCOMPARE(failure, error);
    QCOMPARE(output.size(), expected.size());
    QVERIFY(output == expected); // without printing megabytes
}

} // namespace

class TestToolArchive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void zipEntry_data();
    void zipEntry() { checkExtraction(&ToolArchive::zipEntry, u"ios"_s); }
    void zipStructure_data();
    void zipStructure() { checkExtraction(&ToolArchive::zipEntry, u"ios"_s); }
    void tarGzipEntry_data();
    void tarGzipEntry() { checkExtraction(&ToolArchive::tarGzipEntry, u"ipatool"_s); }
    void gzipWrapper_data();
    void gzipWrapper() { checkExtraction(&ToolArchive::tarGzipEntry, u"ipatool"_s); }
};

void TestToolArchive::zipEntry_data()
{
    addColumns();
    const QByteArray ios = executable();
    const QByteArray text = pseudoText(200'000, 1);
    const QByteArray deflated = ArchiveWriter::deflateRaw(text);
    const auto deflatedIOS = [&text](ArchiveWriter::ZipEntry entry) {
        entry.name = "ios";
        entry.content = text;
        entry.method = 8;
        return zipOf({entry});
    };

    gives("stored at the top level", zipOf({zipFile("ios", ios)}), ios);
    gives("deflated at the top level", deflatedIOS({}), text);
    gives("after other entries with extra fields and comments",
          zipOf({{.name = "LICENSE",
                  .content = "MIT",
                  .extra = "\x55\x54\x05\x00\x01\x00\x00\x00\x00"_ba,
                  .comment = "licence"},
                 {.name = "docs/", .content = {}},
                 {.name = "ios", .content = text, .method = 8, .localExtra = QByteArray(17, 'x')}}),
          text);
    gives("the first of two entries of that name wins",
          zipOf({zipFile("ios", "first"), zipFile("ios", "second")}), "first");
    gives("an empty stored file", zipOf({zipFile("ios", {})}), {});
    gives("comment of 65,535 bytes", zipOf({zipFile("ios", ios)}, QByteArray(65'535, 'c')), ios);
    fails("comment of 65,536 bytes", zipOf({zipFile("ios", ios)}, QByteArray(65'536, 'c')), zipDamaged);
    fails("bin/ios asked for as ios", zipOf({zipFile("bin/ios", ios)}), zipMissing);
    gives("a UTF-8 path asked for whole", zipOf({zipFile("инструменты/ios", ios)}), ios,
          u"инструменты/ios"_s);
    fails("names are case-sensitive", zipOf({zipFile("IOS", ios)}), zipMissing);
    fails("a name that is not UTF-8 matches nothing", zipOf({zipFile("\xFFios", ios)}), zipMissing,
          u"\uFFFDios"_s);
    fails("stored with differing sizes",
          zipOf({{.name = "ios", .content = ios, .expandedSize = quint32(ios.size() + 1)}}), zipWrongSize);
    fails("stored, the recorded size at the limit",
          zipOf({{.name = "ios", .content = ios, .expandedSize = largestExecutable}}), zipWrongSize);
    fails("the recorded size one byte over the limit",
          zipOf({{.name = "ios", .content = ios, .expandedSize = largestExecutable + 1}}), zipTooLarge);
    fails("ZIP64 placeholder for the size", deflatedIOS({.expandedSize = 0xFFFFFFFF}), zipTooLarge);
    fails("ZIP64 placeholder for the compressed size", deflatedIOS({.compressedSize = 0xFFFFFFFF}),
          zipCutShort);
    fails("deflate stream without its last byte", deflatedIOS({.data = deflated.chopped(1)}),
          badCompressedData);
    fails("deflate stream expanding beyond its recorded size",
          deflatedIOS({.expandedSize = quint32(text.size() - 1)}), expandsTooFar);
    fails("deflate stream expanding to less than its recorded size",
          deflatedIOS({.expandedSize = quint32(text.size() + 1)}), zipWrongSize);
    gives("bytes after the end of the deflate stream are not read",
          deflatedIOS({.data = deflated + "trailing"}), text);
    gives("deflate stream of an empty file", zipOf({{.name = "ios", .content = {}, .method = 8}}), {});
    fails("deflated entry without compressed bytes",
          zipOf({{.name = "ios", .content = ios, .method = 8, .data = QByteArray()}}), noCompressedData);
    fails("invalid block type",
          zipOf({{.name = "ios", .content = ios, .method = 8, .data = "\xFF\xFF\xFF\xFF"_ba}}),
          badCompressedData);
    fails("bzip2 method", zipOf({{.name = "ios", .content = ios, .method = 12}}), zipUnsupported);
    fails("21 bytes", QByteArray("PK\x05\x06", 4) + QByteArray(17, '\0'), zipDamaged);
    fails("an empty archive of 22 bytes", QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'), zipMissing);

    // Far larger than one decompression step.
    const QByteArray largeText = pseudoText(3'000'000, 3);
    const QByteArray noise = pseudoRandom(1'000'000, 4);
    gives("large, deflated text", zipOf({{.name = "ios", .content = largeText, .method = 8}}), largeText);
    gives("large, stored noise", zipOf({zipFile("README", largeText), zipFile("ios", noise)}), noise);

    // The fuzzer's seeds, written by Python's zipfile module.
    const QByteArray seedIOS = QByteArray("\xCF\xFA\xED\xFE ios ").repeated(6);
    gives("seed: go-ios for macOS", seed(u"go-ios-mac.zip"_s), seedIOS);
    gives("seed: go-ios for Linux, by its own name", seed(u"go-ios-linux.zip"_s), seedIOS, u"ios-arm64"_s);
    gives("seed: stored, with a comment", seed(u"stored.zip"_s), seedIOS);
}

// Archives spoiled after they were written: offsets, signatures and lengths that no writer would produce.
void TestToolArchive::zipStructure_data()
{
    addColumns();
    const ArchiveWriter::Zip good =
        ArchiveWriter::zip({zipFile("LICENSE", "MIT"), zipFile("ios", executable())});
    const qint64 end = good.endRecordOffset;
    const qint64 directorySize = end - good.directoryOffset;
    const qint64 second = good.centralOffsets.at(1);
    const qint64 local = good.localOffsets.at(1);
    const auto spoiled = [&good](const std::function<void(QByteArray&)>& change) {
        QByteArray bytes = good.bytes;
        change(bytes);
        return bytes;
    };
    using W = ArchiveWriter;

    fails("no end record", spoiled([&](QByteArray& b) { b[qsizetype(end)] = 'X'; }), zipDamaged);
    fails("directory one byte past the end",
          spoiled([&](QByteArray& b) { W::put32(b, end + 12, quint32(directorySize + 23)); }),
          zipBadStructure);
    gives("directory reaching exactly the end",
          spoiled([&](QByteArray& b) { W::put32(b, end + 12, quint32(directorySize + 22)); }), executable());
    fails("directory offset and size at their largest", spoiled([&](QByteArray& b) {
              W::put32(b, end + 12, 0xFFFFFFFF);
              W::put32(b, end + 16, 0xFFFFFFFF);
          }),
          zipBadStructure);
    fails("directory offset past the end", spoiled([&](QByteArray& b) {
              W::put32(b, end + 12, 0);
              W::put32(b, end + 16, quint32(good.bytes.size() + 1));
          }),
          zipBadStructure);
    fails("empty directory", spoiled([&](QByteArray& b) { W::put32(b, end + 12, 0); }), zipMissing);
    fails("directory too short for the second record",
          spoiled([&](QByteArray& b) { W::put32(b, end + 12, quint32(second - good.directoryOffset + 45)); }),
          zipMissing);
    fails("directory ends inside the second name",
          spoiled([&](QByteArray& b) { W::put32(b, end + 12, quint32(directorySize - 1)); }), zipBadRecord);
    fails("bad signature of the second record", spoiled([&](QByteArray& b) { b[qsizetype(second)] = 'X'; }),
          zipBadDirectory);
    fails("name length past the directory", spoiled([&](QByteArray& b) { W::put16(b, second + 28, 0xFFFF); }),
          zipBadRecord);
    fails("extra length of the first record overrunning",
          spoiled([&](QByteArray& b) { W::put16(b, good.centralOffsets.at(0) + 30, 0xFFFF); }), zipBadRecord);
    fails("local offset past the end", spoiled([&](QByteArray& b) { W::put32(b, second + 42, 0xFFFFFFFF); }),
          zipBadLocal);
    fails("local header one byte too short",
          spoiled([&](QByteArray& b) { W::put32(b, second + 42, quint32(good.bytes.size() - 29)); }),
          zipBadLocal);
    fails("bad local signature", spoiled([&](QByteArray& b) { b[qsizetype(local)] = 'X'; }), zipBadLocal);
    fails("local name and extra lengths at their largest", spoiled([&](QByteArray& b) {
              W::put16(b, local + 26, 0xFFFF);
              W::put16(b, local + 28, 0xFFFF);
          }),
          zipCutShort);
    gives("local sizes and name are not read", spoiled([&](QByteArray& b) {
              W::put32(b, local + 18, 0xFFFFFFFF);
              W::put32(b, local + 22, 0);
              b[qsizetype(local + 30)] = 'X';
          }),
          executable());
    fails("data running past the end",
          spoiled([&](QByteArray& b) { W::put32(b, second + 20, quint32(good.bytes.size())); }), zipCutShort);
}

void TestToolArchive::tarGzipEntry_data()
{
    addColumns();
    const QByteArray tool = ipatool();
    const QByteArray text = pseudoText(3000, 2);
    const auto sized = [&tool](const QByteArray& field) {
        return tarGzipOf({{.name = "ipatool", .content = tool, .sizeField = field}});
    };
    const auto tarOnly = [](const QByteArray& tar) { return ArchiveWriter::gzip(tar); };

    gives("the release layout",
          tarGzipOf({{.name = "bin/", .type = '5'}, tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}), tool);
    gives("inside several directories",
          tarGzipOf({tarFile("./release/v2/bin/ipatool-2.3.2-linux-amd64", tool)}), tool);
    gives("asked for by its whole path", tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}), tool,
          u"bin/ipatool-2.3.2-macos-arm64"_s);
    gives("exactly the name at the top level", tarGzipOf({tarFile("ipatool", tool)}), tool);
    gives("after other files, their data padded",
          tarGzipOf({tarFile("README.md", text), tarFile("LICENSE", QByteArray(512, 'L')),
                     tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}),
          tool);
    gives("the first match wins",
          tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", tool),
                     tarFile("bin/ipatool-2.3.1-macos-arm64", "older")}),
          tool);
    gives("ustar prefix",
          tarGzipOf({{.name = "ipatool-2.3.2-macos-arm64",
                      .content = tool,
                      .prefix = "very/long/directory/names/that/did/not/fit"}}),
          tool);
    gives("ustar prefix and name joined into the path",
          tarGzipOf({{.name = "bin/ipatool-2.3.2", .content = tool, .prefix = "release"}}), tool,
          u"release/bin/ipatool-2.3.2"_s);
    gives("a name filling its whole field", tarGzipOf({tarFile(QByteArray(92, 'd') + "/ipatool", tool)}),
          tool);
    gives("a prefix filling its whole field",
          tarGzipOf({{.name = "ipatool", .content = tool, .prefix = QByteArray(155, 'p')}}), tool,
          QString(155, u'p') + u"/ipatool"_s);
    gives("an old-style regular file", tarGzipOf({{.name = "ipatool", .content = tool, .type = '\0'}}), tool);
    gives("a pax header skipped by its size",
          tarGzipOf({{.name = "pax_global_header",
                      .content = "512 comment=" + QByteArray(499, 'a') + '\n' +
                                 ArchiveWriter::tarHeader(tarFile("ipatool", "inside the extended header")),
                      .type = 'g'},
                     tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}),
          tool);
    // A file's own pax header, named after the file, is no executable (bsdtar's and GNU tar's naming).
    gives("a file's pax header named after the file (bsdtar)",
          tarGzipOf({{.name = "bin/PaxHeader/ipatool-2.3.2-macos-arm64",
                      .content = "30 mtime=1733560000.123456789\n",
                      .type = 'x'},
                     tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}),
          tool);
    gives("a file's pax header named after the file (GNU tar)",
          tarGzipOf(
              {{.name = "./PaxHeaders/ipatool", .content = "30 mtime=1733560000.123456789\n", .type = 'x'},
               tarFile("ipatool", tool)}),
          tool);
    gives("a GNU long name skipped by its size",
          tarGzipOf({{.name = "././@LongLink", .content = QByteArray(600, 'n'), .type = 'L'},
                     tarFile("bin/ipatool-2.3.2-macos-arm64", tool)}),
          tool);
    fails("not followed by a dash, or another case",
          tarGzipOf({tarFile("bin/ipatool_2.3.2", tool), tarFile("bin/ipatools", tool),
                     tarFile("bin/IPATool-2.3.2", tool)}),
          tarMissing);
    fails("the name inside a component",
          tarGzipOf({tarFile("bin/my-ipatool-2", tool), tarFile("ipatool-2/README", tool)}), tarMissing);
    gives("invalid UTF-8 becomes U+FFFD", tarGzipOf({tarFile("bin/\xFFipatool", tool)}), tool,
          u"bin/\uFFFDipatool"_s);
    fails("a symbolic link", tarGzipOf({{.name = "bin/ipatool-2.3.2-macos-arm64", .type = '2'}}),
          tarNotRegular);
    fails("a directory named ipatool",
          tarGzipOf({{.name = "ipatool", .type = '5'}, tarFile("ipatool/ipatool", tool)}), tarNotRegular);
    fails("a directory named ipatool with its trailing slash",
          tarGzipOf({{.name = "bin/ipatool/", .type = '5'}, tarFile("bin/ipatool/ipatool", tool)}),
          tarNotRegular);
    fails("after the end-of-archive marker",
          tarOnly(ArchiveWriter::tar({tarFile("README", text)}) +
                  ArchiveWriter::tar({tarFile("ipatool", tool)})),
          tarMissing);
    fails("no end-of-archive marker", tarOnly(ArchiveWriter::tar({tarFile("README", text)}, false)),
          tarMissing);
    fails("a header cut short", tarOnly(ArchiveWriter::tarHeader(tarFile("ipatool", {})).first(511)),
          tarMissing);
    fails("data running past the end",
          tarOnly(ArchiveWriter::tar({tarFile("ipatool", tool)}, false).first(512 + tool.size() - 1)),
          tarBadRecord);
    fails("data past the end of a file not asked for",
          tarOnly(ArchiveWriter::tar({tarFile("README", text)}, false).first(1024)), tarBadRecord);

    gives("size with white space around",
          sized("  " + ArchiveWriter::octal(tool.size(), 3).chopped(1) + " \n"), tool);
    gives("size filling its field without a zero", sized(ArchiveWriter::octal(tool.size(), 12).chopped(1)),
          tool);
    fails("negative size", sized("-1"), tarBadRecord);
    fails("empty size", sized(QByteArray(12, '\0')), tarBadRecord);
    fails("a decimal digit", sized("00000000038"), tarBadRecord);
    fails("base-256 size", sized("\x80\0\0\0\0\0\0\0\0\0\0\x26"_ba), tarBadRecord);
    fails("the largest size the field holds", sized("77777777777"), tarBadRecord);
    fails("a bad size in an entry not asked for",
          tarGzipOf({{.name = "README", .content = text, .sizeField = "x"}, tarFile("ipatool", tool)}),
          tarBadRecord);

    const QByteArray largeText = pseudoText(3'000'000, 3);
    const QByteArray noise = pseudoRandom(1'000'000, 4);
    gives("large, the file most of the archive",
          tarGzipOf({tarFile("README", "read me"), tarFile("bin/ipatool-2.3.2-macos-arm64", largeText)}),
          largeText);
    gives("large, the file a small part of the archive",
          tarGzipOf({tarFile("bin/ipatool-2.3.2-macos-arm64", noise), tarFile("share/data", largeText)}),
          noise);

    // The fuzzer's seeds, written by Python's tarfile and gzip modules.
    gives("seed: ipatool for macOS", seed(u"ipatool-macos-arm64.tar.gz"_s),
          QByteArray("\x7F"
                     "ELF ipatool ")
              .repeated(6));
    // The long path lives in a pax record, which is not read; the ustar name holds its first 100 bytes.
    fails("seed: a path only a pax record holds", seed(u"ipatool-pax.tar.gz"_s), tarMissing);
    fails("seed: a symbolic link in GNU format", seed(u"ipatool-link.tar.gz"_s), tarNotRegular);
}

void TestToolArchive::gzipWrapper_data()
{
    addColumns();
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
    const auto gzip = [&tar](const Gzip& options) { return ArchiveWriter::gzip(tar, options); };
    const QByteArray tool = ipatool();

    gives("every optional field, the extra one of zero bytes",
          gzip({.flags = ArchiveWriter::gzipExtra | ArchiveWriter::gzipName | ArchiveWriter::gzipComment |
                         ArchiveWriter::gzipHeaderChecksum,
                .extra = QByteArray(300, '\0'),
                .name = "ipatool.tar",
                .comment = "comment"}),
          tool);
    gives("reserved flags are ignored", gzip({.flags = 0xE0}), tool);
    // The trailer read is the last one, so the second member expands to as many bytes as the first.
    gives("a second member is not read",
          good + ArchiveWriter::gzip(ArchiveWriter::tar({tarFile("ipatool", "second")})), tool);
    gives("ISIZE above the true size", gzip({.expandedSize = quint32(tar.size() + 1)}), tool);
    gives("ISIZE at the limit", gzip({.expandedSize = largestExecutable}), tool);
    fails("ISIZE one above the limit", gzip({.expandedSize = largestExecutable + 1}), gzipTooLarge);
    fails("ISIZE below the true size", gzip({.expandedSize = quint32(tar.size() - 1)}), expandsTooFar);
    fails("17 bytes", good.first(17), gzipDamaged);
    fails("18 bytes, no compressed data", header(0) + trailer(0), gzipBadHeader);
    fails("19 bytes, one compressed byte", header(0) + '\x03' + trailer(0), badCompressedData);
    fails("wrong first byte", "\x1E" + good.sliced(1), gzipDamaged);
    fails("method other than deflate", gzip({.method = 7}), gzipDamaged);
    fails("FNAME and no terminator",
          header(ArchiveWriter::gzipName) + QByteArray(40, 'n') + trailer(quint32(tar.size())),
          gzipBadHeader);
    fails("FNAME ending just before the trailer",
          header(ArchiveWriter::gzipName) + QByteArray(40, 'n') + '\0' + trailer(quint32(tar.size())),
          gzipBadHeader);
    fails("FHCRC running into the trailer", header(ArchiveWriter::gzipHeaderChecksum) + '\x03' + trailer(0),
          gzipBadHeader);
    fails("FEXTRA longer than the file",
          header(ArchiveWriter::gzipExtra) + "\xFF\xFF"_ba + deflated + trailer(quint32(tar.size())),
          gzipBadHeader);
    fails("deflate stream cut short",
          header(0) + deflated.first(deflated.size() / 2) + trailer(quint32(tar.size())), badCompressedData);
}

QTEST_GUILESS_MAIN(TestToolArchive)
#include "tst_toolarchive.moc"
