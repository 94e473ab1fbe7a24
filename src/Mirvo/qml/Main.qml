import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

ApplicationWindow {
    id: window

    title: "Сольвена"
    width: 1180
    height: 820
    minimumWidth: 1000
    minimumHeight: 720
    visible: true
    color: Theme.background

    // Always the light palette, whatever the system uses.
    palette.window: Theme.background
    palette.windowText: Theme.ink
    palette.base: Theme.surface
    palette.alternateBase: Theme.sidebar
    palette.text: Theme.ink
    palette.button: Theme.surface
    palette.buttonText: Theme.ink
    palette.mid: Theme.border
    palette.placeholderText: Theme.muted
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    // Progress bars and switched-on switches.
    palette.dark: Theme.accent

    // On macOS the command sits in the application menu; elsewhere in the window's own menu.
    menuBar: Qt.platform.os === "osx" ? null : windowMenu

    WindowMenuBar {
        id: windowMenu

        updates: AppModel.updates
    }

    Loader {
        active: Qt.platform.os === "osx"
        source: "ApplicationMenu.qml"
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            Layout.fillHeight: true
            Layout.preferredWidth: 280
            account: AppModel.account
            devices: AppModel.devices
            components: AppModel.components
        }

        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            color: Theme.border
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            ProgressBanner {
                objectName: "progressBanner"
                Layout.fillWidth: true
                visible: AppModel.operation.busy
                operation: AppModel.operation
            }

            NoticeBanner {
                objectName: "noticeBanner"
                Layout.fillWidth: true
                visible: AppModel.notice.length > 0
                text: AppModel.notice
                isError: AppModel.noticeIsError
                onCloseRequested: AppModel.closeNotice()
            }

            StackLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                currentIndex: AppModel.page === AppModel.Settings ? 1 : 0

                CatalogPage {
                    catalog: AppModel.catalog
                    operation: AppModel.operation
                    devices: AppModel.devices
                    account: AppModel.account
                }
                // Read and built the first time the settings are shown: the start-up frame has no use for
                // the page, nor for the file dialog it brings along.
                LazyLoader {
                    objectName: "settingsPageLoader"
                    needed: AppModel.page === AppModel.Settings
                    file: "SettingsPage.qml"
                    properties: ({ components: AppModel.components, updates: AppModel.updates })
                }
            }
        }
    }

    // The sheets and dialogs are built the first time they open and kept from then on.
    LazyLoader {
        needed: AppModel.operation.request.present
        sourceComponent: InstallSheet {
            objectName: "installSheet"
            operation: AppModel.operation
            devices: AppModel.devices
            components: AppModel.components
            canInstall: AppModel.canInstall
        }
    }

    LazyLoader {
        needed: AppModel.account.modal === AccountState.AppleID
        sourceComponent: AppleIDSheet {
            objectName: "appleIDSheet"
            account: AppModel.account
            components: AppModel.components
        }
    }

    // The error dialog takes precedence: the update dialog waits while an error is shown.
    LazyLoader {
        needed: AppModel.updates.dialog.kind !== UpdateDialogState.None // qmllint disable unqualified type
        sourceComponent: UpdateDialog {
            objectName: "updateDialog"
            updates: AppModel.updates
            heldBack: AppModel.alert.length > 0
        }
    }

    LazyLoader {
        needed: AppModel.alert.length > 0
        sourceComponent: ErrorDialog {
            objectName: "errorDialog"
            message: AppModel.alert
            onDismissed: AppModel.dismissAlert()
        }
    }

    Component.onCompleted: AppModel.windowShown()
}
