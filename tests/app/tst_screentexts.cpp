#include "rules/CatalogPageTexts.h"
#include "rules/ProgressTexts.h"
#include "rules/SettingsTexts.h"
#include "rules/SheetTexts.h"
#include "rules/StepCardTexts.h"
#include "rules/UpdateDialogTexts.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;
using Stage = OperationState::ProgressStage;

namespace {

const QString connectCable = u"Проверьте кабель и разблокируйте iPhone."_s;
const QString usbPhoneLine = u"iPhone Анны, iOS 17.5."_s;
const Device noDevice{};
const QStringList noTools;
const QStringList onlyIos{u"ios"_s};
const QStringList onlyIpatool{u"ipatool"_s};

Device device(bool ready, DeviceTransport transport, const QString& version = u"17.5"_s)
{
    return Device{u"00008110-001A2B3C4D5E"_s, u"iPhone Анны"_s, version, ready, transport};
}

OptionalNumber known(double value)
{
    return OptionalNumber{true, value};
}

AppUpdateManifest manifest(const QString& version, qint64 build)
{
    AppUpdateManifest result;
    result.version = version;
    result.build = build;
    return result;
}

} // namespace

// The screens' texts and enabling rules, one table per family.
class tst_ScreenTexts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appleIDSubtitle_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<bool>("needsUpdate");
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<QString>("subtitle");

        const QStringList both{u"ipatool"_s, u"ios"_s};
        QTest::newRow("account wins") << u"anna@example.com"_s << true << both << u"anna@example.com"_s;
        QTest::newRow("update wins over missing")
            << QString() << true << both << u"Обновляем компонент для входа."_s;
        QTest::newRow("ipatool missing")
            << QString() << false << onlyIpatool << u"Готовим компонент для входа."_s;
        const QString idle = u"Нужен для скачивания приложений из App Store."_s;
        QTest::newRow("only ios missing") << QString() << false << onlyIos << idle;
        QTest::newRow("name only resembling ipatool")
            << QString() << false << QStringList{u"ipatool2"_s} << idle;
    }

    void appleIDSubtitle()
    {
        QFETCH(QString, account);
        QFETCH(bool, needsUpdate);
        QFETCH(QStringList, missing);
        QTEST(StepCardTexts::appleIDSubtitle(account, needsUpdate, missing), "subtitle");
    }

    // The ordinary devices are tested on the page itself.
    void iPhoneStep_data()
    {
        QTest::addColumn<Device>("device");
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<bool>("installing");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("subtitle");
        const auto row = [](const char* name, const Device& device, const QStringList& missing,
                            bool installing, bool connected, const QString& subtitle) {
            QTest::newRow(name) << device << missing << installing << connected << subtitle;
        };

        const Device usb = device(true, DeviceTransport::Usb);
        // Only the id tells whether a device is selected.
        Device blank = usb;
        blank.id.clear();
        row("empty id with usb fields", blank, noTools, false, false,
            u"Подключите и разблокируйте iPhone кабелем USB."_s);
        row("ready on usb, version unknown", device(true, DeviceTransport::Usb, {}), noTools, false, true,
            u"iPhone Анны подключён по USB."_s);
        row("ios missing beats a ready device", usb, onlyIos, false, false,
            u"Компонент подключения недоступен."_s);
        row("ios missing, installing", noDevice, onlyIos, true, false, u"Готовим компонент подключения."_s);
        row("only ipatool missing", usb, onlyIpatool, false, true, usbPhoneLine);
    }

    void iPhoneStep()
    {
        QFETCH(Device, device);
        QFETCH(QStringList, missing);
        QFETCH(bool, installing);
        QFETCH(bool, connected);

        QCOMPARE(StepCardTexts::iPhoneConnected(device, missing), connected);
        QCOMPARE(StepCardTexts::iPhoneTitle(connected),
                 connected ? u"iPhone подключён"_s : u"Подключите iPhone"_s);
        QTEST(StepCardTexts::iPhoneSubtitle(device, missing, installing), "subtitle");
    }

    // The titles that only follow one flag, so a swapped branch shows.
    void twoStateTitles()
    {
        const QList<std::pair<QString, QString>> titles{
            {StepCardTexts::checkCableTitle(true), u"Проверяем подключение…"_s},
            {StepCardTexts::checkCableTitle(false), u"Проверить кабель"_s},
            {CatalogPageTexts::selectAllTitle(true), u"Снять видимые"_s},
            {CatalogPageTexts::selectAllTitle(false), u"Выбрать все"_s},
            {CatalogPageTexts::rowCheckboxHelp(u"Сбербанк"_s, true), u"Убрать Сбербанк из выбранных"_s},
            {CatalogPageTexts::rowCheckboxHelp(u"Сбербанк"_s, false), u"Выбрать Сбербанк"_s},
            {SettingsTexts::checkTitle(true), u"Проверяем…"_s},
            {SettingsTexts::checkTitle(false), u"Проверить"_s},
            {UpdateDialogTexts::menuTitle(true), u"Проверяем обновления…"_s},
            {UpdateDialogTexts::menuTitle(false), u"Проверить обновления…"_s}};
        for (const auto& [actual, expected] : titles)
            QCOMPARE(actual, expected);
    }

    void directInstall_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id");

        QTest::newRow("one digit") << u"7"_s << u"7"_s;
        QTest::newRow("largest") << u"999999999999999999"_s << u"999999999999999999"_s;
        QTest::newRow("19 digits with a leading zero") << u"0123456789012345678"_s << QString();
        QTest::newRow("leading zeros dropped") << u"000000000000000001"_s << u"1"_s;
        QTest::newRow("spaces and newlines trimmed") << u" \t544007664\r\n"_s << u"544007664"_s;
        QTest::newRow("space inside") << u"544 007664"_s << QString();
        QTest::newRow("sign") << u"+544007664"_s << QString();
        QTest::newRow("fullwidth digits") << u"１２３"_s << QString();
        QTest::newRow("only white space") << u" \n "_s << QString();
    }

    void directInstall()
    {
        QFETCH(QString, text);
        QFETCH(QString, id);

        QCOMPARE(CatalogPageTexts::directInstallID(text), id);
        QCOMPARE(CatalogPageTexts::directInstallHelp(text),
                 id.isEmpty() ? QString() : u"Установить приложение с App Store ID "_s + id);
    }

    void batchHint_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<Device>("device");
        QTest::addColumn<bool>("canDownload");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("hint");
        const auto row = [](const char* name, bool signedIn, const Device& device, bool canDownload,
                            bool busy, const QString& hint) {
            QTest::newRow(name) << signedIn << device << canDownload << busy << hint;
        };

        const Device ready = device(true, DeviceTransport::Usb);
        row("signed out beats everything", false, noDevice, false, false,
            u"Подключите Apple ID, чтобы скачать выбранные приложения."_s);
        row("no device beats preparing", true, noDevice, false, false,
            u"iPhone не подключён: выбранные приложения будут скачаны и сохранены на Mac."_s);
        // Saving on the Mac needs the device ready only, whatever the transport.
        row("ready on the network", true, device(true, DeviceTransport::Network), true, false, {});
        row("download not ready yet", true, ready, false, false,
            u"Подготавливаем доступ к загрузке. Подождите несколько секунд."_s);
        row("download not ready while busy", true, ready, false, true, {});
    }

    void batchHint()
    {
        QFETCH(bool, signedIn);
        QFETCH(Device, device);
        QFETCH(bool, canDownload);
        QFETCH(bool, busy);
        QTEST(CatalogPageTexts::batchHint(signedIn, device, canDownload, busy), "hint");
    }

    // The banner's title, and its stop button, which reads the same stage text.
    void banner_data()
    {
        QTest::addColumn<BatchInstallProgress>("batch");
        QTest::addColumn<Stage>("stage");
        QTest::addColumn<QString>("operationStage");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("stopping");
        const auto row = [](const char* name, BatchInstallProgress batch, Stage stage,
                            const QString& operationStage, const QString& title, bool stopping = false) {
            QTest::newRow(name) << batch << stage << operationStage << title << stopping;
        };

        const BatchInstallProgress batch{2, 5, 1, 0};
        const QString signingIn = u"Входим в Apple ID…"_s;
        row("batch downloading", batch, Stage::Download, u"Скачиваем IPA…"_s, u"Скачиваем 2 из 5"_s);
        row("batch installing", batch, Stage::Install, {}, u"Устанавливаем 2 из 5"_s);
        row("batch between apps", batch, Stage::None, signingIn, u"Готовим 2 из 5"_s);
        row("downloading", {}, Stage::Download, signingIn, u"Скачиваем приложение"_s);
        row("installing", {}, Stage::Install, {}, u"Устанавливаем приложение"_s);
        row("stop asked", {}, Stage::None, u"Останавливаем…"_s, u"Останавливаем…"_s, true);
        row("three dots are not the ellipsis", {}, Stage::None, u"Останавливаем..."_s, u"Останавливаем..."_s);
        row("nothing to say", {}, Stage::None, {}, u"Выполняем операцию"_s);
        // A counter without a total is no batch.
        row("current without total", {3, 0, 0, 0}, Stage::Download, {}, u"Скачиваем приложение"_s);
    }

    void banner()
    {
        QFETCH(BatchInstallProgress, batch);
        QFETCH(Stage, stage);
        QFETCH(QString, operationStage);
        QFETCH(bool, stopping);

        QTEST(ProgressTexts::bannerTitle(batch, stage, operationStage), "title");
        QCOMPARE(ProgressTexts::stopping(operationStage), stopping);
        QCOMPARE(ProgressTexts::stopTitle(operationStage), stopping ? u"Останавливаем…"_s : u"Отменить"_s);
    }

    void transferProgress_data()
    {
        QTest::addColumn<Stage>("stage");
        QTest::addColumn<OptionalNumber>("download");
        QTest::addColumn<OptionalNumber>("install");
        QTest::addColumn<OptionalNumber>("active");
        QTest::addColumn<QString>("accessible");
        const auto row = [](const char* name, Stage stage, OptionalNumber download, OptionalNumber install,
                            OptionalNumber active, const QString& accessible) {
            QTest::newRow(name) << stage << download << install << active << accessible;
        };

        const OptionalNumber unknown{};
        row("download half", Stage::Download, known(0.5), known(0.9), known(0.5),
            u"Загрузка: 50 процентов"_s);
        row("download rounds down", Stage::Download, known(0.994), unknown, known(0.994),
            u"Загрузка: 99 процентов"_s);
        row("download rounds up", Stage::Download, known(0.996), unknown, known(0.996),
            u"Загрузка: 100 процентов"_s);
        row("download at zero is known", Stage::Download, known(0), unknown, known(0),
            u"Загрузка: 0 процентов"_s);
        row("download unknown", Stage::Download, unknown, known(0.4), unknown, u"Загрузка выполняется"_s);
        row("install", Stage::Install, known(1), known(0.3), known(0.3), u"Установка выполняется"_s);
        row("no stage", Stage::None, known(0.2), known(0.3), unknown, {});
    }

    void transferProgress()
    {
        QFETCH(Stage, stage);
        QFETCH(OptionalNumber, download);
        QFETCH(OptionalNumber, install);
        QFETCH(OptionalNumber, active);

        QCOMPARE(ProgressTexts::activeFraction(stage, download, install), active);
        QTEST(ProgressTexts::accessibleText(stage, active), "accessible");
    }

    void installSheet_data()
    {
        QTest::addColumn<Device>("device");
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("error");

        const QString ready = u"iPhone подключён. Выберите, что сделать с приложением."_s;
        const QString notReady = u"iPhone не подключён. Приложение можно скачать на Mac."_s;
        QTest::newRow("ready") << device(true, DeviceTransport::Usb) << noTools << ready << QString();
        QTest::newRow("ready on the network")
            << device(true, DeviceTransport::Network) << noTools << ready << QString();
        QTest::newRow("not ready") << device(false, DeviceTransport::Usb) << noTools << notReady << QString();
        QTest::newRow("no device, tool missing")
            << noDevice << onlyIos << notReady
            << u"Не удалось подготовить установку. Попробуйте ещё раз позже."_s;
    }

    void installSheet()
    {
        QFETCH(Device, device);
        QFETCH(QStringList, missing);
        QTEST(SheetTexts::installStatus(device), "status");
        QTEST(SheetTexts::installError(missing), "error");
    }

    // Whether sign-in may start, what blocks it, and whether the credentials can be sent.
    void credentials_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<bool>("needsUpdate");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<bool>("canSubmit");
        const auto row = [](const char* name, const QString& email, const QString& password,
                            const QStringList& missing, bool needsUpdate, const QString& blocked,
                            bool canSubmit) {
            QTest::newRow(name) << email << password << missing << needsUpdate << blocked << canSubmit;
        };

        const QString email = u"anna@example.com"_s;
        const QString secret = u"secret"_s;
        const QString preparing = u"Подготавливаем IPATool. Подождите несколько секунд."_s;
        row("complete", email, secret, noTools, false, {}, true);
        row("only ios missing", email, secret, onlyIos, false, {}, true);
        row("no @", u"anna.example.com"_s, secret, noTools, false, {}, false);
        row("no password", email, {}, noTools, false, {}, false);
        row("ipatool missing", email, secret, {u"ios"_s, u"ipatool"_s}, false, preparing, false);
        row("update needed", email, secret, noTools, true, u"Для входа требуется обновить IPATool."_s, false);
        row("missing wins over update", email, secret, onlyIpatool, true, preparing, false);
    }

    void credentials()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QStringList, missing);
        QFETCH(bool, needsUpdate);
        QFETCH(QString, blocked);

        QCOMPARE(SheetTexts::loginCanStart(missing, needsUpdate), blocked.isEmpty());
        QCOMPARE(SheetTexts::loginBlockedMessage(missing, needsUpdate), blocked);
        QTEST(SheetTexts::canSubmitCredentials(email, password, missing, needsUpdate), "canSubmit");
    }

    void code_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("acceptable");

        QTest::newRow("six digits") << u"042917"_s << true;
        QTest::newRow("seven digits") << u"0429173"_s << false;
        QTest::newRow("trailing newline") << u"042917\n"_s << false;
        QTest::newRow("fullwidth digits") << u"０４２９１７"_s << false;
    }

    void code()
    {
        QFETCH(QString, code);
        QTEST(SheetTexts::codeAcceptable(code), "acceptable");
    }

    void loginStatus_data()
    {
        QTest::addColumn<AuthenticationEvent>("stage");
        QTest::addColumn<bool>("passwordSubmitted");
        QTest::addColumn<QString>("status");

        QTest::newRow("connecting") << AuthenticationEvent::working() << false << u"Подключаемся к Apple…"_s;
        QTest::newRow("checking the password")
            << AuthenticationEvent::working() << true << u"Проверяем пароль…"_s;
        QTest::newRow("failure shows the message")
            << AuthenticationEvent::failure(u"Неверный пароль."_s) << true << u"Неверный пароль."_s;
        QTest::newRow("success") << AuthenticationEvent::success(u"anna@example.com"_s) << true
                                 << u"Аккаунт подключён"_s;
        QTest::newRow("password prompt") << AuthenticationEvent::password() << false << QString();
        QTest::newRow("code prompt") << AuthenticationEvent::code() << true << QString();
    }

    void loginStatus()
    {
        QFETCH(AuthenticationEvent, stage);
        QFETCH(bool, passwordSubmitted);
        QTEST(SheetTexts::loginStatus(stage, passwordSubmitted), "status");
    }

    void updateDialog_data()
    {
        QTest::addColumn<UpdateDialogState>("state");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("availableLine");
        QTest::addColumn<QString>("download");

        // The running application is 1.4.0, build 27.
        QTest::newRow("same version, higher build")
            << UpdateDialogState::available(manifest(u"1.4.0"_s, 31)) << u"Доступна новая сборка"_s
            << u"Сольвена 1.4.0, сборка 31, готова к установке"_s << QString()
            << u"Версия 1.4.0 · сборка 31"_s << u"Скачать сборку"_s;
        QTest::newRow("higher version")
            << UpdateDialogState::available(manifest(u"1.5.0"_s, 3)) << u"Доступна новая версия"_s
            << u"Сольвена 1.5.0 готова к установке"_s << QString() << u"Версия 1.5.0 · сборка 3"_s
            << u"Скачать обновление"_s;
        QTest::newRow("current") << UpdateDialogState::current(u"1.4.0"_s) << u"У вас последняя версия"_s
                                 << u"Сольвена 1.4.0 уже установлена"_s
                                 << u"Обновлять ничего не нужно. Мы сообщим, когда появится новая версия."_s
                                 << QString() << QString();
        QTest::newRow("failure") << UpdateDialogState::failure(u"Сервер обновлений недоступен."_s)
                                 << u"Не удалось проверить обновления"_s
                                 << u"Повторите проверку немного позже"_s
                                 << u"Сервер обновлений недоступен."_s << QString() << QString();
        // A closed dialog's leftover manifest offers nothing.
        QTest::newRow("closed") << UpdateDialogState{UpdateDialogState::Kind::None,
                                                     {},
                                                     manifest(u"1.4.0"_s, 31)}
                                << QString() << QString() << QString() << QString() << QString();
    }

    void updateDialog()
    {
        QFETCH(UpdateDialogState, state);
        QFETCH(QString, download);

        const QString running = u"1.4.0"_s;
        QTEST(UpdateDialogTexts::title(state, running), "title");
        QTEST(UpdateDialogTexts::subtitle(state, running), "subtitle");
        QTEST(UpdateDialogTexts::message(state), "message");
        QTEST(UpdateDialogTexts::availableLine(state), "availableLine");
        QCOMPARE(UpdateDialogTexts::downloadTitle(state, running), download);
        QCOMPARE(UpdateDialogTexts::isNewBuild(state, running), download == u"Скачать сборку"_s);
    }

    void componentsSection_data()
    {
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<bool>("needsUpdate");
        QTest::addColumn<QString>("overall");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("ipatoolStatus");
        QTest::addColumn<QString>("iosStatus");
        QTest::addColumn<QString>("installTitle");

        const QString prepare = u"Нужно подготовить компоненты"_s;
        const QString installMissing = u"Установить недостающие компоненты"_s;
        const QString ready = u"Готов"_s;
        const QString absent = u"Не установлен"_s;
        const QString update = u"Нужно обновление"_s;
        QTest::newRow("all ready") << noTools << false << u"Компоненты готовы к работе"_s
                                   << u"IPATool и go-ios доступны в данных приложения."_s << ready << ready
                                   << installMissing;
        QTest::newRow("update needed")
            << noTools << true << prepare << u"Версия IPATool ниже минимально поддерживаемой."_s << update
            << ready << u"Обновить IPATool"_s;
        QTest::newRow("ios missing and update needed")
            << onlyIos << true << prepare << u"Не установлены: ios."_s << update << absent << installMissing;
        QTest::newRow("both missing, in the model's order")
            << QStringList{u"ipatool"_s, u"ios"_s} << false << prepare << u"Не установлены: ipatool, ios."_s
            << absent << absent << installMissing;
        QTest::newRow("missing beats update for ipatool")
            << onlyIpatool << true << prepare << u"Не установлены: ipatool."_s << absent << ready
            << installMissing;
    }

    void componentsSection()
    {
        QFETCH(QStringList, missing);
        QFETCH(bool, needsUpdate);

        QTEST(SettingsTexts::overallStatus(missing, needsUpdate), "overall");
        QTEST(SettingsTexts::detailLine(missing, needsUpdate), "detail");
        QTEST(SettingsTexts::componentStatus(u"ipatool"_s, missing, needsUpdate), "ipatoolStatus");
        QTEST(SettingsTexts::componentStatus(u"ios"_s, missing, needsUpdate), "iosStatus");
        QTEST(SettingsTexts::installTitle(false, missing, needsUpdate), "installTitle");
        QCOMPARE(SettingsTexts::installTitle(true, missing, needsUpdate), u"Устанавливаем компоненты…"_s);
    }

    void componentVersion()
    {
        const QVariantMap versions{{u"ipatool"_s, u"2.1.4"_s}, {u"ios"_s, QString()}};
        QCOMPARE(SettingsTexts::componentVersion(versions, u"ipatool"_s), u"2.1.4"_s);
        // Empty counts as unknown, as an absent one does.
        QCOMPARE(SettingsTexts::componentVersion(versions, u"ios"_s), u"Версия не определена"_s);
    }

    void toolsProgress_data()
    {
        QTest::addColumn<bool>("installing");
        QTest::addColumn<bool>("checking");
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("text");

        const QString stage = u"Скачиваем go-ios…"_s;
        const QString preparing = u"Подготавливаем компоненты…"_s;
        QTest::newRow("idle hides a leftover stage") << false << false << stage << QString();
        QTest::newRow("installing with a stage") << true << false << stage << stage;
        QTest::newRow("installing") << true << false << QString() << preparing;
        QTest::newRow("installing while checking") << true << true << QString() << preparing;
        QTest::newRow("checking") << false << true << QString() << u"Проверяем компоненты…"_s;
    }

    void toolsProgress()
    {
        QFETCH(bool, installing);
        QFETCH(bool, checking);
        QFETCH(QString, stage);
        QTEST(SettingsTexts::progressText(installing, checking, stage), "text");
    }

    void cacheSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");

        QTest::newRow("nothing") << qint64(0) << u"0 Б"_s;
        QTest::newRow("largest in bytes") << qint64(1023) << u"1023 Б"_s;
        QTest::newRow("one kilobyte") << qint64(1024) << u"1,0 КБ"_s;
        QTest::newRow("no group separator") << qint64(1023 * 1024) << u"1023,0 КБ"_s;
        QTest::newRow("rounds up into megabytes") << qint64(1024 * 1024 - 1) << u"1,0 МБ"_s;
        QTest::newRow("gigabytes") << qint64(1.1 * 1024 * 1024 * 1024) << u"1,1 ГБ"_s;
        QTest::newRow("terabytes") << qint64(3) * 1024 * 1024 * 1024 * 1024 << u"3,0 ТБ"_s;
        QTest::newRow("negative") << qint64(-5) << u"0 Б"_s;
    }

    void cacheSize()
    {
        QFETCH(qint64, bytes);
        QTEST(SettingsTexts::cacheSize(bytes), "text");
    }

    void qmlCallsTheRules();
};

// The screens reach the rules through the singletons, with the model's values as QML holds them.
void tst_ScreenTexts::qmlCallsTheRules()
{
    QQmlEngine engine;
    QQmlContext* context = engine.rootContext();
    context->setContextProperty(u"usbPhone"_s, QVariant::fromValue(device(true, DeviceTransport::Usb)));
    context->setContextProperty(u"networkPhone"_s,
                                QVariant::fromValue(device(true, DeviceTransport::Network)));
    context->setContextProperty(u"newBuild"_s,
                                QVariant::fromValue(UpdateDialogState::available(manifest(u"1.4.0"_s, 31))));
    context->setContextProperty(u"working"_s, QVariant::fromValue(AuthenticationEvent::working()));
    context->setContextProperty(u"batch"_s, QVariant::fromValue(BatchInstallProgress{1, 3, 0, 0}));
    context->setContextProperty(u"half"_s, QVariant::fromValue(known(0.5)));

    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Mirvo

        QtObject {
            readonly property string usbSubtitle: StepCardTexts.iPhoneSubtitle(usbPhone, [], false)
            readonly property bool networkConnected: StepCardTexts.iPhoneConnected(networkPhone, [])
            readonly property string directID: CatalogPageTexts.directInstallID(" 0042\n")
            readonly property string banner: ProgressTexts.bannerTitle(batch, OperationState.Install, "")
            readonly property string accessible: ProgressTexts.accessibleText(OperationState.Download,
                ProgressTexts.activeFraction(OperationState.Download, half, half))
            readonly property string loginStatus: SheetTexts.loginStatus(working, true)
            readonly property string updateTitle: UpdateDialogTexts.downloadTitle(newBuild, "1.4.0")
            readonly property string version: SettingsTexts.componentVersion({ "ipatool": "2.1.4" }, "ipatool")
        }
    )",
                      QUrl(u"qrc:/tst_screentexts.qml"_s));
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    const auto read = [&](const char* name) { return object->property(name); };

    QCOMPARE(read("usbSubtitle").toString(), usbPhoneLine);
    // The transport is not a QML property, yet it survives the trip through QML.
    QCOMPARE(read("networkConnected").toBool(), false);
    QCOMPARE(read("directID").toString(), u"42"_s);
    QCOMPARE(read("banner").toString(), u"Устанавливаем 1 из 3"_s);
    QCOMPARE(read("accessible").toString(), u"Загрузка: 50 процентов"_s);
    QCOMPARE(read("loginStatus").toString(), u"Проверяем пароль…"_s);
    QCOMPARE(read("updateTitle").toString(), u"Скачать сборку"_s);
    QCOMPARE(read("version").toString(), u"2.1.4"_s);
}

QTEST_MAIN(tst_ScreenTexts)
#include "tst_screentexts.moc"
