import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Mirvo

// The components the application works with (their state, versions, preparation and the ipatool release
// in use), the icon and catalog caches, and the log a user can send.
ScrollView {
    id: page

    required property ComponentsState components
    required property UpdatesState updates

    property bool cacheResetConfirmationShown: false

    readonly property var componentRows: SettingsTexts.components()
    readonly property string progressText: SettingsTexts.progressText(components.installing,
                                                                      components.checking, components.stage)
    readonly property bool componentsReady: components.missingTools.length === 0
                                            && !components.ipatoolNeedsUpdate

    onVisibleChanged: if (visible) updates.refreshCacheSizeFromPage()
    Component.onCompleted: if (visible) updates.refreshCacheSizeFromPage()
    onCacheResetConfirmationShownChanged: cacheResetConfirmationShown ? cacheConfirmation.open()
                                                                      : cacheConfirmation.close()

    contentWidth: availableWidth
    clip: true

    ColumnLayout {
        width: page.availableWidth
        spacing: 20

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 28
            Layout.leftMargin: 28
            Layout.rightMargin: 28
            spacing: 12

            PageHeading {
                objectName: "settingsHeading"
                Layout.fillWidth: true
                title: AppModel.pageTitle(AppModel.Settings)
                subtitle: "Проверка компонентов для работы приложения."
            }

            SecondaryButton {
                objectName: "checkComponentsButton"
                Layout.alignment: Qt.AlignTop
                text: SettingsTexts.checkTitle(page.components.checking)
                symbol: "arrow.clockwise"
                enabled: !page.components.checking
                Accessible.name: text
                onClicked: page.components.refresh()
            }
        }

        // Components.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 28
            Layout.rightMargin: 28
            spacing: 8

            Label {
                text: "КОМПОНЕНТЫ"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                font.letterSpacing: 0.6
                color: Theme.muted
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: componentsCard.implicitHeight + 32
                radius: 12
                color: Theme.surface
                border.color: Theme.border

                ColumnLayout {
                    id: componentsCard

                    anchors.fill: parent
                    anchors.margins: 16
                    spacing: 14

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10

                        Symbol {
                            Layout.alignment: Qt.AlignTop
                            name: page.componentsReady ? "checkmark.circle.fill" : "exclamationmark.triangle.fill"
                            color: page.componentsReady ? Theme.success : Theme.error
                            size: 22
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2

                            Label {
                                objectName: "componentsStatus"
                                Layout.fillWidth: true
                                text: SettingsTexts.overallStatus(page.components.missingTools,
                                                                  page.components.ipatoolNeedsUpdate)
                                font.weight: Font.DemiBold
                                wrapMode: Text.Wrap
                                color: Theme.ink
                            }

                            Label {
                                objectName: "componentsDetail"
                                Layout.fillWidth: true
                                text: SettingsTexts.detailLine(page.components.missingTools,
                                                               page.components.ipatoolNeedsUpdate)
                                wrapMode: Text.Wrap
                                color: Theme.muted
                            }
                        }
                    }

                    Repeater {
                        model: page.componentRows

                        delegate: RowLayout {
                            id: componentRow

                            required property var modelData
                            // The linter of Qt 6.4 loses the page's id in a delegate when a map is passed on.
                            // qmllint disable unqualified
                            readonly property string version: SettingsTexts.componentVersion(
                                                                  page.components.versions, modelData.name)
                            // qmllint enable unqualified

                            objectName: "componentRow_" + modelData.name
                            Layout.fillWidth: true
                            spacing: 12

                            Symbol {
                                name: "internaldrive"
                                color: Theme.muted
                                size: 18
                            }

                            ColumnLayout {
                                Layout.fillWidth: true
                                spacing: 2

                                Label {
                                    text: componentRow.modelData.title
                                    font.weight: Font.DemiBold
                                    color: Theme.ink
                                }

                                Label {
                                    Layout.fillWidth: true
                                    text: componentRow.modelData.detail
                                    wrapMode: Text.Wrap
                                    color: Theme.muted
                                }
                            }

                            Label {
                                objectName: "componentVersion"
                                text: componentRow.version
                                color: Theme.muted
                            }

                            Label {
                                objectName: "componentStatus"
                                Layout.minimumWidth: 120
                                horizontalAlignment: Text.AlignRight
                                text: SettingsTexts.componentStatus(componentRow.modelData.name,
                                                                    page.components.missingTools,
                                                                    page.components.ipatoolNeedsUpdate)
                                font.weight: Font.DemiBold
                                color: Theme.ink
                            }
                        }
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 12

                        PrimaryButton {
                            objectName: "installComponentsButton"
                            text: SettingsTexts.installTitle(page.components.installing,
                                                             page.components.missingTools,
                                                             page.components.ipatoolNeedsUpdate)
                            symbol: "arrow.down.circle"
                            // With everything in place there is nothing to install.
                            enabled: !page.components.installing && (page.components.missingTools.length > 0
                                                                      || page.components.ipatoolNeedsUpdate)
                            Accessible.name: text
                            onClicked: page.components.install()
                        }

                        IndeterminateSpinner {
                            Layout.preferredWidth: 16
                            Layout.preferredHeight: 16
                            visible: page.progressText.length > 0
                        }

                        Label {
                            objectName: "componentsProgress"
                            Layout.fillWidth: true
                            visible: page.progressText.length > 0
                            text: page.progressText
                            elide: Text.ElideRight
                            color: Theme.muted
                        }
                    }

                    IPAToolReleaseChooser {
                        Layout.fillWidth: true
                        components: page.components
                    }
                }
            }
        }

        // Caches.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 28
            Layout.rightMargin: 28
            spacing: 8

            Label {
                text: "КЭШ"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                font.letterSpacing: 0.6
                color: Theme.muted
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: cacheRow.implicitHeight + 32
                radius: 12
                color: Theme.surface
                border.color: Theme.border

                RowLayout {
                    id: cacheRow

                    anchors.fill: parent
                    anchors.margins: 16
                    spacing: 12

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2

                        Label {
                            text: "Иконки и каталог"
                            font.weight: Font.DemiBold
                            color: Theme.ink
                        }

                        Label {
                            objectName: "cacheSize"
                            // The linter of Qt 6.4 does not know 64-bit integers; they are numbers at run time.
                            // qmllint disable type
                            text: SettingsTexts.cacheSize(page.updates.cacheSizeBytes)
                            // qmllint enable type
                            color: Theme.muted
                        }
                    }

                    SecondaryButton {
                        objectName: "clearCacheButton"
                        text: "Сбросить кэш"
                        enabled: !page.updates.cacheClearing
                        Accessible.name: text
                        onClicked: page.cacheResetConfirmationShown = true
                    }
                }
            }
        }

        // The log.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 28
            Layout.rightMargin: 28
            Layout.bottomMargin: 28
            spacing: 8

            Label {
                text: "ЖУРНАЛ"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                font.letterSpacing: 0.6
                color: Theme.muted
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: logRow.implicitHeight + 32
                radius: 12
                color: Theme.surface
                border.color: Theme.border

                RowLayout {
                    id: logRow

                    anchors.fill: parent
                    anchors.margins: 16
                    spacing: 12

                    Label {
                        Layout.fillWidth: true
                        text: "Последние записи о работе приложения, без паролей и кодов. Пригодятся, если нужно разобраться в ошибке."
                        wrapMode: Text.Wrap
                        color: Theme.muted
                    }

                    SecondaryButton {
                        objectName: "saveLogButton"
                        text: "Сохранить журнал…"
                        Accessible.name: text
                        onClicked: logFileDialog.open()
                    }
                }
            }
        }
    }

    FileDialog {
        id: logFileDialog

        title: "Сохранить журнал"
        fileMode: FileDialog.SaveFile
        defaultSuffix: "log"
        nameFilters: ["Журнал (*.log)", "Все файлы (*)"]
        onAccepted: AppModel.saveLog(selectedFile)
    }

    Dialog {
        id: cacheConfirmation

        objectName: "cacheResetConfirmation"
        modal: true
        focus: true
        anchors.centerIn: Overlay.overlay
        width: 420
        padding: 24
        closePolicy: Popup.CloseOnEscape
        header: null
        footer: null
        onOpened: confirmClearButton.forceActiveFocus()
        onClosed: page.cacheResetConfirmationShown = false

        background: Rectangle {
            radius: 14
            color: Theme.surface
            border.color: Theme.border
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 14

            SheetHeading {
                Layout.fillWidth: true
                title: "Сбросить кэш?"
                subtitle: "Будут удалены иконки и сохранённая копия каталога. Загруженные IPA не изменятся."
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                Item {
                    Layout.fillWidth: true
                }

                SecondaryButton {
                    objectName: "cancelClearCacheButton"
                    text: "Отмена"
                    Accessible.name: text
                    onClicked: cacheConfirmation.close()
                }

                PrimaryButton {
                    id: confirmClearButton

                    objectName: "confirmClearCacheButton"
                    text: "Сбросить кэш"
                    Accessible.name: text
                    onClicked: {
                        page.updates.clearCacheFromPage()
                        cacheConfirmation.close()
                    }
                }
            }
        }
    }
}
