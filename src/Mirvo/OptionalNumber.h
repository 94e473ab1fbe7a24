#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace mirvo {

// An optional number as QML reads it: whether it is known, and its value (0 when unknown).
struct OptionalNumber {
    Q_GADGET
    QML_VALUE_TYPE(optionalNumber)
    Q_PROPERTY(bool known MEMBER known)
    Q_PROPERTY(double value MEMBER value)

public:
    bool known = false;
    double value = 0;

    static OptionalNumber from(const std::optional<double>& number)
    {
        return number ? OptionalNumber{true, *number} : OptionalNumber{};
    }

    bool operator==(const OptionalNumber&) const = default;
};

} // namespace mirvo
