import QtQuick
import QtQuick.Controls
import Mirvo

// The window's menu where the system has no application menu.
MenuBar {
    id: menuBar

    required property UpdatesState updates

    Menu {
        title: "Сольвена"

        MenuItem {
            objectName: "checkForUpdatesItem"
            text: UpdateDialogTexts.menuTitle(menuBar.updates.checking)
            enabled: !menuBar.updates.checking
            onTriggered: menuBar.updates.checkFromMenu()
        }
        MenuSeparator {}
        MenuItem {
            text: "Выйти"
            onTriggered: Qt.quit()
        }
    }
}
