import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// A spinner and what is being loaded.
RowLayout {
    property alias text: label.text

    spacing: 10

    IndeterminateSpinner {
        Layout.preferredWidth: 18
        Layout.preferredHeight: 18
    }
    Label {
        id: label

        color: Theme.muted
    }
}
