#include "AppModel.h"
#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

using Kind = AuthenticationEvent::Kind;

// The Apple ID sign-in flow over the fake ipatool on a real terminal, restoring the account and signing out.
class tst_AccountState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        test::useEmptyFakeHome(*m_dir);
    }

    void cleanup()
    {
        m_model.reset();
        qunsetenv("MIRVO_FAKE_HOME");
        qunsetenv("MIRVO_FAKE_SCENARIO");
        QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
        m_dir.reset();
    }

    void startLoginRefuses_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("why");
        QTest::addColumn<QString>("message");

        const QString address = u"Введите адрес Apple ID."_s;
        QTest::newRow("no at sign") << u"jane.example.com"_s << QString() << address;
        QTest::newRow("line break inside") << u"jane@exa\nmple.com"_s << QString() << address;
        QTest::newRow("carriage return inside") << u"jane@exa\rmple.com"_s << QString() << address;
        QTest::newRow("ipatool too old")
            << u"jane@example.com"_s << u"old"_s
            << u"Сейчас не удаётся войти. Обновите «Сольвена» и попробуйте ещё раз."_s;
        QTest::newRow("ipatool not installed")
            << u"jane@example.com"_s << u"missing"_s
            << u"IPATool ещё подготавливается. Подождите несколько секунд и повторите попытку."_s;
    }

    void startLoginRefuses()
    {
        QFETCH(QString, email);
        QFETCH(QString, why);
        QFETCH(QString, message);

        makeModel(why != u"missing");
        m_model->components()->setIpatoolNeedsUpdate(why == u"old");
        m_account->startLogin(email);
        QCOMPARE(m_account->loginStage(), AuthenticationEvent::failure(message));
        QVERIFY(!m_account->loginStarted());
        QVERIFY(m_model->alert().isEmpty() && m_model->notice().isEmpty());
        QCOMPARE(test::liveChildProcesses(), QList<pid_t>{});
    }

    void signsIn()
    {
        // Both prompt generations are the session's business; one is enough here.
        qputenv("MIRVO_FAKE_SCENARIO", "login-code");
        makeModel();

        // Spaces and a line break around the address are trimmed; nothing else is checked.
        m_account->startLogin(u"  jane@example.com\n"_s);
        QVERIFY(m_account->loginStarted());
        waitForStage(Kind::Password);
        QVERIFY(!m_account->submitPassword(QString()));
        QVERIFY(m_account->submitPassword(u"correct horse"_s));
        QVERIFY(!m_account->submitPassword(u"correct horse"_s)); // once per attempt
        waitForStage(Kind::Code);
        QVERIFY(!m_account->submitCode(u"12345"_s));
        QVERIFY(m_account->submitCode(u"123456"_s));
        waitForStage(Kind::Success);

        QCOMPARE(m_account->email(), u"jane@example.com"_s);
        QVERIFY(!m_account->loginStarted());
        QCOMPARE(m_model->notice(), u"Apple ID подключён. Можно загружать доступные ему приложения."_s);
        QVERIFY(!m_model->noticeIsError());
        const QJsonObject received = login();
        QCOMPARE(received.value(u"password"_s).toString(), u"correct horse"_s);
        QCOMPARE(received.value(u"code"_s).toString(), u"123456"_s);
    }

    void failureThenANewAttemptSubmitsAgain()
    {
        qputenv("MIRVO_FAKE_SCENARIO", "login-refused");
        makeModel();
        m_account->startLogin(u"jane@example.com"_s);
        waitForStage(Kind::Password);
        QVERIFY(m_account->submitPassword(u"wrong"_s));
        waitForStage(Kind::Failure);
        QVERIFY(!m_account->loginStage().payload.isEmpty());
        QVERIFY(m_account->loginStarted());
        QVERIFY(!m_account->signedIn());

        qunsetenv("MIRVO_FAKE_SCENARIO");
        m_account->startLogin(u"jane@example.com"_s);
        waitForStage(Kind::Password);
        QVERIFY(m_account->submitPassword(u"right"_s));
        waitForStage(Kind::Success);
        QCOMPARE(login().value(u"password"_s).toString(), u"right"_s);
    }

    void secondAttemptStopsTheFirst()
    {
        makeModel();
        m_account->startLogin(u"jane@example.com"_s);
        waitForStage(Kind::Password);
        QCOMPARE(test::liveChildProcesses().size(), 1);
        const pid_t first = test::liveChildProcesses().constFirst();

        m_account->startLogin(u"jane@example.com"_s);
        QCOMPARE(m_account->loginStage(), AuthenticationEvent::working());
        waitForStage(Kind::Password);
        QTRY_VERIFY(!test::liveChildProcesses().contains(first));

        m_account->cancelLogin();
        QCOMPARE(m_account->loginStage(), AuthenticationEvent::working());
        QVERIFY(!m_account->loginStarted());
        QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
    }

    void restoresAndSignsOut()
    {
        QFile stored(m_dir->filePath(u"home/account"_s));
        QVERIFY(stored.open(QIODevice::WriteOnly));
        stored.write("jane@example.com");
        stored.close();
        makeModel();
        test::awaitTask(m_account->restoreAccount());
        QCOMPARE(m_account->email(), u"jane@example.com"_s);

        CatalogState* catalog = m_model->catalog();
        catalog->updateCatalog({CatalogApp(u"1"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
        catalog->setSelectedAppIDs({u"1"_s});
        catalog->setSearch(u"карт"_s);

        // While an operation runs, signing out stands back.
        m_model->operation()->setBusy(true);
        test::awaitTask(m_account->logout());
        QVERIFY(m_account->signedIn());
        QVERIFY(stored.exists());

        m_model->operation()->setBusy(false);
        m_account->signOut();
        QTRY_VERIFY(!m_account->signedIn());
        QVERIFY(!stored.exists());
        QCOMPARE(catalog->search(), QString());
        QVERIFY(catalog->selectedAppIDs().isEmpty());
        QCOMPARE(m_model->notice(), u"Вы вышли из Apple ID."_s);

        // Nothing stored any more: signing out again is no failure, and restoring finds no one.
        m_model->closeNotice();
        m_account->signOut();
        QTRY_COMPARE(m_model->notice(), u"Вы вышли из Apple ID."_s);
        QCOMPARE(m_account->logoutError(), QString());
        test::awaitTask(m_account->restoreAccount());
        QVERIFY(!m_account->signedIn());
    }

private:
    void makeModel(bool withIpatool = true)
    {
        AppModelEnvironment environment = test::modelEnvironment(*m_dir);
        if (withIpatool)
            test::installFakeTools(environment, {u"ipatool"_s});
        m_model = std::make_unique<AppModel>(std::move(environment));
        m_account = m_model->account();
    }

    // What the fake ipatool received.
    QJsonObject login() const
    {
        QFile file(m_dir->filePath(u"home/login.json"_s));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }

    void waitForStage(Kind kind) { QTRY_COMPARE_WITH_TIMEOUT(m_account->loginStage().kind, kind, 10000); }

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::unique_ptr<AppModel> m_model;
    AccountState* m_account = nullptr;
};

QTEST_MAIN(tst_AccountState)
#include "tst_accountstate.moc"
