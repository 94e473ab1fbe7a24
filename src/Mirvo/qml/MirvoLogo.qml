import QtQuick

// The application's icon, `size` points square.
Item {
    id: logo

    property real size: 64
    readonly property alias status: picture.status

    implicitWidth: size
    implicitHeight: size
    Accessible.role: Accessible.Graphic
    Accessible.name: "Сольвена"

    Image {
        id: picture

        anchors.fill: parent
        sourceSize.width: Math.ceil(logo.size * Screen.devicePixelRatio)
        sourceSize.height: Math.ceil(logo.size * Screen.devicePixelRatio)
        fillMode: Image.PreserveAspectFit
        asynchronous: true
        source: "qrc:/icons/logo/mirvo.svg"
    }
}
