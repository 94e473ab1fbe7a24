import QtQuick
import Mirvo

// A rotating ring.
Item {
    id: spinner

    property int rotationDuration: 900

    implicitWidth: 32
    implicitHeight: 32

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: "transparent"
        border.width: 3
        border.color: Theme.border
    }

    Rectangle {
        width: 8
        height: 8
        radius: 4
        color: Theme.ink
        x: spinner.width / 2 - width / 2
        y: 0
    }

    RotationAnimator on rotation {
        from: 0
        to: 360
        duration: spinner.rotationDuration
        loops: Animation.Infinite
        running: spinner.visible
    }
}
