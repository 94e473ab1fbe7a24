import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

Rectangle {
    color: Theme.sidebar

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 8

        Label {
            text: "Сольвена"
            font.pixelSize: 22
            font.weight: Font.DemiBold
            color: Theme.ink
            Layout.bottomMargin: 16
        }

        Repeater {
            model: [AppModel.Catalog, AppModel.Settings]

            delegate: ItemDelegate {
                id: pageButton

                required property int modelData
                readonly property bool current: AppModel.page === modelData

                Layout.fillWidth: true
                text: AppModel.pageTitle(modelData)
                onClicked: AppModel.page = modelData

                contentItem: Label {
                    text: pageButton.text
                    color: Theme.ink
                    font.weight: pageButton.current ? Font.DemiBold : Font.Normal
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 8
                    color: pageButton.current ? Theme.border : (pageButton.hovered ? Theme.background : "transparent")
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
