#include "OutputParser.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr qsizetype sanitizedLength = 4000;
const QString hidden = u"[скрыто]"_s;

QRegularExpression compiled(const QString& pattern, QRegularExpression::PatternOptions options)
{
    QRegularExpression expression(pattern, options);
    // Compiling up front leaves the shared object read-only, so threads can match against it at once.
    expression.optimize();
    return expression;
}

const QRegularExpression& transferPattern()
{
    static const QRegularExpression expression = compiled(
        // ipatool puts a space between a number and its unit: "(12/100 MB, 5.2 MB/s)".
        u"(?i)([0-9]+(?:[.,][0-9]+)?)(?:[ \\t]?([kmgtpe]?i?b|bytes?)\\b)?\\s*/\\s*([0-9]+(?:[.,][0-9]+)?)[ \\t]?([kmgtpe]?i?b|bytes?)\\b"_s,
        QRegularExpression::UseUnicodePropertiesOption);
    return expression;
}

bool isLineBreak(QChar ch)
{
    switch (ch.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

std::optional<double> fractionFrom(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number >= 0 && number <= 1)
        return number;
    if (number > 1 && number <= 100)
        return number / 100;
    return std::nullopt;
}

// A signed decimal number made of ASCII digits only: no spaces, no grouping.
std::optional<qint64> wholeNumber(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    const QStringView digits = (negative || text.startsWith(u'+')) ? text.mid(1) : text;
    if (digits.isEmpty() ||
        !std::all_of(digits.begin(), digits.end(), [](QChar ch) { return ch >= u'0' && ch <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 number = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return number;
}

// `value` is what the transfer pattern matched: digits with at most one point or comma.
std::optional<qint64> bytes(const QString& value, const QString& units)
{
    QString decimal = value;
    decimal.replace(u',', u'.');
    bool ok = false;
    const double number = decimal.toDouble(&ok); // QString::toDouble always reads the C locale
    if (!ok || !std::isfinite(number) || number < 0)
        return std::nullopt;

    static const std::array<std::pair<QStringView, double>, 15> multipliers = {{
        {u"b", 1.0},
        {u"byte", 1.0},
        {u"bytes", 1.0},
        {u"kb", 1e3},
        {u"mb", 1e6},
        {u"gb", 1e9},
        {u"tb", 1e12},
        {u"pb", 1e15},
        {u"eb", 1e18},
        {u"kib", 0x1p10},
        {u"mib", 0x1p20},
        {u"gib", 0x1p30},
        {u"tib", 0x1p40},
        {u"pib", 0x1p50},
        {u"eib", 0x1p60},
    }};
    const QString unit = units.toLower();
    const auto entry = std::find_if(multipliers.cbegin(), multipliers.cend(),
                                    [&unit](const auto& candidate) { return candidate.first == unit; });
    if (entry == multipliers.cend())
        return std::nullopt;

    const double product = number * entry->second;
    if (!(product < 0x1p63))
        return std::nullopt;
    return static_cast<qint64>(product);
}

QString lastGraphemes(const QString& text, qsizetype count)
{
    if (text.size() <= count)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype position = text.size();
    for (qsizetype kept = 0; kept < count; ++kept) {
        position = finder.toPreviousBoundary();
        if (position <= 0)
            return text;
    }
    return text.mid(position);
}

// The message of the first friendly-error rule that the text matches.
std::optional<QString> friendlyRule(const QString& text)
{
    const QString lowered = text.toLower();
    const auto containsAny = [&lowered](std::initializer_list<QStringView> needles) {
        return std::any_of(needles.begin(), needles.end(),
                           [&lowered](QStringView needle) { return lowered.contains(needle); });
    };

    const QString rejected =
        u"Apple отклонила запрос IPATool. Выйдите из Apple ID, войдите снова и повторите попытку."_s;
    if (containsAny({u"unexpected response from apple"}))
        return rejected;
    if (containsAny({u"http 403"}) && containsAny({u"plist", u"forbidden"}))
        return rejected;
    if (containsAny({u"invalid response"}))
        return u"Не удалось получить ответ от Apple. Попробуйте ещё раз. Если ошибка повторится, выйдите из "
               u"Apple ID и войдите снова."_s;
    if (containsAny({u"license", u"purchase", u"not purchased"}))
        return u"Apple не разрешает скачать это приложение с текущего аккаунта. Войдите в Apple ID, с "
               u"которого "
               u"вы уже скачивали это приложение раньше, и повторите попытку."_s;
    if (containsAny({u"password token", u"not authenticated", u"no account"}))
        return u"Сессия Apple истекла или отсутствует. Войдите в Apple ID повторно."_s;
    if (containsAny({u"applicationverificationfailed", u"integrity"}))
        return u"iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s;
    if (containsAny({u"lockdown", u"pair", u"trust"}))
        return u"Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново."_s;
    if (containsAny({u"not found", u"not available"}))
        return u"Apple не вернула приложение. Проверьте ID, регион аккаунта и доступность повторной загрузки."_s;
    return std::nullopt;
}

// Failures of the newer ipatool releases that the general rules would misread: a removed app's version
// lookup, a download Apple blocks after granting the licence, and Apple's servers failing or refusing
// for a while.
std::optional<QString> ipatoolRule(const QString& text)
{
    static const QRegularExpression serverTrouble =
        compiled(u"\\bhttp(?:/[0-9.]+)?(?:\\s+status)?(?:\\s+code)?\\s*:?\\s*(?:5[0-9]{2}|429)\\b"_s,
                 QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    const QString lowered = text.toLower();
    if (serverTrouble.match(text).hasMatch() || lowered.contains(u"rate limited by apple"))
        return u"Серверы Apple сейчас не отвечают. Повторите попытку через несколько минут."_s;
    if (lowered.contains(u"license was granted but download was blocked") ||
        lowered.contains(u"not available for download in your region"))
        return u"Apple выдала лицензию, но не отдаёт это приложение в вашем регионе. Выберите другую версию "
               u"IPATool в настройках или повторите попытку позже."_s;
    if (lowered.contains(u"platform version lookup returned no"))
        return u"Эта версия IPATool не может скачать приложение, удалённое из App Store. Выберите другую "
               u"версию IPATool в настройках."_s;
    return std::nullopt;
}

} // namespace

QStringList OutputParser::lines(const QString& text)
{
    QStringList result;
    qsizetype start = 0;
    for (qsizetype index = 0; index <= text.size(); ++index) {
        if (index < text.size() && !isLineBreak(text[index]))
            continue;
        result.append(text.mid(start, index - start));
        start = index + 1;
    }
    return result;
}

std::optional<QJsonObject> OutputParser::jsonObject(QStringView text)
{
    const qsizetype brace = text.indexOf(u'{');
    if (brace < 0)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.mid(brace).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QList<QJsonObject> OutputParser::objects(const QString& text)
{
    QList<QJsonObject> result;
    const QStringList pieces = lines(text);
    for (const QString& line : pieces) {
        if (auto object = jsonObject(line))
            result.append(std::move(*object));
    }
    return result;
}

std::optional<QString> OutputParser::error(const QString& text)
{
    const QList<QJsonObject> found = objects(text);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QJsonValue value = it->value(u"error"_s);
        if (value.isString())
            return value.toString();
    }
    return std::nullopt;
}

std::optional<QString> OutputParser::goIOSError(const QString& text)
{
    const QList<QJsonObject> found = objects(text);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        // go-ios 1.0 writes its levels in lower case, and "fatal" where 1.1 writes "ERROR".
        const QString level = it->value(u"level"_s).toString().toLower();
        if (level != u"error"_s && level != u"fatal"_s)
            continue;
        // ipatool's error lines have neither field.
        for (const QString& key : {u"err"_s, u"msg"_s}) {
            const QString message = it->value(key).toString();
            if (!message.isEmpty())
                return message;
        }
    }
    return std::nullopt;
}

std::optional<QString> OutputParser::account(const QString& text)
{
    const QList<QJsonObject> found = objects(text);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QJsonValue success = it->value(u"success"_s);
        if (!success.isBool() || !success.toBool())
            continue;
        const QJsonValue email = it->value(u"email"_s);
        if (email.isString())
            return email.toString();
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<double> OutputParser::progress(const QString& text)
{
    // "percentComplete" is what go-ios reports while it installs.
    static const std::array<QString, 4> keys = {u"progress"_s, u"percent"_s, u"percentage"_s,
                                                u"percentComplete"_s};
    const QList<QJsonObject> found = objects(text);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        for (const QString& key : keys) {
            if (const auto fraction = fractionFrom(it->value(key)))
                return fraction;
        }
    }

    // Only the text before each line's first "{": JSON has been read above by its keys, and its strings
    // (go-ios names the IPA's path before its first percentage) are no progress, even in a cut line.
    static const QRegularExpression percentage = compiled(u"[0-9]+(?:\\.[0-9]+)?(?=%)"_s, {});
    QRegularExpressionMatch match;
    const QStringList pieces = lines(text);
    for (const QString& line : pieces) {
        const qsizetype brace = line.indexOf(u'{');
        match = percentage.match(brace < 0 ? QStringView(line) : QStringView(line).left(brace));
        if (match.hasMatch())
            break;
    }
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = match.capturedView().toDouble(&ok);
    if (!ok || !(number >= 0 && number <= 100))
        return std::nullopt;
    return number / 100;
}

std::optional<TransferProgress> OutputParser::transferProgress(const QString& text)
{
    QRegularExpressionMatch last;
    QRegularExpressionMatchIterator matches = transferPattern().globalMatch(text);
    while (matches.hasNext())
        last = matches.next();
    if (!last.hasMatch())
        return std::nullopt;

    const QString totalUnits = last.captured(4);
    const std::optional<qint64> total = bytes(last.captured(3), totalUnits);
    if (!total || *total < 1)
        return std::nullopt;
    const QString completedUnits = last.hasCaptured(2) ? last.captured(2) : totalUnits;
    const std::optional<qint64> completed = bytes(last.captured(1), completedUnits);
    if (!completed)
        return std::nullopt;
    return TransferProgress{std::min(*completed, *total), *total};
}

std::optional<QString> OutputParser::versionString(const QString& text)
{
    const QList<QJsonObject> found = objects(text);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QJsonValue value = it->value(u"version"_s);
        if (!value.isString())
            continue;
        const QString version = value.toString().trimmed();
        if (!version.isEmpty())
            return version;
        break;
    }

    static const QRegularExpression pattern =
        compiled(u"[0-9]+(?:\\.[0-9]+){1,3}(?:[-+][0-9A-Za-z.-]+)?"_s, {});
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured();
}

bool OutputParser::versionAtLeast(const QList<int>& minimum, const QString& text)
{
    const std::optional<QString> version = versionString(text);
    if (!version)
        return false;

    // go-ios releases before 1.1 report "v1.0.69": the prefix must not cost the major number.
    QStringView digits(*version);
    if (digits.startsWith(u'v', Qt::CaseInsensitive))
        digits = digits.mid(1);

    QList<qint64> parsed;
    for (const QStringView piece : digits.split(u'.', Qt::SkipEmptyParts)) {
        if (const auto number = wholeNumber(piece))
            parsed.append(*number);
    }
    if (parsed.size() < 2)
        return false;

    const qsizetype length = std::max(parsed.size(), minimum.size());
    for (qsizetype index = 0; index < length; ++index) {
        const qint64 have = parsed.value(index, 0);
        const qint64 need = minimum.value(index, 0);
        if (have != need)
            return have > need;
    }
    return true;
}

QString OutputParser::sanitize(const QString& text)
{
    static const QRegularExpression email =
        compiled(u"[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,}"_s,
                 QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression bearer =
        compiled(u"\\bbearer\\s+[A-Z0-9._~+/-]+=*"_s,
                 QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    // A quoted value is masked up to its closing quote (or the end of the line), so that a space, a comma or
    // a brace inside it does not leave its tail readable; any other value as far as the next of those.
    static const QRegularExpression credential =
        compiled(u"(?i)(password|token|secret|authCode|dsPersonId)"
                 u"(?:\"?[\\s:=]+\"(?:[^\"\\\\\\r\\n]|\\\\.)*\"?|[\"\\s:=]+[^,\\s}]+)"_s,
                 QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);

    QString result = text;
    if (email.isValid())
        result.replace(email, hidden);
    // Before the credentials, whose rule would take "token: Bearer" and leave the token itself.
    if (bearer.isValid())
        result.replace(bearer, hidden);
    if (credential.isValid())
        result.replace(credential, hidden);
    return lastGraphemes(result, sanitizedLength);
}

QString OutputParser::friendlyError(const QString& text)
{
    if (auto message = ipatoolRule(text))
        return *message;
    if (auto message = friendlyRule(text))
        return *message;
    return sanitize(text);
}

QString OutputParser::friendlyGoIOSError(const QString& text, const QStringList& ignored)
{
    QString read = text;
    for (const QString& piece : ignored) {
        if (!piece.isEmpty())
            read.remove(piece);
    }
#ifdef Q_OS_LINUX
    // On Linux go-ios reaches the phones through the usbmuxd service, which may be missing or stopped.
    const QString lowered = read.toLower();
    if (lowered.contains(u"could not connect to usbmuxd") ||
        (lowered.contains(u"dial unix") &&
         (lowered.contains(u"no such file or directory") || lowered.contains(u"connection refused"))))
        return u"Служба usbmuxd не запущена. Установите пакет usbmuxd и подключите iPhone заново."_s;
#endif
    // The document's rules would read this as an app that Apple did not return.
    static const QRegularExpression deviceNotFound =
        compiled(u"\\bdevice (?:'[^'\\n]*' )?not found\\b"_s,
                 QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    if (deviceNotFound.match(read).hasMatch())
        return u"iPhone отключён. Подключите его кабелем и повторите попытку."_s;
    if (auto message = friendlyRule(read))
        return *message;
    return sanitize(text);
}

} // namespace mirvo
