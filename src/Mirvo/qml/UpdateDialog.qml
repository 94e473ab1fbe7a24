import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// A check for a newer build of the application and what it found: a newer version or build to download,
// nothing newer, a failure, or the check still running. Open while the updates state holds a dialog and
// nothing holds it back (the error dialog goes first); closing it clears the dialog.
Popup {
    id: dialog

    required property UpdatesState updates
    // True while another dialog has to be read first.
    property bool heldBack: false

    // The linter of Qt 6.4 takes the value type and its kinds, registered under one C++ name, for one type
    // and sees neither the members nor the kinds, nor 64-bit integers; all of them work at run time.
    // qmllint disable unqualified type
    readonly property int kind: updates.dialog.kind
    readonly property bool requested: kind !== UpdateDialogState.None
    readonly property bool available: kind === UpdateDialogState.Available
    readonly property bool checking: kind === UpdateDialogState.Checking
    readonly property bool failed: kind === UpdateDialogState.Failure
    readonly property var manifest: updates.dialog.manifest
    readonly property real currentBuild: updates.currentAppBuild
    // qmllint enable unqualified type
    readonly property bool shown: requested && !heldBack
    readonly property string currentVersion: updates.currentAppVersion
    readonly property string downloadTitle: UpdateDialogTexts.downloadTitle(updates.dialog, currentVersion)

    onShownChanged: shown ? open() : close()
    Component.onCompleted: if (shown) open()
    onOpened: (downloadTitle.length > 0 ? downloadButton : closeButton).forceActiveFocus()
    // Closed by the user (Escape or the close button) rather than by the model.
    onClosed: if (shown) updates.closeDialog()

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    anchors.centerIn: Overlay.overlay
    width: 480
    padding: 24

    background: Rectangle {
        radius: 14
        color: Theme.surface
        border.color: Theme.border
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 16

        SheetHeading {
            objectName: "updateHeading"
            Layout.fillWidth: true
            title: UpdateDialogTexts.title(dialog.updates.dialog, dialog.currentVersion)
            subtitle: UpdateDialogTexts.subtitle(dialog.updates.dialog, dialog.currentVersion)
        }

        // An available release: what runs now, what comes, and what is new in it.
        ColumnLayout {
            Layout.fillWidth: true
            visible: dialog.available
            spacing: 12

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                Label {
                    objectName: "installedRelease"
                    text: UpdateDialogTexts.installedLine(dialog.currentVersion, dialog.currentBuild)
                    color: Theme.muted
                }

                Symbol {
                    name: "arrow.right"
                    color: Theme.muted
                    size: 14
                }

                Label {
                    objectName: "availableRelease"
                    Layout.fillWidth: true
                    text: UpdateDialogTexts.availableLine(dialog.updates.dialog)
                    elide: Text.ElideRight
                    font.weight: Font.DemiBold
                    color: Theme.ink
                }
            }

            Label {
                text: "Что нового"
                font.weight: Font.DemiBold
                color: Theme.ink
            }

            Repeater {
                model: dialog.manifest.releaseNotes

                delegate: Label {
                    required property string modelData

                    Layout.fillWidth: true
                    text: "• " + modelData
                    wrapMode: Text.Wrap
                    color: Theme.ink
                }
            }
        }

        // Nothing to download: the check runs, found nothing newer, or failed.
        RowLayout {
            Layout.fillWidth: true
            visible: !dialog.available
            spacing: 10

            IndeterminateSpinner {
                Layout.preferredWidth: 18
                Layout.preferredHeight: 18
                visible: dialog.checking
            }

            Label {
                objectName: "updateMessage"
                Layout.fillWidth: true
                text: UpdateDialogTexts.message(dialog.updates.dialog)
                wrapMode: Text.Wrap
                color: dialog.failed ? Theme.error : Theme.ink
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8

            Item {
                Layout.fillWidth: true
            }

            SecondaryButton {
                id: closeButton

                objectName: "closeUpdateButton"
                text: "Закрыть"
                Accessible.name: text
                onClicked: dialog.close()
            }

            PrimaryButton {
                id: downloadButton

                objectName: "downloadUpdateButton"
                visible: dialog.downloadTitle.length > 0
                text: dialog.downloadTitle
                symbol: "arrow.down.circle.fill"
                Accessible.name: text
                onClicked: dialog.updates.openUpdate(dialog.manifest)
            }
        }
    }
}
