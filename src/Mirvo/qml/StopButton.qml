import QtQuick
import Mirvo

// Stops the running operation; reads "Останавливаем…" once asked.
SecondaryButton {
    required property OperationState operation

    text: ProgressTexts.stopTitle(operation.stage)
    enabled: !ProgressTexts.stopping(operation.stage)
    onClicked: operation.stop()
}
