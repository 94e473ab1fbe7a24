#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <memory>
#include <utility>

namespace mirvo {

class ContentDecoder;

// Reads one HTTP/1.1 answer from the bytes a connection delivers while holding no more than a bounded head
// and the body up to its cap: the transfer coding (Content-Length, chunked, or until the connection closes)
// and the content coding (gzip, deflate) are undone on the way, and the cap counts the decoded bytes.
class HttpResponseReader {
public:
    enum class State { Reading, Done, Failed };
    enum class Failure { None, HeadTooLarge, Malformed, Undecodable, Truncated };

    // The status line and header fields of one answer (interim 1xx answers included), and likewise the
    // trailer of a chunked body.
    static constexpr qsizetype maxHeadBytes = 64 * 1024;
    static constexpr qsizetype maxHeaderFields = 256;

    explicit HttpResponseReader(qint64 maxBodyBytes);
    ~HttpResponseReader();

    HttpResponseReader(const HttpResponseReader&) = delete;
    HttpResponseReader& operator=(const HttpResponseReader&) = delete;

    // Takes the next bytes of the connection; anything after the end of the answer is ignored.
    void receive(QByteArrayView bytes);
    // The connection closed: this ends a body that runs until then; otherwise the answer is cut short.
    void closed();

    State state() const { return m_state; }
    Failure failure() const { return m_failure; }
    // Whether the status line and header fields of the final answer are in.
    bool hasHead() const { return m_stage > Stage::Head; }
    int status() const { return m_status; }
    // Every value of a header field, matched without regard to case, in the order received.
    QList<QByteArray> headerValues(QByteArrayView name) const;
    // The body went over the cap: reading stopped there and the body was dropped.
    bool bodyTooLarge() const { return m_bodyTooLarge; }
    QByteArray takeBody() { return std::exchange(m_body, {}); }

private:
    // A chunk-size line with its extensions, and the line ending a chunk.
    static constexpr qsizetype maxChunkLineBytes = 4 * 1024;

    enum class Stage { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Finished };

    // Moves the bytes up to the end of a line into m_line, taking them from `budget`; -1 when it is short.
    qsizetype takeLine(QByteArrayView bytes, qsizetype& budget);
    void headLine(const QByteArray& line);
    void headEnded();
    void chunkSizeLine(const QByteArray& line);
    void deliver(QByteArrayView bytes);
    void finishBody();
    void fail(Failure failure);

    const qint64 m_cap;
    State m_state = State::Reading;
    Failure m_failure = Failure::None;
    Stage m_stage = Stage::Head;

    QByteArray m_line;       // the line being received
    bool m_lineDone = false; // m_line holds a whole line (without its end)
    qsizetype m_headBudget = maxHeadBytes;
    qsizetype m_lineBudget = maxChunkLineBytes;
    bool m_statusSeen = false;
    int m_status = 0;
    QList<std::pair<QByteArray, QByteArray>> m_headers;

    enum class Framing { None, Length, Chunked, UntilClosed };
    Framing m_framing = Framing::None;
    qint64 m_remaining = 0; // of the body (by length) or of the current chunk
    std::unique_ptr<ContentDecoder> m_decoder;
    QByteArray m_body;
    bool m_bodyTooLarge = false;
};

} // namespace mirvo
