import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// A popular app: its icon, name and category. Pressing it offers to download or install it.
AbstractButton {
    id: tile

    property string appID
    property string name
    property string category
    property string iconSource

    width: 210
    height: 72
    padding: 12
    hoverEnabled: true
    Accessible.name: name
    Accessible.description: category

    HoverHandler {
        cursorShape: tile.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: tile.hovered || tile.visualFocus ? Theme.accent : Theme.border
        opacity: tile.enabled ? 1 : 0.6
    }

    contentItem: RowLayout {
        spacing: 10

        AppIcon {
            source: tile.iconSource
            name: tile.name
            size: 44
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            Label {
                Layout.fillWidth: true
                text: tile.name
                color: Theme.ink
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            Label {
                Layout.fillWidth: true
                text: tile.category
                color: Theme.muted
                font.pixelSize: 12
                elide: Text.ElideRight
            }
        }
    }
}
