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

// The outputs of one call of the rules, joined, so that a row compares them all at once.
QString line(const QStringList& parts)
{
    return parts.join(u" | "_s);
}

QString yes(bool value)
{
    return value ? u"yes"_s : u"no"_s;
}

QString number(const OptionalNumber& value)
{
    return value.known ? QString::number(value.value) : u"none"_s;
}

// Each family is one table of what a rule gave and what it should give.
void columns()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
}

void row(const char* name, const QString& actual, const QString& expected)
{
    QTest::newRow(name) << actual << expected;
}

void compareRow()
{
    QFETCH(QString, actual);
    QTEST(actual, "expected");
}

QString iPhoneStep(const Device& device, const QStringList& missing, bool installing)
{
    const bool connected = StepCardTexts::iPhoneConnected(device, missing);
    return line({yes(connected), StepCardTexts::iPhoneTitle(connected),
                 StepCardTexts::iPhoneSubtitle(device, missing, installing)});
}

QString directInstall(const QString& text)
{
    return line({CatalogPageTexts::directInstallID(text), CatalogPageTexts::directInstallHelp(text)});
}

QString banner(const BatchInstallProgress& batch, Stage stage, const QString& operationStage)
{
    return line({ProgressTexts::bannerTitle(batch, stage, operationStage),
                 yes(ProgressTexts::stopping(operationStage)), ProgressTexts::stopTitle(operationStage)});
}

QString transfer(Stage stage, const OptionalNumber& download, const OptionalNumber& install)
{
    const OptionalNumber active = ProgressTexts::activeFraction(stage, download, install);
    return line({number(active), ProgressTexts::accessibleText(stage, active)});
}

QString signIn(const QString& email, const QString& password, const QStringList& missing, bool needsUpdate)
{
    return line({yes(SheetTexts::loginCanStart(missing, needsUpdate)),
                 SheetTexts::loginBlockedMessage(missing, needsUpdate),
                 yes(SheetTexts::canSubmitCredentials(email, password, missing, needsUpdate))});
}

// The running application is 1.4.0.
QString dialogTexts(const UpdateDialogState& state)
{
    const QString running = u"1.4.0"_s;
    return line({UpdateDialogTexts::title(state, running), UpdateDialogTexts::subtitle(state, running),
                 UpdateDialogTexts::message(state), UpdateDialogTexts::availableLine(state),
                 UpdateDialogTexts::downloadTitle(state, running),
                 yes(UpdateDialogTexts::isNewBuild(state, running))});
}

QString components(const QStringList& missing, bool needsUpdate)
{
    return line({SettingsTexts::overallStatus(missing, needsUpdate),
                 SettingsTexts::detailLine(missing, needsUpdate),
                 SettingsTexts::componentStatus(u"ipatool"_s, missing, needsUpdate),
                 SettingsTexts::componentStatus(u"ios"_s, missing, needsUpdate),
                 SettingsTexts::installTitle(false, missing, needsUpdate),
                 SettingsTexts::installTitle(true, missing, needsUpdate)});
}

} // namespace

// The screens' texts and enabling rules, one table per family. The ordinary cases the page and sheet tests
// show through QML are left to them.
class tst_ScreenTexts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stepCards_data()
    {
        columns();
        const QStringList both{u"ipatool"_s, u"ios"_s};
        const QString idle = u"Нужен для скачивания приложений из App Store."_s;
        row("apple id: account wins", StepCardTexts::appleIDSubtitle(u"anna@example.com"_s, true, both),
            u"anna@example.com"_s);
        row("apple id: update wins over missing", StepCardTexts::appleIDSubtitle({}, true, both),
            u"Обновляем компонент для входа."_s);
        row("apple id: ipatool missing", StepCardTexts::appleIDSubtitle({}, false, onlyIpatool),
            u"Готовим компонент для входа."_s);
        row("apple id: only ios missing", StepCardTexts::appleIDSubtitle({}, false, onlyIos), idle);
        row("apple id: name only resembling ipatool",
            StepCardTexts::appleIDSubtitle({}, false, {u"ipatool2"_s}), idle);

        const Device usb = device(true, DeviceTransport::Usb);
        // Only the id tells whether a device is selected.
        Device blank = usb;
        blank.id.clear();
        row("iphone: empty id with usb fields", iPhoneStep(blank, noTools, false),
            u"no | Подключите iPhone | Подключите и разблокируйте iPhone кабелем USB."_s);
        row("iphone: version unknown", iPhoneStep(device(true, DeviceTransport::Usb, {}), noTools, false),
            u"yes | iPhone подключён | iPhone Анны подключён по USB."_s);
        row("iphone: ios missing beats a ready device", iPhoneStep(usb, onlyIos, false),
            u"no | Подключите iPhone | Компонент подключения недоступен."_s);
        row("iphone: ios missing, installing", iPhoneStep(noDevice, onlyIos, true),
            u"no | Подключите iPhone | Готовим компонент подключения."_s);
        row("iphone: only ipatool missing", iPhoneStep(usb, onlyIpatool, false),
            u"yes | iPhone подключён | "_s + usbPhoneLine);

        row("cable, refreshing", StepCardTexts::checkCableTitle(true), u"Проверяем подключение…"_s);
        row("cable, idle", StepCardTexts::checkCableTitle(false), u"Проверить кабель"_s);
    }
    void stepCards() { compareRow(); }

    void catalogPage_data()
    {
        columns();
        const QString help = u"Установить приложение с App Store ID "_s;
        row("direct: one digit", directInstall(u"7"_s), u"7 | "_s + help + u"7"_s);
        row("direct: largest", directInstall(u"999999999999999999"_s),
            u"999999999999999999 | "_s + help + u"999999999999999999"_s);
        row("direct: 19 digits with a leading zero", directInstall(u"0123456789012345678"_s), u" | "_s);
        row("direct: leading zeros dropped", directInstall(u"000000000000000001"_s),
            u"1 | "_s + help + u"1"_s);
        row("direct: white space trimmed", directInstall(u" \t544007664\r\n"_s),
            u"544007664 | "_s + help + u"544007664"_s);
        row("direct: space inside", directInstall(u"544 007664"_s), u" | "_s);
        row("direct: sign", directInstall(u"+544007664"_s), u" | "_s);
        row("direct: fullwidth digits", directInstall(u"１２３"_s), u" | "_s);
        row("direct: only white space", directInstall(u" \n "_s), u" | "_s);

        const Device ready = device(true, DeviceTransport::Usb);
        row("hint: signed out beats everything", CatalogPageTexts::batchHint(false, noDevice, false, false),
            u"Подключите Apple ID, чтобы скачать выбранные приложения."_s);
        row("hint: no device beats preparing", CatalogPageTexts::batchHint(true, noDevice, false, false),
            u"iPhone не подключён: выбранные приложения будут скачаны и сохранены на Mac."_s);
        // Saving on the Mac needs the device ready only, whatever the transport.
        row("hint: ready on the network",
            CatalogPageTexts::batchHint(true, device(true, DeviceTransport::Network), true, false), {});
        row("hint: download not ready yet", CatalogPageTexts::batchHint(true, ready, false, false),
            u"Подготавливаем доступ к загрузке. Подождите несколько секунд."_s);
        row("hint: download not ready while busy", CatalogPageTexts::batchHint(true, ready, false, true), {});

        row("select all, all selected", CatalogPageTexts::selectAllTitle(true), u"Снять видимые"_s);
        row("select all, some left", CatalogPageTexts::selectAllTitle(false), u"Выбрать все"_s);
        row("checkbox, selected", CatalogPageTexts::rowCheckboxHelp(u"Сбербанк"_s, true),
            u"Убрать Сбербанк из выбранных"_s);
        row("checkbox, not selected", CatalogPageTexts::rowCheckboxHelp(u"Сбербанк"_s, false),
            u"Выбрать Сбербанк"_s);
    }
    void catalogPage() { compareRow(); }

    // The banner's title and its stop button, and the transfer bar's value and accessible text.
    void progress_data()
    {
        columns();
        const BatchInstallProgress batch{2, 5, 1, 0};
        const QString signingIn = u"Входим в Apple ID…"_s;
        row("batch downloading", banner(batch, Stage::Download, u"Скачиваем IPA…"_s),
            u"Скачиваем 2 из 5 | no | Отменить"_s);
        row("batch installing", banner(batch, Stage::Install, {}), u"Устанавливаем 2 из 5 | no | Отменить"_s);
        row("batch between apps", banner(batch, Stage::None, signingIn), u"Готовим 2 из 5 | no | Отменить"_s);
        row("downloading", banner({}, Stage::Download, signingIn), u"Скачиваем приложение | no | Отменить"_s);
        row("installing", banner({}, Stage::Install, {}), u"Устанавливаем приложение | no | Отменить"_s);
        row("stop asked", banner({}, Stage::None, u"Останавливаем…"_s),
            u"Останавливаем… | yes | Останавливаем…"_s);
        row("three dots are not the ellipsis", banner({}, Stage::None, u"Останавливаем..."_s),
            u"Останавливаем... | no | Отменить"_s);
        row("nothing to say", banner({}, Stage::None, {}), u"Выполняем операцию | no | Отменить"_s);
        // A counter without a total is no batch.
        row("current without total", banner({3, 0, 0, 0}, Stage::Download, {}),
            u"Скачиваем приложение | no | Отменить"_s);

        const OptionalNumber unknown{};
        row("download half", transfer(Stage::Download, known(0.5), known(0.9)),
            u"0.5 | Загрузка: 50 процентов"_s);
        row("download rounds down", transfer(Stage::Download, known(0.994), unknown),
            u"0.994 | Загрузка: 99 процентов"_s);
        row("download rounds up", transfer(Stage::Download, known(0.996), unknown),
            u"0.996 | Загрузка: 100 процентов"_s);
        row("download at zero is known", transfer(Stage::Download, known(0), unknown),
            u"0 | Загрузка: 0 процентов"_s);
        row("download unknown", transfer(Stage::Download, unknown, known(0.4)),
            u"none | Загрузка выполняется"_s);
        row("install", transfer(Stage::Install, known(1), known(0.3)), u"0.3 | Установка выполняется"_s);
        row("no stage", transfer(Stage::None, known(0.2), known(0.3)), u"none | "_s);
    }
    void progress() { compareRow(); }

    void sheets_data()
    {
        columns();
        const QString ready = u"iPhone подключён. Выберите, что сделать с приложением."_s;
        const QString notReady = u"iPhone не подключён. Приложение можно скачать на Mac."_s;
        row("install: ready", SheetTexts::installStatus(device(true, DeviceTransport::Usb)), ready);
        row("install: ready on the network",
            SheetTexts::installStatus(device(true, DeviceTransport::Network)), ready);
        row("install: not ready", SheetTexts::installStatus(device(false, DeviceTransport::Usb)), notReady);
        row("install: no device", SheetTexts::installStatus(noDevice), notReady);
        row("install: ready tools", SheetTexts::installError(noTools), {});
        row("install: ios missing", SheetTexts::installError(onlyIos),
            u"Не удалось подготовить установку. Попробуйте ещё раз позже."_s);

        const QString email = u"anna@example.com"_s;
        const QString secret = u"secret"_s;
        const QString preparing = u"no | Подготавливаем IPATool. Подождите несколько секунд. | no"_s;
        row("sign-in: complete", signIn(email, secret, noTools, false), u"yes |  | yes"_s);
        row("sign-in: only ios missing", signIn(email, secret, onlyIos, false), u"yes |  | yes"_s);
        row("sign-in: no @", signIn(u"anna.example.com"_s, secret, noTools, false), u"yes |  | no"_s);
        row("sign-in: no password", signIn(email, {}, noTools, false), u"yes |  | no"_s);
        row("sign-in: ipatool missing", signIn(email, secret, {u"ios"_s, u"ipatool"_s}, false), preparing);
        row("sign-in: update needed", signIn(email, secret, noTools, true),
            u"no | Для входа требуется обновить IPATool. | no"_s);
        row("sign-in: missing wins over update", signIn(email, secret, onlyIpatool, true), preparing);

        row("code: six digits", yes(SheetTexts::codeAcceptable(u"042917"_s)), u"yes"_s);
        row("code: seven digits", yes(SheetTexts::codeAcceptable(u"0429173"_s)), u"no"_s);
        row("code: trailing newline", yes(SheetTexts::codeAcceptable(u"042917\n"_s)), u"no"_s);
        row("code: fullwidth digits", yes(SheetTexts::codeAcceptable(u"０４２９１７"_s)), u"no"_s);

        row("status: connecting", SheetTexts::loginStatus(AuthenticationEvent::working(), false),
            u"Подключаемся к Apple…"_s);
        row("status: checking the password", SheetTexts::loginStatus(AuthenticationEvent::working(), true),
            u"Проверяем пароль…"_s);
        row("status: failure shows the message",
            SheetTexts::loginStatus(AuthenticationEvent::failure(u"Неверный пароль."_s), true),
            u"Неверный пароль."_s);
        row("status: success",
            SheetTexts::loginStatus(AuthenticationEvent::success(u"anna@example.com"_s), true),
            u"Аккаунт подключён"_s);
        row("status: password prompt", SheetTexts::loginStatus(AuthenticationEvent::password(), false), {});
        row("status: code prompt", SheetTexts::loginStatus(AuthenticationEvent::code(), true), {});
    }
    void sheets() { compareRow(); }

    void updateDialog_data()
    {
        columns();
        row("same version, higher build", dialogTexts(UpdateDialogState::available(manifest(u"1.4.0"_s, 31))),
            u"Доступна новая сборка | Сольвена 1.4.0, сборка 31, готова к установке |  | Версия 1.4.0 · "
            u"сборка 31 | "
            u"Скачать сборку | yes"_s);
        row("higher version", dialogTexts(UpdateDialogState::available(manifest(u"1.5.0"_s, 3))),
            u"Доступна новая версия | Сольвена 1.5.0 готова к установке |  | Версия 1.5.0 · сборка 3 | "
            u"Скачать обновление | no"_s);
        row("current", dialogTexts(UpdateDialogState::current(u"1.4.0"_s)),
            u"У вас последняя версия | Сольвена 1.4.0 уже установлена | Обновлять ничего не нужно. Мы "
            u"сообщим, "
            u"когда появится новая версия. |  |  | no"_s);
        row("failure", dialogTexts(UpdateDialogState::failure(u"Сервер обновлений недоступен."_s)),
            u"Не удалось проверить обновления | Повторите проверку немного позже | Сервер обновлений "
            u"недоступен. |  |  | no"_s);
        // A closed dialog's leftover manifest offers nothing.
        row("closed", dialogTexts({UpdateDialogState::Kind::None, {}, manifest(u"1.4.0"_s, 31)}),
            u" |  |  |  |  | no"_s);
        row("menu, checking", UpdateDialogTexts::menuTitle(true), u"Проверяем обновления…"_s);
        row("menu, idle", UpdateDialogTexts::menuTitle(false), u"Проверить обновления…"_s);
    }
    void updateDialog() { compareRow(); }

    void settings_data()
    {
        columns();
        const QString installing = u" | Устанавливаем компоненты…"_s;
        row("components: all ready", components(noTools, false),
            u"Компоненты готовы к работе | IPATool и go-ios доступны в данных приложения. | Готов | Готов | "
            u"Установить недостающие компоненты"_s +
                installing);
        row("components: update needed", components(noTools, true),
            u"Нужно подготовить компоненты | Версия IPATool ниже минимально поддерживаемой. | Нужно "
            u"обновление | "
            u"Готов | Обновить IPATool"_s +
                installing);
        row("components: ios missing and update needed", components(onlyIos, true),
            u"Нужно подготовить компоненты | Не установлены: ios. | Нужно обновление | Не установлен | "
            u"Установить недостающие компоненты"_s +
                installing);
        row("components: both missing, in the model's order", components({u"ipatool"_s, u"ios"_s}, false),
            u"Нужно подготовить компоненты | Не установлены: ipatool, ios. | Не установлен | Не установлен | "
            u"Установить недостающие компоненты"_s +
                installing);
        row("components: missing beats update for ipatool", components(onlyIpatool, true),
            u"Нужно подготовить компоненты | Не установлены: ipatool. | Не установлен | Готов | "
            u"Установить недостающие компоненты"_s +
                installing);

        // An empty version counts as unknown, as an absent one does.
        const QVariantMap versions{{u"ipatool"_s, u"2.1.4"_s}, {u"ios"_s, QString()}};
        row("version: known", SettingsTexts::componentVersion(versions, u"ipatool"_s), u"2.1.4"_s);
        row("version: empty", SettingsTexts::componentVersion(versions, u"ios"_s), u"Версия не определена"_s);
        row("version: absent", SettingsTexts::componentVersion({}, u"ipatool"_s), u"Версия не определена"_s);

        const QString stage = u"Скачиваем go-ios…"_s;
        row("progress: idle hides a leftover stage", SettingsTexts::progressText(false, false, stage), {});
        row("progress: installing with a stage", SettingsTexts::progressText(true, false, stage), stage);
        row("progress: installing while checking", SettingsTexts::progressText(true, true, {}),
            u"Подготавливаем компоненты…"_s);
        row("progress: checking", SettingsTexts::progressText(false, true, {}), u"Проверяем компоненты…"_s);
        row("check, checking", SettingsTexts::checkTitle(true), u"Проверяем…"_s);
        row("check, idle", SettingsTexts::checkTitle(false), u"Проверить"_s);

        row("cache: nothing", SettingsTexts::cacheSize(0), u"0 Б"_s);
        row("cache: largest in bytes", SettingsTexts::cacheSize(1023), u"1023 Б"_s);
        row("cache: one kilobyte", SettingsTexts::cacheSize(1024), u"1,0 КБ"_s);
        row("cache: no group separator", SettingsTexts::cacheSize(1023 * 1024), u"1023,0 КБ"_s);
        row("cache: rounds up into megabytes", SettingsTexts::cacheSize(1024 * 1024 - 1), u"1,0 МБ"_s);
        row("cache: gigabytes", SettingsTexts::cacheSize(qint64(1.1 * 1024 * 1024 * 1024)), u"1,1 ГБ"_s);
        row("cache: terabytes", SettingsTexts::cacheSize(qint64(3) * 1024 * 1024 * 1024 * 1024), u"3,0 ТБ"_s);
        row("cache: negative", SettingsTexts::cacheSize(-5), u"0 Б"_s);
    }
    void settings() { compareRow(); }

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
