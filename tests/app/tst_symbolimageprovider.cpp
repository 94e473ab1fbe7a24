#include "SymbolImageProvider.h"
#include "Theme.h"

#include <QDir>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickStyle>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

// The symbols the screens name; each ships as an icon.
const QStringList symbolNames =
    u"person.crop.circle.fill checkmark.shield.fill apple.logo cable.connector checkmark "
    u"checkmark.circle.fill checkmark.square.fill exclamationmark.circle.fill "
    u"exclamationmark.triangle.fill arrow.down.circle arrow.down.circle.fill "
    u"arrow.triangle.2.circlepath arrow.clockwise arrow.right arrow.uturn.backward "
    u"magnifyingglass xmark.circle.fill square.grid.2x2 internaldrive"_s.split(u' ');

// The id the engine passes for `source`, as it derives it from the URL.
QString idOf(const QString& source)
{
    return QUrl(source).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1);
}

struct Coverage {
    int opaque = 0;
    int transparent = 0;
    int otherColour = 0;
};

// How many pixels are fully covered, how many empty, and how many covered ones are not `colour`.
Coverage coverageOf(const QImage& image, const QColor& colour)
{
    Coverage coverage;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 0)
                ++coverage.transparent;
            if (pixel.alpha() != 255)
                continue;
            ++coverage.opaque;
            if (pixel.rgb() != colour.rgb())
                ++coverage.otherColour;
        }
    }
    return coverage;
}

} // namespace

class tst_SymbolImageProvider : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QQuickStyle::setStyle(u"Basic"_s); }

    void everySymbolShips()
    {
        QStringList expected;
        for (const QString& name : symbolNames) {
            QVERIFY2(SymbolImageProvider::hasSymbol(name), qPrintable(name));
            expected.append(name + u".svg"_s);
        }
        expected.sort();
        QCOMPARE(QDir(u":/icons/symbols"_s).entryList(QDir::Files, QDir::Name), expected);
    }

    void drawsInTheAskedColour_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString& name : symbolNames)
            QTest::newRow(qPrintable(name)) << name;
    }

    void drawsInTheAskedColour()
    {
        QFETCH(QString, name);
        const QColor colour(u"#0a84ff"_s);
        SymbolImageProvider provider;
        QSize natural;
        const QImage image =
            provider.requestImage(idOf(SymbolImageProvider::source(name, colour)), &natural, {48, 48});
        QCOMPARE(image.size(), QSize(48, 48));
        QCOMPARE(natural, QSize(16, 16));
        const Coverage coverage = coverageOf(image, colour);
        QVERIFY(coverage.opaque > 0);
        QVERIFY(coverage.transparent > 0);
        QCOMPARE(coverage.otherColour, 0);
    }

    void withoutSizeOrColour()
    {
        SymbolImageProvider provider;
        QSize natural;
        const QImage image = provider.requestImage(u"checkmark.circle.fill"_s, &natural, {});
        QCOMPARE(image.size(), QSize(16, 16));
        QCOMPARE(coverageOf(image, Theme::ink()).otherColour, 0);
        QVERIFY(coverageOf(image, Theme::ink()).opaque > 0);

        // One side asked for, a colour QColor does not read: the icon's proportions and the ink.
        const QImage wide = provider.requestImage(u"checkmark.circle.fill?nocolour"_s, &natural, {24, 0});
        QCOMPARE(wide.size(), QSize(24, 24));
        QCOMPARE(coverageOf(wide, Theme::ink()).otherColour, 0);
    }

    void unknownNameGivesTransparent()
    {
        SymbolImageProvider provider;
        QSize natural;
        QTest::ignoreMessage(QtWarningMsg, "No symbol icon called \"no.such.symbol\"");
        const QImage image = provider.requestImage(u"no.such.symbol?%23ff0000"_s, &natural, {20, 20});
        QCOMPARE(image.size(), QSize(20, 20));
        QCOMPARE(coverageOf(image, Qt::red).transparent, 400);

        QTest::ignoreMessage(QtWarningMsg, "No symbol icon called \"../symbols/checkmark\"");
        QCOMPARE(coverageOf(provider.requestImage(u"../symbols/checkmark"_s, &natural, {8, 8}), Qt::red)
                     .transparent,
                 64);
    }

    void symbolElementLoadsItsIcon()
    {
        QQmlEngine engine;
        // Where the module's QML files are found by name; Qt 6.5 and later look there without being told.
        engine.addImportPath(u"qrc:/qt/qml"_s);
        engine.addImageProvider(SymbolImageProvider::providerId, new SymbolImageProvider);
        QQmlComponent component(&engine);
        component.setData("import Mirvo\nSymbol { name: \"checkmark\"; color: Theme.accent; size: 20 }",
                          QUrl(u"qrc:/tst_symbolimageprovider.qml"_s));
        std::unique_ptr<QObject> symbol(component.create());
        QVERIFY2(symbol, qPrintable(component.errorString()));
        QCOMPARE(symbol->property("source").toUrl(),
                 QUrl(SymbolImageProvider::source(u"checkmark"_s, Theme::accent())));
        QTRY_COMPARE(symbol->property("status").toInt(), 1 /* Image.Ready */);
        QCOMPARE(symbol->property("implicitWidth").toReal(), 20.0);
    }

    void buildingBlocksLoad_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* file : {"Symbol", "PageHeading", "SheetHeading", "PrimaryButton", "SecondaryButton",
                                 "WidePrimaryButton", "PlainPointerButton", "EmptyCard", "ErrorNotice",
                                 "IndeterminateSpinner", "MirvoLogo"})
            QTest::newRow(file) << QString::fromLatin1(file);
    }

    void buildingBlocksLoad()
    {
        QFETCH(QString, file);
        QQmlEngine engine;
        engine.addImageProvider(SymbolImageProvider::providerId, new SymbolImageProvider);
        QQmlComponent component(&engine, QUrl(u"qrc:/qt/qml/Mirvo/qml/"_s + file + u".qml"_s));
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QVERIFY(component.errors().isEmpty());
        if (file == u"MirvoLogo"_s)
            QTRY_COMPARE(object->property("status").toInt(), 1 /* Image.Ready */);
    }

    void emptyCardOffersItsActionOnlyWithText()
    {
        QQmlEngine engine;
        engine.addImageProvider(SymbolImageProvider::providerId, new SymbolImageProvider);
        QQmlComponent component(&engine, QUrl(u"qrc:/qt/qml/Mirvo/qml/EmptyCard.qml"_s));
        std::unique_ptr<QObject> card(component.create());
        QVERIFY2(card, qPrintable(component.errorString()));
        auto* action = card->findChild<QQuickItem*>(u"emptyCardAction"_s);
        QVERIFY(action);
        QVERIFY(!action->isVisible());

        card->setProperty("actionText", u"Обновить"_s);
        QVERIFY(action->isVisible());
        QSignalSpy triggered(card.get(), SIGNAL(actionTriggered()));
        QMetaObject::invokeMethod(action, "clicked");
        QCOMPARE(triggered.count(), 1);
    }
};

QTEST_MAIN(tst_SymbolImageProvider)
#include "tst_symbolimageprovider.moc"
