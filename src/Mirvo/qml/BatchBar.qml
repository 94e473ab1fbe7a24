import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// What to do with the selected catalog apps, and what is still missing for it.
Rectangle {
    id: bar

    required property CatalogState catalog
    required property OperationState operation
    required property DevicesState devices
    required property AccountState account

    readonly property string hint: CatalogPageTexts.batchHint(account.signedIn, devices.selectedDevice,
                                                              AppModel.canDownload, operation.busy)

    implicitHeight: layout.implicitHeight + 24
    radius: 12
    color: Theme.surface
    border.color: Theme.border

    ColumnLayout {
        id: layout

        anchors.fill: parent
        anchors.margins: 12
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Symbol {
                name: "checkmark.square.fill"
                color: Theme.accent
                size: 18
            }
            Label {
                objectName: "selectedLabel"
                Layout.fillWidth: true
                text: bar.catalog.selectedAppsLabel
                color: Theme.ink
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            PlainPointerButton {
                objectName: "toggleVisible"
                text: CatalogPageTexts.selectAllTitle(bar.catalog.allFilteredAppsSelected)
                enabled: !bar.operation.busy
                onClicked: bar.catalog.toggleFilteredSelection()
            }
            PlainPointerButton {
                objectName: "clearSelection"
                text: "Очистить"
                enabled: !bar.operation.busy
                onClicked: bar.catalog.clearSelection()
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Label {
                objectName: "batchHint"
                Layout.fillWidth: true
                text: bar.hint
                color: Theme.muted
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
            SecondaryButton {
                objectName: "batchDownload"
                symbol: "arrow.down.circle"
                text: bar.catalog.batchDownloadButtonTitle
                enabled: AppModel.canDownload
                onClicked: bar.operation.performSelectedCatalogApps(false)
            }
            PrimaryButton {
                objectName: "batchInstall"
                symbol: "arrow.down.circle.fill"
                text: bar.catalog.batchInstallButtonTitle
                enabled: AppModel.canInstall
                onClicked: bar.operation.performSelectedCatalogApps(true)
            }
        }
    }
}
