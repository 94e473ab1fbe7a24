#pragma once

#include <QByteArrayView>
#include <QFile>
#include <QList>

#include <algorithm>
#include <optional>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace mirvo::test {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); none where there is no such file.
inline std::optional<qint64> processStatusBytes(QByteArrayView field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith(field) && line.mid(field.size()).startsWith(':')) {
            bool ok = false;
            const qint64 kiB = line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? std::optional<qint64>(kiB * 1024) : std::nullopt;
        }
    }
    return std::nullopt;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitizer = true;
#elif defined(__has_feature)
constexpr bool addressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool addressSanitizer = false;
#endif

// Measures how far the resident size rose above where it started, on Linux: the peak is reset first.
// Not under AddressSanitizer, whose quarantine keeps freed memory resident.
class PeakResidentGrowth {
public:
    PeakResidentGrowth()
    {
        if (addressSanitizer)
            return;
#if defined(__GLIBC__)
        // Memory freed earlier and kept by the allocator would be reused unseen.
        malloc_trim(0);
#endif
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly) && clear.write("5") == 1) {
            clear.close();
            m_start = processStatusBytes("VmRSS");
        }
    }

    std::optional<qint64> bytes() const
    {
        const std::optional<qint64> peak = processStatusBytes("VmHWM");
        if (!m_start || !peak)
            return std::nullopt;
        return std::max<qint64>(0, *peak - *m_start);
    }

private:
    std::optional<qint64> m_start;
};

} // namespace mirvo::test
