#include "ToolArchive.h"

#include "MirvoError.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr qint64 inflateStepBytes = 65'536;
constexpr qint64 zipEndRecordBytes = 22;
constexpr qint64 zipLongestCommentBytes = 65'535;
constexpr qint64 zipCentralRecordBytes = 46;
constexpr qint64 zipLocalHeaderBytes = 30;
constexpr quint32 zipEndSignature = 0x06054B50;
constexpr quint32 zipCentralSignature = 0x02014B50;
constexpr quint32 zipLocalSignature = 0x04034B50;
constexpr qint64 gzipHeaderBytes = 10;
constexpr qint64 gzipTrailerBytes = 8;
constexpr qint64 gzipShortestBytes = 18;
constexpr quint8 gzipHeaderChecksum = 0x02;
constexpr quint8 gzipExtra = 0x04;
constexpr quint8 gzipName = 0x08;
constexpr quint8 gzipComment = 0x10;
constexpr qint64 tarBlockBytes = 512;
// DEFLATE cannot expand a byte of input into more than about 1,032 bytes of output.
constexpr qint64 deflateLargestRatio = 1'032;

[[noreturn]] void fail(QString text)
{
    throw MirvoError::message(std::move(text));
}

quint8 byteAt(QByteArrayView data, qint64 offset)
{
    return quint8(data[qsizetype(offset)]);
}

// The callers compare their offsets with the data first; this is the last guard.
quint32 readLittleEndian(QByteArrayView data, qint64 offset, int bytes)
{
    if (offset < 0 || offset > data.size() || bytes > data.size() - offset)
        fail(u"Архив обрывается."_s);
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | byteAt(data, offset + i);
    return value;
}

quint16 int16(QByteArrayView data, qint64 offset)
{
    return quint16(readLittleEndian(data, offset, 2));
}

quint32 int32(QByteArrayView data, qint64 offset)
{
    return readLittleEndian(data, offset, 4);
}

// Whether `length` bytes starting at `offset` lie within the first `end` bytes.
bool fits(qint64 offset, qint64 length, qint64 end)
{
    return offset >= 0 && length >= 0 && offset <= end && length <= end - offset;
}

class InflateStream {
public:
    InflateStream() = default;
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
    ~InflateStream()
    {
        if (m_open)
            inflateEnd(&m_stream);
    }

    bool open()
    {
        m_open = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK;
        return m_open;
    }
    z_stream& stream() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_open = false;
};

// Raw DEFLATE. The output is decoded straight into the result, one step of 65,536 bytes at a time, so it
// never holds much more than expectedSize.
QByteArray inflate(QByteArrayView data, qint64 expectedSize)
{
    if (data.isEmpty())
        fail(u"Архив не содержит данных."_s);
    InflateStream decoder;
    if (!decoder.open())
        fail(u"Не удалось открыть сжатый архив."_s);
    z_stream& stream = decoder.stream();

    // Room for the whole expected output up front, unless the input could not possibly expand that far:
    // a small damaged archive claiming a large size then costs no large allocation.
    const qint64 possibleSize =
        data.size() > expectedSize / deflateLargestRatio ? expectedSize : data.size() * deflateLargestRatio;
    QByteArray output;
    output.reserve(qsizetype(possibleSize + inflateStepBytes));

    qint64 length = 0;
    qint64 inputLeft = data.size();
    const char* input = data.data();
    while (true) {
        const uInt offered = uInt(std::min<qint64>(inputLeft, std::numeric_limits<uInt>::max()));
        output.resize(qsizetype(length + inflateStepBytes));
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        stream.avail_in = offered;
        stream.next_out = reinterpret_cast<Bytef*>(output.data() + length);
        stream.avail_out = uInt(inflateStepBytes);
        const int status = ::inflate(&stream, Z_FINISH);
        const qint64 consumed = qint64(offered) - qint64(stream.avail_in);
        const qint64 produced = inflateStepBytes - qint64(stream.avail_out);
        input += consumed;
        inputLeft -= consumed;

        if (produced > 0 && produced > expectedSize - length)
            fail(u"Распакованный файл превышает допустимый размер."_s);
        length += produced;
        if (status == Z_STREAM_END) {
            output.truncate(qsizetype(length));
            return output;
        }
        // Z_BUF_ERROR only says that this step could not finish the stream; the checks below decide.
        if (status != Z_OK && status != Z_BUF_ERROR)
            fail(u"Архив содержит некорректные сжатые данные."_s);
        if (produced == 0 && (inputLeft == 0 || consumed == 0))
            fail(u"Архив содержит некорректные сжатые данные."_s);
    }
}

// The position of the end-of-central-directory record, if there is one.
std::optional<qint64> endOfCentralDirectory(QByteArrayView data)
{
    const qint64 count = data.size();
    if (count < zipEndRecordBytes)
        return std::nullopt;
    const qint64 lowest = std::max<qint64>(0, count - zipEndRecordBytes - zipLongestCommentBytes);
    for (qint64 position = count - zipEndRecordBytes; position >= lowest; --position) {
        if (int32(data, position) == zipEndSignature)
            return position;
    }
    return std::nullopt;
}

QByteArray extractZipFile(QByteArrayView data, qint64 localOffset, quint16 method, qint64 compressedSize,
                          qint64 expandedSize)
{
    const qint64 count = data.size();
    if (!fits(localOffset, zipLocalHeaderBytes, count) || int32(data, localOffset) != zipLocalSignature)
        fail(u"Архив go-ios имеет неверную локальную запись."_s);
    const qint64 nameLength = int16(data, localOffset + 26);
    const qint64 extraLength = int16(data, localOffset + 28);
    const qint64 start = localOffset + zipLocalHeaderBytes + nameLength + extraLength;
    if (!fits(start, compressedSize, count))
        fail(u"Архив go-ios обрывается до конца файла."_s);
    const QByteArrayView compressed = data.sliced(qsizetype(start), qsizetype(compressedSize));

    QByteArray output;
    if (method == 8) {
        if (expandedSize > ToolArchive::maximumExecutableBytes)
            fail(u"Распакованный файл слишком большой."_s);
        output = inflate(compressed, expandedSize);
    } else if (method == 0) {
        output = compressed.toByteArray();
    } else {
        fail(u"Архив go-ios использует неподдерживаемое сжатие."_s);
    }
    if (output.size() != expandedSize)
        fail(u"Не удалось распаковать исполняемый файл go-ios."_s);
    return output;
}

// The name of a zip entry, or nothing when its bytes are not UTF-8 (such a name matches nothing).
std::optional<QString> zipName(QByteArrayView bytes)
{
    // A leading byte order mark is part of the stored name, not something to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString name = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return name;
}

// Moves the position over a zero-terminated header field, never into the trailer.
qint64 skipZeroTerminated(QByteArrayView data, qint64 position)
{
    const qint64 trailer = data.size() - gzipTrailerBytes;
    while (position < trailer && byteAt(data, position) != 0)
        ++position;
    return position + 1;
}

QByteArray gunzip(QByteArrayView data)
{
    const qint64 count = data.size();
    if (count < gzipShortestBytes || byteAt(data, 0) != 0x1F || byteAt(data, 1) != 0x8B ||
        byteAt(data, 2) != 8)
        fail(u"Архив IPATool повреждён."_s);
    const quint8 flags = byteAt(data, 3);
    qint64 position = gzipHeaderBytes;
    if (flags & gzipExtra)
        position = gzipHeaderBytes + 2 + int16(data, gzipHeaderBytes);
    if (flags & gzipName)
        position = skipZeroTerminated(data, position);
    if (flags & gzipComment)
        position = skipZeroTerminated(data, position);
    if (flags & gzipHeaderChecksum)
        position += 2;
    if (position >= count - gzipTrailerBytes)
        fail(u"Архив IPATool имеет неверный заголовок."_s);
    const qint64 expandedSize = int32(data, count - 4);
    if (expandedSize > ToolArchive::maximumExecutableBytes)
        fail(u"Архив IPATool слишком большой."_s);
    return inflate(data.sliced(qsizetype(position), qsizetype(count - gzipTrailerBytes - position)),
                   expandedSize);
}

// A text field of a tar header: up to its first zero byte, invalid UTF-8 becoming U+FFFD.
QString tarString(QByteArrayView tar, qint64 offset, qint64 length)
{
    if (!fits(offset, length, tar.size()))
        fail(u"Архив обрывается."_s);
    QByteArrayView field = tar.sliced(qsizetype(offset), qsizetype(length));
    const qsizetype end = field.indexOf('\0');
    if (end >= 0)
        field = field.first(end);
    return QString::fromUtf8(field);
}

// An octal size as a signed integer parser reads it: an optional sign, then octal digits only.
std::optional<qint64> octalSize(const QString& field)
{
    const QString text = field.trimmed();
    qsizetype index = 0;
    bool negative = false;
    if (index < text.size() && (text.at(index) == u'+' || text.at(index) == u'-')) {
        negative = text.at(index) == u'-';
        ++index;
    }
    if (index == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; index < text.size(); ++index) {
        const char16_t digit = text.at(index).unicode();
        if (digit < u'0' || digit > u'7')
            return std::nullopt;
        if (value > (std::numeric_limits<qint64>::max() - (digit - u'0')) / 8)
            return std::nullopt;
        value = value * 8 + (digit - u'0');
    }
    if (negative && value != 0)
        return std::nullopt;
    return value;
}

bool tarPathMatches(const QString& path, const QString& named)
{
    if (path == named)
        return true;
    // Trailing slashes, as directories are stored, do not hide the last component.
    QStringView rest(path);
    while (rest.endsWith(u'/'))
        rest.chop(1);
    const QStringView last = rest.sliced(rest.lastIndexOf(u'/') + 1);
    if (last.isEmpty())
        return false;
    return last == named ||
           (last.size() > named.size() && last.startsWith(named) && last.at(named.size()) == u'-');
}

bool allZero(QByteArrayView block)
{
    return std::all_of(block.begin(), block.end(), [](char byte) { return byte == 0; });
}

} // namespace

QByteArray ToolArchive::tarGzipEntry(const QString& named, const QByteArray& data)
{
    QByteArray tar = gunzip(data);
    const qint64 count = tar.size();
    qint64 position = 0;
    while (true) {
        if (!fits(position, tarBlockBytes, count) ||
            allZero(QByteArrayView(tar).sliced(qsizetype(position), tarBlockBytes)))
            fail(u"В архиве IPATool отсутствует исполняемый файл ipatool."_s);
        const QString name = tarString(tar, position, 100);
        const QString prefix = tarString(tar, position + 345, 155);
        const QString path = prefix.isEmpty() ? name : prefix + u'/' + name;
        const std::optional<qint64> size = octalSize(tarString(tar, position + 124, 12));
        const qint64 start = position + tarBlockBytes;
        if (!size || !fits(start, *size, count))
            fail(u"Архив IPATool имеет повреждённую запись."_s);

        const char type = tar.at(qsizetype(position + 156));
        // bsdtar and GNU tar name a file's pax header after the file ("bin/PaxHeader/ipatool-…"): an
        // extended header is skipped by its size, never taken for the file it describes.
        const bool extendedHeader = type == 'x' || type == 'g' || type == 'L' || type == 'K';
        if (!extendedHeader && tarPathMatches(path, named)) {
            if ((type != '0' && type != '\0') || *size > maximumExecutableBytes)
                fail(u"Исполняемый файл IPATool имеет неверный формат."_s);
            // When the file is most of the archive, trimming the archive in place spares a second copy.
            if (*size >= count / 2) {
                tar.truncate(qsizetype(start + *size));
                tar.remove(0, qsizetype(start));
                return tar;
            }
            return tar.sliced(qsizetype(start), qsizetype(*size));
        }
        const qint64 padded = (*size + tarBlockBytes - 1) / tarBlockBytes * tarBlockBytes;
        position = start + padded;
    }
}

QByteArray ToolArchive::zipEntry(const QString& named, const QByteArray& data)
{
    const qint64 count = data.size();
    const std::optional<qint64> endRecord = endOfCentralDirectory(data);
    if (!endRecord)
        fail(u"Архив go-ios повреждён."_s);
    const qint64 directorySize = int32(data, *endRecord + 12);
    const qint64 directoryOffset = int32(data, *endRecord + 16);
    if (!fits(directoryOffset, directorySize, count))
        fail(u"Архив go-ios имеет неверную структуру."_s);
    const qint64 directoryEnd = directoryOffset + directorySize;

    qint64 position = directoryOffset;
    while (true) {
        if (!fits(position, zipCentralRecordBytes, directoryEnd))
            fail(u"В архиве go-ios отсутствует исполняемый файл ios."_s);
        if (int32(data, position) != zipCentralSignature)
            fail(u"Архив go-ios имеет неверный каталог."_s);
        const quint16 method = int16(data, position + 10);
        const qint64 compressedSize = int32(data, position + 20);
        const qint64 expandedSize = int32(data, position + 24);
        const qint64 nameLength = int16(data, position + 28);
        const qint64 extraLength = int16(data, position + 30);
        const qint64 commentLength = int16(data, position + 32);
        const qint64 localOffset = int32(data, position + 42);
        const qint64 recordLength = zipCentralRecordBytes + nameLength + extraLength + commentLength;
        if (!fits(position, recordLength, directoryEnd))
            fail(u"Архив go-ios имеет повреждённую запись."_s);

        const std::optional<QString> name =
            zipName(QByteArrayView(data).sliced(qsizetype(position + zipCentralRecordBytes), nameLength));
        if (name && *name == named) {
            if (expandedSize > maximumExecutableBytes)
                fail(u"Исполняемый файл go-ios слишком большой."_s);
            return extractZipFile(data, localOffset, method, compressedSize, expandedSize);
        }
        position += recordLength;
    }
}

} // namespace mirvo
