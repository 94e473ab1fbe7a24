import QtQuick
import QtQuick.Controls
import Mirvo

// The active stage's progress: a bar with its share done, or a running bar while that is unknown.
ProgressBar {
    id: bar

    required property OperationState operation
    readonly property var fraction: ProgressTexts.activeFraction(operation.progressStage, operation.downloadProgress,
                                                                 operation.installProgress)

    from: 0
    to: 1
    value: fraction.known ? fraction.value : 0
    indeterminate: !fraction.known

    Accessible.name: ProgressTexts.accessibleText(operation.progressStage, operation.downloadProgress)
}
