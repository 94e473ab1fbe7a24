import QtQuick
import Qt.labs.platform as Platform
import Mirvo

// The command in macOS's application menu.
Platform.MenuBar {
    Platform.Menu {
        title: "Сольвена"

        Platform.MenuItem {
            text: UpdateDialogTexts.menuTitle(AppModel.updates.checking)
            enabled: !AppModel.updates.checking
            role: Platform.MenuItem.ApplicationSpecificRole
            onTriggered: AppModel.updates.checkFromMenu()
        }
    }
}
