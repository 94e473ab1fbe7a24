import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// The Apple ID sign-in: the address and password, then the code from a trusted device. It follows the
// account's login stage: the password goes to the session when ipatool asks for it, the code step opens
// when a code is asked for, and a successful sign-in closes the Apple ID sheet. Only the typed text, the
// focus and whether the password went out are kept here.
ColumnLayout {
    id: form

    required property AccountState account
    required property ComponentsState components

    property string email: ""
    property string password: ""
    property string code: ""
    property bool passwordIsVisible: false
    property bool passwordSubmitted: false
    // "email", "password", "code", or "" for none.
    property string focusedField: ""

    // The user asked to close the sheet without signing in.
    signal closeRequested

    // The linter of Qt 6.4 takes the value type and its kinds, registered under one C++ name, for one type
    // and sees neither the members nor the kinds; both work at run time.
    // qmllint disable unqualified type
    readonly property int stage: account.loginStage.kind
    readonly property bool codeStep: stage === AuthenticationEvent.Code
    readonly property bool failed: stage === AuthenticationEvent.Failure
    readonly property bool working: stage === AuthenticationEvent.Working
    // qmllint enable unqualified type
    readonly property string blockedMessage: SheetTexts.loginBlockedMessage(components.missingTools,
                                                                            components.ipatoolNeedsUpdate)
    readonly property bool canSubmitCredentials: SheetTexts.canSubmitCredentials(email, password,
                                                                                  components.missingTools,
                                                                                  components.ipatoolNeedsUpdate)
    readonly property bool codeAcceptable: SheetTexts.codeAcceptable(code)
    readonly property string status: SheetTexts.loginStatus(account.loginStage, passwordSubmitted)
    // A failure stays on show until the next attempt; the other stages only while an attempt runs.
    readonly property bool statusShown: status.length > 0
                                        && (account.loginStarted || failed)

    function focusField(name) {
        focusedField = name
        // After the bindings of this turn, so that a field just made visible can take the focus.
        Qt.callLater(applyFocus)
    }

    function applyFocus() {
        const field = {
            "email": emailField,
            "password": passwordField,
            "code": codeField
        }[focusedField]
        if (field)
            field.forceActiveFocus()
    }

    // The password stays in the form until ipatool asks for it.
    function submitCredentials() {
        if (canSubmitCredentials)
            account.startLogin(email)
    }

    function confirmCode() {
        if (!codeAcceptable)
            return
        account.submitCode(code)
        code = ""
    }

    function backToCredentials() {
        password = ""
        code = ""
        passwordSubmitted = false
        account.cancelLogin()
        focusField("email")
    }

    function retry() {
        passwordSubmitted = false
        account.cancelLogin()
        focusField(email.length > 0 ? "password" : "email")
    }

    // Follows a new login stage: the password goes when ipatool asks for it, once per attempt, and leaves
    // the form; a code step starts empty and focused; a failure allows the password to go again.
    // qmllint disable unqualified type
    function follow() {
        const kind = account.loginStage.kind
        if (kind === AuthenticationEvent.Password) {
            if (passwordSubmitted || password.length === 0)
                return
            passwordSubmitted = true
            account.submitPassword(password)
            password = ""
        } else if (kind === AuthenticationEvent.Code) {
            code = ""
            focusField("code")
        } else if (kind === AuthenticationEvent.Failure) {
            passwordSubmitted = false
        }
    }
    // qmllint enable unqualified type

    Connections {
        target: form.account

        function onLoginStageChanged() {
            form.follow()
        }

        // A new account: the sign-in went through, and the sheet has done its work.
        function onEmailChanged() {
            if (form.account.signedIn)
                form.account.modal = AccountState.None
        }
    }

    spacing: 12

    // The address and the password.
    ColumnLayout {
        objectName: "credentialsStep"
        Layout.fillWidth: true
        visible: !form.codeStep
        spacing: 10

        ErrorNotice {
            objectName: "loginBlocked"
            Layout.fillWidth: true
            message: form.blockedMessage
            visible: message.length > 0
        }

        TextField {
            id: emailField

            objectName: "emailField"
            Layout.fillWidth: true
            placeholderText: "name@example.com"
            text: form.email
            inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
            Accessible.name: "Apple ID"
            onTextEdited: form.email = text
            onActiveFocusChanged: if (activeFocus) form.focusedField = "email"
            onAccepted: form.submitCredentials()
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            TextField {
                id: passwordField

                objectName: "passwordField"
                Layout.fillWidth: true
                placeholderText: "Пароль Apple ID"
                text: form.password
                echoMode: form.passwordIsVisible ? TextInput.Normal : TextInput.Password
                inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoPredictiveText
                Accessible.name: "Пароль Apple ID"
                onTextEdited: form.password = text
                onActiveFocusChanged: if (activeFocus) form.focusedField = "password"
                onAccepted: form.submitCredentials()
            }

            PlainPointerButton {
                objectName: "passwordVisibilityButton"
                text: form.passwordIsVisible ? "Скрыть пароль" : "Показать пароль"
                Accessible.name: text
                onClicked: form.passwordIsVisible = !form.passwordIsVisible
            }
        }

        Label {
            Layout.fillWidth: true
            text: "Пароль и код нужны только для входа в Apple. «Сольвена» их не сохраняет."
            wrapMode: Text.Wrap
            color: Theme.muted
            font.pixelSize: 12
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8

            PlainPointerButton {
                text: "Отмена"
                Accessible.name: text
                onClicked: form.closeRequested()
            }

            Item {
                Layout.fillWidth: true
            }

            PrimaryButton {
                objectName: "submitCredentialsButton"
                text: "Войти"
                symbol: "arrow.right"
                enabled: form.canSubmitCredentials
                Accessible.name: text
                onClicked: form.submitCredentials()
            }
        }
    }

    // The code from a trusted device.
    ColumnLayout {
        objectName: "codeStep"
        Layout.fillWidth: true
        visible: form.codeStep
        spacing: 10

        Label {
            Layout.fillWidth: true
            text: "Код подтверждения"
            font.weight: Font.DemiBold
            color: Theme.ink
        }

        Label {
            Layout.fillWidth: true
            text: "Введите код с доверенного устройства Apple."
            wrapMode: Text.Wrap
            color: Theme.muted
        }

        TextField {
            id: codeField

            objectName: "codeField"
            Layout.fillWidth: true
            placeholderText: "000000"
            text: form.code
            inputMethodHints: Qt.ImhDigitsOnly
            font.letterSpacing: 4
            Accessible.name: "Код подтверждения"
            onTextEdited: form.code = text
            onActiveFocusChanged: if (activeFocus) form.focusedField = "code"
            onAccepted: form.confirmCode()
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8

            PlainPointerButton {
                objectName: "backToCredentialsButton"
                text: "Вернуться к данным Apple ID"
                symbol: "arrow.uturn.backward"
                Accessible.name: text
                onClicked: form.backToCredentials()
            }

            Item {
                Layout.fillWidth: true
            }

            PrimaryButton {
                objectName: "confirmCodeButton"
                text: "Подтвердить"
                enabled: form.codeAcceptable
                Accessible.name: text
                onClicked: form.confirmCode()
            }
        }
    }

    // How the attempt goes.
    RowLayout {
        objectName: "loginStatusRow"
        Layout.fillWidth: true
        visible: form.statusShown
        spacing: 8

        IndeterminateSpinner {
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            visible: form.working
        }

        Symbol {
            visible: !form.working
            name: form.failed ? "exclamationmark.triangle.fill"
                                                            : "checkmark.circle.fill"
            color: form.failed ? Theme.error : Theme.success
            size: 16
        }

        Label {
            objectName: "loginStatus"
            Layout.fillWidth: true
            text: form.status
            wrapMode: Text.Wrap
            color: form.failed ? Theme.error : Theme.ink
        }

        PlainPointerButton {
            objectName: "retryButton"
            visible: form.failed
            text: "Попробовать снова"
            symbol: "arrow.clockwise"
            Accessible.name: text
            onClicked: form.retry()
        }
    }
}
