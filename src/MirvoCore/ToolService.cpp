#include "ToolService.h"

#include "CancelledError.h"
#include "FileSystem.h"
#include "MirvoError.h"
#include "OutputParser.h"
#include "SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr double listTimeout = 20;
constexpr double lockdownTimeout = 10;
constexpr double accountTimeout = 20;
constexpr double downloadTimeout = 1800;
constexpr double installTimeout = 900;
constexpr auto sizePollInterval = std::chrono::milliseconds(250);
constexpr qsizetype maximumFileNameBytes = 255;

void ignoreOutput(const QString&) {}

// Reports the larger size of the download's two files about four times a second, on a thread of its own,
// until it is stopped.
class SizeMonitor {
public:
    SizeMonitor(std::function<qint64()> measure, ToolService::BytesHandler onBytes)
        : m_thread([measure = std::move(measure), onBytes = std::move(onBytes)](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wake;
            while (!stop.stop_requested()) {
                if (onBytes)
                    onBytes(measure());
                std::unique_lock lock(mutex);
                wake.wait_for(lock, stop, sizePollInterval, [] { return false; });
            }
        })
    {
    }
    SizeMonitor(const SizeMonitor&) = delete;
    SizeMonitor& operator=(const SizeMonitor&) = delete;
    ~SizeMonitor() { stop(); }

    // Returns once the monitor has made its last report.
    void stop()
    {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
    }

private:
    std::jthread m_thread;
};

const QRegularExpression& installErrorWord()
{
    static const QRegularExpression pattern(u"\\b(error|failed|failure|fatal)\\b"_s,
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// The text as it appears inside a JSON string.
QString jsonEscaped(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(2, array.size() - 4));
}

// Go's JSON encoder also escapes the HTML characters.
QString goJSONEscaped(const QString& text)
{
    QString escaped = jsonEscaped(text);
    escaped.replace(u'&', u"\\u0026"_s).replace(u'<', u"\\u003c"_s).replace(u'>', u"\\u003e"_s);
    return escaped;
}

// The failure a go-ios run reports: the message of its last ERROR line, else an "error" object, else the
// output of a failing exit status.
std::optional<QString> goIOSFailure(const CommandResult& result)
{
    if (auto message = OutputParser::goIOSError(result.output))
        return message;
    if (auto error = OutputParser::error(result.output))
        return error;
    if (result.status == 0)
        return std::nullopt;
    if (result.output.isEmpty())
        return u"Команда завершилась с кодом "_s + QString::number(result.status) + u"."_s;
    return result.output;
}

// The output of a go-ios run that succeeded, or MirvoError::commandFailed with the friendly text of its
// failure, read without the `ignored` pieces.
QString goIOSChecked(const CommandResult& result, const QStringList& ignored = {})
{
    if (const std::optional<QString> failure = goIOSFailure(result))
        throw MirvoError::commandFailed(OutputParser::friendlyGoIOSError(*failure, ignored));
    return result.output;
}

MirvoError noDeviceList()
{
    return MirvoError::message(
        u"go-ios не вернул список устройств. Разблокируйте iPhone и подтвердите доверие к Mac."_s);
}

// go-ios lists a phone once for each way it is connected; the cable is the one installs rely on.
QList<Device> oneEntryPerDevice(const QList<Device>& devices)
{
    QList<Device> kept;
    for (const Device& device : devices) {
        const auto same = std::find_if(kept.begin(), kept.end(),
                                       [&device](const Device& other) { return other.id == device.id; });
        if (same == kept.end()) {
            kept.append(device);
        } else if (same->transport != DeviceTransport::Usb && device.transport == DeviceTransport::Usb) {
            kept.erase(same);
            kept.append(device);
        }
    }
    return kept;
}

// The plain listing names the devices only: {"deviceList":["<UDID>", ...]}.
QList<Device> parseDeviceIdentifiers(const QString& output)
{
    const QList<QJsonObject> objects = OutputParser::objects(output);
    const QJsonValue list = objects.isEmpty() ? QJsonValue() : objects.last().value(u"deviceList"_s);
    if (!list.isArray())
        throw noDeviceList();
    QList<Device> devices;
    const QJsonArray identifiers = list.toArray();
    for (const QJsonValue& identifier : identifiers) {
        const QString id = identifier.toString().trimmed();
        if (!id.isEmpty())
            devices.append({id, u"iPhone"_s, {}, true, DeviceTransport::Unknown});
    }
    return oneEntryPerDevice(devices);
}

// What a download's destination folder refuses, told before ipatool spends minutes on the download.
MirvoError unusableFolder(int error, const QString& folder)
{
    switch (error) {
    case ENOENT:
        return MirvoError::message(u"Папка для IPA не найдена: "_s + folder + u'.');
    case ENOTDIR:
        return MirvoError::message(u"Путь для IPA ведёт не к папке: "_s + folder + u'.');
    case EACCES:
    case EPERM:
        return MirvoError::message(u"Нет прав на запись в папку для IPA: "_s + folder + u'.');
    case EROFS:
        return MirvoError::message(u"Папка для IPA доступна только для чтения: "_s + folder + u'.');
    default:
        return MirvoError::message(u"Не удалось записать в папку для IPA ("_s + folder + u"): "_s +
                                   SystemError::fromErrno(error).description());
    }
}

// Fails unless ipatool can write `partial` and the finished IPA can then be moved to `target`.
void checkDestination(const QString& target, const QString& partial)
{
    if (FileSystem::exists(target))
        throw MirvoError::message(
            u"Файл уже существует. Используйте сохранённый IPA или удалите его для повторного скачивания."_s);
    const QString name = QFileInfo(target).fileName();
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        throw MirvoError::message(u"Недопустимое имя файла IPA: "_s + target + u'.');
    if (QFile::encodeName(name).size() > maximumFileNameBytes)
        throw MirvoError::message(u"Имя файла IPA длиннее 255 байт: "_s + name + u'.');

    // Creating the partial file is the one sure test that the folder takes files.
    const QByteArray probe = QFile::encodeName(partial);
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          FileSystem::privateFileMode);
    if (fd < 0)
        throw unusableFolder(errno, QFileInfo(target).absolutePath());
    ::close(fd);
    ::unlink(probe.constData());
}

} // namespace

ToolService::ToolService(std::shared_ptr<CommandRunning> runner, ToolLocator locator)
    : m_runner(std::move(runner))
    , m_locator(std::move(locator))
{
}

ToolService::ToolService(CommandRunning& runner, ToolLocator locator)
    : ToolService(std::shared_ptr<CommandRunning>(std::shared_ptr<CommandRunning>(), &runner),
                  std::move(locator))
{
}

QCoro::Task<QList<Device>> ToolService::devices(std::stop_token stop) const
{
    const std::shared_ptr<CommandRunning> runner = m_runner;
    const QString executable = m_locator.require(u"ios"_s);

    const QStringList arguments{u"list"_s, u"--details"_s};
    const OutputHandler quiet = ignoreOutput;
    const CommandResult listing = co_await runner->run(executable, arguments, listTimeout, quiet, stop);
    std::optional<QList<Device>> listed;
    std::optional<MirvoError> detailedFailure;
    try {
        listed = parseDevices(goIOSChecked(listing));
    } catch (const MirvoError& error) {
        detailedFailure = error;
    }
    if (!listed) {
        // One iPhone that has not trusted this computer fails the whole detailed listing. The plain one
        // still names every device, and the lockdown queries below tell which of them is ready.
        const QStringList plainArguments{u"list"_s};
        const CommandResult plain =
            co_await runner->run(executable, plainArguments, listTimeout, quiet, stop);
        try {
            listed = parseDeviceIdentifiers(goIOSChecked(plain));
        } catch (const MirvoError&) {
            throw *detailedFailure;
        }
    }

    QList<Device> devices = std::move(*listed);
    for (Device& device : devices) {
        device = co_await verifyConnection(runner, device, executable, stop);
        // A stopped listing must not pass for one whose devices are all locked.
        if (stop.stop_requested())
            throw CancelledError();
    }
    co_return devices;
}

QCoro::Task<Device> ToolService::verifyConnection(std::shared_ptr<CommandRunning> runner, Device device,
                                                  QString executable, std::stop_token stop)
{
    const QStringList arguments{u"--udid="_s + device.id, u"info"_s, u"lockdown"_s};
    const OutputHandler quiet = ignoreOutput;
    std::optional<QString> output;
    try {
        const CommandResult result =
            co_await runner->run(executable, arguments, lockdownTimeout, quiet, stop);
        output = goIOSChecked(result);
    } catch (const std::exception&) {
        // A locked or untrusting iPhone answers with an error: it stays listed, marked not ready.
    }
    if (!output) {
        device.ready = false;
        co_return device;
    }
    co_return applyingLockdownInfo(*output, std::move(device));
}

QList<Device> ToolService::parseDevices(const QString& output)
{
    const QList<QJsonObject> objects = OutputParser::objects(output);
    std::optional<QJsonArray> list;
    if (!objects.isEmpty()) {
        const QJsonValue value = objects.last().value(u"deviceList"_s);
        if (value.isArray()) {
            const QJsonArray array = value.toArray();
            if (std::all_of(array.begin(), array.end(),
                            [](const QJsonValue& element) { return element.isObject(); }))
                list = array;
        }
    }
    if (!list) {
        if (const auto error = OutputParser::error(output))
            throw MirvoError::commandFailed(OutputParser::friendlyError(*error));
        throw noDeviceList();
    }

    QList<Device> devices;
    for (const QJsonValue& element : std::as_const(*list)) {
        const QJsonObject object = element.toObject();
        const QString id = object.value(u"Udid"_s).toString().trimmed();
        if (id.isEmpty())
            continue;

        Device device;
        device.id = id;
        const QString deviceName = object.value(u"DeviceName"_s).toString().trimmed();
        if (!deviceName.isEmpty()) {
            device.name = deviceName;
        } else {
            QStringList parts;
            for (const QString& key : {u"ProductName"_s, u"ProductType"_s}) {
                const QString part = object.value(key).toString().trimmed();
                if (!part.isEmpty())
                    parts.append(part);
            }
            device.name = parts.isEmpty() ? u"iPhone"_s : parts.join(u" \u00B7 "_s);
        }
        const QString transport = object.value(u"ConnectionType"_s).toString().trimmed().toLower();
        device.transport = deviceTransportFromRawValue(transport).value_or(DeviceTransport::Unknown);
        device.version = object.value(u"ProductVersion"_s).toString();
        device.ready = true;
        devices.append(device);
    }
    return oneEntryPerDevice(devices);
}

Device ToolService::applyingLockdownInfo(const QString& output, Device device)
{
    QList<QJsonObject> candidates;
    if (auto whole = OutputParser::jsonObject(output))
        candidates.append(*whole);
    candidates.append(OutputParser::objects(output));

    const auto firstValue = [&candidates](const QString& key) -> std::optional<QString> {
        for (const QJsonObject& candidate : std::as_const(candidates)) {
            if (auto value = stringValue(key, candidate))
                return value;
        }
        return std::nullopt;
    };
    if (auto name = firstValue(u"DeviceName"_s))
        device.name = *name;
    if (auto version = firstValue(u"ProductVersion"_s))
        device.version = *version;
    device.ready = true;
    return device;
}

std::optional<QString> ToolService::stringValue(const QString& key, const QJsonValue& value)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        const QJsonValue own = object.value(key);
        if (own.isString()) {
            const QString trimmed = own.toString().trimmed();
            if (!trimmed.isEmpty())
                return trimmed;
        }
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (auto found = stringValue(key, it.value()))
                return found;
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (const QJsonValue& element : array) {
            if (auto found = stringValue(key, element))
                return found;
        }
    }
    return std::nullopt;
}

QCoro::Task<QString> ToolService::account(std::stop_token stop) const
{
    const std::shared_ptr<CommandRunning> runner = m_runner;
    const QString executable = m_locator.require(u"ipatool"_s);
    const QStringList arguments{u"auth"_s, u"info"_s, u"--format"_s, u"json"_s, u"--non-interactive"_s};
    const OutputHandler quiet = ignoreOutput;
    const CommandResult result = co_await runner->run(executable, arguments, accountTimeout, quiet, stop);
    const std::optional<QString> email = OutputParser::account(result.checked());
    if (!email || email->trimmed().isEmpty())
        throw MirvoError::message(u"Войдите в Apple ID."_s);
    co_return *email;
}

QCoro::Task<> ToolService::logout(std::stop_token stop) const
{
    const std::shared_ptr<CommandRunning> runner = m_runner;
    const QString executable = m_locator.require(u"ipatool"_s);
    const QStringList arguments{u"auth"_s, u"revoke"_s, u"--format"_s, u"json"_s, u"--non-interactive"_s};
    const OutputHandler quiet = ignoreOutput;
    const CommandResult result = co_await runner->run(executable, arguments, accountTimeout, quiet, stop);
    // Nothing stored means signed out already: that is what the user asked for.
    if (result.status != 0 && result.output.contains(u"could not be found in the keyring"_s))
        co_return;
    result.checked();
}

QCoro::Task<> ToolService::download(AppIdentifier identifier, QString destination, OutputHandler onOutput,
                                    BytesHandler onDownloadedBytes, std::stop_token stop) const
{
    const std::shared_ptr<CommandRunning> runner = m_runner;
    const ToolLocator locator = m_locator;
    const QFileInfo destinationInfo(destination);
    const QString target = destinationInfo.absoluteFilePath();

    // Hidden, in the destination's folder, so that the final move stays within one file system. ipatool
    // writes the side file next to the partial one while it works. Named after nothing but a UUID, both
    // stay far below the file name limit however long the destination's name is.
    const QString partial =
        QDir(destinationInfo.absolutePath())
            .filePath(u"."_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                      u".partial.ipa"_s);
    const QString side = partial + u".tmp"_s;
    checkDestination(target, partial);
    // Declared before the monitor, so that the monitor has stopped before the files go.
    const FileSystem::TemporaryFiles files({partial, side});
    const auto downloadedBytes = [partial, side] {
        return std::max(FileSystem::fileSize(side), FileSystem::fileSize(partial));
    };
    SizeMonitor monitor(downloadedBytes, onDownloadedBytes);

    const QStringList arguments = QStringList{u"download"_s} + identifier.arguments() +
                                  QStringList{u"--output"_s, partial, u"--format"_s, u"json"_s};
    const QString executable = locator.require(u"ipatool"_s);
    OutputHandler handler = onOutput ? std::move(onOutput) : OutputHandler(ignoreOutput);
    const CommandResult result = co_await runner->run(executable, arguments, downloadTimeout, handler, stop);

    monitor.stop();
    if (onDownloadedBytes)
        onDownloadedBytes(downloadedBytes());

    result.checked();
    if (stop.stop_requested())
        throw CancelledError();
    validateIPA(partial);
    FileSystem::moveWithoutReplacing(partial, target);
}

void ToolService::validateIPA(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray encoded = QFile::encodeName(path);
    if (path.isEmpty() || info.suffix().toLower() != u"ipa"_s || ::access(encoded.constData(), R_OK) != 0)
        throw MirvoError::message(u"Выберите доступный файл с расширением .ipa."_s);

    struct stat status {};
    if (::stat(encoded.constData(), &status) != 0)
        throw SystemError::fromErrno(errno, path);
    if (!S_ISREG(status.st_mode) || status.st_size < 1)
        throw MirvoError::message(u"IPA пустой или недоступен для чтения."_s);
}

QCoro::Task<> ToolService::install(QString ipa, Device device, OutputHandler onOutput,
                                   std::stop_token stop) const
{
    const std::shared_ptr<CommandRunning> runner = m_runner;
    const ToolLocator locator = m_locator;
    if (!device.ready)
        throw MirvoError::message(u"Сначала разблокируйте iPhone и подтвердите доверие к Mac."_s);
    validateIPA(ipa);
    if (stop.stop_requested())
        throw CancelledError();
    const QString executable = locator.require(u"ios"_s);

    const QString path = QFileInfo(ipa).absoluteFilePath();
    const QStringList arguments{u"install"_s, u"--path="_s + path, u"--udid="_s + device.id};
    OutputHandler handler = onOutput ? std::move(onOutput) : OutputHandler(ignoreOutput);
    const CommandResult result = co_await runner->run(executable, arguments, installTimeout, handler, stop);
    // go-ios echoes the IPA's path, whose own words (a file named "error.ipa" or "trust me.ipa") must not
    // pass for a failure nor choose its message.
    const QStringList pathForms{path, jsonEscaped(path), goJSONEscaped(path)};
    const QString output = goIOSChecked(result, pathForms);

    // Some failures come with exit status 0 and no ERROR line.
    const QStringList lines = OutputParser::lines(output);
    for (const QString& line : lines) {
        QString scanned = line;
        for (const QString& form : pathForms)
            scanned.remove(form);
        if (installErrorWord().match(scanned).hasMatch())
            throw MirvoError::commandFailed(OutputParser::friendlyGoIOSError(line, pathForms));
    }
    if (stop.stop_requested())
        throw CancelledError();
}

} // namespace mirvo
