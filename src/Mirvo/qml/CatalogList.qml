import QtQuick
import QtQuick.Controls
import Mirvo

// The catalog rows that match the search, grouped by category.
ListView {
    id: list

    required property CatalogState catalog
    required property OperationState operation

    model: catalog.filteredApps
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    section.property: "category"
    section.criteria: ViewSection.FullString
    section.delegate: SectionHeader {
        width: ListView.view.width
    }

    ScrollBar.vertical: ScrollBar {}

    // Not "pragma ComponentBehavior: Bound": on Qt 6.4 it leaves the section headers never ready. The rows
    // reach the list by its id instead, which the linter cannot follow into the delegate.
    delegate: CatalogRow {
        width: ListView.view.width
        catalog: list.catalog // qmllint disable unqualified
        operation: list.operation // qmllint disable unqualified
    }
}
