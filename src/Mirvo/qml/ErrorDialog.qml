import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// Shows `message` until the user closes it; `dismissed` tells the model to clear it.
Dialog {
    id: dialog

    property string message: ""

    signal dismissed

    title: "Не удалось завершить операцию"
    modal: true
    focus: true
    anchors.centerIn: Overlay.overlay
    width: 440
    padding: 24
    closePolicy: Popup.CloseOnEscape

    onMessageChanged: message.length > 0 ? open() : close()
    Component.onCompleted: if (message.length > 0) open()
    onOpened: closeButton.forceActiveFocus()
    onClosed: if (message.length > 0) dismissed()

    background: Rectangle {
        radius: 14
        color: Theme.surface
        border.color: Theme.border
    }

    header: null
    footer: null

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Symbol {
                name: "exclamationmark.triangle.fill"
                color: Theme.error
                size: 22
            }

            Label {
                Layout.fillWidth: true
                text: dialog.title
                wrapMode: Text.Wrap
                font.pixelSize: 17
                font.weight: Font.DemiBold
                color: Theme.ink
            }
        }

        Label {
            objectName: "errorMessage"
            Layout.fillWidth: true
            text: dialog.message
            wrapMode: Text.Wrap
            color: Theme.ink
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4

            Item {
                Layout.fillWidth: true
            }

            PrimaryButton {
                id: closeButton

                objectName: "closeErrorButton"
                text: "Закрыть"
                Accessible.name: text
                Keys.onReturnPressed: dialog.close()
                Keys.onEnterPressed: dialog.close()
                onClicked: dialog.close()
            }
        }
    }
}
