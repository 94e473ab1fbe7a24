#pragma once

#include "AppModel.h"
#include "ChildProcesses.h"
#include "HttpClient.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace mirvo::test {

// The iPhone the fake go-ios lists when given no device file.
inline Device fakePhone(bool ready = true)
{
    return Device{QStringLiteral("00008110-000A1B2C3D4E801E"), QStringLiteral("Jane's iPhone"),
                  QStringLiteral("17.5.1"), ready, DeviceTransport::Usb};
}

// A model on the fake ipatool and go-ios, signed in, with the fake iPhone selected; every tool call is
// logged. The environment variables that steer the fakes are cleared again when it goes.
class OperationFixture {
public:
    explicit OperationFixture(std::shared_ptr<HttpClient> http = {})
    {
        m_dir = std::make_unique<TemporaryDataDirectory>();
        AppModelEnvironment environment = modelEnvironment(*m_dir);
        environment.http = std::move(http);
        installFakeTools(environment, {QStringLiteral("ipatool"), QStringLiteral("ios")});
        m_model = std::make_unique<AppModel>(std::move(environment));
        qputenv("MIRVO_FAKE_LOG", logPath().toUtf8());
        m_model->account()->setEmail(QStringLiteral("jane@example.com"));
        m_model->devices()->setConnected({fakePhone()});
        m_model->devices()->setSelectedDeviceID(fakePhone().id);
    }

    ~OperationFixture()
    {
        for (const char* name :
             {"MIRVO_FAKE_LOG", "MIRVO_FAKE_SCENARIO", "MIRVO_FAKE_ERROR", "MIRVO_FAKE_FAIL_IDS",
              "MIRVO_FAKE_STALL_IDS", "MIRVO_FAKE_STOREFRONT_BUNDLES", "MIRVO_FAKE_SEND_MS"})
            qunsetenv(name);
    }

    AppModel& model() { return *m_model; }
    OperationState& operation() { return *m_model->operation(); }
    QString packages() const { return m_model->store()->root() + QStringLiteral("/Packages"); }

    // The tool calls so far, one line each: the tool's name and its arguments.
    QStringList calls() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // Everything in Packages, hidden files included.
    QStringList packageFiles() const
    {
        return QDir(packages()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    // Waits until the running operation has ended and its tools are gone.
    bool waitUntilIdle(int timeoutMs = 30000)
    {
        if (!QTest::qWaitFor([this] { return !operation().busy(); }, timeoutMs))
            return false;
        return QTest::qWaitFor([] { return liveChildProcesses().isEmpty(); }, timeoutMs);
    }

    InstallRequest request(const QString& name, const QString& id, std::optional<QString> catalogAppID = {})
    {
        InstallRequest request;
        request.id = QUuid::createUuid();
        request.name = name;
        request.identifier = AppIdentifier::parse(id);
        request.catalogAppID = std::move(catalogAppID);
        return request;
    }

private:
    QString logPath() const { return m_dir->filePath(QStringLiteral("calls.log")); }

    std::unique_ptr<TemporaryDataDirectory> m_dir;
    std::unique_ptr<AppModel> m_model;
};

} // namespace mirvo::test
