import QtQuick
import QtQuick.Layouts
import Mirvo

// The whole catalog: search, the batch bar over the selection, and the rows grouped by category.
ColumnLayout {
    id: advanced

    required property CatalogState catalog
    required property OperationState operation
    required property DevicesState devices
    required property AccountState account

    readonly property string storeID: CatalogPageTexts.directInstallID(catalog.search)

    spacing: 14

    SearchField {
        objectName: "catalogSearch"
        Layout.fillWidth: true
        text: advanced.catalog.search
        onEdited: text => advanced.catalog.search = text
    }

    BatchBar {
        objectName: "batchBar"
        Layout.fillWidth: true
        visible: advanced.catalog.selectedCount > 0
        catalog: advanced.catalog
        operation: advanced.operation
        devices: advanced.devices
        account: advanced.account
    }

    LoadingRow {
        objectName: "catalogLoading"
        visible: advanced.catalog.loading
        text: "Обновляем каталог приложений…"
    }

    EmptyCard {
        objectName: "catalogEmpty"
        Layout.fillWidth: true
        visible: advanced.catalog.filteredApps.count === 0 && !advanced.catalog.loading
        symbol: "magnifyingglass"
        title: "Приложений не найдено"
        subtitle: "Измените запрос или введите числовой App Store ID, чтобы установить приложение напрямую."
        actionText: advanced.storeID.length > 0 ? "Установить по ID" : ""
        actionHelp: CatalogPageTexts.directInstallHelp(advanced.catalog.search)
        onActionTriggered: advanced.operation.chooseStoreID(advanced.storeID)
    }

    CatalogList {
        objectName: "catalogList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: advanced.catalog.filteredApps.count > 0
        catalog: advanced.catalog
        operation: advanced.operation
    }

    Item {
        Layout.fillHeight: true
        visible: advanced.catalog.filteredApps.count === 0
    }
}
