#include "AppModel.h"
#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "LogBuffer.h"
#include "LogCategories.h"
#include "TestEnvironment.h"

#include <QtTest>

#include <mutex>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

using Kind = AuthenticationEvent::Kind;

namespace {

const QString email = u"jane.doe@example.com"_s;
const QString password = u"correct horse 7Q"_s;
const QString code = u"842613"_s;

// Every message as the code wrote it, before any masking.
std::mutex s_lock;
QStringList s_raw;

void recordRaw(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    std::lock_guard lock(s_lock);
    s_raw.append(QString::fromUtf8(context.category ? context.category : "") + u": "_s + message);
}

} // namespace

// With every category of the application at its most verbose, a whole sign-in, the account's restore and
// sign-out leave no password, no code and no e-mail address in clear in the log.
class tst_LogPrivacy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        test::useEmptyFakeHome(*m_dir);
        {
            std::lock_guard lock(s_lock);
            s_raw.clear();
        }
        m_original = qInstallMessageHandler(&recordRaw);
        m_log = std::make_unique<LogBuffer>();
        m_log->install();
        QLoggingCategory::setFilterRules(u"mirvo.*=true"_s);
    }

    void cleanup()
    {
        m_model.reset();
        QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
        QLoggingCategory::setFilterRules(QString());
        m_log.reset();
        qInstallMessageHandler(m_original);
        qunsetenv("MIRVO_FAKE_HOME");
        qunsetenv("MIRVO_FAKE_SCENARIO");
        m_dir.reset();
    }

    void signInLeavesNoSecrets_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("password and code, JSON prompts") << QByteArray("login-code") << true;
        QTest::newRow("password and code, plain prompts") << QByteArray("login-plain,login-code") << true;
        QTest::newRow("refused after the code") << QByteArray("login-code,login-refused") << false;
    }

    void signInLeavesNoSecrets()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(bool, succeeds);
        qputenv("MIRVO_FAKE_SCENARIO", scenario);
        makeModel();
        AccountState* account = m_model->account();

        account->startLogin(email);
        QTRY_COMPARE_WITH_TIMEOUT(account->loginStage().kind, Kind::Password, 10000);
        QVERIFY(account->submitPassword(password));
        QTRY_COMPARE_WITH_TIMEOUT(account->loginStage().kind, Kind::Code, 10000);
        QVERIFY(account->submitCode(code));
        QTRY_COMPARE_WITH_TIMEOUT(account->loginStage().kind, succeeds ? Kind::Success : Kind::Failure,
                                  10000);
        if (succeeds) {
            QCOMPARE(account->email(), email);
            test::awaitTask(account->restoreAccount());
            account->signOut();
            QTRY_VERIFY(!account->signedIn());
        }

        QStringList raw;
        {
            std::lock_guard lock(s_lock);
            raw = s_raw;
        }
        const QStringList kept = m_log->lines();
        // The log did record the attempt, stage by stage, and each tool run.
        QVERIFY2(kept.filter(u"mirvo.signin: sign-in stage: asks-for-password"_s).size() == 1,
                 qPrintable(kept.join(u'\n')));
        QVERIFY(kept.filter(u"mirvo.signin: sign-in stage: asks-for-code"_s).size() == 1);
        QVERIFY(kept.filter(u"mirvo.signin: sign-in stage: "_s + (succeeds ? u"succeeded"_s : u"failed"_s))
                    .size() == 1);
        if (succeeds)
            QVERIFY2(!kept.filter(u"mirvo.tools: ipatool auth revoke"_s).isEmpty(),
                     qPrintable(kept.join(u'\n')));

        const QString localPart = email.section(u'@', 0, 0); // masking only the domain would leave it
        for (const QStringList& lines : {raw, kept}) {
            QVERIFY(!lines.isEmpty());
            for (const QString& line : lines) {
                QVERIFY2(!line.contains(password), qPrintable(line));
                QVERIFY2(!line.contains(code), qPrintable(line));
                QVERIFY2(!line.contains(localPart, Qt::CaseInsensitive), qPrintable(line));
            }
        }
    }

    void saveLog()
    {
        makeModel();
        qCInfo(lcTools).noquote() << "written for" << email;
        const QString path = m_dir->filePath(u"mirvo.log"_s);
        QVERIFY(m_model->saveLog(QUrl::fromLocalFile(path)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QCOMPARE(text, m_log->text());
        QVERIFY(text.contains(u"mirvo.tools: written for [скрыто]"_s.toUtf8()));
        QVERIFY(!text.contains(email.toUtf8()));
        QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                       QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        QVERIFY(m_model->alert().isEmpty());

        // A folder that is not there, and an address that is no file.
        const QString prefix = u"Не удалось сохранить журнал. "_s;
        for (const QUrl& url : {QUrl::fromLocalFile(m_dir->filePath(u"missing/folder/mirvo.log"_s)),
                                QUrl(u"https://example.com/mirvo.log"_s)}) {
            m_model->dismissAlert();
            QVERIFY(!m_model->saveLog(url));
            QVERIFY2(m_model->alert().startsWith(prefix) && m_model->alert().size() > prefix.size(),
                     qPrintable(m_model->alert()));
        }
    }

private:
    void makeModel()
    {
        AppModelEnvironment environment = test::modelEnvironment(*m_dir);
        test::installFakeTools(environment, {u"ipatool"_s});
        m_model = std::make_unique<AppModel>(std::move(environment));
    }

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::unique_ptr<AppModel> m_model;
    QtMessageHandler m_original = nullptr;
    std::unique_ptr<LogBuffer> m_log;
};

QTEST_MAIN(tst_LogPrivacy)
#include "tst_logprivacy.moc"
