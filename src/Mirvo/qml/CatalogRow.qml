import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// One catalog entry: its selection for batch operations, name and App Store ID.
ItemDelegate {
    id: row

    required property string appID
    required property string name
    required property bool selected
    required property bool running

    contentItem: RowLayout {
        spacing: 12

        CheckBox {
            checked: row.selected
            enabled: !AppModel.operation.busy
            onToggled: AppModel.catalog.toggleSelection(row.appID)
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
