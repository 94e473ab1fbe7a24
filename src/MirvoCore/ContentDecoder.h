#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>
#include <optional>

namespace mirvo {

// Undoes the content coding of an HTTP body (gzip or deflate) as the body arrives, handing the output on in
// pieces, so that no more than the piece in hand and zlib's window is ever held.
class ContentDecoder {
public:
    enum class Coding { Gzip, Deflate };

    // The coding a Content-Encoding value names: nothing for none or "identity", no value at all for codings
    // this decoder does not know (or more than one).
    static std::optional<std::optional<Coding>> codingFor(QByteArrayView contentEncoding);

    explicit ContentDecoder(Coding coding);
    ~ContentDecoder();

    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Decodes the next bytes of the body. `output` receives each decoded piece and returns false to stop
    // decoding. Returns false when the bytes are not of the coding. Bytes after the end of the compressed
    // data are ignored, as browsers do.
    bool decode(QByteArrayView input, const std::function<bool(QByteArrayView)>& output);
    // Whether the compressed data came to its proper end, or nothing was given at all.
    bool isComplete() const;

private:
    bool start(QByteArrayView input);
    bool inflateInput(QByteArrayView input, const std::function<bool(QByteArrayView)>& output);

    struct Stream;
    Coding m_coding;
    std::unique_ptr<Stream> m_stream;
    QByteArray m_firstByte; // deflate: held back until the second byte tells the two wrappings apart
    bool m_ended = false;
    bool m_failed = false;
    bool m_anyInput = false;
};

} // namespace mirvo
