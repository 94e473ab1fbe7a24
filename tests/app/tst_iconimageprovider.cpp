#include "AppModel.h"
#include "CatalogListModel.h"
#include "FakeHttpClient.h"
#include "IconImageProvider.h"
#include "TestEnvironment.h"
#include "TopAppsListModel.h"

#include <QBuffer>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickImageResponse>
#include <QQuickItem>
#include <QQuickTextureFactory>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

const QUrl artworkAddress(u"https://is1.example/image/thumb/Purple 1/a+b/100x100bb.png?x=1&y=%2F#top"_s);

QByteArray png(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The id the engine passes for `source`, as it derives it from the URL.
QString idOf(const QString& source)
{
    return QUrl(source).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1);
}

struct Answer {
    QImage image;
    QString error;
};

// Asks `provider` directly, as the engine does, and waits for the answer.
Answer request(IconImageProvider& provider, const QString& id, QSize requestedSize)
{
    std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id, requestedSize));
    QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
    if (!finished.wait(5000))
        return {{}, u"no answer"_s};
    std::unique_ptr<QQuickTextureFactory> factory(response->textureFactory());
    return {factory ? factory->image() : QImage(), response->errorString()};
}

} // namespace

class tst_IconImageProvider : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void modelOpensBothCaches();
    void sourcesOfTheListModels();
    void storedIconAtTheRequestedSize_data();
    void storedIconAtTheRequestedSize();
    void eachKindAsksItsOwnCache();
    void missingIconsGiveAnEmptyImage_data();
    void missingIconsGiveAnEmptyImage();
    void fetchesTheAddressItWasGiven();
    void aCancelledRequestStillFinishes();
    void aResponseDeletedEarlyIsLeftAlone();
    void modelGoneAnswersEmpty();
    void imageElementShowsTheIcon();
    void imageElementWithoutAnIconStaysQuiet();

private:
    std::optional<test::TemporaryDataDirectory> m_dir;
    std::shared_ptr<test::FakeHttpClient> m_http;
    std::unique_ptr<AppModel> m_model;
};

void tst_IconImageProvider::init()
{
    m_dir.emplace();
    m_http = std::make_shared<test::FakeHttpClient>();
    AppModelEnvironment environment = test::modelEnvironment(*m_dir);
    environment.http = m_http;
    m_model = std::make_unique<AppModel>(std::move(environment));
    QVERIFY(m_model->artworkCache() && m_model->faviconCache());
}

void tst_IconImageProvider::cleanup()
{
    m_model.reset();
    m_http.reset();
    m_dir.reset();
}

void tst_IconImageProvider::modelOpensBothCaches()
{
    const QString root = m_dir->filePath(u"Mirvo"_s);
    QCOMPARE(m_model->artworkCache()->directory(), root + u"/Artwork"_s);
    QCOMPARE(m_model->faviconCache()->directory(), root + u"/Favicons"_s);
    QVERIFY(QFileInfo(root + u"/Artwork"_s).isDir());
    QVERIFY(QFileInfo(root + u"/Favicons"_s).isDir());

    // One cache in the way of a file: only that one is absent, and nobody is told.
    test::TemporaryDataDirectory other;
    test::makeEntry(other.path(), u"Mirvo/Favicons"_s);
    AppModel blocked(test::modelEnvironment(other));
    QVERIFY(blocked.store().has_value());
    QVERIFY(blocked.artworkCache());
    QVERIFY(!blocked.faviconCache());
    QVERIFY(blocked.alert().isEmpty());

    // No store, no caches.
    AppModel withoutStore(test::blockedModelEnvironment(other));
    QVERIFY(!withoutStore.artworkCache());
    QVERIFY(!withoutStore.faviconCache());
}

void tst_IconImageProvider::sourcesOfTheListModels()
{
    CatalogListModel apps;
    apps.setApps({CatalogApp(u"284882215"_s, u"Facebook"_s, {}, {}, 0, artworkAddress, {}, {}),
                  CatalogApp(u"310633997"_s, u"WhatsApp"_s, {}, {}, 0, {}, {}, {})});
    QVERIFY(apps.roleNames().value(CatalogListModel::IconSourceRole) == "iconSource");
    const QString source = apps.index(0).data(CatalogListModel::IconSourceRole).toString();
    QVERIFY2(source.startsWith(u"image://icons/artwork/284882215?"_s), qPrintable(source));
    QCOMPARE(source, IconImageProvider::artworkSource(u"284882215"_s, artworkAddress));
    QCOMPARE(apps.index(1).data(CatalogListModel::IconSourceRole).toString(), QString());
    QCOMPARE(IconImageProvider::artworkSource(u"1"_s, QUrl()), QString());

    TopAppsListModel top;
    const TopApp telegram{u"686449807"_s, u"Telegram"_s, u"telegram.org"_s, {}};
    top.setApps({telegram});
    QVERIFY(top.roleNames().value(TopAppsListModel::IconSourceRole) == "iconSource");
    QCOMPARE(top.index(0).data(TopAppsListModel::IconSourceRole).toString(),
             IconImageProvider::faviconSource(u"686449807"_s, telegram.faviconURL()));
    QVERIFY(top.index(0)
                .data(TopAppsListModel::IconSourceRole)
                .toString()
                .startsWith(u"image://icons/favicon/686449807?"_s));
}

void tst_IconImageProvider::storedIconAtTheRequestedSize_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("smaller") << QSize(64, 64) << QSize(32, 32) << QSize(32, 32);
    QTest::newRow("no size asked") << QSize(64, 64) << QSize() << QSize(64, 64);
    QTest::newRow("zero size asked") << QSize(64, 64) << QSize(0, 0) << QSize(64, 64);
    QTest::newRow("larger than stored") << QSize(64, 64) << QSize(128, 128) << QSize(64, 64);
    QTest::newRow("width only") << QSize(64, 64) << QSize(16, 0) << QSize(16, 16);
    QTest::newRow("height only") << QSize(64, 32) << QSize(0, 8) << QSize(16, 8);
    QTest::newRow("proportions kept") << QSize(64, 32) << QSize(16, 16) << QSize(16, 8);
}

void tst_IconImageProvider::storedIconAtTheRequestedSize()
{
    QFETCH(QSize, stored);
    QFETCH(QSize, requested);
    QFETCH(QSize, expected);

    m_model->artworkCache()->store(png(stored), u"42"_s);
    IconImageProvider provider(m_model.get());
    const Answer answer =
        request(provider, idOf(IconImageProvider::artworkSource(u"42"_s, artworkAddress)), requested);
    QCOMPARE(answer.error, QString());
    QCOMPARE(answer.image.size(), expected);
    QCOMPARE(answer.image.pixelColor(expected.width() / 2, expected.height() / 2), QColor(Qt::red));
    QVERIFY(m_http->requests().isEmpty());
}

void tst_IconImageProvider::eachKindAsksItsOwnCache()
{
    m_model->faviconCache()->store(png({16, 16}), u"7"_s);
    IconImageProvider provider(m_model.get());
    const QUrl address(u"https://www.google.com/s2/favicons?domain=telegram.org&sz=128"_s);
    QCOMPARE(request(provider, idOf(IconImageProvider::faviconSource(u"7"_s, address)), {}).image.size(),
             QSize(16, 16));
    // No answer from the network: the artwork cache has no icon 7.
    QVERIFY(request(provider, idOf(IconImageProvider::artworkSource(u"7"_s, address)), {}).image.isNull());
}

void tst_IconImageProvider::missingIconsGiveAnEmptyImage_data()
{
    QTest::addColumn<QString>("id");

    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(artworkAddress.toString()));
    QTest::newRow("not stored, not reachable") << u"artwork/5?"_s + encoded;
    QTest::newRow("no address") << u"artwork/5?"_s;
    QTest::newRow("no query") << u"artwork/5"_s;
    QTest::newRow("unknown kind") << u"banner/5?"_s + encoded;
    QTest::newRow("empty") << QString();
    QTest::newRow("key with letters") << u"favicon/abc?"_s + encoded;
}

void tst_IconImageProvider::missingIconsGiveAnEmptyImage()
{
    QFETCH(QString, id);

    IconImageProvider provider(m_model.get());
    const Answer answer = request(provider, id, {32, 32});
    QCOMPARE(answer.error, QString());
    QVERIFY(answer.image.isNull());
}

void tst_IconImageProvider::fetchesTheAddressItWasGiven()
{
    const QByteArray icon = png({20, 20});
    m_http->setAnswer([icon](const HttpRequest&) { return test::FakeHttpClient::ok(icon); });
    IconImageProvider provider(m_model.get());
    const Answer answer =
        request(provider, idOf(IconImageProvider::artworkSource(u"9"_s, artworkAddress)), {});
    QCOMPARE(answer.image.size(), QSize(20, 20));
    QCOMPARE(m_http->requests().size(), 1);
    QCOMPARE(m_http->requests().constFirst().url, artworkAddress);
    QCOMPARE(test::readFile(m_model->artworkCache()->directory() + u"/9.image"_s), std::optional(icon));
}

void tst_IconImageProvider::aCancelledRequestStillFinishes()
{
    m_http->setAnswer([](const HttpRequest&) { return test::FakeHttpClient::ok(png({8, 8})); });
    IconImageProvider provider(m_model.get());
    std::unique_ptr<QQuickImageResponse> response(
        provider.requestImageResponse(idOf(IconImageProvider::artworkSource(u"9"_s, artworkAddress)), {}));
    QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
    response->cancel();
    QVERIFY(finished.wait(5000));
    QVERIFY(!response->textureFactory());
    QCOMPARE(m_model->artworkCache()->cachedURL(u"9"_s), std::optional<QString>());
}

void tst_IconImageProvider::aResponseDeletedEarlyIsLeftAlone()
{
    m_http->setAnswer([](const HttpRequest&) { return test::FakeHttpClient::ok(png({8, 8})); });
    IconImageProvider provider(m_model.get());
    delete provider.requestImageResponse(idOf(IconImageProvider::artworkSource(u"9"_s, artworkAddress)), {});
    // The fetch goes on without anyone to tell; the icon is kept for the next time.
    QTRY_VERIFY(m_model->artworkCache()->cachedURL(u"9"_s).has_value());
}

void tst_IconImageProvider::modelGoneAnswersEmpty()
{
    m_model->artworkCache()->store(png({8, 8}), u"3"_s);
    IconImageProvider provider(m_model.get());
    std::unique_ptr<QQuickImageResponse> response(
        provider.requestImageResponse(idOf(IconImageProvider::artworkSource(u"3"_s, artworkAddress)), {}));
    QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
    m_model.reset();
    QVERIFY(finished.wait(5000));
    QVERIFY(!response->textureFactory());
}

void tst_IconImageProvider::imageElementShowsTheIcon()
{
    m_model->artworkCache()->store(png({64, 64}), u"42"_s);
    QQmlEngine engine;
    engine.addImageProvider(IconImageProvider::providerId, new IconImageProvider(m_model.get()));
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nImage { sourceSize.width: 24; sourceSize.height: 24 }", QUrl());
    std::unique_ptr<QObject> image(component.createWithInitialProperties(
        {{u"source"_s, IconImageProvider::artworkSource(u"42"_s, artworkAddress)}}));
    QVERIFY2(image, qPrintable(component.errorString()));
    QTRY_COMPARE(image->property("status").toInt(), 1); // Image.Ready
    QCOMPARE(image->property("implicitWidth").toReal(), 24.0);
}

void tst_IconImageProvider::imageElementWithoutAnIconStaysQuiet()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    QQmlEngine engine;
    engine.addImageProvider(IconImageProvider::providerId, new IconImageProvider(m_model.get()));
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nImage { sourceSize.width: 24; sourceSize.height: 24 }", QUrl());
    std::unique_ptr<QObject> image(component.createWithInitialProperties(
        {{u"source"_s, IconImageProvider::artworkSource(u"43"_s, artworkAddress)}}));
    QVERIFY2(image, qPrintable(component.errorString()));
    QTRY_COMPARE(image->property("status").toInt(), 1); // Image.Ready, with nothing to show
    QCOMPARE(image->property("implicitWidth").toReal(), 0.0);
    QCOMPARE(m_http->requests().size(), 1);
    QCOMPARE(m_http->requests().constFirst().url, artworkAddress);
}

QTEST_MAIN(tst_IconImageProvider)
#include "tst_iconimageprovider.moc"
