#include "AuthenticationSession.h"
#include "MirvoError.h"
#include "OutputParser.h"
#include "SystemError.h"

#include "ChildProcesses.h"
#include "TemporaryDataDirectory.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString email = u"jane.doe+signin@example.com"_s;
const QString notConfirmed =
    u"failure: Вход не подтверждён. Проверьте данные и повторите попытку. Если Apple "
    u"изменила вход, обновите IPATool."_s;
const QString keyStore = u"failure: IPATool запрашивает пароль хранилища. Настройте системную связку ключей "
                         u"IPATool в Терминале."_s;
const QString timeLimit = u"failure: Время входа истекло. Попробуйте ещё раз."_s;
const QString refused = u"failure: "_s + OutputParser::friendlyError(u"Did you forget your password?"_s);
const QString invalidInput = u"Недопустимый ввод."_s;

QString describe(const AuthenticationEvent& event)
{
    static const QStringList kinds{u"success"_s, u"failure"_s, u"password"_s, u"code"_s, u"working"_s};
    const QString kind = kinds.at(int(event.kind));
    return event.payload.isEmpty() ? kind : kind + u": "_s + event.payload;
}

bool endsAttempt(const QStringList& events)
{
    return !events.isEmpty() &&
           (events.back().startsWith(u"success"_s) || events.back().startsWith(u"failure"_s));
}

// What `action` throws, as text; nothing when it returns.
QString thrownBy(const std::function<void()>& action)
{
    try {
        action();
    } catch (const MirvoError& error) {
        return error.errorDescription();
    } catch (const SystemError& error) {
        return u"system: "_s + error.description();
    }
    return {};
}

} // namespace

class tst_AuthenticationSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_data = std::make_unique<TemporaryDataDirectory>();
        qputenv("MIRVO_FAKE_HOME", QFile::encodeName(m_data->path()));
        qunsetenv("MIRVO_FAKE_SCENARIO");
        m_events.clear();
        m_answers.clear();
    }

    void cleanup()
    {
        m_session.reset();
        QCOMPARE(waitForNoChildProcesses(), QList<pid_t>{});
        // Lets stopped timers finish their tasks.
        QTest::qWait(10);
    }

    void signIn_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const char* scenario, const QStringList& answers,
                            const QStringList& events) {
            QTest::newRow(name) << QByteArray(scenario) << answers << events;
        };
        const QString signedIn = u"success: "_s + email;

        row("password, JSON prompts", "", {u"pa ss wörd 7Q"_s}, {u"password"_s, u"working"_s, signedIn});
        row("password and code, JSON prompts", "login-code", {u"pa ss wörd 7Q"_s, u"842613"_s},
            {u"password"_s, u"working"_s, u"code"_s, u"working"_s, signedIn});
        // Answers go as typed: spaces kept, an empty one a bare line feed.
        row("password and empty code, plain prompts", "login-plain,login-code", {u"  pa ss wörd 7Q "_s, {}},
            {u"password"_s, u"working"_s, u"code"_s, u"working"_s, signedIn});
        row("wrong password", "login-refused", {u"wrong 7Q"_s}, {u"password"_s, u"working"_s, refused});
        row("key-store passphrase", "login-passphrase", {u"pa ss wörd 7Q"_s},
            {u"password"_s, u"working"_s, keyStore});
        row("tool exits without a final line", "login-silent", {u"pa ss wörd 7Q"_s},
            {u"password"_s, u"working"_s, notConfirmed});
    }

    void signIn()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, events);
        qputenv("MIRVO_FAKE_SCENARIO", scenario);
        m_answers = answers;
        startSession(fakeIpatool());

        QTRY_VERIFY_WITH_TIMEOUT(endsAttempt(m_events), 15000);
        // The tool is gone (stopped, for the passphrase) and nothing follows the final event.
        QCOMPARE(waitForNoChildProcesses(), QList<pid_t>{});
        QTest::qWait(300);
        QCOMPARE(m_events, events);

        const QJsonObject record = loginRecord();
        const QStringList arguments = record[u"arguments"_s].toVariant().toStringList();
        const QStringList environment = record[u"environment"_s].toVariant().toStringList();
        QCOMPARE(arguments,
                 (QStringList{u"auth"_s, u"login"_s, u"--email"_s, email, u"--format"_s, u"json"_s}));
        QVERIFY(environment.contains(u"PATH=/usr/bin:/bin:/usr/sbin:/sbin"_s));
        QVERIFY(environment.contains(u"NO_COLOR=1"_s));
        QCOMPARE(record[u"terminals"_s].toArray(), (QJsonArray{0, 1, 2}));
        QCOMPARE(record[u"password"_s].toString(), answers.value(0));
        QCOMPARE(record[u"code"_s].toString(), answers.value(1));
        QVERIFY(!record.contains(u"passphrase"_s));
        for (const QString& entry : arguments + environment)
            QVERIFY2(!entry.contains(answers.value(0).trimmed()), qPrintable(entry));
        QCOMPARE(readFile(m_data->filePath(u"account"_s)),
                 events.back().startsWith(u"success"_s) ? std::optional(email.toUtf8()) : std::nullopt);
    }

    void endsEarly_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("ending"); // "cancel", "destroy" or "time limit"
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const char* scenario, const QString& ending,
                            const QStringList& events) {
            QTest::newRow(name) << QByteArray(scenario) << ending << events;
        };

        row("cancelled at the prompt", "", u"cancel"_s, {u"password"_s});
        row("destroyed while the tool works", "login-hang", u"destroy"_s, {u"password"_s, u"working"_s});
        row("time limit at the prompt", "login-plain", u"time limit"_s, {u"password"_s, timeLimit});
        row("time limit while the tool works", "login-hang", u"time limit"_s,
            {u"password"_s, u"working"_s, timeLimit});
    }

    void endsEarly()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QString, ending);
        QFETCH(QStringList, events);
        qputenv("MIRVO_FAKE_SCENARIO", scenario);
        const bool answered = events.contains(u"working"_s);
        if (answered)
            m_answers = QStringList{u"secret"_s};
        startSession(fakeIpatool(), ending == u"time limit"_s ? 2 : 60);

        if (ending == u"time limit"_s) {
            QTRY_COMPARE_WITH_TIMEOUT(m_events, events, 10000);
        } else {
            QTRY_COMPARE(m_events, events);
            // The answer has been written; once the tool has read it, it is working.
            if (answered)
                QTRY_VERIFY(loginRecord().contains(u"password"_s));
            if (ending == u"cancel"_s)
                m_session->cancel();
            else
                m_session.reset();
        }
        // SIGTERM ends the fake at once.
        QCOMPARE(waitForNoChildProcesses(1500), QList<pid_t>{});
        QTest::qWait(300);
        QCOMPARE(m_events, events);
        QCOMPARE(loginRecord().contains(u"password"_s), answered);
    }

    void submitRefused_data()
    {
        QTest::addColumn<QString>("stage"); // "idle", "prompt", "signed in" or "cancelled"
        QTest::addColumn<QString>("text");
        QTest::newRow("before start") << u"idle"_s << u"secret"_s;
        QTest::newRow("line feed") << u"prompt"_s << u"12\n34"_s;
        QTest::newRow("carriage return") << u"prompt"_s << u"1234\r"_s;
        QTest::newRow("after success") << u"signed in"_s << u"secret"_s;
        QTest::newRow("after cancel") << u"cancelled"_s << u"secret"_s;
    }

    void submitRefused()
    {
        QFETCH(QString, stage);
        QFETCH(QString, text);
        if (stage == u"idle"_s) {
            m_session = std::make_unique<AuthenticationSession>(
                [this](const AuthenticationEvent& event) { m_events.append(describe(event)); });
        } else {
            if (stage == u"signed in"_s)
                m_answers = QStringList{u"secret"_s};
            startSession(fakeIpatool());
            QTRY_VERIFY(m_events.contains(u"password"_s));
            if (stage == u"signed in"_s)
                QTRY_VERIFY(endsAttempt(m_events));
            if (stage == u"cancelled"_s)
                m_session->cancel();
        }
        const QStringList before = m_events;
        QCOMPARE(thrownBy([&] { m_session->submit(text); }), invalidInput);
        QCOMPARE(m_events, before);
        if (stage == u"prompt"_s) {
            // Nothing of the refused text reached the tool: the next answer arrives whole.
            m_session->submit(u"secret"_s);
            QTRY_COMPARE(loginRecord()[u"password"_s].toString(), u"secret"_s);
        }
    }

    void launchFailureLeavesTheSessionIdle()
    {
        m_session = std::make_unique<AuthenticationSession>(
            [this](const AuthenticationEvent& event) { m_events.append(describe(event)); });
        QVERIFY(
            thrownBy([&] { m_session->start(u"/nonexistent/ipatool"_s, email); }).startsWith(u"system: "_s));
        QCOMPARE(thrownBy([&] { m_session->submit(u"secret"_s); }), invalidInput);
        m_session->start(fakeIpatool(), email);
        QTRY_COMPARE(m_events, QStringList{u"password"_s});
    }

    // A script stands in for the tool: it prints each piece in a write of its own, 0.1 s apart, then exits
    // (its exit ends the attempt with the not-confirmed failure unless the output ended it first) or, with
    // `hangs`, waits until stopped.
    void lineRules_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<bool>("hangs");
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const QStringList& pieces, const QStringList& events,
                            bool hangs = false) { QTest::newRow(name) << pieces << hangs << events; };
        const QString padding = u"\",\"padding\":\""_s;

        row("JSON prompt split across two reads",
            {u"{\"level\":\"info\",\"message\":\"enter pass"_s, u"word:\"}\n"_s},
            {u"password"_s, notConfirmed});
        row("line without a line feed never read", {u"{\"success\":true,\"email\":\"a@b.c\"}"_s},
            {notConfirmed});
        row("CRLF endings and a carriage return alone",
            {u"{\"message\":\"ENTER\r PASSWORD:\"}\r\n{\"success\":true,\r\"email\":\"a@b.c\"}\r\n"_s},
            {u"password"_s, u"success: a@b.c"_s});
        row("code prompt in any letter case", {u"{\"message\":\"Enter 2fa Code:\"}\n"_s},
            {u"code"_s, notConfirmed});
        row("error without success false is no failure",
            {u"{\"error\":\"x\",\"message\":\"enter password:\"}\n{\"error\":\"y\",\"success\":true,"
             u"\"email\":\"a@b.c\"}\n"_s},
            {u"password"_s, u"success: a@b.c"_s});
        row("output after the final line ignored",
            {u"{\"success\":true,\"email\":\"a@b.c\"}\n"_s, u"{\"message\":\"enter password:\"}\n"_s},
            {u"success: a@b.c"_s});
        row("passphrase prompt stops the tool", {u"{\"message\":\"Enter passphrase to unlock\"}\n"_s},
            {keyStore}, true);
        row("plain prompt offered once", {u"Enter Password:"_s, u"  "_s, u"\t"_s},
            {u"password"_s, notConfirmed});
        row("plain prompt again after a line feed", {u"enter password: "_s, u"\n"_s, u"enter password: "_s},
            {u"password"_s, u"password"_s, notConfirmed});
        // Two bytes a letter: over 65,536 bytes, though not over 65,536 letters, the line loses its start.
        row("line over the cap cut",
            {u"{\"success\":true,\"email\":\"a@b.c"_s + padding + QString(34000, u'ж') + u"\"}\n"_s,
             u"{\"message\":\"enter password:\"}\n"_s},
            {u"password"_s, notConfirmed});
        row("long line under the cap",
            {u"{\"success\":true,\"email\":\"a@b.c"_s + padding + QString(16000, u'ж') + u"\"}\n"_s},
            {u"success: a@b.c"_s});
    }

    void lineRules()
    {
        QFETCH(QStringList, pieces);
        QFETCH(bool, hangs);
        QFETCH(QStringList, events);
        startSession(script(pieces, hangs));
        QTRY_VERIFY_WITH_TIMEOUT(endsAttempt(m_events), 10000);
        QCOMPARE(waitForNoChildProcesses(1500), QList<pid_t>{});
        QTest::qWait(300);
        QCOMPARE(m_events, events);
    }

    // The output fed straight to the session, no tool running: once the attempt has ended, nothing the same
    // piece of output still holds may be reported.
    void outputWithoutTool_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QStringList>("events");
        const auto row = [](const char* name, const QStringList& pieces, const QStringList& events) {
            QTest::newRow(name) << pieces << events;
        };

        row("prompt after success in the same piece",
            {u"{\"success\":true,\"email\":\"a@b.c\"}\n{\"message\":\"enter password:\"}\n"_s},
            {u"success: a@b.c"_s});
        row("prompt after the key-store failure in the same piece",
            {u"{\"message\":\"enter passphrase:\"}\n{\"message\":\"enter 2FA code:\"}\n"_s}, {keyStore});
        // A form feed parts JSON objects but not the terminal's lines.
        row("prompt after the key-store failure on the same line",
            {u"{\"message\":\"enter passphrase:\"}\f{\"message\":\"enter 2FA code:\"}\n"_s}, {keyStore});
        row("second final line in the same piece",
            {u"{\"success\":true,\"email\":\"a@b.c\"}\n{\"error\":\"x\",\"success\":false}\n"_s},
            {u"success: a@b.c"_s});
    }

    void outputWithoutTool()
    {
        QFETCH(QStringList, pieces);
        QFETCH(QStringList, events);
        QStringList received;
        AuthenticationSession session(
            [&](const AuthenticationEvent& event) { received.append(describe(event)); });
        for (const QString& piece : std::as_const(pieces))
            session.consume(piece);
        QCOMPARE(received, events);
    }

    void silentExitFailsAfterTheGrace()
    {
        startSession(script({}, false));
        // The test holds the GUI thread meanwhile, so the exit has not been handled yet.
        QCOMPARE(waitForNoChildProcesses(), QList<pid_t>{});
        QElapsedTimer sinceExit;
        sinceExit.start();
        QTRY_COMPARE(m_events, QStringList{notConfirmed});
        QVERIFY(sinceExit.elapsed() >= 150);
    }

private:
    QString fakeIpatool() const { return qEnvironmentVariable("MIRVO_FAKES_DIR") + u"/ipatool"_s; }

    QJsonObject loginRecord() const
    {
        return QJsonDocument::fromJson(readFile(m_data->filePath(u"login.json"_s)).value_or(QByteArray()))
            .object();
    }

    QString script(const QStringList& pieces, bool hangs) const
    {
        QByteArray text = "#!/bin/sh\n";
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            const QString piece = m_data->filePath(u"piece-%1"_s.arg(i));
            writeFile(piece, pieces[i].toUtf8());
            text += "cat '" + QFile::encodeName(piece) + "'\nsleep 0.1\n";
        }
        // Replaced rather than waited for, so that stopping the script stops the sleep.
        text += hangs ? "exec sleep 30\n" : "exit 0\n";
        const QString path = m_data->filePath(u"tool.sh"_s);
        writeFile(path, text);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    void startSession(const QString& executable, double timeLimit = 60)
    {
        m_session = std::make_unique<AuthenticationSession>(
            [this](const AuthenticationEvent& event) {
                m_events.append(describe(event));
                // Answered later, as a person would.
                if (event.kind == AuthenticationEvent::Kind::Password ||
                    event.kind == AuthenticationEvent::Kind::Code)
                    QMetaObject::invokeMethod(this, &tst_AuthenticationSession::answer, Qt::QueuedConnection);
            },
            timeLimit);
        m_session->start(executable, email);
    }

    void answer()
    {
        if (!m_session || m_answers.isEmpty())
            return;
        const QString text = m_answers.takeFirst();
        if (const QString error = thrownBy([&] { m_session->submit(text); }); !error.isEmpty())
            m_events.append(u"submit failed: "_s + error);
    }

    std::unique_ptr<TemporaryDataDirectory> m_data;
    std::unique_ptr<AuthenticationSession> m_session;
    QStringList m_events;
    QStringList m_answers;
};

QTEST_GUILESS_MAIN(tst_AuthenticationSession)
#include "tst_authenticationsession.moc"
