import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// What to do with the app the user chose: keep its IPA on the Mac, or download it and install it on the
// iPhone. Open while the operation holds a request; the model clears the request as the operation starts,
// which closes the sheet, and keeps it when it refuses, so the sheet stays. Closing it drops the request.
Popup {
    id: sheet

    required property OperationState operation
    required property DevicesState devices
    required property ComponentsState components
    // Whether an install may start now (the model's canInstall).
    required property bool canInstall

    readonly property bool requested: operation.request.present

    onRequestedChanged: requested ? open() : close()
    Component.onCompleted: if (requested) open()
    onOpened: saveButton.forceActiveFocus()
    // Closed by the user (Escape or "Отмена") rather than by the model.
    onClosed: if (requested) operation.closeRequest()

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    anchors.centerIn: Overlay.overlay
    width: 460
    padding: 24

    background: Rectangle {
        radius: 14
        color: Theme.surface
        border.color: Theme.border
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 16

        SheetHeading {
            objectName: "installSheetHeading"
            Layout.fillWidth: true
            title: sheet.operation.request.name
            subtitle: "Сохраните приложение на Mac или установите его на iPhone."
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Symbol {
                name: "cable.connector"
                color: Theme.muted
                size: 16
            }

            Label {
                objectName: "installStatus"
                Layout.fillWidth: true
                text: SheetTexts.installStatus(sheet.devices.selectedDevice)
                wrapMode: Text.Wrap
                color: Theme.muted
            }
        }

        ErrorNotice {
            objectName: "installError"
            Layout.fillWidth: true
            message: SheetTexts.installError(sheet.components.missingTools)
            visible: message.length > 0
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8

            PlainPointerButton {
                objectName: "cancelInstallButton"
                text: "Отмена"
                Accessible.name: text
                onClicked: sheet.close()
            }

            Item {
                Layout.fillWidth: true
            }

            SecondaryButton {
                id: saveButton

                objectName: "saveOnMacButton"
                text: "Сохранить на Mac"
                symbol: "internaldrive"
                Accessible.name: text
                onClicked: sheet.operation.perform(sheet.operation.request, false)
            }

            PrimaryButton {
                objectName: "installButton"
                text: "Установить"
                symbol: "arrow.down.circle.fill"
                enabled: sheet.canInstall
                Accessible.name: text
                onClicked: sheet.operation.perform(sheet.operation.request, true)
            }
        }
    }
}
