#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// Counters of a batch run, shown while it works through the selected apps.
struct BatchInstallProgress {
    Q_GADGET
    QML_VALUE_TYPE(batchInstallProgress)
    Q_PROPERTY(bool running READ running)
    Q_PROPERTY(int current MEMBER current)
    Q_PROPERTY(int total MEMBER total)
    Q_PROPERTY(int succeeded MEMBER succeeded)
    Q_PROPERTY(int failed MEMBER failed)

public:
    int current = 0; // 1-based position of the app being processed
    int total = 0;
    int succeeded = 0;
    int failed = 0;

    // A batch always has at least one app; the empty value is how QML sees no batch.
    bool running() const { return total > 0; }

    bool operator==(const BatchInstallProgress&) const = default;
};

} // namespace mirvo
