import QtQuick
import QtQuick.Controls
import Mirvo

// An app's icon from the icon caches; a rounded tile with the name's first letter while there is no picture.
Item {
    id: appIcon

    property string source
    property string name
    property real size: 40

    implicitWidth: size
    implicitHeight: size

    Rectangle {
        id: placeholder

        objectName: "appIconPlaceholder"

        readonly property string letter: appIcon.name.length > 0
                                         ? String.fromCodePoint(appIcon.name.codePointAt(0)).toUpperCase() : ""

        anchors.fill: parent
        visible: !picture.visible
        radius: appIcon.size * 0.22
        color: Theme.background
        border.color: Theme.border

        Label {
            anchors.centerIn: parent
            text: placeholder.letter
            font.pixelSize: appIcon.size * 0.45
            font.weight: Font.DemiBold
            color: Theme.muted
        }
    }

    Image {
        id: picture

        objectName: "appIconPicture"
        anchors.fill: parent
        source: appIcon.source
        // Decoded at twice the shown size, sharp on high-density screens too.
        sourceSize.width: appIcon.size * 2
        sourceSize.height: appIcon.size * 2
        fillMode: Image.PreserveAspectFit
        smooth: true
        mipmap: true
        // A missing icon arrives as an empty picture rather than an error.
        visible: status === Image.Ready && implicitWidth > 0
    }
}
