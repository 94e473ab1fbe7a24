import QtQuick
import Mirvo

// A flat button, text and/or symbol in the accent colour with no frame, shaded only while pressed; for
// links and small in-line actions. Give a symbol-only one a `help`: it becomes its accessible name.
ButtonBase {
    flat: true
    horizontalPadding: 4
    verticalPadding: 2
    foreground: Theme.accent
    pressedFill: Theme.selection
    outlineWidth: 0
}
