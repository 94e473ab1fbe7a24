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

    menuBar: MenuBar {
        Menu {
            title: "Сольвена"

            MenuItem {
                text: AppModel.updates.checking ? "Проверяем обновления…" : "Проверить обновления…"
                enabled: !AppModel.updates.checking
                onTriggered: AppModel.updates.checkFromMenu()
            }
            MenuSeparator {}
            MenuItem {
                text: "Выйти"
                onTriggered: Qt.quit()
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            Layout.fillHeight: true
            Layout.preferredWidth: 260
        }

        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            color: Theme.border
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: AppModel.page === AppModel.Settings ? 1 : 0

            CatalogPage {}
            SettingsPage {}
        }
    }

    ErrorDialog {
        objectName: "errorDialog"
        message: AppModel.alert
        onDismissed: AppModel.dismissAlert()
    }

    Component.onCompleted: AppModel.windowShown()
}
