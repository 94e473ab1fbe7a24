import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// One catalog entry: its selection for batch operations, icon, name and App Store ID.
ItemDelegate {
    id: row

    required property string appID
    required property string name
    required property string iconSource
    required property bool selected
    required property bool running

    contentItem: RowLayout {
        spacing: 12

        CheckBox {
            checked: row.selected
            enabled: !AppModel.operation.busy
            onToggled: AppModel.catalog.toggleSelection(row.appID)
        }

        AppIcon {
            source: row.iconSource
            name: row.name
            size: 32
        }

        Label {
            Layout.fillWidth: true
            text: row.name
            elide: Text.ElideRight
            color: Theme.ink
        }

        Label {
            text: row.running ? AppModel.operation.stage : row.appID
            color: Theme.muted
        }
    }
}
