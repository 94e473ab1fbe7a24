import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The catalog page once start-up is over: its heading with the advanced switch, and the popular apps or,
// in advanced mode, the whole catalog.
ColumnLayout {
    id: page

    required property CatalogState catalog
    required property OperationState operation
    required property DevicesState devices
    required property AccountState account

    spacing: 16

    RowLayout {
        Layout.fillWidth: true
        spacing: 16

        PageHeading {
            objectName: "catalogHeading"
            Layout.fillWidth: true
            title: AppModel.pageTitle(AppModel.Catalog)
            subtitle: page.catalog.appCountLabel + " · " + page.catalog.updateLabel
        }

        Switch {
            objectName: "advancedSwitch"
            text: "Продвинутый"
            checked: AppModel.advancedMode
            onToggled: AppModel.advancedMode = checked
            hoverEnabled: true
            ToolTip.visible: hovered
            ToolTip.text: "Показывает полный каталог приложений с поиском"
            Accessible.name: text
            Accessible.description: ToolTip.text
        }
    }

    // The two views sit in a plain item rather than straight in this layout, so that each lays itself out:
    // on Qt 6.4 a nested layout changed in the same polish as a banner above the page keeps its old
    // arrangement (a catalog list that appears then stays at zero size).
    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true

        PopularApps {
            objectName: "popularApps"
            anchors.fill: parent
            visible: !AppModel.advancedMode
            catalog: page.catalog
            operation: page.operation
        }

        AdvancedCatalog {
            objectName: "advancedCatalog"
            anchors.fill: parent
            visible: AppModel.advancedMode
            catalog: page.catalog
            operation: page.operation
            devices: page.devices
            account: page.account
        }
    }
}
