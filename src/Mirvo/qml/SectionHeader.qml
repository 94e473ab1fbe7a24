import QtQuick
import QtQuick.Controls
import Mirvo

// A category's name above its entries in a list.
Label {
    objectName: "sectionHeader"

    topPadding: 14
    bottomPadding: 6
    // The list hands its section headers their text as a context property: a required property would be
    // set only when the header is first made, and Qt 6.4 reuses headers for other sections.
    text: section // qmllint disable unqualified
    font.weight: Font.DemiBold
    color: Theme.muted
    Accessible.role: Accessible.Heading
}
