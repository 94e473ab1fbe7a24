import QtQuick
import Mirvo

// A symbol icon (src/Mirvo/icons) in one colour, `size` points square, drawn sharp at the screen's density.
Item {
    id: symbol

    property string name: ""
    property color color: Theme.ink
    property real size: 16
    readonly property alias source: picture.source
    readonly property alias status: picture.status

    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true

    Image {
        id: picture

        anchors.fill: parent
        sourceSize.width: Math.ceil(symbol.size * Screen.devicePixelRatio)
        sourceSize.height: Math.ceil(symbol.size * Screen.devicePixelRatio)
        fillMode: Image.PreserveAspectFit
        // Drawn off the GUI thread, so the first frame does not wait for the SVG renderer.
        asynchronous: true
        source: symbol.name.length > 0
                ? "image://symbols/" + symbol.name + "?" + encodeURIComponent(String(symbol.color)) : ""
    }
}
