import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// What the screens' buttons share: an optional leading symbol, a pointing hand while the button can be
// pressed, `help` as the tooltip and the accessible description, a dimmed look when disabled. The kinds of
// button set the colours.
Button {
    id: control

    property string symbol: ""
    property string help: ""
    property color foreground: Theme.ink
    property color fill: Theme.surface
    property color pressedFill: Theme.background
    property color outline: Theme.border
    property int outlineWidth: 1

    horizontalPadding: 14
    verticalPadding: 6
    spacing: 6
    font.pixelSize: 13
    opacity: enabled ? 1 : 0.4

    Accessible.name: text.length > 0 ? text : help
    Accessible.description: help

    ToolTip.visible: help.length > 0 && hovered
    ToolTip.text: help
    ToolTip.delay: 600

    HoverHandler {
        cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }

    contentItem: RowLayout {
        spacing: control.spacing

        Symbol {
            visible: control.symbol.length > 0
            name: control.symbol
            color: control.foreground
            size: control.font.pixelSize + 2
            Layout.alignment: Qt.AlignVCenter
        }

        Label {
            visible: text.length > 0
            text: control.text
            font: control.font
            color: control.foreground
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
        }
    }

    background: Rectangle {
        implicitHeight: 28
        radius: 6
        visible: !control.flat || control.down || control.visualFocus
        color: control.down ? control.pressedFill : control.fill
        border.width: control.visualFocus ? 2 : control.outlineWidth
        border.color: control.visualFocus ? Theme.accent : control.outline
    }
}
