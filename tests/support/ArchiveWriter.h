#pragma once

#include <QByteArray>
#include <QList>

#include <zlib.h>

#include <optional>

namespace mirvo::test {

// Writes small zip, tar and gzip archives in memory, with every field that a reader checks open to being
// set wrongly on purpose. Header-only, so that the benchmarks can use it without the test libraries.
class ArchiveWriter {
public:
    ArchiveWriter() = delete;

    struct ZipEntry {
        QByteArray name;
        QByteArray content;
        quint16 method = 0; // 0 stored, 8 deflated; anything else is stored as it is
        // What the entry holds in place of the stored or deflated content.
        std::optional<QByteArray> data;
        // What the central directory records in place of the true sizes and offset.
        std::optional<quint32> compressedSize;
        std::optional<quint32> expandedSize;
        std::optional<quint32> localOffset;
        quint32 centralSignature = 0x02014B50;
        quint32 localSignature = 0x04034B50;
        QByteArray localExtra;
        QByteArray extra;
        QByteArray comment;
    };

    struct Zip {
        QByteArray bytes;
        qint64 directoryOffset = 0;
        qint64 endRecordOffset = 0;
        QList<qint64> centralOffsets;
        QList<qint64> localOffsets;
    };

    struct TarEntry {
        QByteArray name;
        QByteArray content;
        char type = '0';
        QByteArray prefix;
        // The size field's 12 bytes as written, in place of the content's size.
        std::optional<QByteArray> sizeField;
    };

    struct GzipOptions {
        quint8 flags = 0; // taken as they are; FEXTRA, FNAME, FCOMMENT and FHCRC add their fields
        QByteArray extra;
        QByteArray name;
        QByteArray comment;
        quint8 method = 8;
        std::optional<quint32> expandedSize; // ISIZE in place of the true one
    };

    static constexpr quint8 gzipHeaderChecksum = 0x02;
    static constexpr quint8 gzipExtra = 0x04;
    static constexpr quint8 gzipName = 0x08;
    static constexpr quint8 gzipComment = 0x10;

    static void append16(QByteArray& out, quint32 value)
    {
        out.append(char(value & 0xFF));
        out.append(char((value >> 8) & 0xFF));
    }

    static void append32(QByteArray& out, quint32 value)
    {
        append16(out, value & 0xFFFF);
        append16(out, value >> 16);
    }

    static void put32(QByteArray& out, qint64 offset, quint32 value)
    {
        for (int i = 0; i < 4; ++i)
            out[qsizetype(offset + i)] = char((value >> (8 * i)) & 0xFF);
    }

    static void put16(QByteArray& out, qint64 offset, quint32 value)
    {
        for (int i = 0; i < 2; ++i)
            out[qsizetype(offset + i)] = char((value >> (8 * i)) & 0xFF);
    }

    static QByteArray deflateRaw(const QByteArray& content, int level = Z_DEFAULT_COMPRESSION)
    {
        z_stream stream{};
        if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return {};
        QByteArray out(qsizetype(deflateBound(&stream, uLong(content.size()))), Qt::Uninitialized);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
        stream.avail_in = uInt(content.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = uInt(out.size());
        deflate(&stream, Z_FINISH);
        out.truncate(qsizetype(stream.total_out));
        deflateEnd(&stream);
        return out;
    }

    static quint32 crc(const QByteArray& content)
    {
        return quint32(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(content.constData()),
                             uInt(content.size())));
    }

    static Zip zip(const QList<ZipEntry>& entries, const QByteArray& comment = {})
    {
        Zip result;
        QByteArray& out = result.bytes;
        QList<QByteArray> stored;
        for (const ZipEntry& entry : entries) {
            const QByteArray data = entry.data          ? *entry.data
                                    : entry.method == 8 ? deflateRaw(entry.content)
                                                        : entry.content;
            stored.append(data);
            result.localOffsets.append(out.size());
            append32(out, entry.localSignature);
            append16(out, 20);
            append16(out, 0);
            append16(out, entry.method);
            append32(out, 0);
            append32(out, crc(entry.content));
            append32(out, quint32(data.size()));
            append32(out, quint32(entry.content.size()));
            append16(out, quint32(entry.name.size()));
            append16(out, quint32(entry.localExtra.size()));
            out += entry.name + entry.localExtra + data;
        }
        result.directoryOffset = out.size();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const ZipEntry& entry = entries.at(i);
            result.centralOffsets.append(out.size());
            append32(out, entry.centralSignature);
            append16(out, 0x031E);
            append16(out, 20);
            append16(out, 0);
            append16(out, entry.method);
            append32(out, 0);
            append32(out, crc(entry.content));
            append32(out, entry.compressedSize.value_or(quint32(stored.at(i).size())));
            append32(out, entry.expandedSize.value_or(quint32(entry.content.size())));
            append16(out, quint32(entry.name.size()));
            append16(out, quint32(entry.extra.size()));
            append16(out, quint32(entry.comment.size()));
            append16(out, 0);
            append16(out, 0);
            append32(out, 0100755u << 16);
            append32(out, entry.localOffset.value_or(quint32(result.localOffsets.at(i))));
            out += entry.name + entry.extra + entry.comment;
        }
        result.endRecordOffset = out.size();
        append32(out, 0x06054B50);
        append16(out, 0);
        append16(out, 0);
        append16(out, quint32(entries.size()));
        append16(out, quint32(entries.size()));
        append32(out, quint32(result.endRecordOffset - result.directoryOffset));
        append32(out, quint32(result.directoryOffset));
        append16(out, quint32(std::min<qsizetype>(comment.size(), 0xFFFF)));
        out += comment;
        return result;
    }

    static QByteArray octal(qint64 value, int digits)
    {
        QByteArray text = QByteArray::number(value, 8);
        return QByteArray(digits - text.size(), '0') + text + '\0';
    }

    static QByteArray tarHeader(const TarEntry& entry)
    {
        QByteArray header(512, '\0');
        const auto put = [&header](int offset, const QByteArray& field, int length) {
            for (int i = 0; i < length && i < field.size(); ++i)
                header[offset + i] = field.at(i);
        };
        put(0, entry.name, 100);
        put(100, octal(0755, 7), 8);
        put(108, octal(0, 7), 8);
        put(116, octal(0, 7), 8);
        put(124, entry.sizeField ? *entry.sizeField : octal(entry.content.size(), 11), 12);
        put(136, octal(1'700'000'000, 11), 12);
        put(156, QByteArray(1, entry.type), 1);
        put(257, QByteArrayLiteral("ustar\0"), 6);
        put(263, "00", 2);
        put(265, "runner", 32);
        put(297, "staff", 32);
        put(345, entry.prefix, 155);
        put(148, QByteArray(8, ' '), 8);
        unsigned sum = 0;
        for (char byte : std::as_const(header))
            sum += quint8(byte);
        put(148, octal(sum, 6) + ' ', 8);
        return header;
    }

    static QByteArray tar(const QList<TarEntry>& entries, bool endMarker = true)
    {
        QByteArray out;
        for (const TarEntry& entry : entries) {
            out += tarHeader(entry);
            out += entry.content;
            out += QByteArray((512 - entry.content.size() % 512) % 512, '\0');
        }
        if (endMarker)
            out += QByteArray(1024, '\0');
        return out;
    }

    static QByteArray gzip(const QByteArray& content) { return gzip(content, GzipOptions()); }

    static QByteArray gzip(const QByteArray& content, const GzipOptions& options)
    {
        QByteArray out;
        out.append(char(0x1F));
        out.append(char(0x8B));
        out.append(char(options.method));
        out.append(char(options.flags));
        append32(out, 1'700'000'000);
        out.append(char(0));
        out.append(char(3));
        if (options.flags & gzipExtra) {
            append16(out, quint32(options.extra.size()));
            out += options.extra;
        }
        if (options.flags & gzipName)
            out += options.name + '\0';
        if (options.flags & gzipComment)
            out += options.comment + '\0';
        if (options.flags & gzipHeaderChecksum)
            append16(out, crc(out) & 0xFFFF);
        out += deflateRaw(content);
        append32(out, crc(content));
        append32(out, options.expandedSize.value_or(quint32(content.size())));
        return out;
    }
};

} // namespace mirvo::test
