import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// One catalog entry: its selection, icon, name, App Store ID and category, and its download button or,
// while it is the active app, its progress.
Item {
    id: row

    required property CatalogState catalog
    required property OperationState operation
    required property string appID
    required property string name
    required property string category
    required property string iconSource
    required property bool selected

    readonly property bool active: operation.activeCatalogAppID === appID

    implicitHeight: layout.implicitHeight + 16

    RowLayout {
        id: layout

        anchors.fill: parent
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 12

        CheckBox {
            objectName: "rowCheckBox"
            checked: row.selected
            enabled: !row.operation.busy
            onToggled: row.catalog.toggleSelection(row.appID)
            hoverEnabled: true
            ToolTip.visible: hovered
            ToolTip.text: CatalogPageTexts.rowCheckboxHelp(row.name, row.selected)
            Accessible.name: ToolTip.text
        }

        AppIcon {
            source: row.iconSource
            name: row.name
            size: 40
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1

            Label {
                Layout.fillWidth: true
                text: row.name
                color: Theme.ink
                font.weight: Font.DemiBold
                elide: Text.ElideRight
                maximumLineCount: 1
            }
            Label {
                text: row.appID
                color: Theme.muted
                font.pixelSize: 12
            }
            Label {
                visible: row.category.length > 0 && row.category !== "Без категории"
                text: row.category
                color: Theme.muted
                font.pixelSize: 12
            }
        }

        TransferProgress {
            objectName: "rowProgress"
            Layout.preferredWidth: 160
            visible: row.active
            operation: row.operation
        }

        StopButton {
            objectName: "rowStop"
            visible: row.active
            operation: row.operation
        }

        SecondaryButton {
            objectName: "rowDownload"
            visible: !row.active
            symbol: "arrow.down.circle"
            text: "Скачать"
            help: "Скачать или установить " + row.name
            enabled: !row.operation.busy
            onClicked: row.operation.requestCatalogApp(row.appID)
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.border
    }
}
