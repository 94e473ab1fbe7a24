import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The Apple ID: the signed-in account with its sign-out, or the sign-in form. Open while the account's
// modal is AppleID; closing it sets the modal back to None.
Popup {
    id: sheet

    required property AccountState account
    required property ComponentsState components

    readonly property bool shown: account.modal === AccountState.AppleID

    onShownChanged: shown ? open() : close()
    Component.onCompleted: if (shown) open()
    onOpened: {
        if (account.signedIn)
            signOutButton.forceActiveFocus()
        else
            form.focusField(form.codeStep ? "code" : "email")
    }
    // Closed by the user (Escape or "Закрыть") rather than by the model.
    onClosed: if (shown) account.modal = AccountState.None

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

        // Signed in.
        ColumnLayout {
            objectName: "signedInView"
            Layout.fillWidth: true
            visible: sheet.account.signedIn
            spacing: 16

            SheetHeading {
                Layout.fillWidth: true
                title: "Apple ID подключён"
                subtitle: "Этот аккаунт используется для загрузки приложений из App Store."
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: stateRow.implicitHeight + 24
                radius: 10
                color: Theme.background
                border.color: Theme.border

                RowLayout {
                    id: stateRow

                    anchors.fill: parent
                    anchors.margins: 12
                    spacing: 10

                    Symbol {
                        name: "person.crop.circle.fill"
                        color: Theme.accent
                        size: 28
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2

                        Label {
                            text: "Состояние"
                            color: Theme.muted
                            font.pixelSize: 12
                        }

                        Label {
                            text: "Аккаунт подключён"
                            color: Theme.ink
                            font.weight: Font.DemiBold
                        }
                    }

                    Label {
                        objectName: "signedInEmail"
                        Layout.maximumWidth: 220
                        text: sheet.account.email
                        elide: Text.ElideMiddle
                        color: Theme.ink
                    }
                }
            }

            Label {
                Layout.fillWidth: true
                text: "Чтобы использовать другой Apple ID, выйдите из текущего аккаунта. После выхода здесь сразу появится форма входа."
                wrapMode: Text.Wrap
                color: Theme.muted
            }

            ErrorNotice {
                objectName: "logoutError"
                Layout.fillWidth: true
                message: sheet.account.logoutError
                visible: message.length > 0
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                PlainPointerButton {
                    text: "Закрыть"
                    Accessible.name: text
                    onClicked: sheet.close()
                }

                Item {
                    Layout.fillWidth: true
                }

                SecondaryButton {
                    id: signOutButton

                    objectName: "signOutButton"
                    text: "Выйти из Apple ID"
                    Accessible.name: text
                    onClicked: sheet.account.signOut()
                }
            }
        }

        // Signed out.
        ColumnLayout {
            objectName: "signInView"
            Layout.fillWidth: true
            visible: !sheet.account.signedIn
            spacing: 16

            SheetHeading {
                Layout.fillWidth: true
                title: "Подключите Apple ID"
                subtitle: "Используйте Apple ID, с которым вы раньше получали нужные приложения."
            }

            SignInForm {
                id: form

                objectName: "signInForm"
                Layout.fillWidth: true
                account: sheet.account
                components: sheet.components
                onCloseRequested: sheet.close()
            }
        }
    }
}
