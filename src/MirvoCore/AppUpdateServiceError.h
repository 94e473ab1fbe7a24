#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <exception>

namespace mirvo {

// Why an update check failed, with the text the user reads.
class AppUpdateServiceError : public std::exception {
public:
    enum class Kind { Unavailable, InvalidResponse };

    static AppUpdateServiceError unavailable() { return AppUpdateServiceError(Kind::Unavailable); }
    static AppUpdateServiceError invalidResponse() { return AppUpdateServiceError(Kind::InvalidResponse); }

    Kind kind() const { return m_kind; }
    QString errorDescription() const;
    const char* what() const noexcept override { return m_utf8.constData(); }

    bool operator==(const AppUpdateServiceError& other) const { return m_kind == other.m_kind; }
    friend size_t qHash(const AppUpdateServiceError& error, size_t seed = 0)
    {
        return qHash(int(error.m_kind), seed);
    }

private:
    explicit AppUpdateServiceError(Kind kind);

    Kind m_kind;
    QByteArray m_utf8;
};

} // namespace mirvo
