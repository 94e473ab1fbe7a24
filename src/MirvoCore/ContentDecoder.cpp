#include "ContentDecoder.h"

#include <QByteArray>
#include <QList>

#include <zlib.h>

namespace mirvo {

namespace {

constexpr int outputPieceBytes = 64 * 1024;

} // namespace

struct ContentDecoder::Stream {
    z_stream zlib{};
    bool initialised = false;

    ~Stream()
    {
        if (initialised)
            inflateEnd(&zlib);
    }
};

std::optional<std::optional<ContentDecoder::Coding>> ContentDecoder::codingFor(QByteArrayView contentEncoding)
{
    std::optional<Coding> found;
    int codings = 0;
    const QList<QByteArray> names = contentEncoding.toByteArray().toLower().split(',');
    for (const QByteArray& untrimmed : names) {
        const QByteArray name = untrimmed.trimmed();
        if (name.isEmpty() || name == "identity")
            continue;
        ++codings;
        if (name == "gzip" || name == "x-gzip")
            found = Coding::Gzip;
        else if (name == "deflate")
            found = Coding::Deflate;
        else
            return std::nullopt;
    }
    if (codings > 1)
        return std::nullopt;
    return found;
}

ContentDecoder::ContentDecoder(Coding coding)
    : m_coding(coding)
    , m_stream(std::make_unique<Stream>())
{
}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::start(QByteArrayView input)
{
    int windowBits = MAX_WBITS + 16; // gzip wrapper
    if (m_coding == Coding::Deflate) {
        // "deflate" means the zlib wrapper, but some servers send the bare stream; browsers take both.
        const auto method = static_cast<unsigned char>(input[0]);
        const auto flags = static_cast<unsigned char>(input[1]);
        const bool zlibHeader = (method & 0x0f) == Z_DEFLATED && (method * 256 + flags) % 31 == 0;
        windowBits = zlibHeader ? MAX_WBITS : -MAX_WBITS;
    }
    if (inflateInit2(&m_stream->zlib, windowBits) != Z_OK)
        return false;
    m_stream->initialised = true;
    return true;
}

bool ContentDecoder::decode(QByteArrayView input, const std::function<bool(QByteArrayView)>& output)
{
    if (m_failed)
        return false;
    if (m_ended || input.isEmpty())
        return true;
    m_anyInput = true;
    if (m_stream->initialised)
        return inflateInput(input, output);
    if (m_coding == Coding::Deflate && m_firstByte.size() + input.size() < 2) {
        m_firstByte += input;
        return true;
    }
    const QByteArray joined = m_firstByte.isEmpty() ? QByteArray() : m_firstByte + input;
    const QByteArrayView whole = m_firstByte.isEmpty() ? input : QByteArrayView(joined);
    m_firstByte.clear();
    if (!start(whole)) {
        m_failed = true;
        return false;
    }
    return inflateInput(whole, output);
}

bool ContentDecoder::inflateInput(QByteArrayView input, const std::function<bool(QByteArrayView)>& output)
{
    char buffer[outputPieceBytes];
    z_stream& zlib = m_stream->zlib;
    zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    zlib.avail_in = uInt(input.size());
    for (;;) {
        zlib.next_out = reinterpret_cast<Bytef*>(buffer);
        zlib.avail_out = sizeof buffer;
        const int result = inflate(&zlib, Z_NO_FLUSH);
        if (result == Z_BUF_ERROR)
            return true; // nothing more to do until more input comes
        if (result != Z_OK && result != Z_STREAM_END) {
            m_failed = true;
            return false;
        }
        const qsizetype produced = qsizetype(sizeof buffer - zlib.avail_out);
        if (produced > 0 && !output(QByteArrayView(buffer, produced)))
            return true;
        if (result == Z_STREAM_END) {
            m_ended = true;
            return true;
        }
        // A full buffer may leave output inside zlib even with all the input taken.
        if (zlib.avail_in == 0 && zlib.avail_out > 0)
            return true;
    }
}

bool ContentDecoder::isComplete() const
{
    return !m_failed && (m_ended || !m_anyInput);
}

} // namespace mirvo
