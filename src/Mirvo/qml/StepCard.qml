import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// One of the sidebar's numbered steps: its title and subtitle, and a mark once it is done. Children go
// below the text.
Rectangle {
    id: card

    property int number
    property string symbol
    property string title
    property string subtitle
    property bool completed
    // Whether pressing the card does something.
    property bool interactive: true
    default property alias content: extra.data

    signal clicked

    implicitHeight: column.implicitHeight + 24
    radius: 10
    color: Theme.surface
    border.color: hover.hovered && interactive ? Theme.accent : Theme.border

    Accessible.role: interactive ? Accessible.Button : Accessible.Grouping
    Accessible.name: title
    Accessible.description: subtitle
    Accessible.onPressAction: if (interactive) card.clicked()

    HoverHandler {
        id: hover

        cursorShape: card.interactive ? Qt.PointingHandCursor : Qt.ArrowCursor
    }

    TapHandler {
        enabled: card.interactive
        onTapped: card.clicked()
    }

    ColumnLayout {
        id: column

        anchors.fill: parent
        anchors.margins: 12
        spacing: 8

        RowLayout {
            spacing: 10

            Rectangle {
                Layout.preferredWidth: 26
                Layout.preferredHeight: 26
                Layout.alignment: Qt.AlignTop
                radius: 13
                color: card.completed ? Theme.success : Theme.background
                border.color: card.completed ? Theme.success : Theme.border

                Label {
                    anchors.centerIn: parent
                    visible: !card.completed
                    text: card.number
                    color: Theme.muted
                    font.weight: Font.DemiBold
                }
                Symbol {
                    objectName: "completedMark"
                    anchors.centerIn: parent
                    visible: card.completed
                    name: "checkmark"
                    color: Theme.accentText
                    size: 14
                }
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6

                    Symbol {
                        Layout.alignment: Qt.AlignVCenter
                        name: card.symbol
                        color: card.completed ? Theme.success : Theme.accent
                        size: 16
                    }
                    Label {
                        objectName: "stepTitle"
                        Layout.fillWidth: true
                        text: card.title
                        color: Theme.ink
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }
                }
                Label {
                    objectName: "stepSubtitle"
                    Layout.fillWidth: true
                    text: card.subtitle
                    color: Theme.muted
                    font.pixelSize: 12
                    wrapMode: Text.Wrap
                }
            }
        }

        ColumnLayout {
            id: extra

            Layout.fillWidth: true
            spacing: 6
        }
    }
}
