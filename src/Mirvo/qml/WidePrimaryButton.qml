import QtQuick
import QtQuick.Layouts
import Mirvo

// A primary button as wide as its parent or its layout's column, a little taller.
PrimaryButton {
    width: parent ? parent.width : implicitWidth
    verticalPadding: 9
    font.pixelSize: 14
    font.weight: Font.DemiBold
    Layout.fillWidth: true
}
