#include "OperationFixture.h"

#include "FakeHttpClient.h"

#include <QUrlQuery>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

using Stage = OperationState::ProgressStage;

namespace {

const QString stoppedNotice =
    u"Операция остановлена. Если передача уже началась, проверьте состояние приложения на iPhone."_s;

// Every value a progress property took, in order; none as -1.
class ProgressLog {
public:
    ProgressLog(OperationState& operation, const std::optional<double>& (OperationState::*read)() const,
                void (OperationState::*changed)())
    {
        QObject::connect(&operation, changed, &m_context,
                         [this, &operation, read] { values.append((operation.*read)().value_or(-1)); });
    }
    QList<double> values;

private:
    QObject m_context; // the connection ends with the log
};

} // namespace

// One app downloaded, and installed when asked, through the fake tools as real processes.
class tst_AppOperation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<test::OperationFixture>(); }

    void cleanup()
    {
        if (m_fixture)
            QVERIFY(m_fixture->waitUntilIdle());
        m_fixture.reset();
        QCOMPARE(test::liveChildProcesses(), QList<pid_t>{});
    }

    void downloadKeptOnTheComputer()
    {
        OperationState& operation = m_fixture->operation();
        ProgressLog download(operation, &OperationState::downloadProgress,
                             &OperationState::downloadProgressChanged);
        operation.setRequest(m_fixture->request(u"Сбербанк: Онлайн/2"_s, u"100001"_s));
        operation.perform(m_fixture->request(u"Сбербанк: Онлайн/2"_s, u"100001"_s, u"100001"_s), false);

        QVERIFY(operation.busy());
        QVERIFY(!operation.request());
        QCOMPARE(operation.progressStage(), Stage::Download);
        QCOMPARE(operation.activeCatalogAppID(), u"100001"_s);
        QVERIFY(m_fixture->waitUntilIdle());

        QCOMPARE(m_fixture->model().alert(), QString());
        QCOMPARE(m_fixture->model().notice(), u"Сбербанк: Онлайн/2: IPA сохранён на Mac."_s);
        QVERIFY(!m_fixture->model().noticeIsError());
        QCOMPARE(m_fixture->packageFiles(), QStringList{u"Сбербанк_ Онлайн_2.ipa"_s});
        QCOMPARE(operation.downloadProgress(), std::optional<double>(1.0));
        QCOMPARE(operation.progressStage(), Stage::None);
        QCOMPARE(operation.activeCatalogAppID(), QString());
        QVERIFY(operation.task().isEmpty());
        // The bar only moves forward, never past the end, and got there in more than one step.
        QVERIFY(download.values.size() > 2);
        for (qsizetype i = 1; i < download.values.size(); ++i)
            QVERIFY(download.values.at(i) >= download.values.at(i - 1));
        QVERIFY(download.values.constLast() <= 1.0);
        QVERIFY(operation.downloadedBytes() > 0);
        QCOMPARE(m_fixture->calls().size(), 1);
        QVERIFY(m_fixture->calls().constFirst().startsWith(u"ipatool download --app-id 100001"_s));
    }

    void existingPackageIsReused_data()
    {
        QTest::addColumn<bool>("install");
        QTest::newRow("kept on the computer") << false;
        QTest::newRow("installed") << true;
    }

    // A package from an earlier download is found again, under its shortened name too, and nothing is
    // downloaded.
    void existingPackageIsReused()
    {
        QFETCH(bool, install);
        // 130 Cyrillic letters take 260 bytes: more than a file name may hold.
        const QString name = QString(130, u'ж');
        OperationState& operation = m_fixture->operation();
        operation.perform(m_fixture->request(name, u"100003"_s), false);
        QVERIFY(m_fixture->waitUntilIdle());
        QCOMPARE(m_fixture->calls().size(), 1);
        const QStringList files = m_fixture->packageFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY(files.constFirst().toUtf8().size() <= 255);
        QVERIFY(files.constFirst().startsWith(QString(100, u'ж')) && files.constFirst().endsWith(u"ж.ipa"_s));

        ProgressLog download(operation, &OperationState::downloadProgress,
                             &OperationState::downloadProgressChanged);
        operation.perform(m_fixture->request(name, u"100003"_s), install);
        QVERIFY(m_fixture->waitUntilIdle());

        const QStringList calls = m_fixture->calls().mid(1);
        QCOMPARE(m_fixture->model().alert(), QString());
        QCOMPARE(download.values, QList<double>{-1});
        QVERIFY(!operation.downloadProgress());
        if (install) {
            QVERIFY(!calls.isEmpty());
            for (const QString& call : calls)
                QVERIFY2(call.startsWith(u"ios "_s), qPrintable(call));
            QCOMPARE(m_fixture->model().notice(),
                     u"Установка на Jane's iPhone завершена. Проверьте приложение на iPhone."_s);
            QCOMPARE(operation.installProgress(), std::optional<double>(1.0));
        } else {
            QCOMPARE(calls, QStringList{});
            QCOMPARE(m_fixture->model().notice(), name + u": IPA сохранён на Mac."_s);
        }
    }

    // go-ios stays silent while it sends the app: no install value until its first percentage, so the bar is
    // indeterminate rather than stuck at 0 %.
    void installsOnTheDeviceCapturedAtTheStart()
    {
        qputenv("MIRVO_FAKE_SCENARIO", "silent-send");
        qputenv("MIRVO_FAKE_SEND_MS", "800");
        OperationState& operation = m_fixture->operation();
        ProgressLog install(operation, &OperationState::installProgress,
                            &OperationState::installProgressChanged);
        operation.perform(m_fixture->request(u"Ozon"_s, u"100002"_s), true);
        // The user picks another phone, then none at all, while the app downloads.
        Device other = test::fakePhone();
        other.id = u"OTHER"_s;
        other.name = u"Другой"_s;
        m_fixture->model().devices()->setConnected({other});
        m_fixture->model().devices()->setSelectedDeviceID(u"OTHER"_s);
        QTRY_COMPARE_WITH_TIMEOUT(operation.progressStage(), Stage::Install, 20000);
        QCOMPARE(operation.stage(), u"Устанавливаем на Jane's iPhone"_s);
        m_fixture->model().devices()->setConnected({});
        QTest::qWait(400);
        QVERIFY(!operation.installProgress());
        QVERIFY(m_fixture->waitUntilIdle());

        QCOMPARE(m_fixture->model().alert(), QString());
        QCOMPARE(m_fixture->model().notice(),
                 u"Установка на Jane's iPhone завершена. Проверьте приложение на iPhone."_s);
        const QStringList installs = m_fixture->calls().filter(u"ios install"_s);
        QCOMPARE(installs.size(), 1);
        QVERIFY2(installs.constFirst().contains(test::fakePhone().id), qPrintable(installs.constFirst()));
        QVERIFY(install.values.size() > 1);
        QCOMPARE(install.values.constLast(), 1.0);
        QCOMPARE(operation.installProgress(), std::optional<double>(1.0));
    }

    void stopDuringTheDownload()
    {
        qputenv("MIRVO_FAKE_SCENARIO", "slow-progress");
        OperationState& operation = m_fixture->operation();
        operation.perform(m_fixture->request(u"Медленное"_s, u"100004"_s), false);
        QTRY_VERIFY_WITH_TIMEOUT(operation.downloadedBytes() > 0, 20000);
        operation.stop();
        QCOMPARE(operation.stage(), u"Останавливаем…"_s);
        QVERIFY(m_fixture->waitUntilIdle());

        QCOMPARE(m_fixture->model().notice(), stoppedNotice);
        QVERIFY(!m_fixture->model().noticeIsError());
        QCOMPARE(m_fixture->model().alert(), QString());
        QVERIFY(!operation.busy());
        QCOMPARE(m_fixture->packageFiles(), QStringList{});
    }

    void failingToolEndsInTheFriendlyAlert()
    {
        qputenv("MIRVO_FAKE_SCENARIO", "license-required");
        m_fixture->operation().perform(m_fixture->request(u"Чужое"_s, u"100005"_s), false);
        QVERIFY(m_fixture->waitUntilIdle());

        QCOMPARE(m_fixture->model().alert(), u"Apple не разрешает скачать это приложение с текущего "
                                             u"аккаунта. Войдите в Apple ID, с которого вы "
                                             u"уже скачивали это приложение раньше, и повторите попытку."_s);
        QCOMPARE(m_fixture->model().notice(), QString());
        QCOMPARE(m_fixture->packageFiles(), QStringList{});
    }

    void guards()
    {
        AppModel& model = m_fixture->model();
        OperationState& operation = m_fixture->operation();
        const InstallRequest request = m_fixture->request(u"Приложение"_s, u"100006"_s);

        // Installing on a phone that is not ready: an alert, and the sheet stays open.
        model.devices()->setConnected({test::fakePhone(false)});
        operation.setRequest(request);
        operation.perform(request, true);
        QCOMPARE(model.alert(), u"Подключите и разблокируйте iPhone."_s);
        QVERIFY(!operation.busy());
        QCOMPARE(operation.request(), std::optional<InstallRequest>(request));
        model.dismissAlert();

        // Signed out: the Apple ID sheet, nothing else.
        model.account()->setEmail({});
        operation.perform(request, false);
        QCOMPARE(model.account()->modal(), AccountState::Modal::AppleID);
        QVERIFY(!operation.busy());
        QCOMPARE(model.alert(), QString());
        model.account()->setModal(AccountState::Modal::None);
        model.account()->setEmail(u"jane@example.com"_s);

        // A second operation while one runs changes nothing.
        qputenv("MIRVO_FAKE_SCENARIO", "slow-progress");
        operation.perform(request, false);
        QVERIFY(operation.busy());
        const quint64 running = operation.task().serial();
        operation.perform(m_fixture->request(u"Другое"_s, u"100007"_s), false);
        operation.performSelectedCatalogApps(false);
        QCOMPARE(operation.task().serial(), running);
        QCOMPARE(operation.title(), u"Приложение"_s);
        operation.stop();
    }

    void bundleIDs_data()
    {
        QTest::addColumn<QString>("ruAnswer"); // the store ID the storefront gives, empty for none
        QTest::addColumn<QString>("usAnswer");
        QTest::addColumn<QByteArray>("offeredToTheAccount"); // bundle IDs the account's own storefront offers
        QTest::addColumn<QString>("expectedArguments");
        QTest::addColumn<bool>("succeeds");

        QTest::newRow("the Russian storefront knows it")
            << u"100009"_s << QString() << QByteArray() << u"--app-id 100009"_s << true;
        QTest::newRow("only the fallback storefront knows it")
            << QString() << u"100010"_s << QByteArray() << u"--app-id 100010"_s << true;
        QTest::newRow("no storefront knows it, the account's does")
            << QString() << QString() << "ru.example.app"_ba << u"--bundle-identifier ru.example.app"_s
            << true;
        QTest::newRow("nobody knows it")
            << QString() << QString() << QByteArray() << u"--bundle-identifier ru.example.app"_s << false;
    }

    void bundleIDs()
    {
        QFETCH(QString, ruAnswer);
        QFETCH(QString, usAnswer);
        QFETCH(QByteArray, offeredToTheAccount);
        QFETCH(QString, expectedArguments);
        QFETCH(bool, succeeds);

        auto http = std::make_shared<test::FakeHttpClient>([&](const HttpRequest& request) {
            const QUrlQuery query(request.url);
            const QString id = query.queryItemValue(u"country"_s) == u"ru"_s ? ruAnswer : usAnswer;
            if (request.url.path() != u"/lookup"_s ||
                query.queryItemValue(u"bundleId"_s) != u"ru.example.app"_s || id.isEmpty())
                return test::FakeHttpClient::ok(R"({"resultCount":0,"results":[]})"_ba);
            return test::FakeHttpClient::ok(R"({"results":[{"trackId":)"_ba + id.toUtf8() + "}]}");
        });
        m_fixture.reset();
        m_fixture = std::make_unique<test::OperationFixture>(http);
        qputenv("MIRVO_FAKE_STOREFRONT_BUNDLES", offeredToTheAccount);
        OperationState& operation = m_fixture->operation();
        operation.perform(m_fixture->request(u"По бандлу"_s, u"ru.example.app"_s), false);
        QVERIFY(m_fixture->waitUntilIdle());

        const QStringList downloads = m_fixture->calls().filter(u"ipatool download"_s);
        QCOMPARE(downloads.size(), 1);
        QVERIFY2(downloads.constFirst().contains(expectedArguments), qPrintable(downloads.constFirst()));
        QCOMPARE(m_fixture->model().alert().isEmpty(), succeeds);
        QCOMPARE(m_fixture->packageFiles(), succeeds ? QStringList{u"По бандлу.ipa"_s} : QStringList{});
    }

    void sheetOpeners_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("name"); // empty: no sheet
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("catalogAppID");

        QTest::newRow("catalog row") << u"catalog"_s << u"100001"_s << u"Сбербанк"_s << u"100001"_s
                                     << u"100001"_s;
        QTest::newRow("catalog row not listed")
            << u"catalog"_s << u"999999"_s << QString() << QString() << QString();
        QTest::newRow("popular tile") << u"top"_s << u"200001"_s << u"Почта"_s << u"200001"_s << QString();
        QTest::newRow("store ID") << u"id"_s << u" 000123456 "_s << u"Приложение 123456"_s << u"123456"_s
                                  << QString();
        QTest::newRow("App Store link") << u"id"_s << u"https://apps.apple.com/ru/app/x/id123456"_s
                                        << u"Приложение 123456"_s << u"123456"_s << QString();
        QTest::newRow("bundle ID ignored")
            << u"id"_s << u"ru.sberbank.online"_s << QString() << QString() << QString();
    }

    void sheetOpeners()
    {
        QFETCH(QString, action);
        QFETCH(QString, argument);
        QFETCH(QString, name);
        QFETCH(QString, identifier);
        QFETCH(QString, catalogAppID);

        CatalogState& catalog = *m_fixture->model().catalog();
        catalog.updateCatalog({CatalogApp(u"100001"_s, u"Сбербанк"_s, {}, {}, 0, {}, {}, {})});
        catalog.setTopApps({TopApp{u"200001"_s, u"Почта"_s, u"pochta.ru"_s, {}}});
        OperationState& operation = m_fixture->operation();
        const auto open = [&] {
            if (action == u"catalog"_s)
                operation.requestCatalogApp(argument);
            else if (action == u"top"_s)
                operation.requestTopApp(argument);
            else
                operation.chooseStoreID(argument);
        };
        open();
        if (name.isEmpty()) {
            QVERIFY(!operation.request());
            return;
        }
        QVERIFY(operation.request());
        const InstallRequest first = *operation.request();
        QCOMPARE(first.name, name);
        QCOMPARE(first.identifier, AppIdentifier::storeID(identifier));
        QCOMPARE(first.catalogAppID.value_or(QString()), catalogAppID);
        // Every request is a new one.
        open();
        QVERIFY(operation.request()->id != first.id);

        // Signed out, the Apple ID sheet opens instead.
        operation.closeRequest();
        m_fixture->model().account()->setEmail({});
        open();
        QVERIFY(!operation.request());
        QCOMPARE(m_fixture->model().account()->modal(), AccountState::Modal::AppleID);
    }

private:
    std::unique_ptr<test::OperationFixture> m_fixture;
};

QTEST_MAIN(tst_AppOperation)
#include "tst_appoperation.moc"
