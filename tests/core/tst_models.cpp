#include "MirvoError.h"
#include "Models.h"
#include "SystemError.h"

#include <QUrlQuery>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

class tst_Models : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesIdentifiers_data();
    void parsesIdentifiers();
    void rejectsUnreadableIdentifiers_data();
    void rejectsUnreadableIdentifiers();
    void identifierArguments();
    void foldsSearchText_data();
    void foldsSearchText();
    void catalogAppSearch_data();
    void catalogAppSearch();
    void topAppSearchAndFavicon();
    void transferFraction_data();
    void transferFraction();
    void errorDescriptions_data();
    void errorDescriptions();
    void systemErrorDescription();
};

void tst_Models::parsesIdentifiers_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("isStoreID");
    QTest::addColumn<QString>("value");

    QTest::newRow("nine digits with spaces") << u"  284910350 \n"_s << true << u"284910350"_s;
    QTest::newRow("leading zeros dropped") << u"000042"_s << true << u"42"_s;
    QTest::newRow("eighteen digits") << u"999999999999999999"_s << true << u"999999999999999999"_s;
    QTest::newRow("store link") << u"https://apps.apple.com/ru/app/yelp/id284910350"_s << true
                                << u"284910350"_s;
    QTest::newRow("store link with query")
        << u"https://apps.apple.com/us/app/x/id123456789?l=en#top"_s << true << u"123456789"_s;
    QTest::newRow("store link with trailing slash")
        << u"https://apps.apple.com/app/id77/"_s << true << u"77"_s;
    QTest::newRow("bundle id keeps case") << u"Com.Example.App"_s << false << u"Com.Example.App"_s;
    QTest::newRow("bundle id trimmed") << u" com.example.app "_s << false << u"com.example.app"_s;
    QTest::newRow("label ending in hyphen") << u"com.example.app-"_s << false << u"com.example.app-"_s;
    QTest::newRow("nineteen digits with a dot is a bundle id")
        << u"1234567890123456789.1"_s << false << u"1234567890123456789.1"_s;
}

void tst_Models::parsesIdentifiers()
{
    QFETCH(QString, input);
    QFETCH(bool, isStoreID);
    QFETCH(QString, value);

    const AppIdentifier identifier = AppIdentifier::parse(input);
    QCOMPARE(identifier.kind(), isStoreID ? AppIdentifier::Kind::StoreID : AppIdentifier::Kind::BundleID);
    QCOMPARE(identifier.value(), value);
}

void tst_Models::rejectsUnreadableIdentifiers_data()
{
    QTest::addColumn<QString>("input");

    QTest::newRow("zero") << u"0"_s;
    QTest::newRow("zeros") << u"000"_s;
    QTest::newRow("nineteen digits") << u"1234567890123456789"_s;
    QTest::newRow("empty") << u"   "_s;
    QTest::newRow("plain http link") << u"http://apps.apple.com/ru/app/yelp/id284910350"_s;
    QTest::newRow("other host") << u"https://example.com/app/id284910350"_s;
    QTest::newRow("link to id0") << u"https://apps.apple.com/app/id0"_s;
    QTest::newRow("single word") << u"yelp"_s;
    QTest::newRow("leading dot") << u".com.example"_s;
    QTest::newRow("two dots") << u"com..example"_s;
    QTest::newRow("underscore") << u"com.example_app.x"_s;
    QTest::newRow("label starting with hyphen") << u"com.-example"_s;
}

void tst_Models::rejectsUnreadableIdentifiers()
{
    QFETCH(QString, input);
    try {
        AppIdentifier::parse(input);
        QFAIL("parsing should have failed");
    } catch (const MirvoError& error) {
        QCOMPARE(error.kind(), MirvoError::Kind::Message);
        QVERIFY(error.errorDescription().contains(u"com.example.app"_s));
        QVERIFY(error.errorDescription().contains(u"apps.apple.com"_s));
    }
}

void tst_Models::identifierArguments()
{
    QCOMPARE(AppIdentifier::parse(u"1"_s).arguments(), (QStringList{u"--app-id"_s, u"1"_s}));
    QCOMPARE(AppIdentifier::parse(u"com.example.app"_s).arguments(),
             (QStringList{u"--bundle-identifier"_s, u"com.example.app"_s}));
}

void tst_Models::foldsSearchText_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("folded");

    QTest::newRow("trims and lowers") << u"  Яндекс Go \n"_s << u"яндекс go"_s;
    QTest::newRow("yo folds to ye") << u"Ёлка"_s << u"елка"_s;
    QTest::newRow("latin accents") << u"Café Crème"_s << u"cafe creme"_s;
    QTest::newRow("full-width digits and letters") << u"ＡＢ１２"_s << u"ab12"_s;
    QTest::newRow("empty") << u" \t "_s << QString();
}

void tst_Models::foldsSearchText()
{
    QFETCH(QString, input);
    QFETCH(QString, folded);
    QCOMPARE(CatalogApp::normalizedSearchText(input), folded);
}

void tst_Models::catalogAppSearch_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<bool>("matches");

    QTest::newRow("other case") << u"сбербанк"_s << true;
    QTest::newRow("part of id") << u"4910"_s << true;
    QTest::newRow("padded") << u"   СБЕР  "_s << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("category") << u"финансы"_s << true;
    QTest::newRow("bundle id") << u"ru.sber"_s << true;
    QTest::newRow("extra word") << u"сбербанк погода"_s << false;
}

void tst_Models::catalogAppSearch()
{
    QFETCH(QString, search);
    QFETCH(bool, matches);

    const CatalogApp app(u"284910350"_s, u"Сбербанк"_s, u"Финансы"_s, QString(), 0, std::nullopt,
                         u"ru.sberbank.online"_s, std::nullopt);
    QCOMPARE(app.matches(search), matches);
    QCOMPARE(app.matchesNormalizedSearch(CatalogApp::normalizedSearchText(search)), matches);
}

void tst_Models::topAppSearchAndFavicon()
{
    const TopApp app{u"1"_s, u"Telegram"_s, u"telegram.org"_s, u"Общение"_s};
    QVERIFY(app.matches(u"  TELE "_s));
    QVERIFY(app.matches(u"общение"_s));
    QVERIFY(app.matches(QString()));
    QVERIFY(!app.matches(u"whatsapp"_s));

    const std::optional<QUrl> favicon = app.faviconURL();
    QVERIFY(favicon);
    QCOMPARE(favicon->scheme(), u"https"_s);
    QCOMPARE(favicon->path(), u"/s2/favicons"_s);
    const auto items = QUrlQuery(*favicon).queryItems();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0], qMakePair(u"domain"_s, u"telegram.org"_s));
    QCOMPARE(items[1], qMakePair(u"sz"_s, u"128"_s));
}

void tst_Models::transferFraction_data()
{
    QTest::addColumn<qint64>("completed");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<double>("fraction");

    QTest::newRow("over the total") << qint64(150) << qint64(100) << 1.0;
    QTest::newRow("no total") << qint64(5) << qint64(0) << 0.0;
    QTest::newRow("negative completed") << qint64(-5) << qint64(10) << 0.0;
    QTest::newRow("half") << qint64(50) << qint64(100) << 0.5;
    QTest::newRow("negative total") << qint64(5) << qint64(-1) << 0.0;
}

void tst_Models::transferFraction()
{
    QFETCH(qint64, completed);
    QFETCH(qint64, total);
    QFETCH(double, fraction);
    QCOMPARE((TransferProgress{completed, total}.fraction()), fraction);
}

void tst_Models::errorDescriptions_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("description");

    QTest::newRow("message") << int(MirvoError::Kind::Message) << u"Готово?"_s << u"Готово?"_s;
    QTest::newRow("missing tool") << int(MirvoError::Kind::MissingTool) << u"ios"_s
                                  << u"Не найден ios. Откройте «Настройка» и установите компоненты."_s;
    QTest::newRow("command failed") << int(MirvoError::Kind::CommandFailed) << u"Сбой"_s << u"Сбой"_s;
    QTest::newRow("timed out") << int(MirvoError::Kind::TimedOut) << QString()
                               << u"Время ожидания истекло. Проверьте подключение и повторите попытку."_s;
}

void tst_Models::errorDescriptions()
{
    QFETCH(int, kind);
    QFETCH(QString, payload);
    QFETCH(QString, description);

    const MirvoError error = [&] {
        switch (MirvoError::Kind(kind)) {
        case MirvoError::Kind::Message:
            return MirvoError::message(payload);
        case MirvoError::Kind::MissingTool:
            return MirvoError::missingTool(payload);
        case MirvoError::Kind::CommandFailed:
            return MirvoError::commandFailed(payload);
        case MirvoError::Kind::TimedOut:
            break;
        }
        return MirvoError::timedOut();
    }();
    QCOMPARE(error.errorDescription(), description);
    QCOMPARE(localizedDescription(error), description);
    QCOMPARE(QString::fromUtf8(error.what()), description);
}

void tst_Models::systemErrorDescription()
{
    QCOMPARE(localizedDescription(SystemError::fromErrno(ENOTDIR, u"/tmp/x"_s)),
             u"Путь ведёт не к папке. (/tmp/x)"_s);
}

QTEST_GUILESS_MAIN(tst_Models)
#include "tst_models.moc"
