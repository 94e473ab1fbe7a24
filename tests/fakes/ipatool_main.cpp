// A stand-in for ipatool 2.x with --format json: the command lines Mirvo gives it, answered the way the real
// tool answers them.
//
// Scenarios (MIRVO_FAKE_SCENARIO, comma-separated):
//   success (default)  every command succeeds
//   failure            the command fails with MIRVO_FAKE_ERROR (default "license is required")
//   license-required   download fails with "license is required"
//   token-expired      download fails with "password token is expired"
//   signed-out         auth info and auth revoke fail: nothing is stored in the keyring
//   slow-progress      download takes about three seconds, growing its file step by step
//   stalled            download writes part of the file, then hangs forever
//   ignore-sigterm     SIGTERM is ignored (combine with stalled)
//   flood              download prints MIRVO_FAKE_FLOOD_BYTES (default 3 MiB) of progress bars first
//   empty-ipa          download succeeds but leaves an empty file
//   no-ipa             download succeeds but leaves no file at all
// Other variables: MIRVO_FAKE_VERSION (default 2.3.2), MIRVO_FAKE_ACCOUNT (the signed-in e-mail, default
// jane@example.com; empty means signed out), MIRVO_FAKE_IPA_SIZE (bytes, default 1 MiB), MIRVO_FAKE_LOG.

#include "FakeSupport.h"

#include <QFile>

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

int authInfo()
{
    if (const auto error = scenarioError())
        failWith(*error);
    const QString email = fake::environment("MIRVO_FAKE_ACCOUNT", u"jane@example.com"_s);
    if (fake::scenario("signed-out") || email.isEmpty())
        failWith(
            u"failed to get account: failed to get item: The specified item could not be found in the keyring"_s);
    fake::out(fake::jsonLine({{u"level"_s, u"info"_s},
                              {u"name"_s, u"Jane Doe"_s},
                              {u"email"_s, email},
                              {u"success"_s, true},
                              {u"time"_s, fake::timestamp()}}));
    return 0;
}

int authRevoke()
{
    if (const auto error = scenarioError())
        failWith(*error);
    if (fake::scenario("signed-out"))
        failWith(
            u"failed to remove account from keychain: failed to remove item: The specified item could not "
            u"be found in the keyring"_s);
    fake::out(
        fake::jsonLine({{u"level"_s, u"info"_s}, {u"success"_s, true}, {u"time"_s, fake::timestamp()}}));
    return 0;
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

int download(const QString& output)
{
    // The real tool draws its empty bar before it talks to Apple.
    fake::out(u"\rdownloading   0% |"_s + QString(40, u' ') + u"| ( 0/ 1 B) "_s);
    if (fake::scenario("license-required"))
        failWith(u"license is required"_s);
    if (fake::scenario("token-expired"))
        failWith(u"password token is expired"_s);
    if (const auto error = scenarioError())
        failWith(*error);

    const qint64 size = fake::environment("MIRVO_FAKE_IPA_SIZE", u"1048576"_s).toLongLong();
    const QByteArray contents = ipaContents(size);
    const QString side = output + u".tmp"_s;

    if (fake::scenario("flood")) {
        const qint64 total = fake::environment("MIRVO_FAKE_FLOOD_BYTES", u"3145728"_s).toLongLong();
        fake::flood(STDOUT_FILENO, progressBar(size / 2, size), total);
    }

    const bool slow = fake::scenario("slow-progress");
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
        if (fake::scenario("stalled") && step * 2 >= steps)
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
    // "auth login --email E --format json" runs on a pseudo-terminal and is answered by its own handler.
    if (args.size() == 7 && args[0] == u"download"_s && args[3] == u"--output"_s && !args[4].isEmpty() &&
        args[5] == u"--format"_s && args[6] == u"json"_s) {
        const bool byStoreID = args[1] == u"--app-id"_s && isDigits(args[2]);
        const bool byBundleID = args[1] == u"--bundle-identifier"_s && !args[2].isEmpty();
        if (byStoreID || byBundleID)
            return download(args[4]);
    }
    fake::usageError(tool, args);
}
