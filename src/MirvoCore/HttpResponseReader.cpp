#include "HttpResponseReader.h"

#include "ContentDecoder.h"

#include <algorithm>
#include <optional>

namespace mirvo {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isTokenCharacter(char c)
{
    static constexpr QByteArrayView others("!#$%&'*+-.^_`|~");
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || others.contains(c);
}

// "HTTP/1.1 200 OK"; the reason phrase may be missing.
std::optional<int> parseStatusLine(QByteArrayView line)
{
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || !isDigit(line[7]) || line[8] != ' ')
        return std::nullopt;
    const QByteArrayView code = line.sliced(9, 3);
    if (!std::all_of(code.begin(), code.end(), isDigit) || code[0] == '0')
        return std::nullopt;
    if (line.size() > 12 && line[12] != ' ')
        return std::nullopt;
    return code.toInt();
}

// The one length that every Content-Length value (and every member of a list in one) agrees on;
// nothing when they disagree or one is not a number.
std::optional<std::optional<qint64>> agreedLength(const QList<QByteArray>& values)
{
    std::optional<qint64> agreed;
    for (const QByteArray& value : values) {
        const QList<QByteArray> members = value.split(',');
        for (const QByteArray& untrimmed : members) {
            const QByteArray member = untrimmed.trimmed();
            if (member.isEmpty() || member.size() > 18 || !std::all_of(member.begin(), member.end(), isDigit))
                return std::nullopt;
            const qint64 length = member.toLongLong();
            if (agreed && *agreed != length)
                return std::nullopt;
            agreed = length;
        }
    }
    return agreed;
}

} // namespace

HttpResponseReader::HttpResponseReader(qint64 maxBodyBytes)
    : m_cap(std::max<qint64>(0, maxBodyBytes))
{
}

HttpResponseReader::~HttpResponseReader() = default;

QList<QByteArray> HttpResponseReader::headerValues(QByteArrayView name) const
{
    QList<QByteArray> values;
    for (const auto& [field, value] : m_headers) {
        if (QByteArrayView(field).compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    }
    return values;
}

qsizetype HttpResponseReader::takeLine(QByteArrayView bytes, qsizetype& budget)
{
    const qsizetype end = bytes.indexOf('\n');
    const qsizetype taken = end < 0 ? bytes.size() : end + 1;
    if (taken > budget)
        return -1;
    budget -= taken;
    m_line.append(bytes.first(end < 0 ? taken : end));
    if (end >= 0) {
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        m_lineDone = true;
    }
    return taken;
}

void HttpResponseReader::receive(QByteArrayView bytes)
{
    while (m_state == State::Reading && !bytes.isEmpty()) {
        switch (m_stage) {
        case Stage::Head:
        case Stage::Trailer:
        case Stage::ChunkSize:
        case Stage::ChunkEnd: {
            const bool head = m_stage == Stage::Head || m_stage == Stage::Trailer;
            const qsizetype taken = takeLine(bytes, head ? m_headBudget : m_lineBudget);
            if (taken < 0)
                return fail(head ? Failure::HeadTooLarge : Failure::Malformed);
            bytes = bytes.sliced(taken);
            if (!m_lineDone)
                break;
            const QByteArray line = std::exchange(m_line, {});
            m_lineDone = false;
            m_lineBudget = maxChunkLineBytes;
            if (m_stage == Stage::Head)
                headLine(line);
            else if (m_stage == Stage::ChunkSize)
                chunkSizeLine(line);
            else if (m_stage == Stage::ChunkEnd && !line.isEmpty())
                fail(Failure::Malformed);
            else if (m_stage == Stage::ChunkEnd)
                m_stage = Stage::ChunkSize;
            else if (line.isEmpty())
                finishBody(); // the fields of a trailer are of no use here
            break;
        }
        case Stage::Body:
        case Stage::ChunkData: {
            const bool untilClosed = m_framing == Framing::UntilClosed;
            const qsizetype taken =
                untilClosed ? bytes.size() : qsizetype(std::min<qint64>(m_remaining, bytes.size()));
            deliver(bytes.first(taken));
            bytes = bytes.sliced(taken);
            if (untilClosed || m_state != State::Reading)
                break;
            m_remaining -= taken;
            if (m_remaining == 0 && m_stage == Stage::ChunkData)
                m_stage = Stage::ChunkEnd;
            else if (m_remaining == 0)
                finishBody();
            break;
        }
        case Stage::Finished:
            return;
        }
    }
}

void HttpResponseReader::headLine(const QByteArray& line)
{
    if (!m_statusSeen) {
        const std::optional<int> status = parseStatusLine(line);
        if (!status)
            return fail(Failure::Malformed);
        m_status = *status;
        m_statusSeen = true;
        return;
    }
    if (line.isEmpty())
        return headEnded();
    if (line.startsWith(' ') || line.startsWith('\t')) {
        // An obsolete line folding: the value goes on.
        if (m_headers.isEmpty())
            return fail(Failure::Malformed);
        m_headers.last().second += ' ' + line.trimmed();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    const QByteArrayView name = QByteArrayView(line).first(std::max<qsizetype>(colon, 0));
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isTokenCharacter))
        return fail(Failure::Malformed);
    if (m_headers.size() == maxHeaderFields)
        return fail(Failure::HeadTooLarge);
    m_headers.append({name.toByteArray(), line.mid(colon + 1).trimmed()});
}

void HttpResponseReader::headEnded()
{
    if (m_status < 200) {
        // An interim answer; the real one follows. Nothing here asks to switch protocols.
        if (m_status == 101)
            return fail(Failure::Malformed);
        m_statusSeen = false;
        m_headers.clear();
        return;
    }

    const std::optional<std::optional<qint64>> length = agreedLength(headerValues("content-length"));
    if (!length)
        return fail(Failure::Malformed);

    QList<QByteArray> transferCodings;
    const QList<QByteArray> transferEncoding = headerValues("transfer-encoding");
    for (const QByteArray& value : transferEncoding) {
        const QList<QByteArray> members = value.toLower().split(',');
        for (const QByteArray& member : members) {
            if (const QByteArray coding = member.trimmed(); !coding.isEmpty() && coding != "identity")
                transferCodings.append(coding);
        }
    }
    if (!transferCodings.isEmpty() && transferCodings != QList<QByteArray>{"chunked"})
        return fail(Failure::Malformed);

    const std::optional<std::optional<ContentDecoder::Coding>> coding =
        ContentDecoder::codingFor(headerValues("content-encoding").join(','));
    if (!coding)
        return fail(Failure::Undecodable);
    if (*coding)
        m_decoder = std::make_unique<ContentDecoder>(**coding);

    if (m_status == 204 || m_status == 304) {
        m_framing = Framing::None;
        return finishBody();
    }
    if (!transferCodings.isEmpty()) {
        m_framing = Framing::Chunked;
        m_stage = Stage::ChunkSize;
        return;
    }
    if (*length) {
        // The announced size is checked before a byte of the body is read; a compressed body is judged by
        // what it unpacks to.
        if (!m_decoder && **length > m_cap) {
            m_bodyTooLarge = true;
            m_state = State::Done;
            m_stage = Stage::Finished;
            return;
        }
        m_framing = Framing::Length;
        m_remaining = **length;
        m_stage = Stage::Body;
        if (m_remaining == 0)
            finishBody();
        return;
    }
    m_framing = Framing::UntilClosed;
    m_stage = Stage::Body;
}

void HttpResponseReader::chunkSizeLine(const QByteArray& line)
{
    const qsizetype extensions = line.indexOf(';');
    const QByteArray digits = (extensions < 0 ? line : line.left(extensions)).trimmed();
    if (digits.isEmpty() || digits.size() > 15 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
        return fail(Failure::Malformed);
    const qint64 size = digits.toLongLong(nullptr, 16);
    if (size == 0) {
        m_stage = Stage::Trailer;
        m_headBudget = maxHeadBytes;
        return;
    }
    m_remaining = size;
    m_stage = Stage::ChunkData;
}

void HttpResponseReader::deliver(QByteArrayView bytes)
{
    const auto keep = [this](QByteArrayView piece) {
        if (m_body.size() + piece.size() > m_cap) {
            m_bodyTooLarge = true;
            m_body = QByteArray();
            m_state = State::Done;
            m_stage = Stage::Finished;
            return false;
        }
        // Past the first mebibyte, room for the whole cap at once: a buffer that keeps doubling holds two
        // copies of a large body while it moves, and pages not yet written take no memory.
        const qint64 needed = m_body.size() + piece.size();
        if (needed > m_body.capacity() && needed > (1 << 20))
            m_body.reserve(qsizetype(m_cap));
        m_body.append(piece);
        return true;
    };
    if (!m_decoder)
        keep(bytes);
    else if (!m_decoder->decode(bytes, keep))
        fail(Failure::Undecodable);
}

void HttpResponseReader::finishBody()
{
    if (m_decoder && !m_decoder->isComplete())
        return fail(Failure::Undecodable);
    m_state = State::Done;
    m_stage = Stage::Finished;
}

void HttpResponseReader::closed()
{
    if (m_state != State::Reading)
        return;
    if (m_stage == Stage::Body && m_framing == Framing::UntilClosed)
        finishBody();
    else
        fail(Failure::Truncated);
}

void HttpResponseReader::fail(Failure failure)
{
    m_state = State::Failed;
    m_failure = failure;
    m_stage = Stage::Finished;
    m_body = QByteArray();
}

} // namespace mirvo
