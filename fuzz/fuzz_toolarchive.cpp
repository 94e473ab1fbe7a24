// Feeds any bytes to both archive readers, asking for both tools' names; the same bytes are also wrapped
// in gzip and read as a tar, since mutating compressed data would seldom reach the tar reader. A reader
// may only ever return a file within the size cap or fail with a MirvoError; the sanitizers catch the rest.
#include "MirvoError.h"
#include "ToolArchive.h"

#include <QByteArray>
#include <QString>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

template <typename Extract> void attempt(Extract extract)
{
    try {
        const QByteArray output = extract();
        if (output.size() > ToolArchive::maximumExecutableBytes)
            std::abort();
    } catch (const MirvoError&) {
    }
}

// Stored blocks only: cheap, and the reader's inflate still walks every one of them.
QByteArray gzipped(const QByteArray& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, 0, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        std::abort();
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray tarGzip = gzipped(bytes);
    for (const QString& named : {u"ios"_s, u"ipatool"_s}) {
        attempt([&] { return ToolArchive::zipEntry(named, bytes); });
        attempt([&] { return ToolArchive::tarGzipEntry(named, bytes); });
        attempt([&] { return ToolArchive::tarGzipEntry(named, tarGzip); });
    }
    return 0;
}
