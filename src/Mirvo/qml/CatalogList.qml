import QtQuick
import QtQuick.Controls
import Mirvo

// The catalog rows that match the search, grouped by category.
ListView {
    id: list

    required property SearchProxyModel apps

    model: apps
    clip: true
    spacing: 2
    section.property: "category"
    section.criteria: ViewSection.FullString
    section.delegate: Label {
        required property string section

        width: ListView.view.width
        topPadding: 12
        bottomPadding: 4
        text: section
        font.weight: Font.DemiBold
        color: Theme.muted
    }

    delegate: CatalogRow {
        width: ListView.view.width
    }
}
