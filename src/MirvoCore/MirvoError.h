#pragma once

#include <QString>

#include <exception>

namespace mirvo {

// Every failure of the core services, carrying a ready-to-show Russian text.
class MirvoError : public std::exception {
public:
    enum class Kind { Message, MissingTool, CommandFailed, TimedOut };

    static MirvoError message(QString text) { return MirvoError(Kind::Message, std::move(text)); }
    static MirvoError missingTool(QString tool) { return MirvoError(Kind::MissingTool, std::move(tool)); }
    static MirvoError commandFailed(QString text) { return MirvoError(Kind::CommandFailed, std::move(text)); }
    static MirvoError timedOut() { return MirvoError(Kind::TimedOut, {}); }

    Kind kind() const { return m_kind; }
    const QString& payload() const { return m_payload; }
    QString errorDescription() const;
    const char* what() const noexcept override { return m_utf8.constData(); }

    bool operator==(const MirvoError& other) const
    {
        return m_kind == other.m_kind && m_payload == other.m_payload;
    }

private:
    MirvoError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_utf8;
};

} // namespace mirvo
