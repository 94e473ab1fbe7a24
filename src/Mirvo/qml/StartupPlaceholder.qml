import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

ColumnLayout {
    spacing: 12

    IndeterminateSpinner {
        Layout.alignment: Qt.AlignHCenter
    }

    Label {
        Layout.alignment: Qt.AlignHCenter
        text: "Подготавливаем приложение…"
        font.pixelSize: 20
        font.weight: Font.DemiBold
        color: Theme.ink
    }

    Label {
        Layout.alignment: Qt.AlignHCenter
        text: "Проверяем подключение и загружаем список приложений."
        font.pixelSize: 14
        color: Theme.muted
    }
}
