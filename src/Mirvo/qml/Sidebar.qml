import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The logo, the two pages and the two steps the user takes before the first download.
Rectangle {
    id: sidebar

    required property AccountState account
    required property DevicesState devices
    required property ComponentsState components

    readonly property bool iPhoneConnected: StepCardTexts.iPhoneConnected(devices.selectedDevice,
                                                                          components.missingTools)

    color: Theme.sidebar

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 8

        RowLayout {
            spacing: 10
            Layout.bottomMargin: 16

            MirvoLogo {
                size: 36
            }
            Label {
                text: "Сольвена"
                font.pixelSize: 22
                font.weight: Font.DemiBold
                color: Theme.ink
            }
        }

        Repeater {
            model: [
                { page: AppModel.Catalog, symbol: "square.grid.2x2" },
                { page: AppModel.Settings, symbol: "internaldrive" }
            ]

            delegate: PageButton {
                required property var modelData

                Layout.fillWidth: true
                text: AppModel.pageTitle(modelData.page)
                symbol: modelData.symbol
                current: AppModel.page === modelData.page
                onClicked: AppModel.page = modelData.page
            }
        }

        Item {
            Layout.preferredHeight: 16
        }

        StepCard {
            objectName: "appleIDStep"
            Layout.fillWidth: true
            number: 1
            symbol: "person.crop.circle.fill"
            title: StepCardTexts.appleIDTitle(sidebar.account.signedIn)
            subtitle: StepCardTexts.appleIDSubtitle(sidebar.account.email, sidebar.components.ipatoolNeedsUpdate,
                                                    sidebar.components.missingTools)
            completed: sidebar.account.signedIn
            onClicked: sidebar.account.modal = AccountState.AppleID
        }

        StepCard {
            objectName: "iPhoneStep"
            Layout.fillWidth: true
            number: 2
            symbol: "cable.connector"
            title: StepCardTexts.iPhoneTitle(sidebar.iPhoneConnected)
            subtitle: StepCardTexts.iPhoneSubtitle(sidebar.devices.selectedDevice, sidebar.components.missingTools,
                                                   sidebar.components.installing)
            completed: sidebar.iPhoneConnected
            interactive: false

            // With more than one iPhone the user picks the one to install on.
            ComboBox {
                objectName: "deviceChoice"
                Layout.fillWidth: true
                visible: sidebar.devices.connected.length > 1
                model: sidebar.devices.connected
                textRole: "name"
                valueRole: "id"
                currentIndex: indexOfValue(sidebar.devices.selectedDeviceID)
                onActivated: sidebar.devices.selectedDeviceID = currentValue
                Accessible.name: "iPhone для установки"
            }

            SecondaryButton {
                objectName: "checkCableButton"
                Layout.fillWidth: true
                symbol: "arrow.clockwise"
                text: StepCardTexts.checkCableTitle(sidebar.devices.refreshing)
                enabled: !sidebar.devices.refreshing
                onClicked: sidebar.devices.refresh()
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
