import QtQuick
import Mirvo

// The main action of a screen or sheet: white on the accent colour.
ButtonBase {
    foreground: Theme.accentText
    fill: Theme.accent
    pressedFill: Qt.darker(Theme.accent, 1.2)
    outlineWidth: 0
}
