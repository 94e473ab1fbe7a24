import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The apps: the popular ones as tiles, or, in advanced mode, the whole catalog with search and batches.
Item {
    id: page

    required property CatalogState catalog
    required property OperationState operation
    required property DevicesState devices
    required property AccountState account

    StartupPlaceholder {
        objectName: "startupPlaceholder"
        anchors.centerIn: parent
        visible: AppModel.isStarting
    }

    // Read and built once start-up is over: until then the placeholder is all the page shows.
    LazyLoader {
        objectName: "catalogPageContent"
        anchors.fill: parent
        anchors.margins: 28
        needed: !AppModel.isStarting
        file: "CatalogPageContent.qml"
        properties: ({ catalog: page.catalog, operation: page.operation, devices: page.devices,
                       account: page.account })
    }
}
