import QtQuick
import QtQuick.Layouts
import Mirvo

Item {
    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 28
        spacing: 16

        PageHeading {
            Layout.fillWidth: true
            title: AppModel.pageTitle(AppModel.Settings)
            subtitle: "Проверка компонентов для работы приложения."
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
