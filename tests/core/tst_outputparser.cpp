#include "CommandResult.h"
#include "MirvoError.h"
#include "OutputParser.h"

#include <QJsonDocument>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString rejected =
    u"Apple отклонила запрос IPATool. Выйдите из Apple ID, войдите снова и повторите попытку."_s;
const QString invalidResponse =
    u"Не удалось получить ответ от Apple. Попробуйте ещё раз. Если ошибка повторится, "
    u"выйдите из Apple ID и войдите снова."_s;
const QString noLicense =
    u"Apple не разрешает скачать это приложение с текущего аккаунта. Войдите в Apple ID, с "
    u"которого вы уже скачивали это приложение раньше, и повторите попытку."_s;
const QString sessionGone = u"Сессия Apple истекла или отсутствует. Войдите в Apple ID повторно."_s;
const QString badSignature =
    u"iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s;
const QString trustDevice =
    u"Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново."_s;
const QString appMissing =
    u"Apple не вернула приложение. Проверьте ID, регион аккаунта и доступность повторной загрузки."_s;

const QString goIosInstalling =
    u"{\"time\":\"2026-07-10T12:00:00+02:00\",\"level\":\"INFO\",\"msg\":\"installing\",\"module\":\"go-ios/"
    u"zipconduit\",\"status\":\"InstallingApplication\",\"percentComplete\":60}"_s;

QString repeated(const QString& piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

} // namespace

class tst_OutputParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void objects_data();
    void objects();
    void error_data();
    void error();
    void account_data();
    void account();
    void progress_data();
    void progress();
    void transferProgress_data();
    void transferProgress();
    void bytes_data();
    void bytes();
    void versionString_data();
    void versionString();
    void versionAtLeast_data();
    void versionAtLeast();
    void sanitize_data();
    void sanitize();
    void sanitizeKeepsLastGraphemes();
    void friendlyError_data();
    void friendlyError();
    void checked_data();
    void checked();
};

void tst_OutputParser::objects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("plain text") << u"downloading 12%\nno json here"_s << QStringList();
    QTest::newRow("log prefixes") << u"2026-07-10 12:00:00 INFO {\"a\":1}\n[ipatool] {\"b\":\"x\"}"_s
                                  << QStringList{u"{\"a\":1}"_s, u"{\"b\":\"x\"}"_s};
    QTest::newRow("broken line skipped")
        << u"{\"a\":1}\n{\"broken\":\n{\"c\":3}"_s << QStringList{u"{\"a\":1}"_s, u"{\"c\":3}"_s};
    QTest::newRow("crlf") << u"{\"a\":1}\r\n{\"b\":2}\r\n"_s << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s};
    QTest::newRow("carriage returns only")
        << u"\r{\"a\":1}\r\r{\"b\":2}"_s << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s};
    QTest::newRow("unicode separators")
        << u"{\"a\":1}\u2028{\"b\":2}\u2029{\"c\":3}\u0085{\"d\":4}"_s
        << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s, u"{\"c\":3}"_s, u"{\"d\":4}"_s};
    QTest::newRow("vertical tab and form feed")
        << u"{\"a\":1}\v{\"b\":2}\f{\"c\":3}"_s
        << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s, u"{\"c\":3}"_s};
    QTest::newRow("trailing garbage skipped")
        << u"{\"a\":1} {\"b\":2}\n{\"c\":3}"_s << QStringList{u"{\"c\":3}"_s};
    QTest::newRow("array skipped") << u"[{\"a\":1}]"_s << QStringList();
    QTest::newRow("nested object kept whole")
        << u"{\"a\":{\"b\":[1,2]}}"_s << QStringList{u"{\"a\":{\"b\":[1,2]}}"_s};
    QTest::newRow("non-ascii values") << u"{\"msg\":\"Привет\"}"_s << QStringList{u"{\"msg\":\"Привет\"}"_s};
}

void tst_OutputParser::objects()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);

    QStringList found;
    for (const QJsonObject& object : OutputParser::objects(text))
        found.append(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    QCOMPARE(found, expected);
}

void tst_OutputParser::error_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << u"{\"level\":\"info\",\"success\":true}"_s << false << QString();
    QTest::newRow("ipatool failure")
        << u"{\"level\":\"error\",\"error\":\"license is required\",\"success\":false,\"time\":\"t\"}"_s
        << true << u"license is required"_s;
    QTest::newRow("second of two") << u"{\"error\":\"first\"}\n{\"error\":\"second\"}"_s << true
                                   << u"second"_s;
    QTest::newRow("number passed over") << u"{\"error\":\"text\"}\n{\"error\":42}"_s << true << u"text"_s;
    QTest::newRow("only a number") << u"{\"error\":42}"_s << false << QString();
    QTest::newRow("empty string counts") << u"{\"error\":\"a\"}\n{\"error\":\"\"}"_s << true << QString();
    QTest::newRow("go-ios err key is not error")
        << u"{\"level\":\"ERROR\",\"msg\":\"failed writing\",\"err\":\"open P: no such file\"}"_s << false
        << QString();
}

void tst_OutputParser::error()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(QString, expected);

    const std::optional<QString> result = OutputParser::error(text);
    QCOMPARE(result.has_value(), found);
    if (found)
        QCOMPARE(*result, expected);
}

void tst_OutputParser::account_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // null: nothing

    QTest::newRow("signed in") << u"{\"level\":\"info\",\"name\":\"Jane Doe\",\"email\":\"jane@example.com\","
                                  u"\"success\":true,\"time\":\"t\"}"_s
                               << u"jane@example.com"_s;
    QTest::newRow("not signed in")
        << u"{\"level\":\"error\",\"error\":\"failed to get account\",\"success\":false}"_s << QString();
    QTest::newRow("last success without email wins")
        << u"{\"email\":\"old@example.com\",\"success\":true}\n{\"success\":true}"_s << QString();
    QTest::newRow("later failure passed over")
        << u"{\"email\":\"jane@example.com\",\"success\":true}\n{\"email\":\"x@example.com\",\"success\":false}"_s
        << u"jane@example.com"_s;
    QTest::newRow("success must be boolean")
        << u"{\"email\":\"jane@example.com\",\"success\":\"true\"}"_s << QString();
    QTest::newRow("email must be a string") << u"{\"email\":7,\"success\":true}"_s << QString();
}

void tst_OutputParser::account()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    const std::optional<QString> result = OutputParser::account(text);
    QCOMPARE(result.has_value(), !expected.isNull());
    if (result)
        QCOMPARE(*result, expected);
}

void tst_OutputParser::progress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // negative: nothing

    QTest::newRow("progress 1 is whole") << u"{\"progress\":1}"_s << 1.0;
    QTest::newRow("percent 50") << u"{\"percent\":50}"_s << 0.5;
    QTest::newRow("fraction 0.5") << u"{\"progress\":0.5}"_s << 0.5;
    QTest::newRow("percentage key") << u"{\"percentage\":25}"_s << 0.25;
    QTest::newRow("150 falls to next key") << u"{\"progress\":150,\"percent\":40}"_s << 0.4;
    QTest::newRow("150 falls to percentage search") << u"{\"progress\":150}\rdownloading  30% |"_s << 0.3;
    QTest::newRow("negative falls through") << u"{\"progress\":-5}"_s << -1.0;
    QTest::newRow("strings ignored") << u"{\"progress\":\"50\"}"_s << -1.0;
    QTest::newRow("booleans ignored") << u"{\"progress\":true}"_s << -1.0;
    QTest::newRow("last object first") << u"{\"progress\":0.2}\n{\"progress\":0.7}"_s << 0.7;
    QTest::newRow("earlier object when last has none") << u"{\"progress\":0.2}\n{\"msg\":\"x\"}"_s << 0.2;
    QTest::newRow("go-ios percentComplete") << goIosInstalling << 0.6;
    QTest::newRow("percentComplete tried last") << u"{\"percentComplete\":60,\"percent\":10}"_s << 0.1;
    QTest::newRow("first percentage") << u"downloading 12% ... 47%"_s << 0.12;
    QTest::newRow("only 250 percent") << u"done 250%"_s << -1.0;
    QTest::newRow("fractional percentage") << u"12.5%"_s << 0.125;
    QTest::newRow("ipatool bar") << u"\r\rdownloading  12% |████     | (12/100 MB, 5.2 MB/s) "_s << 0.12;
    QTest::newRow("hundred percent") << u"100%"_s << 1.0;
    QTest::newRow("space before sign") << u"12 %"_s << -1.0;
    QTest::newRow("nothing") << u"working"_s << -1.0;
}

void tst_OutputParser::progress()
{
    QFETCH(QString, text);
    QFETCH(double, expected);

    const std::optional<double> result = OutputParser::progress(text);
    QCOMPARE(result.has_value(), expected >= 0);
    if (result)
        QCOMPARE(*result, expected);
}

void tst_OutputParser::transferProgress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("completed"); // negative: nothing
    QTest::addColumn<qint64>("total");

    QTest::newRow("3.5MB / 10MB") << u"3.5MB / 10MB"_s << 3'500'000LL << 10'000'000LL;
    QTest::newRow("1,5GiB/2GiB") << u"1,5GiB/2GiB"_s << 1'610'612'736LL << 2'147'483'648LL;
    QTest::newRow("120/100kb capped") << u"120/100kb"_s << 100'000LL << 100'000LL;
    QTest::newRow("5/0MB") << u"5/0MB"_s << -1LL << 0LL;
    QTest::newRow("total unit required") << u"5MB/10"_s << -1LL << 0LL;
    QTest::newRow("spaces before units") << u"3.5 MB / 10 MB"_s << -1LL << 0LL;
    QTest::newRow("completed takes total unit") << u"12.5/100MB"_s << 12'500'000LL << 100'000'000LL;
    QTest::newRow("mixed units") << u"512kB/100MB"_s << 512'000LL << 100'000'000LL;
    QTest::newRow("last match") << u"1MB/10MB then 2MB/10MB"_s << 2'000'000LL << 10'000'000LL;
    QTest::newRow("bytes words") << u"100bytes/200bytes"_s << 100LL << 200LL;
    QTest::newRow("upper case") << u"1KIB/2KIB"_s << 1'024LL << 2'048LL;
    QTest::newRow("bare ib unit") << u"5ib/10ib"_s << -1LL << 0LL;
    QTest::newRow("unicode space around slash") << u"1MB\u00A0/\u20032MB"_s << 1'000'000LL << 2'000'000LL;
    QTest::newRow("ipatool bar is not a transfer")
        << u"downloading  12% | (12/100 MB, 5.2 MB/s)"_s << -1LL << 0LL;
}

void tst_OutputParser::transferProgress()
{
    QFETCH(QString, text);
    QFETCH(qint64, completed);
    QFETCH(qint64, total);

    const std::optional<TransferProgress> result = OutputParser::transferProgress(text);
    QCOMPARE(result.has_value(), completed >= 0);
    if (result) {
        QCOMPARE(result->completedBytes, completed);
        QCOMPARE(result->totalBytes, total);
    }
}

void tst_OutputParser::bytes_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("units");
    QTest::addColumn<qint64>("expected"); // negative: nothing

    QTest::newRow("b") << u"7"_s << u"b"_s << 7LL;
    QTest::newRow("byte") << u"7"_s << u"byte"_s << 7LL;
    QTest::newRow("bytes") << u"7"_s << u"Bytes"_s << 7LL;
    QTest::newRow("kb") << u"2"_s << u"kB"_s << 2'000LL;
    QTest::newRow("mb") << u"2"_s << u"MB"_s << 2'000'000LL;
    QTest::newRow("gb") << u"2"_s << u"gb"_s << 2'000'000'000LL;
    QTest::newRow("tb") << u"2"_s << u"tb"_s << 2'000'000'000'000LL;
    QTest::newRow("pb") << u"2"_s << u"pb"_s << 2'000'000'000'000'000LL;
    QTest::newRow("eb") << u"9"_s << u"EB"_s << 9'000'000'000'000'000'000LL;
    QTest::newRow("kib") << u"2"_s << u"KiB"_s << 2'048LL;
    QTest::newRow("mib") << u"2"_s << u"mib"_s << 2'097'152LL;
    QTest::newRow("gib") << u"2"_s << u"gib"_s << 2'147'483'648LL;
    QTest::newRow("tib") << u"1"_s << u"tib"_s << (1LL << 40);
    QTest::newRow("pib") << u"1"_s << u"pib"_s << (1LL << 50);
    QTest::newRow("eib") << u"7"_s << u"eib"_s << 7 * (1LL << 60);
    QTest::newRow("comma decimal") << u"1,5"_s << u"kb"_s << 1'500LL;
    QTest::newRow("whole part kept") << u"0.5"_s << u"b"_s << 0LL;
    QTest::newRow("exponent") << u"1e3"_s << u"b"_s << 1'000LL;
    QTest::newRow("leading space") << u" 1"_s << u"b"_s << -1LL;
    QTest::newRow("trailing space") << u"1 "_s << u"b"_s << -1LL;
    QTest::newRow("empty") << QString() << u"b"_s << -1LL;
    QTest::newRow("two decimal points") << u"1.5.2"_s << u"b"_s << -1LL;
    QTest::newRow("negative") << u"-1"_s << u"b"_s << -1LL;
    QTest::newRow("infinity") << u"inf"_s << u"b"_s << -1LL;
    QTest::newRow("not a number") << u"nan"_s << u"b"_s << -1LL;
    QTest::newRow("letters") << u"abc"_s << u"b"_s << -1LL;
    QTest::newRow("bare ib") << u"1"_s << u"ib"_s << -1LL;
    QTest::newRow("unknown unit") << u"1"_s << u"zb"_s << -1LL;
    QTest::newRow("2^63 overflows") << u"8"_s << u"eib"_s << -1LL;
    QTest::newRow("far over") << u"1e300"_s << u"eb"_s << -1LL;
}

void tst_OutputParser::bytes()
{
    QFETCH(QString, value);
    QFETCH(QString, units);
    QFETCH(qint64, expected);

    const std::optional<qint64> result = OutputParser::bytes(value, units);
    QCOMPARE(result.has_value(), expected >= 0);
    if (result)
        QCOMPARE(*result, expected);
}

void tst_OutputParser::versionString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // null: nothing

    QTest::newRow("ipatool") << u"ipatool version 2.3.1\n"_s << u"2.3.1"_s;
    QTest::newRow("ipatool dev") << u"ipatool version dev"_s << QString();
    QTest::newRow("go-ios") << u"{\"version\":\"1.3.2\"}"_s << u"1.3.2"_s;
    QTest::newRow("go-ios old") << u"{\"version\":\"v1.0.69\"}"_s << u"v1.0.69"_s;
    QTest::newRow("go-ios local build") << u"{\"version\":\"local-build\"}"_s << u"local-build"_s;
    QTest::newRow("json trimmed") << u"{\"version\":\"\\n 1.2.3 \"}"_s << u"1.2.3"_s;
    QTest::newRow("last json version") << u"{\"version\":\"1.0\"}\n{\"version\":\"2.0\"}"_s << u"2.0"_s;
    QTest::newRow("blank json falls to text")
        << u"{\"version\":\"  \"}\nipatool version 2.3.1"_s << u"2.3.1"_s;
    QTest::newRow("at most four numbers") << u"1.2.3.4.5"_s << u"1.2.3.4"_s;
    QTest::newRow("suffix") << u"v2.3.2-beta.1+abc done"_s << u"2.3.2-beta.1"_s;
    QTest::newRow("build suffix") << u"1.2.3+sha.5"_s << u"1.2.3+sha.5"_s;
    QTest::newRow("single number") << u"3"_s << QString();
}

void tst_OutputParser::versionString()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    const std::optional<QString> result = OutputParser::versionString(text);
    QCOMPARE(result.has_value(), !expected.isNull());
    if (result)
        QCOMPARE(*result, expected);
}

void tst_OutputParser::versionAtLeast_data()
{
    QTest::addColumn<QList<int>>("minimum");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    const QList<int> ipatool{2, 3, 2};
    QTest::newRow("2.3.2") << ipatool << u"2.3.2"_s << true;
    QTest::newRow("2.3.1") << ipatool << u"2.3.1"_s << false;
    QTest::newRow("2.4") << ipatool << u"2.4"_s << true;
    QTest::newRow("2.3") << ipatool << u"2.3"_s << false;
    QTest::newRow("3 alone") << ipatool << u"3"_s << false;
    QTest::newRow("2.3.2.0") << ipatool << u"2.3.2.0"_s << true;
    QTest::newRow("10.0") << ipatool << u"10.0"_s << true;
    QTest::newRow("beta suffix drops the piece") << ipatool << u"2.3.2-beta"_s << false;
    QTest::newRow("ipatool 2.3.1 output") << ipatool << u"ipatool version 2.3.1\n"_s << false;
    QTest::newRow("ipatool 2.4.0 output") << ipatool << u"ipatool version 2.4.0\n"_s << true;
    QTest::newRow("ipatool dev") << ipatool << u"ipatool version dev"_s << false;
    QTest::newRow("go-ios old below 2.3.2") << ipatool << u"{\"version\":\"v1.0.69\"}"_s << false;
    QTest::newRow("go-ios old keeps its major")
        << QList<int>{1, 0, 69} << u"{\"version\":\"v1.0.69\"}"_s << true;
    QTest::newRow("go-ios old below 1.0.70")
        << QList<int>{1, 0, 70} << u"{\"version\":\"v1.0.69\"}"_s << false;
    QTest::newRow("go-ios local build") << QList<int>{1, 0} << u"{\"version\":\"local-build\"}"_s << false;
}

void tst_OutputParser::versionAtLeast()
{
    QFETCH(QList<int>, minimum);
    QFETCH(QString, text);
    QFETCH(bool, expected);

    QCOMPARE(OutputParser::versionAtLeast(minimum, text), expected);
}

void tst_OutputParser::sanitize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << u"something went wrong"_s << u"something went wrong"_s;
    QTest::newRow("email") << u"account jane.doe+x@example.co.uk failed"_s << u"account [скрыто] failed"_s;
    QTest::newRow("email upper case") << u"JANE@EXAMPLE.COM"_s << u"[скрыто]"_s;
    QTest::newRow("json password") << u"{\"password\":\"hunter2\",\"x\":1}"_s << u"{\"[скрыто],\"x\":1}"_s;
    QTest::newRow("token equals") << u"TOKEN=abc123 next"_s << u"[скрыто] next"_s;
    QTest::newRow("secret colon") << u"secret: s3cr3t}"_s << u"[скрыто]}"_s;
    QTest::newRow("authCode") << u"authcode 123456, retry"_s << u"[скрыто], retry"_s;
    QTest::newRow("dsPersonId") << u"dsPersonId=12345"_s << u"[скрыто]"_s;
    QTest::newRow("key alone untouched") << u"enter password"_s << u"enter password"_s;
}

void tst_OutputParser::sanitize()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    QCOMPARE(OutputParser::sanitize(text), expected);
}

void tst_OutputParser::sanitizeKeepsLastGraphemes()
{
    const QString plain = u"x"_s + repeated(u"a"_s, 3999) + u"b"_s;
    QCOMPARE(OutputParser::sanitize(plain), repeated(u"a"_s, 3999) + u"b"_s);

    // Each "é" here is two code units and each flag four: the cut counts what the user sees.
    const QString accent = u"e\u0301"_s;
    QCOMPARE(OutputParser::sanitize(u"z"_s + repeated(accent, 4000)), repeated(accent, 4000));
    const QString flag = u"🇷🇺"_s;
    QCOMPARE(OutputParser::sanitize(repeated(flag, 4000)), repeated(flag, 4000));
    QCOMPARE(OutputParser::sanitize(u"z"_s + repeated(flag, 4000)), repeated(flag, 4000));
}

void tst_OutputParser::friendlyError_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("1 unexpected response")
        << u"request failed: unexpected response from Apple (HTTP 404): x"_s << rejected;
    QTest::newRow("2 http 403 forbidden") << u"HTTP 403 FoRbIdDeN"_s << rejected;
    QTest::newRow("2 http 403 plist") << u"http 403: bad PLIST"_s << rejected;
    QTest::newRow("http 403 alone falls through to 3") << u"HTTP 403 invalid response"_s << invalidResponse;
    QTest::newRow("http 403 alone falls through to 8") << u"HTTP 403 app not found"_s << appMissing;
    QTest::newRow("http 403 alone falls through to text") << u"HTTP 403"_s << u"HTTP 403"_s;
    QTest::newRow("3 invalid response") << u"invalid response"_s << invalidResponse;
    QTest::newRow("3 before 4") << u"invalid response about license"_s << invalidResponse;
    QTest::newRow("4 license") << u"license is required"_s << noLicense;
    QTest::newRow("4 purchase") << u"Purchase failed"_s << noLicense;
    QTest::newRow("4 before 8") << u"license not found"_s << noLicense;
    QTest::newRow("5 password token") << u"password token is expired"_s << sessionGone;
    QTest::newRow("5 not authenticated") << u"Not Authenticated"_s << sessionGone;
    QTest::newRow("5 no account") << u"no account stored"_s << sessionGone;
    QTest::newRow("6 verification") << u"original error: 'ApplicationVerificationFailed'"_s << badSignature;
    QTest::newRow("6 integrity") << u"integrity check"_s << badSignature;
    QTest::newRow("7 lockdown") << u"Lockdown error"_s << trustDevice;
    QTest::newRow("7 pair") << u"could not pair"_s << trustDevice;
    QTest::newRow("7 trust") << u"device does not trust"_s << trustDevice;
    QTest::newRow("7 repair") << u"repair needed"_s << trustDevice;
    QTest::newRow("7 untrusted") << u"untrusted host"_s << trustDevice;
    QTest::newRow("8 not found") << u"app not found"_s << appMissing;
    QTest::newRow("8 not available") << u"Not Available in store"_s << appMissing;
    QTest::newRow("9 original case kept") << u"Something Went Wrong"_s << u"Something Went Wrong"_s;
    QTest::newRow("9 email masked") << u"Could not sign in Jane@Example.com, try again"_s
                                    << u"Could not sign in [скрыто], try again"_s;
    QTest::newRow("9 last 4000 kept") << u"head"_s + repeated(u"x"_s, 4000) << repeated(u"x"_s, 4000);
}

void tst_OutputParser::friendlyError()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    QCOMPARE(OutputParser::friendlyError(text), expected);
}

void tst_OutputParser::checked_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("expected");

    QTest::newRow("success, empty") << 0 << QString() << false << QString();
    QTest::newRow("success, text") << 0 << u"hello\n"_s << false << u"hello\n"_s;
    QTest::newRow("success, non-string error") << 0 << u"{\"error\":5}"_s << false << u"{\"error\":5}"_s;
    QTest::newRow("status 3, empty") << 3 << QString() << true << u"Команда завершилась с кодом 3."_s;
    QTest::newRow("negative status") << -9 << QString() << true << u"Команда завершилась с кодом -9."_s;
    QTest::newRow("whitespace counts") << 3 << u" \n"_s << true << u" \n"_s;
    QTest::newRow("status 3, whole output friendly") << 3 << u"app not found"_s << true << appMissing;
    QTest::newRow("status 3, output sanitized")
        << 3 << u"failed for jane@example.com"_s << true << u"failed for [скрыто]"_s;
    QTest::newRow("error line with status 0")
        << 0 << u"{\"level\":\"error\",\"error\":\"license is required\",\"success\":false}"_s << true
        << noLicense;
    QTest::newRow("error line wins over output")
        << 1 << u"{\"level\":\"info\"}\n{\"error\":\"Did you forget your password?\",\"success\":false}"_s
        << true << u"Did you forget your password?"_s;
}

void tst_OutputParser::checked()
{
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(bool, fails);
    QFETCH(QString, expected);

    const CommandResult result{status, output};
    try {
        const QString text = result.checked();
        QVERIFY2(!fails, "checked() should have failed");
        QCOMPARE(text, expected);
    } catch (const MirvoError& error) {
        QVERIFY2(fails, qPrintable(error.errorDescription()));
        QCOMPARE(error.kind(), MirvoError::Kind::CommandFailed);
        QCOMPARE(error.errorDescription(), expected);
    }
}

QTEST_GUILESS_MAIN(tst_OutputParser)
#include "tst_outputparser.moc"
