import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// A failure told in place, under what failed: a warning triangle and the message in the error colour.
// Hidden while there is no message.
RowLayout {
    id: notice

    property string message: ""

    visible: message.length > 0
    spacing: 6

    Symbol {
        name: "exclamationmark.triangle.fill"
        color: Theme.error
        size: 14
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 1
    }

    Label {
        text: notice.message
        font.pixelSize: 13
        color: Theme.error
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        Accessible.role: Accessible.AlertMessage
    }
}
