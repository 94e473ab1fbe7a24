// A stand-in for ipatool 2.x with --format json: the command lines Mirvo gives it, answered the way the real
// tool answers them.
//
// Scenarios (MIRVO_FAKE_SCENARIO, comma-separated):
//   success (default)  every command succeeds
//   failure            the command fails with MIRVO_FAKE_ERROR (default "license is required"); auth login
//                      once it has read the password
//   license-required   download fails with "license is required"
//   token-expired      download fails with "password token is expired"
//   platform-lookup    download fails the way ipatool 2.6 fails for an app removed from the store: "failed to
//                      resolve latest iOS version for redownload: app <ID> in storefront RU (catalogs:
//                      enterprisestore, iphone, ipad): platform version lookup returned no app"
//   download-blocked   download fails with "app is not available for download in your region/storefront
//                      (license was granted but download was blocked)"
//   apple-500          download fails with "failed to send http request: unexpected response from Apple (HTTP
//                      500): empty or non-plist body"
//   rate-limited       download fails with "failed to send http request: rate limited by Apple (HTTP 429):
//                      Too Many Requests"
//   signed-out         auth info and auth revoke fail: nothing is stored in the keyring
//   slow-progress      download takes about three seconds, growing its file step by step
//   stalled            download writes part of the file, then hangs forever
//   ignore-sigterm     SIGTERM is ignored (combine with stalled)
//   flood              download prints MIRVO_FAKE_FLOOD_BYTES (default 3 MiB) of progress bars first
//   empty-ipa          download succeeds but leaves an empty file
//   no-ipa             download succeeds but leaves no file at all
// auth login runs on a terminal: it refuses to run unless standard input is a terminal with echo off, asks
// for the password and ends with success. These change that:
//   login-plain        prompts of ipatool 2.6 and later: "enter password: " and "enter 2FA code: " as plain
//                      text on standard error without a line feed, the password read in raw mode and echoed
//                      as "*", and a "preparing authentication" line (up to 2.5: JSON lines on stdout)
//   login-code         asks for the 2FA code after the password
//   login-refused      Apple refuses the credentials: fails with MIRVO_FAKE_ERROR (default "Did you forget
//                      your password?")
//   login-passphrase   asks for the key store's passphrase once Apple accepted the credentials
//   login-silent       exits with status 1 after the answers, without a final line
//   login-hang         never ends after the answers
// download --bundle-identifier first looks the app up in the signed-in account's storefront, as the real tool
// does, and fails with "app not found" (before drawing its bar) unless MIRVO_FAKE_STOREFRONT_BUNDLES
// (comma-separated bundle IDs) names it: by default the storefront offers nothing. --app-id makes no lookup.
// Per app, for batches (comma-separated store IDs, matched against what follows --app-id or
// --bundle-identifier):
//   MIRVO_FAKE_FAIL_IDS    these downloads fail with MIRVO_FAKE_ERROR (default "license is required")
//   MIRVO_FAKE_STALL_IDS   these downloads write part of the file, then hang forever (as "stalled")
// Other variables: MIRVO_FAKE_VERSION (default 2.3.2), MIRVO_FAKE_ACCOUNT (the signed-in e-mail when
// MIRVO_FAKE_HOME is not set, default jane@example.com; empty means signed out), MIRVO_FAKE_IPA_SIZE (bytes,
// default 1 MiB), MIRVO_FAKE_LOG, and MIRVO_FAKE_HOME: a directory the fake keeps as its own, as the real
// tool keeps ~/.ipatool. There "account" holds the e-mail a successful auth login stored (auth info reads
// it, auth revoke removes it), and "login.json" what the last auth login received: {"arguments": [...],
// "environment": ["NAME=VALUE", ...], "terminals": [the standard streams that are terminals],
// "password": ..., "code": ..., "passphrase": ...}, rewritten as each answer arrives.

#include "FakeSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <cerrno>

#include <termios.h>

extern char** environ;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString tool = u"ipatool"_s;

[[noreturn]] void failWith(const QString& message)
{
    fake::out(fake::jsonLine({{u"level"_s, u"error"_s},
                              {u"error"_s, message},
                              {u"success"_s, false},
                              {u"time"_s, fake::timestamp()}}));
    std::exit(1);
}

// Whether `app` is one of the comma-separated entries of the variable.
bool listed(const char* variable, const QString& app)
{
    const QStringList entries = fake::environment(variable).split(u',', Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        if (entry.trimmed() == app)
            return true;
    }
    return false;
}

std::optional<QString> scenarioError()
{
    if (fake::scenario("failure"))
        return fake::environment("MIRVO_FAKE_ERROR", u"license is required"_s);
    return std::nullopt;
}

int version()
{
    fake::out(u"ipatool version "_s + fake::environment("MIRVO_FAKE_VERSION", u"2.3.2"_s) + u'\n');
    return 0;
}

const QString notSignedIn =
    u"failed to get account: failed to get item: The specified item could not be found in the keyring"_s;
const QString nothingToRevoke =
    u"failed to remove account from keychain: failed to remove item: The specified "
    u"item could not be found in the keyring"_s;

// The fake's own directory, if the test gave one.
QString home()
{
    return fake::environment("MIRVO_FAKE_HOME");
}

QString accountPath()
{
    return QDir(home()).filePath(u"account"_s);
}

// The signed-in e-mail; empty when signed out.
QString storedAccount()
{
    if (home().isEmpty())
        return fake::environment("MIRVO_FAKE_ACCOUNT", u"jane@example.com"_s);
    QFile file(accountPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void succeedWithAccount(const QString& email)
{
    fake::out(fake::jsonLine({{u"level"_s, u"info"_s},
                              {u"name"_s, u"Jane Doe"_s},
                              {u"email"_s, email},
                              {u"success"_s, true},
                              {u"time"_s, fake::timestamp()}}));
}

int authInfo()
{
    if (const auto error = scenarioError())
        failWith(*error);
    const QString email = storedAccount();
    if (fake::scenario("signed-out") || email.isEmpty())
        failWith(notSignedIn);
    succeedWithAccount(email);
    return 0;
}

int authRevoke()
{
    if (const auto error = scenarioError())
        failWith(*error);
    if (fake::scenario("signed-out") || storedAccount().isEmpty())
        failWith(nothingToRevoke);
    if (!home().isEmpty())
        QFile::remove(accountPath());
    fake::out(
        fake::jsonLine({{u"level"_s, u"info"_s}, {u"success"_s, true}, {u"time"_s, fake::timestamp()}}));
    return 0;
}

// What auth login received, kept in MIRVO_FAKE_HOME/login.json for the test to read.
class LoginRecord {
public:
    explicit LoginRecord(const QStringList& args)
    {
        m_record[u"arguments"_s] = QJsonArray::fromStringList(args);
        QJsonArray environment;
        for (char** entry = environ; *entry; ++entry)
            environment.append(QString::fromLocal8Bit(*entry));
        m_record[u"environment"_s] = environment;
        QJsonArray terminals;
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
            if (::isatty(fd))
                terminals.append(fd);
        }
        m_record[u"terminals"_s] = terminals;
        save();
    }

    void set(const QString& key, const QString& value)
    {
        m_record[key] = value;
        save();
    }

private:
    void save() const
    {
        if (home().isEmpty())
            return;
        QFile file(QDir(home()).filePath(u"login.json"_s));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QJsonDocument(m_record).toJson());
    }

    QJsonObject m_record;
};

void logMessage(const QString& message)
{
    fake::out(
        fake::jsonLine({{u"level"_s, u"info"_s}, {u"time"_s, fake::timestamp()}, {u"message"_s, message}}));
}

// One line from the terminal as the tool reads it: up to the line feed, a carriage return before it dropped.
// A closed terminal ends the tool the way a failed read does.
QString readLine()
{
    QByteArray line;
    char byte = 0;
    while (true) {
        const ssize_t count = ::read(STDIN_FILENO, &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            failWith(u"failed to read input: EOF"_s);
        if (byte == '\n')
            break;
        line.append(byte);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// How ipatool 2.6 and later read the password: in raw mode, each key echoed as "*" on standard error.
QString readMasked(const QString& prompt)
{
    termios saved{};
    ::tcgetattr(STDIN_FILENO, &saved);
    termios raw = saved;
    ::cfmakeraw(&raw);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    fake::err(prompt);
    QByteArray password;
    char byte = 0;
    while (true) {
        const ssize_t count = ::read(STDIN_FILENO, &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            failWith(u"failed to read input: EOF"_s);
        if (byte == '\r' || byte == '\n')
            break;
        password.append(byte);
        fake::err(u"*"_s);
    }
    fake::err(u"\r\n"_s);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return QString::fromUtf8(password);
}

int authLogin(const QStringList& args)
{
    LoginRecord record(args);
    termios attributes{};
    if (::tcgetattr(STDIN_FILENO, &attributes) < 0) {
        logMessage(u"enter password:"_s);
        failWith(u"failed to read password: inappropriate ioctl for device"_s);
    }
    // The real tool turns echo off itself; this one proves that the caller did.
    if (attributes.c_lflag & (ECHO | ECHONL))
        failWith(u"fake ipatool: the terminal echoes what is typed"_s);

    const bool plain = fake::scenario("login-plain");
    if (plain) {
        record.set(u"password"_s, readMasked(u"enter password: "_s));
        logMessage(u"preparing authentication; the first login may take a few minutes"_s);
    } else {
        logMessage(u"enter password:"_s);
        record.set(u"password"_s, readLine());
    }
    if (fake::scenario("login-code")) {
        if (plain)
            fake::err(u"enter 2FA code: "_s);
        else
            logMessage(u"enter 2FA code:"_s);
        record.set(u"code"_s, readLine());
    }
    if (fake::scenario("login-refused"))
        failWith(fake::environment("MIRVO_FAKE_ERROR", u"Did you forget your password?"_s));
    if (const auto error = scenarioError())
        failWith(*error);
    if (fake::scenario("login-passphrase")) {
        logMessage(u"enter passphrase to unlock \"%1/.ipatool\" (this is separate from your Apple ID "
                   u"password): "_s.arg(QDir::homePath()));
        record.set(u"passphrase"_s, readLine());
    }
    if (fake::scenario("login-silent"))
        return 1;
    if (fake::scenario("login-hang"))
        fake::sleepForever();

    const QString email = args[3];
    if (!home().isEmpty()) {
        QFile account(accountPath());
        if (!account.open(QIODevice::WriteOnly | QIODevice::Truncate) || account.write(email.toUtf8()) < 0)
            failWith(u"failed to save account"_s);
    }
    succeedWithAccount(email);
    return 0;
}

bool isDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// Sizes the way the progress bar prints them: base 1024, a space before the unit.
std::pair<QString, QString> humanSize(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return {QString::number(bytes / (1024 * 1024)), u" MB"_s};
    if (bytes >= 1024)
        return {QString::number(bytes / 1024), u" kB"_s};
    return {QString::number(bytes), u" B"_s};
}

QString progressBar(qint64 done, qint64 total)
{
    constexpr int width = 40;
    const int percent = total > 0 ? int(done * 100 / total) : 0;
    const int filled = percent * width / 100;
    const auto [doneNumber, doneUnit] = humanSize(done);
    const auto [totalNumber, totalUnit] = humanSize(total);
    const QString doneText = doneUnit == totalUnit ? doneNumber : doneNumber + doneUnit;
    const QString sizes = doneText + u'/' + totalNumber + totalUnit;
    return u'\r' + QString(79, u' ') + u"\r\rdownloading "_s + QString::number(percent).rightJustified(3) +
           u"% |"_s + QString(filled, QChar(0x2588)) + QString(width - filled, u' ') + u"| ("_s + sizes +
           u", 5.2 MB/s) "_s;
}

QByteArray ipaContents(qint64 size)
{
    QByteArray contents("PK\x03\x04", 4);
    contents.append(QByteArray(qMax<qint64>(0, size - contents.size()), 'x'));
    return contents.left(size);
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        failWith(u"failed to write file: "_s + path);
}

// `app` is what followed --app-id or --bundle-identifier.
int download(const QString& app, bool byBundleID, const QString& output)
{
    if (byBundleID && !listed("MIRVO_FAKE_STOREFRONT_BUNDLES", app))
        failWith(u"app not found"_s);
    // The real tool draws its empty bar before it talks to Apple.
    fake::out(u"\rdownloading   0% |"_s + QString(40, u' ') + u"| ( 0/ 1 B) "_s);
    if (fake::scenario("license-required"))
        failWith(u"license is required"_s);
    if (fake::scenario("token-expired"))
        failWith(u"password token is expired"_s);
    if (fake::scenario("platform-lookup")) {
        const QString id = isDigits(app) ? app : u"1065290732"_s;
        failWith(u"failed to resolve latest iOS version for redownload: app "_s + id +
                 u" in storefront RU (catalogs: enterprisestore, iphone, ipad): platform version lookup "
                 u"returned no app"_s);
    }
    if (fake::scenario("download-blocked"))
        failWith(u"app is not available for download in your region/storefront (license was granted but "
                 u"download was blocked)"_s);
    if (fake::scenario("apple-500"))
        failWith(u"failed to send http request: unexpected response from Apple (HTTP 500): empty or "
                 u"non-plist body"_s);
    if (fake::scenario("rate-limited"))
        failWith(u"failed to send http request: rate limited by Apple (HTTP 429): Too Many Requests"_s);
    if (const auto error = scenarioError())
        failWith(*error);
    if (listed("MIRVO_FAKE_FAIL_IDS", app))
        failWith(fake::environment("MIRVO_FAKE_ERROR", u"license is required"_s));

    const qint64 size = fake::environment("MIRVO_FAKE_IPA_SIZE", u"1048576"_s).toLongLong();
    const QByteArray contents = ipaContents(size);
    const QString side = output + u".tmp"_s;

    if (fake::scenario("flood")) {
        const qint64 total = fake::environment("MIRVO_FAKE_FLOOD_BYTES", u"3145728"_s).toLongLong();
        fake::flood(STDOUT_FILENO, progressBar(size / 2, size), total);
    }

    const bool slow = fake::scenario("slow-progress");
    const bool stalled = listed("MIRVO_FAKE_STALL_IDS", app);
    const int steps = slow ? 25 : 5;
    const int stepDelay = slow ? 120 : 20;
    QFile partial(side);
    if (!partial.open(QIODevice::WriteOnly))
        failWith(u"failed to open file: "_s + side);
    for (int step = 1; step <= steps; ++step) {
        const qint64 done = size * step / steps;
        partial.write(contents.mid(partial.size(), done - partial.size()));
        partial.flush();
        fake::out(progressBar(done, size));
        if ((stalled || fake::scenario("stalled")) && step * 2 >= steps)
            fake::sleepForever();
        fake::sleepMilliseconds(stepDelay);
    }
    partial.close();

    // Like the real tool: write the file, drop the download, then patch a fresh copy and move it over the
    // file.
    if (fake::scenario("no-ipa")) {
        QFile::remove(side);
    } else {
        const QByteArray final = fake::scenario("empty-ipa") ? QByteArray() : contents;
        writeFile(output, final);
        QFile::remove(side);
        writeFile(side, final);
        ::rename(QFile::encodeName(side).constData(), QFile::encodeName(output).constData());
    }

    fake::out(u'\r' + QString(79, u' ') + u'\r');
    fake::out(fake::jsonLine({{u"level"_s, u"info"_s},
                              {u"output"_s, output},
                              {u"purchased"_s, false},
                              {u"success"_s, true},
                              {u"time"_s, fake::timestamp()}}));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList args = fake::arguments(argc, argv);
    fake::logInvocation(tool, args);
    fake::applyProcessScenarios();

    if (args == QStringList{u"--version"_s})
        return version();
    if (args == QStringList{u"auth"_s, u"info"_s, u"--format"_s, u"json"_s, u"--non-interactive"_s})
        return authInfo();
    if (args == QStringList{u"auth"_s, u"revoke"_s, u"--format"_s, u"json"_s, u"--non-interactive"_s})
        return authRevoke();
    if (args.size() == 6 && args[0] == u"auth"_s && args[1] == u"login"_s && args[2] == u"--email"_s &&
        args[4] == u"--format"_s && args[5] == u"json"_s)
        return authLogin(args);
    if (args.size() == 7 && args[0] == u"download"_s && args[3] == u"--output"_s && !args[4].isEmpty() &&
        args[5] == u"--format"_s && args[6] == u"json"_s) {
        const bool byStoreID = args[1] == u"--app-id"_s && isDigits(args[2]);
        const bool byBundleID = args[1] == u"--bundle-identifier"_s && !args[2].isEmpty();
        if (byStoreID || byBundleID)
            return download(args[2], byBundleID, args[4]);
    }
    fake::usageError(tool, args);
}
