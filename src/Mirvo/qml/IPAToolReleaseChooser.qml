import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mirvo

// Which ipatool release the application uses: the latest, or one of the recent ones the user picks. The
// list is fetched the first time it is opened; choosing installs that release in place of the current one.
RowLayout {
    id: chooser

    required property ComponentsState components

    readonly property string chosenTag: components.chosenIPAToolRelease
    // The latest first, then the fetched releases, and the chosen one even before the list arrives.
    readonly property var choices: {
        const list = [{ "tag": "", "text": "Последняя версия" }]
        let chosenListed = chosenTag.length === 0
        for (const release of components.ipatoolReleases) {
            list.push({ "tag": release.tag, "text": release.version })
            chosenListed = chosenListed || release.tag === chosenTag
        }
        if (!chosenListed)
            list.push({ "tag": chosenTag, "text": chosenTag })
        return list
    }

    spacing: 12

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2

        Label {
            text: "Версия IPATool"
            font.weight: Font.DemiBold
            color: Theme.ink
        }

        Label {
            Layout.fillWidth: true
            text: chooser.components.releasesLoading ? "Загружаем список выпусков…"
                                                     : "Выбранный выпуск сохраняется до следующего выбора."
            wrapMode: Text.Wrap
            color: Theme.muted
        }
    }

    ComboBox {
        id: releaseBox

        objectName: "ipatoolReleaseBox"
        Layout.preferredWidth: 200
        model: chooser.choices
        textRole: "text"
        valueRole: "tag"
        currentIndex: Math.max(0, chooser.choices.findIndex(choice => choice.tag === chooser.chosenTag))
        enabled: !chooser.components.installing
        Accessible.name: "Версия IPATool"
        onActivated: index => {
            const tag = chooser.choices[index].tag
            if (tag !== chooser.chosenTag)
                chooser.components.chooseRelease(tag)
        }

        Connections {
            target: releaseBox.popup

            function onAboutToShow() {
                if (chooser.components.ipatoolReleases.length === 0)
                    chooser.components.loadReleases()
            }
        }
    }
}
