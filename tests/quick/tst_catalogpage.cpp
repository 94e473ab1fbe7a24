#include "AppModel.h"
#include "ChildProcesses.h"
#include "ImageProviders.h"
#include "QuickTestHelpers.h"
#include "TestEnvironment.h"

#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

// The iPhone the tests connect, on USB unless told otherwise.
Device phone(bool ready, DeviceTransport transport = DeviceTransport::Usb)
{
    return Device{u"00008110-000A1B2C3D4E801E"_s, u"Jane's iPhone"_s, u"17.5.1"_s, ready, transport};
}

const QString eighteenDigits = u"123456789012345678"_s;

} // namespace

// The window around the catalog page: the sidebar's steps, the banners above the page, the popular apps and
// the advanced catalog with its batch bar and rows. The real window over a model on the fake ipatool and
// go-ios; once start-up is over the device poller is stopped, so that the devices the tests set stay.
class tst_CatalogPage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        test::useEmptyFakeHome(*m_dir);
    }

    void cleanup()
    {
        if (m_model)
            m_model->shutdown();
        QTRY_COMPARE_WITH_TIMEOUT(test::liveChildProcesses(), QList<pid_t>{}, 10000);
        m_window = nullptr;
        m_engine.reset();
        m_model.reset();
        qunsetenv("MIRVO_FAKE_HOME");
        qunsetenv("MIRVO_FAKE_STALL_IDS");
        m_dir.reset();
    }

    void batchBarFollowsTheSelection_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("phoneReady");
        QTest::addColumn<QString>("hint");
        QTest::newRow("no Apple ID") << false << true
                                     << u"Подключите Apple ID, чтобы скачать выбранные приложения."_s;
        QTest::newRow("no ready iPhone")
            << true << false
            << u"iPhone не подключён: выбранные приложения будут скачаны и сохранены на Mac."_s;
        QTest::newRow("nothing missing") << true << true << QString();
    }

    void batchBarFollowsTheSelection()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, phoneReady);

        load(true);
        if (signedIn)
            m_model->account()->setEmail(u"jane@example.com"_s);
        select(phone(phoneReady));
        m_model->catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, {}, {}, 0, {}, {}, {}),
                                           CatalogApp(u"2"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
        QQuickItem* bar = item(u"batchBar"_s);
        QVERIFY(bar && !bar->isVisible());

        // The row's checkbox selects its app.
        QTRY_VERIFY(catalogRow(u"2"_s));
        click(catalogRow(u"2"_s)->findChild<QQuickItem*>(u"rowCheckBox"_s));
        QCOMPARE(m_model->catalog()->selectedCount(), 1);
        QVERIFY(bar->isVisible());
        QTEST(text(u"batchBar"_s, u"batchHint"_s), "hint");
        QCOMPARE(item(u"batchBar"_s, u"batchDownload"_s)->isEnabled(), signedIn);
        QCOMPARE(item(u"batchBar"_s, u"batchInstall"_s)->isEnabled(), signedIn && phoneReady);

        click(item(u"batchBar"_s, u"clearSelection"_s));
        QCOMPARE(m_model->catalog()->selectedCount(), 0);
        QVERIFY(!bar->isVisible());
    }

    // What is typed into either page's search offers "Установить по ID" for a store ID; the action opens the
    // install sheet, or the Apple ID sheet first when signed out.
    void directInstall_data()
    {
        QTest::addColumn<bool>("advanced");
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("catalog, 18 digits, signed in") << true << eighteenDigits << true;
        QTest::newRow("popular, 18 digits, signed out") << false << eighteenDigits << false;
        QTest::newRow("catalog, 19 digits") << true << eighteenDigits + u'9' << true;
        QTest::newRow("popular, zeros") << false << u"000000"_s << true;
    }

    void directInstall()
    {
        QFETCH(bool, advanced);
        QFETCH(QString, search);
        QFETCH(bool, signedIn);
        const bool offered = search == eighteenDigits;

        load(advanced);
        if (signedIn)
            m_model->account()->setEmail(u"jane@example.com"_s);
        const QString card = advanced ? u"catalogEmpty"_s : u"topAppsEmpty"_s;
        QQuickItem* field = item(advanced ? u"catalogSearch"_s : u"topSearch"_s);
        test::type(m_window, field, search);
        QCOMPARE(advanced ? m_model->catalog()->search() : m_model->catalog()->topSearch(), search);

        QTRY_VERIFY(item(card)->isVisible());
        QQuickItem* action = item(card, u"emptyCardAction"_s);
        QVERIFY(action);
        QCOMPARE(action->isVisible(), offered);
        if (!offered)
            return;
        QCOMPARE(action->property("text").toString(), u"Установить по ID"_s);
        QCOMPARE(action->property("help").toString(), u"Установить приложение с App Store ID "_s + search);
        click(action);

        OperationState* operation = m_model->operation();
        if (signedIn) {
            QVERIFY(operation->request());
            QCOMPARE(operation->request()->name, u"Приложение "_s + eighteenDigits);
            QCOMPARE(operation->request()->identifier, AppIdentifier::storeID(eighteenDigits));
            QTRY_VERIFY(opened(u"installSheet"_s));
        } else {
            QVERIFY(!operation->request());
            QCOMPARE(m_model->account()->modal(), AccountState::Modal::AppleID);
            QTRY_VERIFY(opened(u"appleIDSheet"_s));
        }
    }

    void iPhoneStepFollowsTheDevice_data()
    {
        QTest::addColumn<Device>("device");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        const QString askToConnect = u"Подключите iPhone"_s;
        const QString check = u"Проверьте кабель и разблокируйте iPhone."_s;
        QTest::newRow("not ready") << phone(false) << askToConnect << check;
        QTest::newRow("on the network") << phone(true, DeviceTransport::Network) << askToConnect << check;
        QTest::newRow("ready on USB")
            << phone(true) << u"iPhone подключён"_s << u"Jane's iPhone, iOS 17.5.1."_s;
    }

    void iPhoneStepFollowsTheDevice()
    {
        QFETCH(Device, device);
        QFETCH(QString, title);

        load(false);
        // Start-up found the fake's iPhone; the step starts from none.
        m_model->devices()->setConnected({});
        QCOMPARE(text(u"iPhoneStep"_s, u"stepTitle"_s), u"Подключите iPhone"_s);
        QCOMPARE(text(u"iPhoneStep"_s, u"stepSubtitle"_s),
                 u"Подключите и разблокируйте iPhone кабелем USB."_s);
        select(device);

        QCOMPARE(text(u"iPhoneStep"_s, u"stepTitle"_s), title);
        QTEST(text(u"iPhoneStep"_s, u"stepSubtitle"_s), "subtitle");
        QCOMPARE(item(u"iPhoneStep"_s, u"completedMark"_s)->isVisible(), title != u"Подключите iPhone"_s);
    }

    void secondIPhoneCanBeChosen()
    {
        load(false);
        const Device first = phone(true);
        Device second = phone(true);
        second.id = u"00008030-001C2D3E4F5A6B7C"_s;
        second.name = u"iPhone Маши"_s;
        second.version = u"18.1"_s;

        // One iPhone needs no choice.
        select(first);
        QQuickItem* choice = item(u"iPhoneStep"_s, u"deviceChoice"_s);
        QVERIFY(choice && !choice->isVisible());

        // With two, the list names both, shows the selected one, and choosing the other selects it.
        m_model->devices()->setConnected({first, second});
        QVERIFY(choice->isVisible());
        QCOMPARE(choice->property("count").toInt(), 2);
        QCOMPARE(choice->property("currentText").toString(), u"Jane's iPhone"_s);
        choice->setProperty("currentIndex", 1);
        QMetaObject::invokeMethod(choice, "activated", Q_ARG(int, 1));
        QCOMPARE(m_model->devices()->selectedDeviceID(), second.id);
        QCOMPARE(text(u"iPhoneStep"_s, u"stepSubtitle"_s), u"iPhone Маши, iOS 18.1."_s);
    }

    void appleIDStepOpensTheSheet()
    {
        load(false);
        QCOMPARE(text(u"appleIDStep"_s, u"stepTitle"_s), u"Подключить Apple ID"_s);
        QCOMPARE(text(u"appleIDStep"_s, u"stepSubtitle"_s),
                 u"Нужен для скачивания приложений из App Store."_s);
        QVERIFY(!item(u"appleIDStep"_s, u"completedMark"_s)->isVisible());
        m_model->account()->setEmail(u"jane@example.com"_s);
        QCOMPARE(text(u"appleIDStep"_s, u"stepTitle"_s), u"Управление Apple ID"_s);
        QCOMPARE(text(u"appleIDStep"_s, u"stepSubtitle"_s), u"jane@example.com"_s);
        QVERIFY(item(u"appleIDStep"_s, u"completedMark"_s)->isVisible());

        click(item(u"appleIDStep"_s));
        QCOMPARE(m_model->account()->modal(), AccountState::Modal::AppleID);
        QTRY_VERIFY(opened(u"appleIDSheet"_s));
    }

    void downloadShowsItsProgressAndStops()
    {
        // The fake ipatool writes part of the file, draws its bar past half way and hangs there.
        qputenv("MIRVO_FAKE_STALL_IDS", "100001");
        load(true);
        m_model->account()->setEmail(u"jane@example.com"_s);
        m_model->catalog()->updateCatalog({CatalogApp(u"100001"_s, u"Сбербанк"_s, {}, {}, 0, {}, {}, {}),
                                           CatalogApp(u"100002"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
        QQuickItem* banner = item(u"progressBanner"_s);
        QVERIFY(banner && !banner->isVisible());

        // The rows appear in the same turn as the banner: the list still gets its size.
        InstallRequest request;
        request.id = QUuid::createUuid();
        request.name = u"Сбербанк"_s;
        request.identifier = AppIdentifier::storeID(u"100001"_s);
        request.catalogAppID = u"100001"_s;
        OperationState* operation = m_model->operation();
        operation->perform(request, false);
        QVERIFY(operation->busy());
        QVERIFY(banner->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(operation->downloadProgress().value_or(0) > 0.5, 20000);
        const double share = *operation->downloadProgress();
        QCOMPARE(text(u"progressBanner"_s, u"progressTitle"_s), u"Скачиваем приложение"_s);
        QCOMPARE(item(u"progressBanner"_s, u"progressBar"_s)->property("value").toDouble(), share);

        // The active row shows the same progress and its stop button in place of "Скачать"; the others wait.
        QQuickItem* active = catalogRow(u"100001"_s);
        QQuickItem* other = catalogRow(u"100002"_s);
        QVERIFY(active && other);
        QVERIFY(item(u"catalogList"_s)->height() > 0);
        QCOMPARE(active->width(), item(u"catalogList"_s)->width());
        QQuickItem* progress = active->findChild<QQuickItem*>(u"rowProgress"_s);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->property("value").toDouble(), share);
        QVERIFY(!progress->property("indeterminate").toBool());
        QVERIFY(!active->findChild<QQuickItem*>(u"rowDownload"_s)->isVisible());
        QVERIFY(!other->findChild<QQuickItem*>(u"rowStop"_s)->isVisible());
        QQuickItem* otherDownload = other->findChild<QQuickItem*>(u"rowDownload"_s);
        QVERIFY(otherDownload->isVisible() && !otherDownload->isEnabled());

        click(active->findChild<QQuickItem*>(u"rowStop"_s));
        QCOMPARE(operation->stage(), u"Останавливаем…"_s);
        QCOMPARE(text(u"progressBanner"_s, u"stopButton"_s), u"Останавливаем…"_s);
        QVERIFY(!item(u"progressBanner"_s, u"stopButton"_s)->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(!operation->busy(), 20000);
        QVERIFY(!banner->isVisible());
        QVERIFY(!progress->isVisible());
        QVERIFY(active->findChild<QQuickItem*>(u"rowDownload"_s)->isVisible());
        QCOMPARE(
            text(u"noticeBanner"_s, u"noticeText"_s),
            u"Операция остановлена. Если передача уже началась, проверьте состояние приложения на iPhone."_s);
        QVERIFY(!m_model->noticeIsError());
    }

    void noticeBannerShowsTheOutcome()
    {
        load(false);
        QQuickItem* banner = item(u"noticeBanner"_s);
        QVERIFY(banner);
        // Start-up found no network and said so.
        QVERIFY(banner->isVisible());
        m_model->closeNotice();
        QVERIFY(!banner->isVisible());

        m_model->setNotice(u"Сбербанк: не удалось скачать."_s, true);
        QVERIFY(banner->isVisible());
        QCOMPARE(text(u"noticeBanner"_s, u"noticeText"_s), u"Сбербанк: не удалось скачать."_s);
        QCOMPARE(item(u"noticeBanner"_s, u"noticeSymbol"_s)->property("name").toString(),
                 u"exclamationmark.circle.fill"_s);
        m_model->setNotice(u"Готово."_s, false);
        QCOMPARE(item(u"noticeBanner"_s, u"noticeSymbol"_s)->property("name").toString(),
                 u"checkmark.circle.fill"_s);

        click(item(u"noticeBanner"_s, u"closeNotice"_s));
        QCOMPARE(m_model->notice(), QString());
        QVERIFY(!banner->isVisible());
    }

private:
    void load(bool advanced)
    {
        AppModelEnvironment environment = test::modelEnvironment(*m_dir);
        test::installFakeTools(environment, {u"ipatool"_s, u"ios"_s});
        m_model = std::make_unique<AppModel>(std::move(environment));
        m_model->setAdvancedMode(advanced);
        AppModel::setInstance(m_model.get());
        m_engine = std::make_unique<QQmlApplicationEngine>();
        installImageProviders(*m_engine, *m_model);
        m_engine->load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
        QVERIFY(!m_engine->rootObjects().isEmpty());
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
        QVERIFY(m_window);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->isStarting(), 20000);
        m_model->devices()->stopPolling();
        QVERIFY(m_model->components()->missingTools().isEmpty());
    }

    QQuickItem* item(const QString& name) const { return test::findItem(m_window, name); }
    QQuickItem* item(const QString& parentName, const QString& name) const
    {
        return test::findItem(item(parentName), name);
    }

    QString text(const QString& parentName, const QString& name) const
    {
        QQuickItem* found = item(parentName, name);
        return found ? found->property("text").toString() : u"<no item>"_s;
    }

    // Whether the sheet or dialog `name` is open.
    bool opened(const QString& name) const
    {
        auto* popup = m_window->findChild<QObject*>(name);
        return popup && popup->property("opened").toBool();
    }

    // The catalog list's row for `appID`; rows are found in the visual tree.
    QQuickItem* catalogRow(const QString& appID) const
    {
        QList<QQuickItem*> pending{item(u"catalogList"_s)};
        while (!pending.isEmpty()) {
            QQuickItem* candidate = pending.takeFirst();
            if (!candidate)
                continue;
            if (candidate->findChild<QQuickItem*>(u"rowStop"_s) &&
                candidate->property("appID").toString() == appID)
                return candidate;
            pending.append(candidate->childItems());
        }
        return nullptr;
    }

    void click(QQuickItem* target) { test::click(m_window, target); }

    void select(const Device& device)
    {
        m_model->devices()->setConnected({device});
        m_model->devices()->setSelectedDeviceID(device.id);
    }

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
};

QTEST_MAIN(tst_CatalogPage)
#include "tst_catalogpage.moc"
