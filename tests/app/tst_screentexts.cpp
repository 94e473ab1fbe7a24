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

Device device(bool ready, DeviceTransport transport, const QString& version = u"17.5"_s)
{
    return Device{u"00008110-001A2B3C4D5E"_s, u"iPhone Анны"_s, version, ready, transport};
}

const Device noDevice{};

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
    void appleIDSubtitle_data();
    void appleIDSubtitle();
    void iPhoneStep_data();
    void iPhoneStep();
    void twoStateTitles_data();
    void twoStateTitles();

    void directInstall_data();
    void directInstall();
    void batchHint_data();
    void batchHint();

    void bannerTitle_data();
    void bannerTitle();
    void stopButton_data();
    void stopButton();
    void transferProgress_data();
    void transferProgress();

    void installSheet_data();
    void installSheet();
    void loginAvailability_data();
    void loginAvailability();
    void credentials_data();
    void credentials();
    void code_data();
    void code();
    void loginStatus_data();
    void loginStatus();

    void updateDialog_data();
    void updateDialog();
    void installedLine();

    void componentsSection_data();
    void componentsSection();
    void componentRows();
    void componentVersion_data();
    void componentVersion();
    void toolsProgress_data();
    void toolsProgress();
    void cacheSize_data();
    void cacheSize();

    void qmlCallsTheRules();
};

void tst_ScreenTexts::appleIDSubtitle_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("needsUpdate");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QString>("subtitle");

    const QStringList both{u"ipatool"_s, u"ios"_s};
    QTest::newRow("account wins over everything")
        << u"anna@example.com"_s << true << both << u"anna@example.com"_s;
    QTest::newRow("update wins over missing")
        << QString() << true << both << u"Обновляем компонент для входа."_s;
    QTest::newRow("ipatool missing") << QString() << false << QStringList{u"ipatool"_s}
                                     << u"Готовим компонент для входа."_s;
    QTest::newRow("only ios missing")
        << QString() << false << QStringList{u"ios"_s} << u"Нужен для скачивания приложений из App Store."_s;
    QTest::newRow("name only resembling ipatool") << QString() << false << QStringList{u"ipatool2"_s}
                                                  << u"Нужен для скачивания приложений из App Store."_s;
}

void tst_ScreenTexts::appleIDSubtitle()
{
    QFETCH(QString, account);
    QFETCH(bool, needsUpdate);
    QFETCH(QStringList, missing);
    QFETCH(QString, subtitle);

    QCOMPARE(StepCardTexts::appleIDSubtitle(account, needsUpdate, missing), subtitle);
}

void tst_ScreenTexts::iPhoneStep_data()
{
    QTest::addColumn<Device>("device");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<bool>("installing");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("subtitle");

    const QStringList none;
    const QStringList ios{u"ios"_s};
    QTest::newRow("no device") << noDevice << none << false << false
                               << u"Подключите и разблокируйте iPhone кабелем USB."_s;
    // Only the id tells whether a device is selected.
    Device blank = device(true, DeviceTransport::Usb);
    blank.id.clear();
    QTest::newRow("empty id with usb fields")
        << blank << none << false << false << u"Подключите и разблокируйте iPhone кабелем USB."_s;
    QTest::newRow("ready on usb") << device(true, DeviceTransport::Usb) << none << false << true
                                  << u"iPhone Анны, iOS 17.5."_s;
    QTest::newRow("ready on usb, version unknown") << device(true, DeviceTransport::Usb, {}) << none << false
                                                   << true << u"iPhone Анны подключён по USB."_s;
    QTest::newRow("not ready") << device(false, DeviceTransport::Usb) << none << false << false
                               << connectCable;
    QTest::newRow("on the network") << device(true, DeviceTransport::Network) << none << false << false
                                    << connectCable;
    QTest::newRow("transport unknown")
        << device(true, DeviceTransport::Unknown) << none << false << false << connectCable;
    QTest::newRow("ios missing beats a ready device") << device(true, DeviceTransport::Usb) << ios << false
                                                      << false << u"Компонент подключения недоступен."_s;
    QTest::newRow("ios missing beats no device, installing")
        << noDevice << ios << true << false << u"Готовим компонент подключения."_s;
    QTest::newRow("only ipatool missing") << device(true, DeviceTransport::Usb) << QStringList{u"ipatool"_s}
                                          << false << true << u"iPhone Анны, iOS 17.5."_s;
}

void tst_ScreenTexts::iPhoneStep()
{
    QFETCH(Device, device);
    QFETCH(QStringList, missing);
    QFETCH(bool, installing);
    QFETCH(bool, connected);
    QFETCH(QString, subtitle);

    QCOMPARE(StepCardTexts::iPhoneConnected(device, missing), connected);
    QCOMPARE(StepCardTexts::iPhoneTitle(StepCardTexts::iPhoneConnected(device, missing)),
             connected ? u"iPhone подключён"_s : u"Подключите iPhone"_s);
    QCOMPARE(StepCardTexts::iPhoneSubtitle(device, missing, installing), subtitle);
}

// The titles that only follow one flag, so a swapped branch shows.
void tst_ScreenTexts::twoStateTitles_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");

    QTest::newRow("apple id, signed in") << StepCardTexts::appleIDTitle(true) << u"Управление Apple ID"_s;
    QTest::newRow("apple id, signed out") << StepCardTexts::appleIDTitle(false) << u"Подключить Apple ID"_s;
    QTest::newRow("cable, refreshing") << StepCardTexts::checkCableTitle(true) << u"Проверяем подключение…"_s;
    QTest::newRow("cable, idle") << StepCardTexts::checkCableTitle(false) << u"Проверить кабель"_s;
    QTest::newRow("select all, all selected") << CatalogPageTexts::selectAllTitle(true) << u"Снять видимые"_s;
    QTest::newRow("select all, some left") << CatalogPageTexts::selectAllTitle(false) << u"Выбрать все"_s;
    QTest::newRow("checkbox, selected")
        << CatalogPageTexts::rowCheckboxHelp(u"Сбербанк"_s, true) << u"Убрать Сбербанк из выбранных"_s;
    QTest::newRow("checkbox, not selected")
        << CatalogPageTexts::rowCheckboxHelp(u"Сбербанк"_s, false) << u"Выбрать Сбербанк"_s;
    QTest::newRow("check, checking") << SettingsTexts::checkTitle(true) << u"Проверяем…"_s;
    QTest::newRow("check, idle") << SettingsTexts::checkTitle(false) << u"Проверить"_s;
    QTest::newRow("menu, checking") << UpdateDialogTexts::menuTitle(true) << u"Проверяем обновления…"_s;
    QTest::newRow("menu, idle") << UpdateDialogTexts::menuTitle(false) << u"Проверить обновления…"_s;
}

void tst_ScreenTexts::twoStateTitles()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);

    QCOMPARE(actual, expected);
}

void tst_ScreenTexts::directInstall_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("id");

    QTest::newRow("one digit") << u"7"_s << u"7"_s;
    QTest::newRow("18 digits") << u"999999999999999999"_s << u"999999999999999999"_s;
    QTest::newRow("19 digits") << u"1000000000000000000"_s << QString();
    QTest::newRow("19 digits with a leading zero") << u"0123456789012345678"_s << QString();
    QTest::newRow("zero") << u"0"_s << QString();
    QTest::newRow("18 zeros") << u"000000000000000000"_s << QString();
    QTest::newRow("leading zeros dropped") << u"000000000000000001"_s << u"1"_s;
    QTest::newRow("spaces and newlines trimmed") << u" \t544007664\r\n"_s << u"544007664"_s;
    QTest::newRow("space inside") << u"544 007664"_s << QString();
    QTest::newRow("letter") << u"54400766a"_s << QString();
    QTest::newRow("sign") << u"+544007664"_s << QString();
    QTest::newRow("fullwidth digits") << u"１２３"_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only white space") << u" \n "_s << QString();
}

void tst_ScreenTexts::directInstall()
{
    QFETCH(QString, text);
    QFETCH(QString, id);

    QCOMPARE(CatalogPageTexts::directInstallID(text), id);
    QCOMPARE(CatalogPageTexts::directInstallHelp(text),
             id.isEmpty() ? QString() : u"Установить приложение с App Store ID "_s + id);
}

void tst_ScreenTexts::batchHint_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<Device>("device");
    QTest::addColumn<bool>("canDownload");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("hint");

    const QString signIn = u"Подключите Apple ID, чтобы скачать выбранные приложения."_s;
    const QString savedOnMac =
        u"iPhone не подключён: выбранные приложения будут скачаны и сохранены на Mac."_s;
    const QString preparing = u"Подготавливаем доступ к загрузке. Подождите несколько секунд."_s;
    const Device ready = device(true, DeviceTransport::Usb);

    QTest::newRow("signed out beats everything") << false << noDevice << false << false << signIn;
    QTest::newRow("no device beats preparing") << true << noDevice << false << false << savedOnMac;
    QTest::newRow("device not ready")
        << true << device(false, DeviceTransport::Usb) << true << false << savedOnMac;
    // Saving on the Mac needs the device ready only, whatever the transport.
    QTest::newRow("ready on the network")
        << true << device(true, DeviceTransport::Network) << true << false << QString();
    QTest::newRow("download not ready yet") << true << ready << false << false << preparing;
    QTest::newRow("download not ready while busy") << true << ready << false << true << QString();
    QTest::newRow("nothing missing") << true << ready << true << false << QString();
}

void tst_ScreenTexts::batchHint()
{
    QFETCH(bool, signedIn);
    QFETCH(Device, device);
    QFETCH(bool, canDownload);
    QFETCH(bool, busy);
    QFETCH(QString, hint);

    QCOMPARE(CatalogPageTexts::batchHint(signedIn, device, canDownload, busy), hint);
}

void tst_ScreenTexts::bannerTitle_data()
{
    QTest::addColumn<BatchInstallProgress>("batch");
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<QString>("operationStage");
    QTest::addColumn<QString>("title");

    const BatchInstallProgress batch{2, 5, 1, 0};
    const BatchInstallProgress noBatch{};
    QTest::newRow("batch downloading")
        << batch << Stage::Download << u"Скачиваем IPA…"_s << u"Скачиваем 2 из 5"_s;
    QTest::newRow("batch installing") << batch << Stage::Install << QString() << u"Устанавливаем 2 из 5"_s;
    QTest::newRow("batch between apps")
        << batch << Stage::None << u"Входим в Apple ID…"_s << u"Готовим 2 из 5"_s;
    QTest::newRow("downloading") << noBatch << Stage::Download << u"Входим в Apple ID…"_s
                                 << u"Скачиваем приложение"_s;
    QTest::newRow("installing") << noBatch << Stage::Install << QString() << u"Устанавливаем приложение"_s;
    QTest::newRow("stage text") << noBatch << Stage::None << u"Входим в Apple ID…"_s
                                << u"Входим в Apple ID…"_s;
    QTest::newRow("nothing to say") << noBatch << Stage::None << QString() << u"Выполняем операцию"_s;
    // A counter without a total is no batch.
    QTest::newRow("current without total")
        << BatchInstallProgress{3, 0, 0, 0} << Stage::Download << QString() << u"Скачиваем приложение"_s;
}

void tst_ScreenTexts::bannerTitle()
{
    QFETCH(BatchInstallProgress, batch);
    QFETCH(Stage, stage);
    QFETCH(QString, operationStage);
    QFETCH(QString, title);

    QCOMPARE(ProgressTexts::bannerTitle(batch, stage, operationStage), title);
}

void tst_ScreenTexts::stopButton_data()
{
    QTest::addColumn<QString>("operationStage");
    QTest::addColumn<bool>("stopping");

    QTest::newRow("stop asked") << u"Останавливаем…"_s << true;
    QTest::newRow("three dots are not the ellipsis") << u"Останавливаем..."_s << false;
    QTest::newRow("other stage") << u"Скачиваем IPA…"_s << false;
    QTest::newRow("no stage") << QString() << false;
}

void tst_ScreenTexts::stopButton()
{
    QFETCH(QString, operationStage);
    QFETCH(bool, stopping);

    QCOMPARE(ProgressTexts::stopping(operationStage), stopping);
    QCOMPARE(ProgressTexts::stopTitle(operationStage), stopping ? u"Останавливаем…"_s : u"Отменить"_s);
}

void tst_ScreenTexts::transferProgress_data()
{
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<OptionalNumber>("download");
    QTest::addColumn<OptionalNumber>("install");
    QTest::addColumn<OptionalNumber>("active");
    QTest::addColumn<QString>("accessible");

    const OptionalNumber unknown{};
    QTest::newRow("download half") << Stage::Download << known(0.5) << known(0.9) << known(0.5)
                                   << u"Загрузка: 50 процентов"_s;
    QTest::newRow("download rounds down")
        << Stage::Download << known(0.994) << unknown << known(0.994) << u"Загрузка: 99 процентов"_s;
    QTest::newRow("download rounds up")
        << Stage::Download << known(0.996) << unknown << known(0.996) << u"Загрузка: 100 процентов"_s;
    QTest::newRow("download at zero is known")
        << Stage::Download << known(0) << unknown << known(0) << u"Загрузка: 0 процентов"_s;
    QTest::newRow("download unknown")
        << Stage::Download << unknown << known(0.4) << unknown << u"Загрузка выполняется"_s;
    QTest::newRow("install") << Stage::Install << known(1) << known(0.3) << known(0.3)
                             << u"Установка выполняется"_s;
    QTest::newRow("no stage") << Stage::None << known(0.2) << known(0.3) << unknown << QString();
}

void tst_ScreenTexts::transferProgress()
{
    QFETCH(Stage, stage);
    QFETCH(OptionalNumber, download);
    QFETCH(OptionalNumber, install);
    QFETCH(OptionalNumber, active);
    QFETCH(QString, accessible);

    QCOMPARE(ProgressTexts::activeFraction(stage, download, install), active);
    QCOMPARE(ProgressTexts::accessibleText(stage, active), accessible);
}

void tst_ScreenTexts::installSheet_data()
{
    QTest::addColumn<Device>("device");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("error");

    const QString ready = u"iPhone подключён. Выберите, что сделать с приложением."_s;
    const QString notReady = u"iPhone не подключён. Приложение можно скачать на Mac."_s;
    const QString failed = u"Не удалось подготовить установку. Попробуйте ещё раз позже."_s;
    QTest::newRow("ready") << device(true, DeviceTransport::Usb) << QStringList() << ready << QString();
    QTest::newRow("ready on the network")
        << device(true, DeviceTransport::Network) << QStringList() << ready << QString();
    QTest::newRow("not ready") << device(false, DeviceTransport::Usb) << QStringList() << notReady
                               << QString();
    QTest::newRow("no device, tool missing") << noDevice << QStringList{u"ios"_s} << notReady << failed;
}

void tst_ScreenTexts::installSheet()
{
    QFETCH(Device, device);
    QFETCH(QStringList, missing);
    QFETCH(QString, status);
    QFETCH(QString, error);

    QCOMPARE(SheetTexts::installStatus(device), status);
    QCOMPARE(SheetTexts::installError(missing), error);
}

void tst_ScreenTexts::loginAvailability_data()
{
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<bool>("needsUpdate");
    QTest::addColumn<bool>("canStart");
    QTest::addColumn<QString>("blocked");

    const QString preparing = u"Подготавливаем IPATool. Подождите несколько секунд."_s;
    const QString update = u"Для входа требуется обновить IPATool."_s;
    QTest::newRow("ready") << QStringList() << false << true << QString();
    QTest::newRow("only ios missing") << QStringList{u"ios"_s} << false << true << QString();
    QTest::newRow("ipatool missing") << QStringList{u"ios"_s, u"ipatool"_s} << false << false << preparing;
    QTest::newRow("update needed") << QStringList() << true << false << update;
    QTest::newRow("missing wins over update") << QStringList{u"ipatool"_s} << true << false << preparing;
}

void tst_ScreenTexts::loginAvailability()
{
    QFETCH(QStringList, missing);
    QFETCH(bool, needsUpdate);
    QFETCH(bool, canStart);
    QFETCH(QString, blocked);

    QCOMPARE(SheetTexts::loginCanStart(missing, needsUpdate), canStart);
    QCOMPARE(SheetTexts::loginBlockedMessage(missing, needsUpdate), blocked);
}

void tst_ScreenTexts::credentials_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<bool>("needsUpdate");
    QTest::addColumn<bool>("canSubmit");

    const QString email = u"anna@example.com"_s;
    QTest::newRow("complete") << email << u"secret"_s << QStringList() << false << true;
    QTest::newRow("no @ with a password")
        << u"anna.example.com"_s << u"secret"_s << QStringList() << false << false;
    QTest::newRow("no password") << email << QString() << QStringList() << false << false;
    QTest::newRow("ipatool missing") << email << u"secret"_s << QStringList{u"ipatool"_s} << false << false;
    QTest::newRow("update needed") << email << u"secret"_s << QStringList() << true << false;
}

void tst_ScreenTexts::credentials()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QStringList, missing);
    QFETCH(bool, needsUpdate);
    QFETCH(bool, canSubmit);

    QCOMPARE(SheetTexts::canSubmitCredentials(email, password, missing, needsUpdate), canSubmit);
}

void tst_ScreenTexts::code_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("acceptable");

    QTest::newRow("six digits") << u"042917"_s << true;
    QTest::newRow("five digits") << u"04291"_s << false;
    QTest::newRow("seven digits") << u"0429173"_s << false;
    QTest::newRow("six with a letter") << u"04a917"_s << false;
    QTest::newRow("trailing newline") << u"042917\n"_s << false;
    QTest::newRow("inner space") << u"042 917"_s << false;
    QTest::newRow("fullwidth digits") << u"０４２９１７"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_ScreenTexts::code()
{
    QFETCH(QString, code);
    QFETCH(bool, acceptable);

    QCOMPARE(SheetTexts::codeAcceptable(code), acceptable);
}

void tst_ScreenTexts::loginStatus_data()
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

void tst_ScreenTexts::loginStatus()
{
    QFETCH(AuthenticationEvent, stage);
    QFETCH(bool, passwordSubmitted);
    QFETCH(QString, status);

    QCOMPARE(SheetTexts::loginStatus(stage, passwordSubmitted), status);
}

void tst_ScreenTexts::updateDialog_data()
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
        << u"Сольвена 1.4.0, сборка 31, готова к установке"_s << QString() << u"Версия 1.4.0 · сборка 31"_s
        << u"Скачать сборку"_s;
    QTest::newRow("higher version") << UpdateDialogState::available(manifest(u"1.5.0"_s, 3))
                                    << u"Доступна новая версия"_s << u"Сольвена 1.5.0 готова к установке"_s
                                    << QString() << u"Версия 1.5.0 · сборка 3"_s << u"Скачать обновление"_s;
    QTest::newRow("current") << UpdateDialogState::current(u"1.4.0"_s) << u"У вас последняя версия"_s
                             << u"Сольвена 1.4.0 уже установлена"_s
                             << u"Обновлять ничего не нужно. Мы сообщим, когда появится новая версия."_s
                             << QString() << QString();
    QTest::newRow("failure") << UpdateDialogState::failure(u"Сервер обновлений недоступен."_s)
                             << u"Не удалось проверить обновления"_s << u"Повторите проверку немного позже"_s
                             << u"Сервер обновлений недоступен."_s << QString() << QString();
    QTest::newRow("checking") << UpdateDialogState::checking() << u"Проверяем обновления"_s << u"Сольвена"_s
                              << u"Подключаемся к серверу обновлений. Обычно это занимает несколько секунд."_s
                              << QString() << QString();
    // A closed dialog's leftover manifest offers nothing.
    QTest::newRow("closed") << UpdateDialogState{UpdateDialogState::Kind::None, {}, manifest(u"1.4.0"_s, 31)}
                            << QString() << QString() << QString() << QString() << QString();
}

void tst_ScreenTexts::updateDialog()
{
    QFETCH(UpdateDialogState, state);
    QFETCH(QString, title);
    QFETCH(QString, subtitle);
    QFETCH(QString, message);
    QFETCH(QString, availableLine);
    QFETCH(QString, download);

    const QString running = u"1.4.0"_s;
    QCOMPARE(UpdateDialogTexts::title(state, running), title);
    QCOMPARE(UpdateDialogTexts::subtitle(state, running), subtitle);
    QCOMPARE(UpdateDialogTexts::message(state), message);
    QCOMPARE(UpdateDialogTexts::availableLine(state), availableLine);
    QCOMPARE(UpdateDialogTexts::downloadTitle(state, running), download);
    QCOMPARE(UpdateDialogTexts::isNewBuild(state, running), download == u"Скачать сборку"_s);
}

void tst_ScreenTexts::installedLine()
{
    QCOMPARE(UpdateDialogTexts::installedLine(u"1.4.0"_s, 27), u"Установлена 1.4.0 · сборка 27"_s);
}

void tst_ScreenTexts::componentsSection_data()
{
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<bool>("needsUpdate");
    QTest::addColumn<QString>("overall");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("ipatoolStatus");
    QTest::addColumn<QString>("iosStatus");
    QTest::addColumn<QString>("installTitle");

    const QString ready = u"Компоненты готовы к работе"_s;
    const QString prepare = u"Нужно подготовить компоненты"_s;
    const QString installMissing = u"Установить недостающие компоненты"_s;
    QTest::newRow("all ready") << QStringList() << false << ready
                               << u"IPATool и go-ios доступны в данных приложения."_s << u"Готов"_s
                               << u"Готов"_s << installMissing;
    QTest::newRow("update needed") << QStringList() << true << prepare
                                   << u"Версия IPATool ниже минимально поддерживаемой."_s
                                   << u"Нужно обновление"_s << u"Готов"_s << u"Обновить IPATool"_s;
    QTest::newRow("ios missing and update needed")
        << QStringList{u"ios"_s} << true << prepare << u"Не установлены: ios."_s << u"Нужно обновление"_s
        << u"Не установлен"_s << installMissing;
    QTest::newRow("both missing, in the model's order")
        << QStringList{u"ipatool"_s, u"ios"_s} << false << prepare << u"Не установлены: ipatool, ios."_s
        << u"Не установлен"_s << u"Не установлен"_s << installMissing;
    QTest::newRow("missing beats update for ipatool")
        << QStringList{u"ipatool"_s} << true << prepare << u"Не установлены: ipatool."_s << u"Не установлен"_s
        << u"Готов"_s << installMissing;
}

void tst_ScreenTexts::componentsSection()
{
    QFETCH(QStringList, missing);
    QFETCH(bool, needsUpdate);
    QFETCH(QString, overall);
    QFETCH(QString, detail);
    QFETCH(QString, ipatoolStatus);
    QFETCH(QString, iosStatus);
    QFETCH(QString, installTitle);

    QCOMPARE(SettingsTexts::overallStatus(missing, needsUpdate), overall);
    QCOMPARE(SettingsTexts::detailLine(missing, needsUpdate), detail);
    QCOMPARE(SettingsTexts::componentStatus(u"ipatool"_s, missing, needsUpdate), ipatoolStatus);
    QCOMPARE(SettingsTexts::componentStatus(u"ios"_s, missing, needsUpdate), iosStatus);
    QCOMPARE(SettingsTexts::installTitle(false, missing, needsUpdate), installTitle);
    QCOMPARE(SettingsTexts::installTitle(true, missing, needsUpdate), u"Устанавливаем компоненты…"_s);
}

void tst_ScreenTexts::componentRows()
{
    const QVariantList rows = SettingsTexts::components();
    QCOMPARE(rows.size(), 2);
    const QVariantMap ipatool = rows[0].toMap();
    const QVariantMap ios = rows[1].toMap();
    QCOMPARE(ipatool.value(u"name"_s).toString(), u"ipatool"_s);
    QCOMPARE(ipatool.value(u"title"_s).toString(), u"IPATool"_s);
    QCOMPARE(ipatool.value(u"detail"_s).toString(), u"Загрузка IPA из Apple"_s);
    QCOMPARE(ios.value(u"name"_s).toString(), u"ios"_s);
    QCOMPARE(ios.value(u"title"_s).toString(), u"go-ios"_s);
    QCOMPARE(ios.value(u"detail"_s).toString(), u"Подключение и установка на iPhone"_s);
}

void tst_ScreenTexts::componentVersion_data()
{
    QTest::addColumn<QVariantMap>("versions");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");

    const QString unknown = u"Версия не определена"_s;
    const QVariantMap versions{{u"ipatool"_s, u"2.1.4"_s}, {u"ios"_s, QString()}};
    QTest::newRow("known") << versions << u"ipatool"_s << u"2.1.4"_s;
    QTest::newRow("empty") << versions << u"ios"_s << unknown;
    QTest::newRow("absent") << QVariantMap{{u"ipatool"_s, u"2.1.4"_s}} << u"ios"_s << unknown;
}

void tst_ScreenTexts::componentVersion()
{
    QFETCH(QVariantMap, versions);
    QFETCH(QString, name);
    QFETCH(QString, version);

    QCOMPARE(SettingsTexts::componentVersion(versions, name), version);
}

void tst_ScreenTexts::toolsProgress_data()
{
    QTest::addColumn<bool>("installing");
    QTest::addColumn<bool>("checking");
    QTest::addColumn<QString>("stage");
    QTest::addColumn<QString>("text");

    QTest::newRow("idle hides a leftover stage") << false << false << u"Скачиваем go-ios…"_s << QString();
    QTest::newRow("installing with a stage")
        << true << false << u"Скачиваем go-ios…"_s << u"Скачиваем go-ios…"_s;
    QTest::newRow("installing") << true << false << QString() << u"Подготавливаем компоненты…"_s;
    QTest::newRow("installing while checking")
        << true << true << QString() << u"Подготавливаем компоненты…"_s;
    QTest::newRow("checking") << false << true << QString() << u"Проверяем компоненты…"_s;
}

void tst_ScreenTexts::toolsProgress()
{
    QFETCH(bool, installing);
    QFETCH(bool, checking);
    QFETCH(QString, stage);
    QFETCH(QString, text);

    QCOMPARE(SettingsTexts::progressText(installing, checking, stage), text);
}

void tst_ScreenTexts::cacheSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << qint64(0) << u"0 Б"_s;
    QTest::newRow("bytes") << qint64(512) << u"512 Б"_s;
    QTest::newRow("largest in bytes") << qint64(1023) << u"1023 Б"_s;
    QTest::newRow("one kilobyte") << qint64(1024) << u"1,0 КБ"_s;
    QTest::newRow("kilobytes") << qint64(1536) << u"1,5 КБ"_s;
    QTest::newRow("no group separator") << qint64(1023 * 1024) << u"1023,0 КБ"_s;
    QTest::newRow("rounds up into megabytes") << qint64(1024 * 1024 - 1) << u"1,0 МБ"_s;
    QTest::newRow("megabytes") << qint64(12.3 * 1024 * 1024) << u"12,3 МБ"_s;
    QTest::newRow("gigabytes") << qint64(1.1 * 1024 * 1024 * 1024) << u"1,1 ГБ"_s;
    QTest::newRow("terabytes") << qint64(3) * 1024 * 1024 * 1024 * 1024 << u"3,0 ТБ"_s;
    QTest::newRow("negative") << qint64(-5) << u"0 Б"_s;
}

void tst_ScreenTexts::cacheSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);

    QCOMPARE(SettingsTexts::cacheSize(bytes), text);
}

// The screens reach the rules through the singletons, with the model's values as QML holds them.
void tst_ScreenTexts::qmlCallsTheRules()
{
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(u"usbPhone"_s,
                                             QVariant::fromValue(device(true, DeviceTransport::Usb)));
    engine.rootContext()->setContextProperty(u"networkPhone"_s,
                                             QVariant::fromValue(device(true, DeviceTransport::Network)));
    engine.rootContext()->setContextProperty(
        u"newBuild"_s, QVariant::fromValue(UpdateDialogState::available(manifest(u"1.4.0"_s, 31))));
    engine.rootContext()->setContextProperty(u"working"_s,
                                             QVariant::fromValue(AuthenticationEvent::working()));
    engine.rootContext()->setContextProperty(u"batch"_s,
                                             QVariant::fromValue(BatchInstallProgress{1, 3, 0, 0}));
    engine.rootContext()->setContextProperty(u"half"_s, QVariant::fromValue(known(0.5)));

    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Mirvo

        QtObject {
            readonly property string usbSubtitle: StepCardTexts.iPhoneSubtitle(usbPhone, [], false)
            readonly property bool networkConnected: StepCardTexts.iPhoneConnected(networkPhone, [])
            readonly property string appleIDTitle: StepCardTexts.appleIDTitle(true)
            readonly property string directID: CatalogPageTexts.directInstallID(" 0042\n")
            readonly property string banner: ProgressTexts.bannerTitle(batch, OperationState.Install, "")
            readonly property string accessible: ProgressTexts.accessibleText(OperationState.Download,
                ProgressTexts.activeFraction(OperationState.Download, half, half))
            readonly property string loginStatus: SheetTexts.loginStatus(working, true)
            readonly property string updateTitle: UpdateDialogTexts.downloadTitle(newBuild, "1.4.0")
            readonly property string componentTitle: SettingsTexts.components()[1].title
            readonly property string version: SettingsTexts.componentVersion({ "ipatool": "2.1.4" }, "ipatool")
        }
    )",
                      QUrl(u"qrc:/tst_screentexts.qml"_s));
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    const auto read = [&](const char* name) { return object->property(name); };

    QCOMPARE(read("usbSubtitle").toString(), u"iPhone Анны, iOS 17.5."_s);
    // The transport is not a QML property, yet it survives the trip through QML.
    QCOMPARE(read("networkConnected").toBool(), false);
    QCOMPARE(read("appleIDTitle").toString(), u"Управление Apple ID"_s);
    QCOMPARE(read("directID").toString(), u"42"_s);
    QCOMPARE(read("banner").toString(), u"Устанавливаем 1 из 3"_s);
    QCOMPARE(read("accessible").toString(), u"Загрузка: 50 процентов"_s);
    QCOMPARE(read("loginStatus").toString(), u"Проверяем пароль…"_s);
    QCOMPARE(read("updateTitle").toString(), u"Скачать сборку"_s);
    QCOMPARE(read("componentTitle").toString(), u"go-ios"_s);
    QCOMPARE(read("version").toString(), u"2.1.4"_s);
}

QTEST_MAIN(tst_ScreenTexts)
#include "tst_screentexts.moc"
