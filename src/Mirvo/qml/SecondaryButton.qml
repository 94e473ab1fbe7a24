import QtQuick
import Mirvo

// Any other action: ink on the surface, outlined.
ButtonBase {
    foreground: Theme.ink
    fill: Theme.surface
    pressedFill: Theme.background
    outline: Theme.border
}
