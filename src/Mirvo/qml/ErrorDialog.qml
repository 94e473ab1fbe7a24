import QtQuick
import QtQuick.Controls
import Mirvo

// Shows `message` until the user closes it; `dismissed` tells the model to clear it.
Dialog {
    id: dialog

    property string message: ""
    signal dismissed

    title: "Не удалось завершить операцию"
    modal: true
    anchors.centerIn: Overlay.overlay
    width: 480
    closePolicy: Popup.CloseOnEscape
    standardButtons: Dialog.Close

    onMessageChanged: message.length > 0 ? open() : close()
    Component.onCompleted: if (message.length > 0) open()
    onClosed: if (message.length > 0) dismissed()

    Label {
        width: dialog.availableWidth
        text: dialog.message
        wrapMode: Text.Wrap
        color: Theme.ink
    }
}
