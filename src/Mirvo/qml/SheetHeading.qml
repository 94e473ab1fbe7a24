import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The title of a sheet, with an optional line under it.
ColumnLayout {
    id: heading

    property string title: ""
    property string subtitle: ""

    spacing: 4

    Label {
        text: heading.title
        font.pixelSize: 20
        font.weight: Font.Bold
        color: Theme.ink
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        Accessible.role: Accessible.Heading
    }

    Label {
        visible: text.length > 0
        text: heading.subtitle
        font.pixelSize: 13
        color: Theme.muted
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
