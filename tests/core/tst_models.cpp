#include "MirvoError.h"
#include "Models.h"
#include "SystemError.h"

#include <QtTest>

#include <exception>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(std::exception_ptr)

class tst_Models : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesIdentifiers_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("arguments"); // the tool's arguments; empty when the input is refused

        const auto row = [](const char* name, const QString& input, const QString& arguments = {}) {
            QTest::newRow(name) << input << arguments;
        };

        row("nine digits with spaces", u"  284910350 \n"_s, u"--app-id 284910350"_s);
        row("leading zeros dropped", u"000042"_s, u"--app-id 42"_s);
        row("eighteen digits", u"999999999999999999"_s, u"--app-id 999999999999999999"_s);
        row("store link with query", u"https://apps.apple.com/us/app/x/id123456789?l=en#top"_s,
            u"--app-id 123456789"_s);
        row("store link with trailing slash", u"https://apps.apple.com/app/id77/"_s, u"--app-id 77"_s);
        row("bundle id keeps case", u"Com.Example.App"_s, u"--bundle-identifier Com.Example.App"_s);
        row("label ending in hyphen", u"com.example.app-"_s, u"--bundle-identifier com.example.app-"_s);
        row("nineteen digits with a dot is a bundle id", u"1234567890123456789.1"_s,
            u"--bundle-identifier 1234567890123456789.1"_s);
        row("zeros", u"000"_s);
        row("nineteen digits", u"1234567890123456789"_s);
        row("blank", u"   "_s);
        row("plain http link", u"http://apps.apple.com/ru/app/yelp/id284910350"_s);
        row("other host", u"https://example.com/app/id284910350"_s);
        row("single word", u"yelp"_s);
        row("leading dot", u".com.example"_s);
        row("underscore", u"com.example_app.x"_s);
        row("label starting with hyphen", u"com.-example"_s);
    }

    void parsesIdentifiers()
    {
        QFETCH(QString, input);
        QString arguments;
        try {
            arguments = AppIdentifier::parse(input).arguments().join(u' ');
        } catch (const MirvoError& error) {
            QCOMPARE(error.kind(), MirvoError::Kind::Message);
            QVERIFY(error.errorDescription().contains(u"com.example.app"_s));
            QVERIFY(error.errorDescription().contains(u"apps.apple.com"_s));
        }
        QTEST(arguments, "arguments");
    }

    void foldsSearchText_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("folded");

        QTest::newRow("trims and lowers") << u"  Яндекс Go \n"_s << u"яндекс go"_s;
        QTest::newRow("yo folds to ye") << u"Ёлка"_s << u"елка"_s;
        QTest::newRow("latin accents") << u"Café Crème"_s << u"cafe creme"_s;
        QTest::newRow("full-width digits and letters") << u"ＡＢ１２"_s << u"ab12"_s;
        QTest::newRow("ASCII and Russian alphabet ends") << u"AZaz09~ АЯаяЖЮ"_s << u"azaz09~ аяаяжю"_s;
        QTest::newRow("short i loses its breve") << u"ЙОГУРТ йод"_s << u"иогурт иод"_s;
        QTest::newRow("tab goes the full way") << u"A\tБ"_s << u"a\tб"_s;
    }

    void foldsSearchText()
    {
        QFETCH(QString, input);
        QTEST(CatalogApp::normalizedSearchText(input), "folded");
    }

    void search_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("catalogApp"); // Сбербанк, 284910350, Финансы, ru.sberbank.online
        QTest::addColumn<bool>("topApp");     // Telegram, 1, telegram.org, Общение

        QTest::newRow("other case") << u"сбербанк"_s << true << false;
        QTest::newRow("part of id") << u"4910"_s << true << false;
        QTest::newRow("empty") << QString() << true << true;
        QTest::newRow("category") << u"финансы"_s << true << false;
        QTest::newRow("bundle id") << u"ru.sber"_s << true << false;
        QTest::newRow("extra word") << u"сбербанк погода"_s << false << false;
        QTest::newRow("padded, other case") << u"  TELE "_s << false << true;
        QTest::newRow("other category") << u"общение"_s << false << true;
    }

    void search()
    {
        QFETCH(QString, search);
        QFETCH(bool, catalogApp);
        const CatalogApp catalog(u"284910350"_s, u"Сбербанк"_s, u"Финансы"_s, QString(), 0, std::nullopt,
                                 u"ru.sberbank.online"_s, std::nullopt);
        QCOMPARE(catalog.matches(search), catalogApp);
        QCOMPARE(catalog.matchesNormalizedSearch(CatalogApp::normalizedSearchText(search)), catalogApp);
        QTEST(TopApp({u"1"_s, u"Telegram"_s, u"telegram.org"_s, u"Общение"_s}).matches(search), "topApp");
    }

    void favicon()
    {
        QCOMPARE(TopApp({u"1"_s, u"Telegram"_s, u"telegram.org"_s, u"Общение"_s}).faviconURL(),
                 QUrl(u"https://www.google.com/s2/favicons?domain=telegram.org&sz=128"_s));
    }

    void transferFraction_data()
    {
        QTest::addColumn<qint64>("completed");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("fraction");

        QTest::newRow("half") << qint64(50) << qint64(100) << 0.5;
        QTest::newRow("over the total") << qint64(150) << qint64(100) << 1.0;
        QTest::newRow("negative completed") << qint64(-5) << qint64(10) << 0.0;
        QTest::newRow("no total") << qint64(5) << qint64(0) << 0.0;
    }

    void transferFraction()
    {
        QFETCH(qint64, completed);
        QFETCH(qint64, total);
        QTEST((TransferProgress{completed, total}.fraction()), "fraction");
    }

    void errorDescriptions_data()
    {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<QString>("description");

        QTest::newRow("missing tool") << std::make_exception_ptr(MirvoError::missingTool(u"ios"_s))
                                      << u"Не найден ios. Откройте «Настройка» и установите компоненты."_s;
        QTest::newRow("system") << std::make_exception_ptr(SystemError::fromErrno(ENOTDIR, u"/tmp/x"_s))
                                << u"Путь ведёт не к папке. (/tmp/x)"_s;
    }

    void errorDescriptions()
    {
        QFETCH(std::exception_ptr, error);
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& thrown) {
            QTEST(localizedDescription(thrown), "description");
            QTEST(QString::fromUtf8(thrown.what()), "description");
        }
    }
};

QTEST_GUILESS_MAIN(tst_Models)
#include "tst_models.moc"
