import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The outcome of the last operation, with an exclamation mark when it failed.
Rectangle {
    id: banner

    property string text
    property bool isError

    signal closeRequested

    implicitHeight: layout.implicitHeight + 20
    color: isError ? Theme.errorBackground : Theme.successBackground

    Accessible.role: Accessible.AlertMessage
    Accessible.name: text

    RowLayout {
        id: layout

        anchors.fill: parent
        anchors.leftMargin: 28
        anchors.rightMargin: 20
        spacing: 10

        Symbol {
            objectName: "noticeSymbol"
            name: banner.isError ? "exclamationmark.circle.fill" : "checkmark.circle.fill"
            color: banner.isError ? Theme.error : Theme.success
            size: 18
        }
        Label {
            objectName: "noticeText"
            Layout.fillWidth: true
            text: banner.text
            color: Theme.ink
            wrapMode: Text.Wrap
        }
        PlainPointerButton {
            objectName: "closeNotice"
            symbol: "xmark.circle.fill"
            text: ""
            help: "Закрыть"
            Accessible.name: "Закрыть"
            onClicked: banner.closeRequested()
        }
    }
}
