// A stand-in for go-ios 1.x (executable "ios"): the command lines Mirvo gives it, answered the way the real
// tool answers them. Results go to stdout, logs to stderr as JSON lines.
//
// Devices: MIRVO_FAKE_DEVICES may name a JSON file holding an array of device objects with the fields that
// "list --details" prints ("Udid", "ProductName", ...) plus three fields of the fake itself: "lockdown", the
// object that "info lockdown" prints for that device; "locked": true, which makes that query fail; and
// "untrusting": true, for a phone without a pairing record, which fails that query and the whole of
// "list --details" (plain "list" still names it). Without the file there is one unlocked iPhone.
//
// Scenarios (MIRVO_FAKE_SCENARIO, comma-separated):
//   success (default)          every command succeeds
//   several-devices            three devices: one on USB, the same one on the network, another on USB
//   no-devices                 an empty device list
//   untrusting-phone           a second iPhone, on USB, that has not trusted this computer
//   no-usbmuxd                 the usbmuxd socket (USBMUXD_SOCKET_ADDRESS, else /var/run/usbmuxd) does not
//                              answer: every command but "version" fails
//   locked                     every lockdown query fails, as for a locked or untrusting iPhone
//   lockdown-stalled           lockdown queries hang forever
//   install-failure            install fails with exit status 1
//   install-failed-exit-zero   install prints an error line yet exits with 0
//   install-noisy              install prints lines where "errors" and "failures" stand inside longer words
//   slow-progress              install takes about three seconds
//   silent-send                install sends the app for three seconds (instead of 100 ms) before its first
//                              percentage; MIRVO_FAKE_SEND_MS sets that time in either case
//   stalled                    install hangs forever after its first progress line
//   ignore-sigterm             SIGTERM is ignored
//   flood                      install logs MIRVO_FAKE_FLOOD_BYTES (default 3 MiB) of progress lines first
// Other variables: MIRVO_FAKE_VERSION (default 1.3.2), MIRVO_FAKE_LOG.

#include "FakeSupport.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString tool = u"ios"_s;

void log(const QString& level, const QString& message, QList<fake::Field> attributes = {})
{
    QList<fake::Field> fields{{u"time"_s, fake::timestamp()}, {u"level"_s, level}, {u"msg"_s, message}};
    fields.append(attributes);
    // Go's JSON encoder escapes the HTML characters in strings.
    QString line = fake::jsonLine(fields);
    line.replace(u'&', u"\\u0026"_s).replace(u'<', u"\\u003c"_s).replace(u'>', u"\\u003e"_s);
    fake::err(line);
}

void warnAboutAgent()
{
    log(u"WARN"_s,
        u"go-ios agent is not running. You might need to start it with 'ios tunnel start' for ios17+. Use "
        u"ENABLE_GO_IOS_AGENT=user for userspace tunnel or ENABLE_GO_IOS_AGENT=kernel for kernel tunnel for "
        u"the "
        u"experimental daemon mode."_s);
}

[[noreturn]] void failWith(const QString& message, const QString& error)
{
    log(u"ERROR"_s, message, {{u"err"_s, error}});
    std::exit(1);
}

QJsonObject makeDevice(const QString& udid, const QString& type, const QString& connection,
                       const QString& name)
{
    return {{u"Udid"_s, udid},
            {u"ProductName"_s, u"iPhone OS"_s},
            {u"ProductType"_s, type},
            {u"ProductVersion"_s, u"17.5.1"_s},
            {u"ConnectionType"_s, connection},
            {u"lockdown"_s, QJsonObject{{u"ActivationState"_s, u"Activated"_s},
                                        {u"BuildVersion"_s, u"21F90"_s},
                                        {u"DeviceClass"_s, u"iPhone"_s},
                                        {u"DeviceName"_s, name},
                                        {u"ProductName"_s, u"iPhone OS"_s},
                                        {u"ProductType"_s, type},
                                        {u"ProductVersion"_s, u"17.5.1"_s},
                                        {u"UniqueDeviceID"_s, udid}}}};
}

QJsonArray devices()
{
    const QString path = fake::environment("MIRVO_FAKE_DEVICES");
    if (!path.isEmpty()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            failWith(u"failed reading device fixture"_s, path);
        return QJsonDocument::fromJson(file.readAll()).array();
    }
    if (fake::scenario("no-devices"))
        return {};
    const QJsonObject first =
        makeDevice(u"00008110-000A1B2C3D4E801E"_s, u"iPhone14,5"_s, u"USB"_s, u"Jane's iPhone"_s);
    if (fake::scenario("untrusting-phone")) {
        QJsonObject untrusting =
            makeDevice(u"00008101-000E2D4F6A8C001E"_s, u"iPhone13,2"_s, u"USB"_s, u"New iPhone"_s);
        untrusting[u"untrusting"_s] = true;
        return {first, untrusting};
    }
    if (!fake::scenario("several-devices"))
        return {first};
    QJsonObject overNetwork = first;
    overNetwork[u"ConnectionType"_s] = u"Network"_s;
    return {first, overNetwork,
            makeDevice(u"00008030-001C4D5E6F70802E"_s, u"iPhone12,1"_s, u"USB"_s, u"Work iPhone"_s)};
}

std::optional<QJsonObject> device(const QString& udid)
{
    for (const QJsonValue& entry : devices()) {
        if (entry.toObject().value(u"Udid"_s).toString().trimmed() == udid)
            return entry.toObject();
    }
    return std::nullopt;
}

int version()
{
    fake::out(fake::jsonLine({{u"version"_s, fake::environment("MIRVO_FAKE_VERSION", u"1.3.2"_s)}}));
    return 0;
}

QString usbmuxdUnreachable()
{
    return u"dial unix "_s + fake::environment("USBMUXD_SOCKET_ADDRESS", u"/var/run/usbmuxd"_s) +
           u": connect: no such file or directory"_s;
}

[[noreturn]] void pairingRecordMissing(const QString& udid)
{
    failWith(u"failed getting values"_s,
             u"could not retrieve PairRecord with error: ReadPair failed errorcode '2' for UDID "_s + udid);
}

int list(bool details)
{
    warnAboutAgent();
    if (fake::scenario("no-usbmuxd"))
        failWith(u"failed getting device list"_s, usbmuxdUnreachable());
    QJsonArray listed;
    for (const QJsonValue& entry : devices()) {
        QJsonObject object = entry.toObject();
        if (!details) {
            listed.append(object.value(u"Udid"_s));
            continue;
        }
        if (object.value(u"untrusting"_s).toBool())
            pairingRecordMissing(object.value(u"Udid"_s).toString());
        for (const QString& own : {u"lockdown"_s, u"locked"_s, u"untrusting"_s})
            object.remove(own);
        listed.append(object);
    }
    fake::out(fake::compact({{u"deviceList"_s, listed}}));
    return 0;
}

[[noreturn]] void deviceNotFound(const QString& udid)
{
    if (fake::scenario("no-usbmuxd"))
        failWith(u"Device not found: "_s + udid, usbmuxdUnreachable());
    failWith(u"Device not found: "_s + udid,
             u"Device '"_s + udid + u"' not found. Is it attached to the machine?"_s);
}

int lockdown(const QString& udid)
{
    warnAboutAgent();
    if (fake::scenario("lockdown-stalled"))
        fake::sleepForever();
    const auto found = device(udid);
    if (!found || fake::scenario("no-usbmuxd"))
        deviceNotFound(udid);
    if (found->value(u"untrusting"_s).toBool())
        pairingRecordMissing(udid);
    if (fake::scenario("locked") || found->value(u"locked"_s).toBool())
        failWith(u"failed getting values"_s, u"could not start lockdown session: PasswordProtected"_s);
    fake::out(fake::compact(found->value(u"lockdown"_s).toObject()));
    return 0;
}

void installProgress(const QString& status, int percent)
{
    log(u"INFO"_s, u"installing"_s,
        {{u"module"_s, u"go-ios/zipconduit"_s}, {u"status"_s, status}, {u"percentComplete"_s, percent}});
}

int install(const QString& path, const QString& udid)
{
    warnAboutAgent();
    if (!device(udid) || fake::scenario("no-usbmuxd"))
        deviceNotFound(udid);
    if (!QFileInfo(path).isFile())
        failWith(u"failed writing"_s, u"open "_s + path + u": no such file or directory"_s);
    log(u"INFO"_s, u"installing"_s, {{u"appPath"_s, path}, {u"device"_s, udid}});
    // Like go-ios, print nothing at all while the app goes to the phone, which can take minutes.
    const QString sending = fake::scenario("silent-send") ? u"3000"_s : u"100"_s;
    fake::sleepMilliseconds(fake::environment("MIRVO_FAKE_SEND_MS", sending).toInt());

    if (fake::scenario("flood")) {
        const qint64 total = fake::environment("MIRVO_FAKE_FLOOD_BYTES", u"3145728"_s).toLongLong();
        QList<fake::Field> fields{{u"time"_s, fake::timestamp()},   {u"level"_s, u"INFO"_s},
                                  {u"msg"_s, u"installing"_s},      {u"module"_s, u"go-ios/zipconduit"_s},
                                  {u"status"_s, u"SendingFiles"_s}, {u"percentComplete"_s, 1}};
        fake::flood(STDERR_FILENO, fake::jsonLine(fields), total);
    }

    installProgress(u"CreatingStagingDirectory"_s, 5);
    if (fake::scenario("stalled"))
        fake::sleepForever();
    const int delay = fake::scenario("slow-progress") ? 600 : 20;
    fake::sleepMilliseconds(delay);
    installProgress(u"ExtractingPackage"_s, 15);
    fake::sleepMilliseconds(delay);
    installProgress(u"InspectingPackage"_s, 20);
    if (fake::scenario("install-noisy"))
        log(u"INFO"_s, u"package checked: no errors, no failures"_s, {{u"module"_s, u"go-ios/zipconduit"_s}});
    fake::sleepMilliseconds(delay);
    installProgress(u"InstallingApplication"_s, 60);
    fake::sleepMilliseconds(delay);

    if (fake::scenario("install-failure"))
        failWith(u"failed writing"_s,
                 u"your app is not properly signed for this device, check your codesigning and "
                 u"provisioningprofile. original error: 'ApplicationVerificationFailed'"_s);
    if (fake::scenario("install-failed-exit-zero")) {
        log(u"ERROR"_s, u"failed writing"_s,
            {{u"err"_s, u"failed installing: 'ApplicationVerificationFailed' errorDescription:'Failed to "
                        u"verify code signature'"_s}});
        return 0;
    }
    installProgress(u"GeneratingApplicationMap"_s, 90);
    fake::sleepMilliseconds(delay);
    log(u"INFO"_s, u"installation successful"_s, {{u"module"_s, u"go-ios/zipconduit"_s}});
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList args = fake::arguments(argc, argv);
    fake::logInvocation(tool, args);
    fake::applyProcessScenarios();

    if (args == QStringList{u"version"_s})
        return version();
    if (args == QStringList{u"list"_s, u"--details"_s} || args == QStringList{u"list"_s})
        return list(args.size() == 2);
    if (args.size() == 3 && args[0].startsWith(u"--udid="_s) && args[0].size() > 7 && args[1] == u"info"_s &&
        args[2] == u"lockdown"_s)
        return lockdown(args[0].mid(7));
    if (args.size() == 3 && args[0] == u"install"_s && args[1].startsWith(u"--path="_s) &&
        args[1].size() > 7 && args[2].startsWith(u"--udid="_s) && args[2].size() > 7)
        return install(args[1].mid(7), args[2].mid(7));
    fake::usageError(tool, args);
}
