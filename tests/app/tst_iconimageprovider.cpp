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

// The id the engine passes for the artwork of `key`.
QString artworkID(const QString& key)
{
    return idOf(IconImageProvider::artworkSource(key, artworkAddress));
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
    void init()
    {
        m_dir.emplace();
        m_http = std::make_shared<test::FakeHttpClient>();
        AppModelEnvironment environment = test::modelEnvironment(*m_dir);
        environment.http = m_http;
        m_model = std::make_unique<AppModel>(std::move(environment));
        QVERIFY(m_model->artworkCache() && m_model->faviconCache());
    }

    void cleanup()
    {
        m_model.reset();
        m_http.reset();
        m_dir.reset();
    }

    void modelOpensBothCaches()
    {
        const QString root = m_dir->filePath(u"Mirvo"_s);
        QCOMPARE(m_model->artworkCache()->directory(), root + u"/Artwork"_s);
        QCOMPARE(m_model->faviconCache()->directory(), root + u"/Favicons"_s);

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

    void sourcesOfTheListModels()
    {
        CatalogListModel apps;
        apps.setApps({CatalogApp(u"284882215"_s, u"Facebook"_s, {}, {}, 0, artworkAddress, {}, {}),
                      CatalogApp(u"310633997"_s, u"WhatsApp"_s, {}, {}, 0, {}, {}, {})});
        QCOMPARE(apps.roleNames().value(CatalogListModel::IconSourceRole), "iconSource"_ba);
        QCOMPARE(apps.index(0).data(CatalogListModel::IconSourceRole).toString(),
                 IconImageProvider::artworkSource(u"284882215"_s, artworkAddress));
        // No address, no source: the row keeps its placeholder.
        QCOMPARE(apps.index(1).data(CatalogListModel::IconSourceRole).toString(), QString());

        TopAppsListModel top;
        const TopApp telegram{u"686449807"_s, u"Telegram"_s, u"telegram.org"_s, {}};
        top.setApps({telegram});
        QCOMPARE(top.roleNames().value(TopAppsListModel::IconSourceRole), "iconSource"_ba);
        QCOMPARE(top.index(0).data(TopAppsListModel::IconSourceRole).toString(),
                 IconImageProvider::faviconSource(u"686449807"_s, telegram.faviconURL()));
    }

    void storedIconAtTheRequestedSize_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("expected");

        QTest::newRow("smaller") << QSize(64, 64) << QSize(32, 32) << QSize(32, 32);
        QTest::newRow("no size asked") << QSize(64, 64) << QSize() << QSize(64, 64);
        QTest::newRow("larger than stored") << QSize(64, 64) << QSize(128, 128) << QSize(64, 64);
        QTest::newRow("width only") << QSize(64, 64) << QSize(16, 0) << QSize(16, 16);
        QTest::newRow("proportions kept") << QSize(64, 32) << QSize(16, 16) << QSize(16, 8);
    }

    void storedIconAtTheRequestedSize()
    {
        QFETCH(QSize, stored);
        QFETCH(QSize, requested);
        QFETCH(QSize, expected);

        m_model->artworkCache()->store(png(stored), u"42"_s);
        IconImageProvider provider(m_model.get());
        const Answer answer = request(provider, artworkID(u"42"_s), requested);
        QCOMPARE(answer.error, QString());
        QCOMPARE(answer.image.size(), expected);
        QCOMPARE(answer.image.pixelColor(expected.width() / 2, expected.height() / 2), QColor(Qt::red));
        QVERIFY(m_http->requests().isEmpty());
    }

    void eachKindAsksItsOwnCache()
    {
        m_model->faviconCache()->store(png({16, 16}), u"7"_s);
        IconImageProvider provider(m_model.get());
        const QUrl address(u"https://www.google.com/s2/favicons?domain=telegram.org&sz=128"_s);
        QCOMPARE(request(provider, idOf(IconImageProvider::faviconSource(u"7"_s, address)), {}).image.size(),
                 QSize(16, 16));
        // No answer from the network: the artwork cache has no icon 7.
        QVERIFY(
            request(provider, idOf(IconImageProvider::artworkSource(u"7"_s, address)), {}).image.isNull());
    }

    void missingIconsGiveAnEmptyImage_data()
    {
        QTest::addColumn<QString>("id");

        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(artworkAddress.toString()));
        QTest::newRow("not stored, not reachable") << u"artwork/5?"_s + encoded;
        QTest::newRow("no query") << u"artwork/5"_s;
        QTest::newRow("unknown kind") << u"banner/5?"_s + encoded;
        QTest::newRow("key with letters") << u"favicon/abc?"_s + encoded;
    }

    void missingIconsGiveAnEmptyImage()
    {
        QFETCH(QString, id);

        IconImageProvider provider(m_model.get());
        const Answer answer = request(provider, id, {32, 32});
        QCOMPARE(answer.error, QString());
        QVERIFY(answer.image.isNull());
    }

    void fetchesTheAddressItWasGiven()
    {
        const QByteArray icon = png({20, 20});
        m_http->setAnswer([icon](const HttpRequest&) { return test::FakeHttpClient::ok(icon); });
        IconImageProvider provider(m_model.get());
        const Answer answer = request(provider, artworkID(u"9"_s), {});
        QCOMPARE(answer.image.size(), QSize(20, 20));
        QCOMPARE(m_http->requests().size(), 1);
        QCOMPARE(m_http->requests().constFirst().url, artworkAddress);
        QCOMPARE(test::readFile(m_model->artworkCache()->directory() + u"/9.image"_s), std::optional(icon));
    }

    void aCancelledRequestStillFinishes()
    {
        m_http->setAnswer([](const HttpRequest&) { return test::FakeHttpClient::ok(png({8, 8})); });
        IconImageProvider provider(m_model.get());
        std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(artworkID(u"9"_s), {}));
        QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
        response->cancel();
        QVERIFY(finished.wait(5000));
        QVERIFY(!response->textureFactory());
        QCOMPARE(m_model->artworkCache()->cachedURL(u"9"_s), std::optional<QString>());
    }

    void aResponseDeletedEarlyIsLeftAlone()
    {
        m_http->setAnswer([](const HttpRequest&) { return test::FakeHttpClient::ok(png({8, 8})); });
        IconImageProvider provider(m_model.get());
        delete provider.requestImageResponse(artworkID(u"9"_s), {});
        // The fetch goes on without anyone to tell; the icon is kept for the next time.
        QTRY_VERIFY(m_model->artworkCache()->cachedURL(u"9"_s).has_value());
    }

    void modelGoneAnswersEmpty()
    {
        m_model->artworkCache()->store(png({8, 8}), u"3"_s);
        IconImageProvider provider(m_model.get());
        std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(artworkID(u"3"_s), {}));
        QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
        m_model.reset();
        QVERIFY(finished.wait(5000));
        QVERIFY(!response->textureFactory());
    }

    void imageElement_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("stored icon") << true;
        // Nothing to show, and nothing said about it.
        QTest::newRow("no icon, quietly") << false;
    }

    void imageElement()
    {
        QFETCH(bool, stored);
        if (stored)
            m_model->artworkCache()->store(png({64, 64}), u"42"_s);
        else
            QTest::failOnWarning(QRegularExpression(u".*"_s));
        QQmlEngine engine;
        engine.addImageProvider(IconImageProvider::providerId, new IconImageProvider(m_model.get()));
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nImage { sourceSize.width: 24; sourceSize.height: 24 }", QUrl());
        std::unique_ptr<QObject> image(component.createWithInitialProperties(
            {{u"source"_s, IconImageProvider::artworkSource(stored ? u"42"_s : u"43"_s, artworkAddress)}}));
        QVERIFY2(image, qPrintable(component.errorString()));
        QTRY_COMPARE(image->property("status").toInt(), 1); // Image.Ready
        QCOMPARE(image->property("implicitWidth").toReal(), stored ? 24.0 : 0.0);
        QCOMPARE(m_http->requests().size(), stored ? 0 : 1);
        if (!stored)
            QCOMPARE(m_http->requests().constFirst().url, artworkAddress);
    }

private:
    std::optional<test::TemporaryDataDirectory> m_dir;
    std::shared_ptr<test::FakeHttpClient> m_http;
    std::unique_ptr<AppModel> m_model;
};

QTEST_MAIN(tst_IconImageProvider)
#include "tst_iconimageprovider.moc"
