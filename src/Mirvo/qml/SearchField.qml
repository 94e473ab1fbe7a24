import QtQuick
import QtQuick.Controls
import Mirvo

// A search field with its clear button; `text` is written back through `edited`.
TextField {
    id: field

    signal edited(string text)

    placeholderText: "Найти приложение или добавить по ID"
    leftPadding: 34
    rightPadding: clear.visible ? 34 : 12
    Accessible.name: placeholderText
    onTextEdited: edited(text)

    Symbol {
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        name: "magnifyingglass"
        color: Theme.muted
        size: 16
    }

    PlainPointerButton {
        id: clear

        objectName: "clearSearch"
        anchors.right: parent.right
        anchors.rightMargin: 4
        anchors.verticalCenter: parent.verticalCenter
        visible: field.text.length > 0
        symbol: "xmark.circle.fill"
        text: ""
        help: "Очистить поиск"
        Accessible.name: "Очистить поиск"
        onClicked: field.edited("")
    }
}
