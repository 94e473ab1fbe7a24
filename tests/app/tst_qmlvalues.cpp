#include "AppModel.h"
#include "TestEnvironment.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

// What QML reads of the model's typed values: kinds by name, and optional values with their flags.
class tst_QmlValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bindingsFollowTheModel();
    void qmlWritesOnlyWhatTheScreensWrite();
};

void tst_QmlValues::bindingsFollowTheModel()
{
    test::TemporaryDataDirectory dir;
    AppModel model(test::modelEnvironment(dir));
    AppModel::setInstance(&model);

    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Mirvo

        QtObject {
            readonly property bool dialogClosed: AppModel.updates.dialog.kind === UpdateDialogState.None
            readonly property bool updateAvailable: AppModel.updates.dialog.kind === UpdateDialogState.Available
            readonly property string dialogText: AppModel.updates.dialog.text
            readonly property string availableVersion: AppModel.updates.dialog.manifest.version
            readonly property bool progressKnown: AppModel.operation.downloadProgress.known
            readonly property real progress: AppModel.operation.downloadProgress.value
            readonly property bool asksForCode: AppModel.account.loginStage.kind === AuthenticationEvent.Code
            readonly property string failure: AppModel.account.loginStage.kind === AuthenticationEvent.Failure
                                              ? AppModel.account.loginStage.payload : ""
            readonly property bool batchRunning: AppModel.operation.batchProgress.running
            readonly property int batchTotal: AppModel.operation.batchProgress.total
            readonly property bool sheetOpen: AppModel.operation.request.present
            readonly property string sheetName: AppModel.operation.request.name
            readonly property string firstDevice: AppModel.devices.connected.length > 0
                                                  ? AppModel.devices.connected[0].name : ""
            readonly property bool selectedReady: AppModel.devices.selectedDevice.ready
            readonly property bool downloading: AppModel.operation.progressStage === OperationState.Download
        }
    )",
                      QUrl(u"qrc:/tst_qmlvalues.qml"_s));
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    const auto read = [&](const char* name) { return object->property(name); };

    QVERIFY(read("dialogClosed").toBool());
    QVERIFY(!read("progressKnown").toBool());
    QCOMPARE(read("progress").toDouble(), 0.0);
    QVERIFY(!read("asksForCode").toBool());
    QVERIFY(!read("batchRunning").toBool());
    QVERIFY(!read("sheetOpen").toBool());
    QCOMPARE(read("firstDevice").toString(), QString());
    QVERIFY(!read("selectedReady").toBool());

    AppUpdateManifest manifest;
    manifest.version = u"1.2.0"_s;
    model.updates()->setDialog(UpdateDialogState::available(manifest));
    model.operation()->setDownloadProgress(0.25);
    model.operation()->setProgressStage(OperationState::ProgressStage::Download);
    model.account()->setLoginStage(AuthenticationEvent::code());
    model.operation()->setBatchProgress(BatchInstallProgress{1, 3, 0, 0});
    model.operation()->setRequest(
        InstallRequest{QUuid::createUuid(), u"Сбербанк"_s, AppIdentifier::storeID(u"1"_s), {}});
    const Device phone{u"UDID-1"_s, u"iPhone Анны"_s, u"17.5"_s, true, DeviceTransport::Usb};
    model.devices()->setConnected({phone});
    model.devices()->setSelectedDeviceID(phone.id);

    QVERIFY(!read("dialogClosed").toBool());
    QVERIFY(read("updateAvailable").toBool());
    QCOMPARE(read("availableVersion").toString(), u"1.2.0"_s);
    QVERIFY(read("progressKnown").toBool());
    QCOMPARE(read("progress").toDouble(), 0.25);
    QVERIFY(read("downloading").toBool());
    QVERIFY(read("asksForCode").toBool());
    QVERIFY(read("batchRunning").toBool());
    QCOMPARE(read("batchTotal").toInt(), 3);
    QVERIFY(read("sheetOpen").toBool());
    QCOMPARE(read("sheetName").toString(), u"Сбербанк"_s);
    QCOMPARE(read("firstDevice").toString(), u"iPhone Анны"_s);
    QVERIFY(read("selectedReady").toBool());

    model.account()->setLoginStage(AuthenticationEvent::failure(u"Неверный пароль."_s));
    model.updates()->setDialog(UpdateDialogState::current(u"1.1.0"_s));
    QCOMPARE(read("dialogText").toString(), u"1.1.0"_s);
    model.operation()->setDownloadProgress(std::nullopt);
    QCOMPARE(read("failure").toString(), u"Неверный пароль."_s);
    QVERIFY(!read("progressKnown").toBool());
    AppModel::setInstance(nullptr);
}

void tst_QmlValues::qmlWritesOnlyWhatTheScreensWrite()
{
    test::TemporaryDataDirectory dir;
    AppModel model(test::modelEnvironment(dir));
    const QList<std::pair<const QObject*, QStringList>> objects{
        {&model, {u"page"_s, u"advancedMode"_s}},
        {model.catalog(), {u"search"_s, u"topSearch"_s}},
        {model.devices(), {u"selectedDeviceID"_s}},
        {model.account(), {u"modal"_s}},
        {model.components(), {}},
        {model.operation(), {}},
        {model.updates(), {}},
    };
    for (const auto& [object, writable] : objects) {
        const QMetaObject* meta = object->metaObject();
        QStringList written;
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            if (meta->property(i).isWritable())
                written.append(QString::fromLatin1(meta->property(i).name()));
        }
        QCOMPARE(written, writable);
    }
}

QTEST_MAIN(tst_QmlValues)
#include "tst_qmlvalues.moc"
