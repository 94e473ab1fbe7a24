import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// A page entry in the sidebar.
ItemDelegate {
    id: button

    property string symbol
    property bool current

    Accessible.name: text
    Accessible.role: Accessible.PageTab
    Accessible.checked: current

    HoverHandler {
        cursorShape: Qt.PointingHandCursor
    }

    contentItem: RowLayout {
        spacing: 10

        Symbol {
            name: button.symbol
            color: button.current ? Theme.accent : Theme.muted
            size: 18
        }
        Label {
            Layout.fillWidth: true
            text: button.text
            color: Theme.ink
            font.weight: button.current ? Font.DemiBold : Font.Normal
            verticalAlignment: Text.AlignVCenter
        }
    }
    background: Rectangle {
        radius: 8
        color: button.current ? Theme.selection : (button.hovered ? Theme.background : "transparent")
    }
}
