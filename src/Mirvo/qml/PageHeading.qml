import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

ColumnLayout {
    id: heading

    property alias title: titleLabel.text
    property string subtitle: ""

    spacing: 4

    Label {
        id: titleLabel
        font.pixelSize: 28
        font.weight: Font.Bold
        color: Theme.ink
    }

    Label {
        visible: text.length > 0
        text: heading.subtitle
        font.pixelSize: 14
        color: Theme.muted
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
