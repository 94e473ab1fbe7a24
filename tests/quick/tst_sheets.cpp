#include "AppModel.h"
#include "ChildProcesses.h"
#include "QuickTestHelpers.h"
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

// The sheets and dialogs on their own, each loaded with only the model objects it declares, over a real
// model in a temporary data directory and the fake ipatool where a sign-in runs.
class tst_Sheets : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        test::useEmptyFakeHome(*m_dir);
    }

    void cleanup()
    {
        qDeleteAll(m_created);
        m_created.clear();
        m_window.reset();
        m_engine.reset();
        m_model.reset();
        qunsetenv("MIRVO_FAKE_HOME");
        qunsetenv("MIRVO_FAKE_SCENARIO");
        QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
        m_dir.reset();
    }

    void confirmFollowsTheCode_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("five digits") << u"12345"_s << false;
        QTest::newRow("six digits") << u"123456"_s << true;
        QTest::newRow("seven digits") << u"1234567"_s << false;
        QTest::newRow("six with a letter") << u"12345a"_s << false;
    }

    void confirmFollowsTheCode()
    {
        QFETCH(QString, code);
        QFETCH(bool, enabled);

        makeModel();
        QObject* sheet = openAppleIDSheet();
        QVERIFY(sheet);
        m_model->account()->setLoginStage(AuthenticationEvent::code());

        QQuickItem* field = item(sheet, u"codeField"_s);
        QQuickItem* confirm = item(sheet, u"confirmCodeButton"_s);
        QVERIFY(field && confirm);
        QVERIFY(item(sheet, u"codeStep"_s)->isVisible());
        QVERIFY(!item(sheet, u"credentialsStep"_s)->isVisible());
        // The code step takes the focus for itself.
        QTRY_VERIFY(field->hasActiveFocus());
        QVERIFY(!confirm->isEnabled());

        type(field, code);
        QCOMPARE(text(field), code);
        QCOMPARE(confirm->isEnabled(), enabled);
    }

    void credentialsForm_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no at sign") << u"jane.example.com"_s << false;
        QTest::newRow("complete") << u"jane@example.com"_s << true;
    }

    void credentialsForm()
    {
        QFETCH(QString, email);
        QFETCH(bool, enabled);

        makeModel();
        QObject* sheet = openAppleIDSheet();
        QVERIFY(sheet);
        QQuickItem* submit = item(sheet, u"submitCredentialsButton"_s);
        QVERIFY(submit && !submit->isEnabled());
        type(item(sheet, u"emailField"_s), email);
        QQuickItem* password = item(sheet, u"passwordField"_s);
        type(password, u"secret"_s);
        QCOMPARE(submit->isEnabled(), enabled);

        if (enabled) {
            // Return submits. No ipatool to run: the attempt is refused at once, which shows that it started.
            QTest::keyClick(m_window.get(), Qt::Key_Return);
            QCOMPARE(m_model->account()->loginStage(),
                     AuthenticationEvent::failure(
                         u"IPATool ещё подготавливается. Подождите несколько секунд и повторите попытку."_s));
            // The password stays in the form until ipatool asks for it.
            QCOMPARE(text(password), u"secret"_s);
            QCOMPARE(text(item(sheet, u"loginStatus"_s)), m_model->account()->loginStage().payload);
            click(item(sheet, u"retryButton"_s));
            QVERIFY(!item(sheet, u"loginStatusRow"_s)->isVisible());
        }

        // Without ipatool sign-in cannot start, whatever was typed.
        m_model->components()->setMissingTools({u"ipatool"_s});
        QVERIFY(!submit->isEnabled());
        QVERIFY(item(sheet, u"loginBlocked"_s)->isVisible());
    }

    void signsInThroughTheFormAndCloses()
    {
        qputenv("MIRVO_FAKE_SCENARIO", "login-code");
        makeModel(true);
        AccountState* account = m_model->account();
        QObject* sheet = openAppleIDSheet();
        QVERIFY(sheet);

        type(item(sheet, u"emailField"_s), u"jane@example.com"_s);
        QQuickItem* password = item(sheet, u"passwordField"_s);
        type(password, u"correct horse"_s);
        click(item(sheet, u"submitCredentialsButton"_s));

        // ipatool asks for the password, the form hands it over and forgets it, then the code is asked for.
        QTRY_COMPARE_WITH_TIMEOUT(account->loginStage().kind, AuthenticationEvent::Kind::Code, 10000);
        QCOMPARE(text(password), QString());
        QQuickItem* code = item(sheet, u"codeField"_s);
        QTRY_VERIFY(code->hasActiveFocus());
        type(code, u"123456"_s);
        QTest::keyClick(m_window.get(), Qt::Key_Return);
        QCOMPARE(text(code), QString());

        QTRY_COMPARE_WITH_TIMEOUT(account->email(), u"jane@example.com"_s, 10000);
        QCOMPARE(account->modal(), AccountState::Modal::None);
        QTRY_VERIFY(!sheet->property("visible").toBool());

        QFile login(m_dir->filePath(u"home/login.json"_s));
        QVERIFY(login.open(QIODevice::ReadOnly));
        const QJsonObject received = QJsonDocument::fromJson(login.readAll()).object();
        QCOMPARE(received.value(u"password"_s).toString(), u"correct horse"_s);
        QCOMPARE(received.value(u"code"_s).toString(), u"123456"_s);
    }

    void escapeClosesTheAppleIDSheet()
    {
        makeModel();
        QObject* sheet = openAppleIDSheet();
        QVERIFY(sheet);
        QTRY_VERIFY(item(sheet, u"emailField"_s)->hasActiveFocus());

        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QTRY_COMPARE(m_model->account()->modal(), AccountState::Modal::None);
        QVERIFY(!sheet->property("visible").toBool());

        // The model opens it again.
        m_model->account()->setModal(AccountState::Modal::AppleID);
        waitUntilOpened(sheet);
    }

    void updateDialogNamesTheRelease_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<qint64>("build");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QString>("download");
        QTest::newRow("new build") << u"1.2.0"_s << qint64(9) << u"Доступна новая сборка"_s
                                   << u"Сольвена 1.2.0, сборка 9, готова к установке"_s
                                   << u"Скачать сборку"_s;
        QTest::newRow("new version") << u"1.3.0"_s << qint64(1) << u"Доступна новая версия"_s
                                     << u"Сольвена 1.3.0 готова к установке"_s << u"Скачать обновление"_s;
    }

    void updateDialogNamesTheRelease()
    {
        QFETCH(QString, version);
        QFETCH(qint64, build);

        makeModel();
        QObject* dialog =
            create(u"UpdateDialog"_s, {{u"updates"_s, QVariant::fromValue(m_model->updates())}});
        QVERIFY(dialog);
        QVERIFY(!dialog->property("visible").toBool());

        AppUpdateManifest manifest;
        manifest.version = version;
        manifest.build = build;
        manifest.releaseNotes = {u"Быстрее загружает каталог"_s};
        m_model->updates()->setDialog(UpdateDialogState::available(manifest));
        waitUntilOpened(dialog);

        QTEST(text(item(dialog, u"updateHeading"_s), "title"), "title");
        QTEST(text(item(dialog, u"updateHeading"_s), "subtitle"), "subtitle");
        QCOMPARE(text(item(dialog, u"installedRelease"_s)), u"Установлена 1.2.0 · сборка 7"_s);
        QVERIFY(item(dialog, u"downloadUpdateButton"_s)->isVisible());
        QTEST(text(item(dialog, u"downloadUpdateButton"_s)), "download");

        // Closing it clears the model's dialog.
        click(item(dialog, u"closeUpdateButton"_s));
        QTRY_VERIFY(!m_model->updates()->dialog().has_value());
    }

    void installSheetStaysOpenWhenRefused()
    {
        makeModel();
        m_model->account()->setEmail(u"jane@example.com"_s);
        OperationState* operation = m_model->operation();
        InstallRequest request;
        QObject* sheet = openInstallSheet(true, &request);
        QVERIFY(sheet);
        QCOMPARE(text(item(sheet, u"installSheetHeading"_s), "title"), u"Карты"_s);
        QCOMPARE(text(item(sheet, u"installStatus"_s)),
                 u"iPhone не подключён. Приложение можно скачать на Mac."_s);
        QVERIFY(!item(sheet, u"installError"_s)->isVisible());

        // No iPhone: the model refuses and keeps the request, and the sheet stays.
        click(item(sheet, u"installButton"_s));
        QCOMPARE(m_model->alert(), u"Подключите и разблокируйте iPhone."_s);
        QCOMPARE(operation->request(), std::optional<InstallRequest>(request));
        QVERIFY(!operation->busy());
        QTest::qWait(0);
        QVERIFY(sheet->property("opened").toBool());

        m_model->components()->setMissingTools({u"ios"_s});
        QVERIFY(item(sheet, u"installError"_s)->isVisible());
    }

    void installSheetCloses()
    {
        makeModel();
        OperationState* operation = m_model->operation();
        InstallRequest request;
        QObject* sheet = openInstallSheet(false, &request);
        QVERIFY(sheet);
        QVERIFY(!item(sheet, u"installButton"_s)->isEnabled());

        // Escape closes it and drops the request; the model closing the request closes it too.
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QTRY_VERIFY(!operation->request().has_value());
        QVERIFY(!sheet->property("visible").toBool());
        operation->setRequest(request);
        waitUntilOpened(sheet);
        operation->closeRequest();
        QTRY_VERIFY(!sheet->property("visible").toBool());
    }

    void errorDialogClosesWithItsButton()
    {
        makeModel();
        QObject* dialog = create(u"ErrorDialog"_s, {{u"message"_s, u"Подключите и разблокируйте iPhone."_s}});
        waitUntilOpened(dialog);
        QCOMPARE(text(item(dialog, u"errorMessage"_s)), u"Подключите и разблокируйте iPhone."_s);
        QSignalSpy dismissed(dialog, SIGNAL(dismissed()));
        click(item(dialog, u"closeErrorButton"_s));
        QTRY_COMPARE(dismissed.size(), 1);
    }

    // The page binds the components' texts; the rules themselves are tested on their own.
    void settingsPageShowsTheComponents()
    {
        makeModel();
        ComponentsState* components = m_model->components();
        components->setMissingTools({u"ios"_s});
        components->setVersions({{u"ipatool"_s, u"2.1.4"_s}});
        QObject* page = createSettingsPage();
        QVERIFY(page);
        QCOMPARE(text(item(page, u"componentsStatus"_s)), u"Нужно подготовить компоненты"_s);
        QQuickItem* ipatool = visualItem(qobject_cast<QQuickItem*>(page), u"componentRow_ipatool"_s);
        QQuickItem* ios = visualItem(qobject_cast<QQuickItem*>(page), u"componentRow_ios"_s);
        QCOMPARE(text(visualItem(ipatool, u"componentVersion"_s)), u"2.1.4"_s);
        QCOMPARE(text(visualItem(ios, u"componentStatus"_s)), u"Не установлен"_s);
        QQuickItem* install = item(page, u"installComponentsButton"_s);
        QCOMPARE(text(install), u"Установить недостающие компоненты"_s);

        components->setInstalling(true);
        QCOMPARE(text(install), u"Устанавливаем компоненты…"_s);
        QVERIFY(!install->isEnabled());
        QCOMPARE(text(item(page, u"componentsProgress"_s)), u"Подготавливаем компоненты…"_s);
    }

    void settingsPageClearsTheCacheOnceConfirmed()
    {
        makeModel();
        QVERIFY(m_model->artworkCache());
        m_model->artworkCache()->store(QByteArray(4096, 'x'), u"1"_s);
        UpdatesState* updates = m_model->updates();
        QObject* page = createSettingsPage();
        QVERIFY(page);
        // Shown, the page sizes the caches.
        QTRY_VERIFY(updates->cacheSizeBytes() >= 4096);

        auto* confirmation = page->findChild<QObject*>(u"cacheResetConfirmation"_s);
        QVERIFY(confirmation);
        click(item(page, u"clearCacheButton"_s));
        waitUntilOpened(confirmation);
        QVERIFY(page->property("cacheResetConfirmationShown").toBool());

        // Declining keeps everything.
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QTRY_VERIFY(!page->property("cacheResetConfirmationShown").toBool());
        QVERIFY(updates->cacheSizeBytes() >= 4096);

        click(item(page, u"clearCacheButton"_s));
        waitUntilOpened(confirmation);
        click(item(confirmation, u"confirmClearCacheButton"_s));
        QTRY_COMPARE(updates->cacheSizeBytes(), 0);
        QTRY_VERIFY(!confirmation->property("visible").toBool());
        QVERIFY(!updates->cacheClearing());
    }

private:
    void makeModel(bool withIpatool = false)
    {
        AppModelEnvironment environment = test::modelEnvironment(
            *m_dir, {{u"CFBundleShortVersionString"_s, u"1.2.0"_s}, {u"CFBundleVersion"_s, u"7"_s}});
        if (withIpatool)
            test::installFakeTools(environment, {u"ipatool"_s});
        m_model = std::make_unique<AppModel>(std::move(environment));
        AppModel::setInstance(m_model.get());
        m_engine = std::make_unique<QQmlEngine>();
        m_window = std::make_unique<QQuickWindow>();
        m_window->resize(900, 700);
        m_window->show();
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    // Creates the QML component `name` in the window with `properties`; the window owns nothing of it.
    QObject* create(const QString& name, QVariantMap properties)
    {
        QQmlComponent component(m_engine.get(), QUrl(u"qrc:/qt/qml/Mirvo/qml/"_s + name + u".qml"_s));
        properties.insert(u"parent"_s, QVariant::fromValue(m_window->contentItem()));
        QObject* object = component.createWithInitialProperties(properties);
        if (!object)
            qWarning().noquote() << component.errorString();
        else
            m_created.append(object);
        return object;
    }

    // The Apple ID sheet, opened by the model.
    QObject* openAppleIDSheet()
    {
        m_model->account()->setModal(AccountState::Modal::AppleID);
        QObject* sheet =
            create(u"AppleIDSheet"_s, {{u"account"_s, QVariant::fromValue(m_model->account())},
                                       {u"components"_s, QVariant::fromValue(m_model->components())}});
        waitUntilOpened(sheet);
        return sheet;
    }

    // The install sheet, open for a request named "Карты" with the App Store ID 123.
    QObject* openInstallSheet(bool canInstall, InstallRequest* shown = nullptr)
    {
        QObject* sheet =
            create(u"InstallSheet"_s, {{u"operation"_s, QVariant::fromValue(m_model->operation())},
                                       {u"devices"_s, QVariant::fromValue(m_model->devices())},
                                       {u"components"_s, QVariant::fromValue(m_model->components())},
                                       {u"canInstall"_s, canInstall}});
        if (!sheet)
            return nullptr;
        InstallRequest request;
        request.id = QUuid::createUuid();
        request.name = u"Карты"_s;
        request.identifier = AppIdentifier::storeID(u"123"_s);
        m_model->operation()->setRequest(request);
        waitUntilOpened(sheet);
        if (shown)
            *shown = request;
        return sheet;
    }

    QObject* createSettingsPage()
    {
        return create(u"SettingsPage"_s, {{u"components"_s, QVariant::fromValue(m_model->components())},
                                          {u"updates"_s, QVariant::fromValue(m_model->updates())},
                                          {u"width"_s, 800},
                                          {u"height"_s, 600}});
    }

    QQuickItem* item(QObject* root, const QString& name) const { return test::findItem(root, name); }
    QQuickItem* visualItem(QQuickItem* root, const QString& name) const
    {
        return test::itemsNamed(root, name).value(0);
    }

    QString text(QQuickItem* target, const char* property = "text") const
    {
        return target ? target->property(property).toString() : u"<no item>"_s;
    }

    void click(QQuickItem* target) { test::click(m_window.get(), target); }
    void type(QQuickItem* field, const QString& text) { test::type(m_window.get(), field, text); }

    void waitUntilOpened(QObject* popup)
    {
        QVERIFY(popup);
        QTRY_VERIFY(popup->property("opened").toBool());
    }

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    QList<QObject*> m_created;
};

QTEST_MAIN(tst_Sheets)
#include "tst_sheets.moc"
