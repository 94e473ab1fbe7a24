import QtQuick
import QtQuick.Controls

// The least a Qt Quick Controls application shows: the yardstick the start-up benchmark measures the real
// window against.
ApplicationWindow {
    width: 1180
    height: 820
    visible: true
    title: "Minimal"

    Label {
        anchors.centerIn: parent
        text: "Сольвена"
    }
}
