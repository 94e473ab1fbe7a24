#pragma once

#include <QString>

#include <exception>

namespace mirvo {

// A failure reported by the system (files, launching processes, network transport), described in Russian.
class SystemError : public std::exception {
public:
    explicit SystemError(QString description);

    // Describes an errno value; `context` (a path, a host) is appended when given.
    static SystemError fromErrno(int error, const QString& context = {});

    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// The text a user sees for any exception: the Russian description of our own error types,
// the system's text otherwise.
QString localizedDescription(const std::exception& error);

} // namespace mirvo
