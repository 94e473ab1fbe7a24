import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

Item {
    StartupPlaceholder {
        objectName: "startupPlaceholder"
        anchors.centerIn: parent
        visible: AppModel.isStarting
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 28
        spacing: 16
        visible: !AppModel.isStarting

        RowLayout {
            Layout.fillWidth: true

            PageHeading {
                objectName: "catalogHeading"
                title: AppModel.pageTitle(AppModel.Catalog)
            }

            Item {
                Layout.fillWidth: true
            }

            Switch {
                text: "Продвинутый"
                checked: AppModel.advancedMode
                onToggled: AppModel.advancedMode = checked
                ToolTip.visible: hovered
                ToolTip.text: "Показывает полный каталог приложений с поиском"
            }
        }

        Label {
            visible: AppModel.advancedMode
            text: AppModel.catalog.appCountLabel + " · " + AppModel.catalog.updateLabel
            color: Theme.muted
        }

        TextField {
            objectName: "catalogSearch"
            Layout.fillWidth: true
            visible: AppModel.advancedMode
            placeholderText: "Поиск по названию, категории или ID"
            text: AppModel.catalog.search
            onTextEdited: AppModel.catalog.search = text
        }

        CatalogList {
            objectName: "catalogList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: AppModel.advancedMode
            apps: AppModel.catalog.filteredApps
        }

        Item {
            Layout.fillHeight: true
            visible: !AppModel.advancedMode
        }
    }
}
