pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The popular apps as tiles grouped by category, with their own search.
ColumnLayout {
    id: popular

    required property CatalogState catalog
    required property OperationState operation

    readonly property string storeID: CatalogPageTexts.directInstallID(catalog.topSearch)

    spacing: 14

    SearchField {
        objectName: "topSearch"
        Layout.fillWidth: true
        text: popular.catalog.topSearch
        onEdited: text => popular.catalog.topSearch = text
    }

    PageHeading {
        Layout.fillWidth: true
        title: "Популярные приложения"
        subtitle: "Выберите приложение, чтобы скачать его или установить на iPhone."
    }

    LoadingRow {
        objectName: "topAppsLoading"
        visible: popular.catalog.topAppsLoading
        text: "Обновляем популярные приложения…"
    }

    EmptyCard {
        objectName: "topAppsEmpty"
        Layout.fillWidth: true
        visible: popular.catalog.filteredTopApps.count === 0 && !popular.catalog.topAppsLoading
        symbol: "square.grid.2x2"
        title: "Популярные приложения пока недоступны"
        subtitle: "Измените запрос или введите числовой App Store ID, чтобы установить приложение напрямую."
        actionText: popular.storeID.length > 0 ? "Установить по ID" : ""
        actionHelp: CatalogPageTexts.directInstallHelp(popular.catalog.topSearch)
        onActionTriggered: popular.operation.chooseStoreID(popular.storeID)
    }

    ScrollView {
        id: scroll

        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: popular.catalog.filteredTopApps.count > 0
        contentWidth: availableWidth
        clip: true

        Column {
            width: scroll.availableWidth
            spacing: 18

            Repeater {
                model: popular.catalog.filteredTopApps.groups

                delegate: Column {
                    id: group

                    required property var modelData

                    width: parent.width
                    spacing: 8

                    Label {
                        text: group.modelData.title
                        color: Theme.muted
                        font.weight: Font.DemiBold
                        Accessible.role: Accessible.Heading
                    }

                    Flow {
                        width: parent.width
                        spacing: 10

                        Repeater {
                            model: group.modelData.rows

                            delegate: TopAppTile {
                                required property var modelData

                                appID: modelData.appID
                                name: modelData.name
                                category: modelData.category
                                iconSource: modelData.iconSource
                                enabled: !popular.operation.busy
                                onClicked: popular.operation.requestTopApp(appID)
                            }
                        }
                    }
                }
            }
        }
    }

    Item {
        Layout.fillHeight: true
        visible: !scroll.visible
    }
}
