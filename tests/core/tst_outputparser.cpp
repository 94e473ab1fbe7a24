#include "CommandResult.h"
#include "MirvoError.h"
#include "OutputParser.h"

#include <QJsonDocument>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

enum class Lookup { Error, Account, Version };

const QString rejected =
    u"Apple отклонила запрос IPATool. Выйдите из Apple ID, войдите снова и повторите попытку."_s;
const QString noLicense =
    u"Apple не разрешает скачать это приложение с текущего аккаунта. Войдите в Apple ID, с "
    u"которого вы уже скачивали это приложение раньше, и повторите попытку."_s;
const QString trustDevice =
    u"Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново."_s;
const QString appMissing =
    u"Apple не вернула приложение. Проверьте ID, регион аккаунта и доступность повторной загрузки."_s;

} // namespace

class tst_OutputParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void objects_data();
    void objects();
    void lookup_data();
    void lookup();
    void progress_data();
    void progress();
    void transferProgress_data();
    void transferProgress();
    void versionAtLeast_data();
    void versionAtLeast();
    void sanitize_data();
    void sanitize();
    void friendlyError_data();
    void friendlyError();
    void checked_data();
    void checked();
};

void tst_OutputParser::objects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no brace") << u"downloading 12%"_s << QStringList();
    QTest::newRow("log prefixes") << u"2026-07-10 12:00:00 INFO {\"a\":1}\n[ipatool] {\"b\":\"x\"}"_s
                                  << QStringList{u"{\"a\":1}"_s, u"{\"b\":\"x\"}"_s};
    QTest::newRow("broken line skipped")
        << u"{\"a\":1}\n{\"broken\":\n{\"c\":3}"_s << QStringList{u"{\"a\":1}"_s, u"{\"c\":3}"_s};
    QTest::newRow("every line separator")
        << u"{\"a\":1}\r\n{\"b\":2}\r{\"c\":3}\u2028{\"d\":4}\u2029{\"e\":5}\u0085{\"f\":6}\v{\"g\":7}\f{}"_s
        << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s, u"{\"c\":3}"_s, u"{\"d\":4}"_s,
                       u"{\"e\":5}"_s, u"{\"f\":6}"_s, u"{\"g\":7}"_s, u"{}"_s};
    QTest::newRow("array skipped") << u"[{\"a\":1}]"_s << QStringList();
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

void tst_OutputParser::lookup_data()
{
    QTest::addColumn<Lookup>("lookup");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // null: nothing

    QTest::newRow("error: the last one")
        << Lookup::Error << u"{\"error\":\"first\"}\n{\"error\":\"second\"}"_s << u"second"_s;
    QTest::newRow("error: number passed over")
        << Lookup::Error << u"{\"error\":\"text\"}\n{\"error\":42}"_s << u"text"_s;
    QTest::newRow("error: only a number") << Lookup::Error << u"{\"error\":42}"_s << QString();
    QTest::newRow("error: empty string counts")
        << Lookup::Error << u"{\"error\":\"a\"}\n{\"error\":\"\"}"_s << u""_s;
    QTest::newRow("account: later failure passed over")
        << Lookup::Account
        << u"{\"email\":\"jane@example.com\",\"success\":true}\n{\"email\":\"x@example.com\",\"success\":false}"_s
        << u"jane@example.com"_s;
    QTest::newRow("account: last success without email")
        << Lookup::Account << u"{\"email\":\"old@example.com\",\"success\":true}\n{\"success\":true}"_s
        << QString();
    QTest::newRow("account: success must be boolean")
        << Lookup::Account << u"{\"email\":\"jane@example.com\",\"success\":\"true\"}"_s << QString();
    QTest::newRow("version: ipatool") << Lookup::Version << u"ipatool version 2.3.1\n"_s << u"2.3.1"_s;
    QTest::newRow("version: last json, trimmed")
        << Lookup::Version << u"{\"version\":\"1.0\"}\n{\"version\":\"\\n 1.3.2 \"}"_s << u"1.3.2"_s;
    QTest::newRow("version: go-ios v1.0.69 kept")
        << Lookup::Version << u"{\"version\":\"v1.0.69\"}"_s << u"v1.0.69"_s;
    QTest::newRow("version: blank json falls to text")
        << Lookup::Version << u"{\"version\":\"  \"}\nipatool version 2.3.1"_s << u"2.3.1"_s;
    QTest::newRow("version: suffix") << Lookup::Version << u"v2.3.2-beta.1+abc done"_s << u"2.3.2-beta.1"_s;
    QTest::newRow("version: single number") << Lookup::Version << u"ipatool version 3"_s << QString();
}

void tst_OutputParser::lookup()
{
    QFETCH(Lookup, lookup);
    QFETCH(QString, text);
    QFETCH(QString, expected);

    const std::optional<QString> result = lookup == Lookup::Error     ? OutputParser::error(text)
                                          : lookup == Lookup::Account ? OutputParser::account(text)
                                                                      : OutputParser::versionString(text);
    QCOMPARE(result.has_value(), !expected.isNull());
    QCOMPARE(result.value_or(QString()), expected);
}

void tst_OutputParser::progress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // negative: nothing

    QTest::newRow("progress 1 is whole") << u"{\"progress\":1}"_s << 1.0;
    QTest::newRow("percent 50") << u"{\"percent\":50}"_s << 0.5;
    QTest::newRow("percentage before percentComplete")
        << u"{\"percentComplete\":60,\"percentage\":25}"_s << 0.25;
    QTest::newRow("go-ios percentComplete")
        << u"{\"level\":\"INFO\",\"status\":\"InstallingApplication\",\"percentComplete\":60}"_s << 0.6;
    QTest::newRow("150 falls to next key") << u"{\"progress\":150,\"percent\":40}"_s << 0.4;
    QTest::newRow("150 falls to percentage search") << u"{\"progress\":150}\rdownloading 30% |"_s << 0.3;
    QTest::newRow("text value ignored") << u"{\"progress\":\"50\"}"_s << -1.0;
    QTest::newRow("last object with a value")
        << u"{\"progress\":0.2}\n{\"progress\":0.7}\n{\"msg\":\"x\"}"_s << 0.7;
    QTest::newRow("first percentage only") << u"downloading 12.5% ... 47%"_s << 0.125;
    QTest::newRow("only 250 percent") << u"done 250%"_s << -1.0;
}

void tst_OutputParser::progress()
{
    QFETCH(QString, text);
    QFETCH(double, expected);

    QCOMPARE(OutputParser::progress(text).value_or(-1.0), expected);
}

void tst_OutputParser::transferProgress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("completed"); // negative: nothing
    QTest::addColumn<qint64>("total");

    QTest::newRow("3.5MB / 10MB") << u"3.5MB / 10MB"_s << 3'500'000LL << 10'000'000LL;
    QTest::newRow("1,5GiB/2GiB") << u"1,5GiB/2GiB"_s << 1'610'612'736LL << 2'147'483'648LL;
    QTest::newRow("120/100kb takes the total unit, capped") << u"120/100kb"_s << 100'000LL << 100'000LL;
    QTest::newRow("5/0MB") << u"5/0MB"_s << -1LL << 0LL;
    QTest::newRow("total unit required") << u"5MB/10"_s << -1LL << 0LL;
    QTest::newRow("spaces before units") << u"3.5 MB / 10 MB"_s << -1LL << 0LL;
    QTest::newRow("mixed units") << u"512kB/100MB"_s << 512'000LL << 100'000'000LL;
    QTest::newRow("last match") << u"1MB/10MB then 2MB/10MB"_s << 2'000'000LL << 10'000'000LL;
    QTest::newRow("byte words, any case") << u"7Bytes/10B"_s << 7LL << 10LL;
    QTest::newRow("exabytes") << u"1EB/9EB"_s << 1'000'000'000'000'000'000LL << 9'000'000'000'000'000'000LL;
    QTest::newRow("whole bytes") << u"0.5b/3b"_s << 0LL << 3LL;
    QTest::newRow("bare ib is no unit") << u"1/2ib"_s << -1LL << 0LL;
    QTest::newRow("total of 2^63 overflows") << u"1EiB/8EiB"_s << -1LL << 0LL;
    QTest::newRow("completed of 2^63 overflows") << u"8EiB/7EiB"_s << -1LL << 0LL;
}

void tst_OutputParser::transferProgress()
{
    QFETCH(QString, text);
    QFETCH(qint64, completed);
    QFETCH(qint64, total);

    const TransferProgress result = OutputParser::transferProgress(text).value_or(TransferProgress{-1, 0});
    QCOMPARE(result.completedBytes, completed);
    QCOMPARE(result.totalBytes, total);
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
    // The text pattern wants two numbers: only a JSON version reaches the count of numbers.
    QTest::newRow("3 alone") << ipatool << u"{\"version\":\"3\"}"_s << false;
    QTest::newRow("2.3.2.0") << ipatool << u"2.3.2.0"_s << true;
    QTest::newRow("10.0 is numeric") << ipatool << u"10.0"_s << true;
    QTest::newRow("beta suffix drops the piece") << ipatool << u"2.3.2-beta"_s << false;
    QTest::newRow("ipatool dev") << ipatool << u"ipatool version dev"_s << false;
    QTest::newRow("go-ios v1.0.69 keeps its major")
        << QList<int>{1, 0, 69} << u"{\"version\":\"v1.0.69\"}"_s << true;
    QTest::newRow("go-ios v1.0.69 below 1.0.70")
        << QList<int>{1, 0, 70} << u"{\"version\":\"v1.0.69\"}"_s << false;
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

    QTest::newRow("email") << u"account JANE.doe+x@Example.co.uk failed"_s << u"account [скрыто] failed"_s;
    QTest::newRow("json password") << u"{\"password\":\"hunter2\",\"x\":1}"_s << u"{\"[скрыто],\"x\":1}"_s;
    QTest::newRow("token equals") << u"TOKEN=abc123 next"_s << u"[скрыто] next"_s;
    QTest::newRow("secret colon") << u"secret: s3cr3t}"_s << u"[скрыто]}"_s;
    QTest::newRow("authCode") << u"authcode 123456, retry"_s << u"[скрыто], retry"_s;
    QTest::newRow("dsPersonId") << u"dsPersonId=12345"_s << u"[скрыто]"_s;
    QTest::newRow("key alone untouched") << u"enter password"_s << u"enter password"_s;
    QTest::newRow("last 4000 kept") << u"x"_s + u"a"_s.repeated(3999) + u"b"_s
                                    << u"a"_s.repeated(3999) + u"b"_s;
    // Each flag is four code units and two code points: the cut counts what the user sees.
    QTest::newRow("flags") << u"z"_s + u"🇷🇺"_s.repeated(4000) << u"🇷🇺"_s.repeated(4000);
}

void tst_OutputParser::sanitize()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    QCOMPARE(OutputParser::sanitize(text), expected);
}

void tst_OutputParser::friendlyError_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    // Each text also holds words of later rules, so the order is tested too.
    QTest::newRow("1 unexpected response")
        << u"unexpected response from Apple (HTTP 403): invalid response"_s << rejected;
    QTest::newRow("2 http 403 forbidden") << u"HTTP 403 FoRbIdDeN, license"_s << rejected;
    QTest::newRow("http 403 alone falls through") << u"HTTP 403 app not found"_s << appMissing;
    QTest::newRow("3 invalid response")
        << u"invalid response about license"_s
        << u"Не удалось получить ответ от Apple. Попробуйте ещё раз. Если ошибка повторится, "
           u"выйдите из Apple ID и войдите снова."_s;
    QTest::newRow("4 license") << u"license is required: not authenticated"_s << noLicense;
    QTest::newRow("5 password token")
        << u"password token is expired, pair"_s
        << u"Сессия Apple истекла или отсутствует. Войдите в Apple ID повторно."_s;
    QTest::newRow("6 verification")
        << u"'ApplicationVerificationFailed': trust"_s
        << u"iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s;
    QTest::newRow("7 lockdown") << u"Lockdown: not found"_s << trustDevice;
    QTest::newRow("7 repair") << u"repair needed"_s << trustDevice;
    QTest::newRow("7 untrusted") << u"untrusted host"_s << trustDevice;
    QTest::newRow("8 not available") << u"Not Available in store"_s << appMissing;
    QTest::newRow("9 sanitized, case kept")
        << u"Could not sign in Jane@Example.com, try again"_s << u"Could not sign in [скрыто], try again"_s;
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

    QTest::newRow("success returns output") << 0 << u"{\"error\":5}\n"_s << false << u"{\"error\":5}\n"_s;
    // Only the error text is made friendly: the whole output would hit the licence rule.
    QTest::newRow("error line fails with status 0")
        << 0 << u"{\"msg\":\"license check\"}\n{\"error\":\"app not found\",\"success\":false}"_s << true
        << appMissing;
    QTest::newRow("failure without output") << 3 << QString() << true << u"Команда завершилась с кодом 3."_s;
    QTest::newRow("failure output made friendly") << 3 << u"app not found"_s << true << appMissing;
}

void tst_OutputParser::checked()
{
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(bool, fails);
    QFETCH(QString, expected);

    try {
        const QString text = CommandResult{status, output}.checked();
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
