import QtQuick
import QtQuick.Controls
import Mirvo

// A category's name above its entries in a list.
Label {
    required property string section

    topPadding: 14
    bottomPadding: 6
    text: section
    font.weight: Font.DemiBold
    color: Theme.muted
    Accessible.role: Accessible.Heading
}
