import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

Item {
    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 28
        spacing: 16

        PageHeading {
            Layout.fillWidth: true
            title: "Настройки"
            subtitle: "Проверка компонентов для работы приложения."
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
