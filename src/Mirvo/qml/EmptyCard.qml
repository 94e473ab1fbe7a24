import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// What a list or page shows when it has nothing to show: a large symbol, a title, a line of explanation and
// optionally one action (shown only when actionText is not empty).
Rectangle {
    id: card

    property string symbol: ""
    property string title: ""
    property string subtitle: ""
    property string actionText: ""
    property string actionHelp: ""

    signal actionTriggered()

    implicitWidth: 360
    implicitHeight: content.implicitHeight + 48
    radius: 12
    color: Theme.surface
    border.width: 1
    border.color: Theme.border

    ColumnLayout {
        id: content

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 24
        spacing: 8

        Symbol {
            visible: card.symbol.length > 0
            name: card.symbol
            color: Theme.muted
            size: 40
            Layout.alignment: Qt.AlignHCenter
        }

        Label {
            visible: text.length > 0
            text: card.title
            font.pixelSize: 17
            font.weight: Font.DemiBold
            color: Theme.ink
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }

        Label {
            visible: text.length > 0
            text: card.subtitle
            font.pixelSize: 13
            color: Theme.muted
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }

        PrimaryButton {
            objectName: "emptyCardAction"
            visible: card.actionText.length > 0
            text: card.actionText
            help: card.actionHelp
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 8
            onClicked: card.actionTriggered()
        }
    }
}
