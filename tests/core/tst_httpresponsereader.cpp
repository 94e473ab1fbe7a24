#include "HttpResponseReader.h"
#include "LoopbackHttpServer.h"

#include <QtTest>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

// How reading ended: "<status> <body>", "<status> too large", "reading" or the failure's name.
QString outcome(HttpResponseReader& reader)
{
    static const QString failures[] = {u"failed without a reason"_s, u"head too large"_s, u"malformed"_s,
                                       u"undecodable"_s, u"truncated"_s};
    if (reader.state() == HttpResponseReader::State::Reading)
        return u"reading"_s;
    if (reader.state() == HttpResponseReader::State::Failed)
        return failures[int(reader.failure())];
    if (reader.bodyTooLarge())
        return QString::number(reader.status()) + u" too large"_s;
    return QString::number(reader.status()) + u' ' + QString::fromLatin1(reader.takeBody());
}

QString read(const QByteArray& bytes, qint64 cap, bool closes, qsizetype pieceBytes)
{
    HttpResponseReader reader(cap);
    for (qsizetype at = 0; at < bytes.size(); at += pieceBytes)
        reader.receive(QByteArrayView(bytes).sliced(at, std::min(pieceBytes, bytes.size() - at)));
    if (closes)
        reader.closed();
    return outcome(reader);
}

QByteArray zlibStream(const QByteArray& data)
{
    return qCompress(data).mid(4); // without Qt's length prefix
}

QByteArray rawDeflate(const QByteArray& data)
{
    return zlibStream(data).mid(2).chopped(4); // without the zlib header and checksum
}

QByteArray answer(const QByteArray& head, const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\n" + head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

} // namespace

class tst_HttpResponseReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<bool>("closes"); // the connection closes after the bytes
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& bytes, const QString& expected,
                            bool closes = false,
                            qint64 cap = 1024) { QTest::newRow(name) << bytes << cap << closes << expected; };
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
        const QByteArray gzipped = LoopbackHttpServer::gzip("hello, world");

        row("bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 5\n\nhello", u"200 hello"_s);
        row("no reason phrase", "HTTP/1.1 404\r\nContent-Length: 4\r\n\r\ngone", u"404 gone"_s);
        row("bytes after the body ignored", ok + "Content-Length: 5\r\n\r\nhello, world", u"200 hello"_s);
        row("empty body", ok + "Content-Length: 0\r\n\r\n", u"200 "_s);
        row("304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n", u"304 "_s);
        row("until closed", "HTTP/1.0 200 OK\r\n\r\nhello", u"200 hello"_s, true);
        row("until closed, still open", "HTTP/1.0 200 OK\r\n\r\nhello", u"reading"_s);
        row("interim answers skipped",
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + ok +
                "Content-Length: 2\r\n\r\nok",
            u"200 ok"_s);
        row("switching protocols refused", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n",
            u"malformed"_s);

        row("chunked", chunked + "5\r\nhello\r\n7;name=value\r\n, world\r\n0\r\n\r\n", u"200 hello, world"_s);
        row("chunked, hex sizes in capitals", chunked + "C\r\nhello, world\r\n0\r\n\r\n",
            u"200 hello, world"_s);
        row("chunked with a trailer", chunked + "5\r\nhello\r\n0\r\nChecksum: 1\r\n\r\n", u"200 hello"_s);
        row("chunked wins over Content-Length",
            ok + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
            u"200 hello"_s);
        row("chunk size not hex", chunked + "5g\r\nhello\r\n0\r\n\r\n", u"malformed"_s);
        row("chunk size too long a number", chunked + "1000000000000000\r\n", u"malformed"_s);
        row("chunk-size line without end", chunked + QByteArray(5000, '0'), u"malformed"_s);
        row("chunk not ended by a line end", chunked + "5\r\nhello!\r\n0\r\n\r\n", u"malformed"_s);
        row("chunks cut short", chunked + "5\r\nhel", u"truncated"_s, true);
        row("last chunk without its end", chunked + "5\r\nhello\r\n0\r\n", u"truncated"_s, true);
        row("endless trailer", chunked + "0\r\n" + QByteArray(70000, 'x'), u"head too large"_s);
        row("other transfer codings refused", ok + "Transfer-Encoding: gzip, chunked\r\n\r\n",
            u"malformed"_s);
        row("identity transfer coding ignored",
            ok + "Transfer-Encoding: identity\r\nContent-Length: 2\r\n\r\nok", u"200 ok"_s);

        row("Content-Length twice, same", ok + "Content-Length: 2\r\nContent-Length: 2\r\n\r\nok",
            u"200 ok"_s);
        row("Content-Length list, same", ok + "Content-Length: 2, 2\r\n\r\nok", u"200 ok"_s);
        row("Content-Length twice, different", ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nok!",
            u"malformed"_s);
        row("Content-Length list, different", ok + "Content-Length: 2, 3\r\n\r\nok!", u"malformed"_s);
        row("Content-Length negative", ok + "Content-Length: -1\r\n\r\n", u"malformed"_s);
        row("Content-Length with a sign", ok + "Content-Length: +2\r\n\r\nok", u"malformed"_s);
        row("Content-Length empty", ok + "Content-Length:\r\n\r\nok", u"malformed"_s);
        row("Content-Length beyond any size", ok + "Content-Length: 9999999999999999999\r\n\r\n",
            u"malformed"_s);
        row("body cut short", ok + "Content-Length: 10\r\n\r\nhello", u"truncated"_s, true);
        row("closed before anything", {}, u"truncated"_s, true);
        row("closed inside the head", ok + "Content-Le", u"truncated"_s, true);

        row("announced at the cap", ok + "Content-Length: 5\r\n\r\nhello", u"200 hello"_s, false, 5);
        row("announced over the cap", ok + "Content-Length: 6\r\n\r\n", u"200 too large"_s, false, 5);
        row("chunked at the cap", chunked + "5\r\nhello\r\n0\r\n\r\n", u"200 hello"_s, false, 5);
        row("chunked over the cap", chunked + "3\r\nhel\r\n3\r\nlo!\r\n", u"200 too large"_s, false, 5);
        row("until closed, over the cap", "HTTP/1.1 200 OK\r\n\r\nhello!", u"200 too large"_s, false, 5);

        row("not HTTP", "SSH-2.0-OpenSSH_9.2\r\n\r\n", u"malformed"_s);
        row("HTTP/2 status line", "HTTP/2 200\r\n\r\n", u"malformed"_s);
        row("four-digit status", "HTTP/1.1 2000 OK\r\n\r\n", u"malformed"_s);
        row("status below 100", "HTTP/1.1 099 Odd\r\n\r\n", u"malformed"_s);
        row("field without a colon", ok + "Content-Length 5\r\n\r\nhello", u"malformed"_s);
        row("space before the colon", ok + "Content-Length : 5\r\n\r\nhello", u"malformed"_s);
        row("folding with nothing to fold", ok + " folded\r\n\r\n", u"malformed"_s);
        row("endless status line", "HTTP/1.1 200 " + QByteArray(70000, 'x'), u"head too large"_s);
        row("endless header lines", ok + QByteArray("X-Filler: xxxxxxxxxxxxxxxxxxxx\r\n").repeated(3000),
            u"head too large"_s);
        row("as many header fields as allowed",
            ok + QByteArray("a:\r\n").repeated(HttpResponseReader::maxHeaderFields - 1) +
                "Content-Length: 2\r\n\r\nok",
            u"200 ok"_s);
        row("one header field too many",
            ok + QByteArray("a:\r\n").repeated(HttpResponseReader::maxHeaderFields) +
                "Content-Length: 2\r\n\r\nok",
            u"head too large"_s);
        const auto headOf = [](qsizetype bytes) -> QByteArray {
            const QByteArray start = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Filler: ";
            return start + QByteArray(bytes - start.size() - 4, 'x') + "\r\n\r\nok";
        };
        row("head exactly at its limit", headOf(HttpResponseReader::maxHeadBytes), u"200 ok"_s);
        row("head one byte over", headOf(HttpResponseReader::maxHeadBytes + 1), u"head too large"_s);
        row("endless interim answers", QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(3000),
            u"head too large"_s);

        row("x-gzip", answer("Content-Encoding: x-gzip\r\n", gzipped), u"200 hello, world"_s);
        row("gzip, chunked",
            chunked.chopped(2) + "Content-Encoding: gzip\r\n\r\n" + QByteArray::number(gzipped.size(), 16) +
                "\r\n" + gzipped + "\r\n0\r\n\r\n",
            u"200 hello, world"_s);
        row("gzip, until closed", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzipped,
            u"200 hello, world"_s, true);
        row("deflate in its zlib wrapper",
            answer("Content-Encoding: deflate\r\n", zlibStream("hello, world")), u"200 hello, world"_s);
        row("bare deflate", answer("Content-Encoding: deflate\r\n", rawDeflate("hello, world")),
            u"200 hello, world"_s);
        row("identity content coding", answer("Content-Encoding: identity\r\n", "plain"), u"200 plain"_s);
        row("gzip with bytes after its end", answer("Content-Encoding: gzip\r\n", gzipped + "junk"),
            u"200 hello, world"_s);
        row("gzip of nothing", answer("Content-Encoding: gzip\r\n", {}), u"200 "_s);
        row("gzip at the cap", answer("Content-Encoding: gzip\r\n", gzipped), u"200 hello, world"_s, false,
            12);
        row("gzip over the cap", answer("Content-Encoding: gzip\r\n", gzipped), u"200 too large"_s, false,
            11);
        row("gzip header, then junk",
            answer("Content-Encoding: gzip\r\n", "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03junk junk junk"_ba),
            u"undecodable"_s);
        row("gzip cut short", answer("Content-Encoding: gzip\r\n", gzipped.chopped(4)), u"undecodable"_s);
        row("unknown content coding", answer("Content-Encoding: br\r\n", "whatever"), u"undecodable"_s);
        row("two content codings", answer("Content-Encoding: gzip, gzip\r\n", gzipped), u"undecodable"_s);
    }

    void outcomes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, cap);
        QFETCH(bool, closes);
        QFETCH(QString, expected);
        QCOMPARE(read(bytes, cap, closes, qMax<qsizetype>(bytes.size(), 1)), expected);
        // However the bytes are split, the outcome is the same.
        QCOMPARE(read(bytes, cap, closes, 7), expected);
        QCOMPARE(read(bytes, cap, closes, 1), expected);
    }

    void headerFields()
    {
        HttpResponseReader reader(1024);
        reader.receive("HTTP/1.1 302 Found\r\nLocation: /a\r\nX-Folded: one\r\n  two\r\nlocation:  /b \r\n"
                       "Content-Length: 0\r\n\r\n");
        QVERIFY(reader.hasHead());
        QCOMPARE(reader.status(), 302);
        QCOMPARE(reader.headerValues("LOCATION"), (QList<QByteArray>{"/a", "/b"}));
        QCOMPARE(reader.headerValues("x-folded"), QList<QByteArray>{"one two"});
        QVERIFY(reader.headerValues("x-missing").isEmpty());
    }
};

QTEST_APPLESS_MAIN(tst_HttpResponseReader)
#include "tst_httpresponsereader.moc"
