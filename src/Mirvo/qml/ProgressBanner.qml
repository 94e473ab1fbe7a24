import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// Stands above the page while an operation runs.
Rectangle {
    id: banner

    required property OperationState operation

    implicitHeight: layout.implicitHeight + 24
    color: Theme.surface

    Accessible.role: Accessible.StatusBar
    Accessible.name: title.text

    RowLayout {
        id: layout

        anchors.fill: parent
        anchors.leftMargin: 28
        anchors.rightMargin: 28
        spacing: 16

        IndeterminateSpinner {
            Layout.preferredWidth: 22
            Layout.preferredHeight: 22
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 6

            Label {
                id: title

                objectName: "progressTitle"
                Layout.fillWidth: true
                text: ProgressTexts.bannerTitle(banner.operation.batchProgress, banner.operation.progressStage,
                                                banner.operation.stage)
                color: Theme.ink
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            TransferProgress {
                objectName: "progressBar"
                Layout.fillWidth: true
                operation: banner.operation
            }
        }

        StopButton {
            objectName: "stopButton"
            operation: banner.operation
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.border
    }
}
