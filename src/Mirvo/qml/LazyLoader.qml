import QtQuick

// A Loader that builds its item the first time `needed` turns true and keeps it from then on. With `file`
// the component is read only then, so whatever it imports costs nothing before; `properties` are the
// item's initial (also required) properties. Otherwise it builds `sourceComponent`.
Loader {
    id: loader

    property bool needed: false
    property string file: ""
    property var properties: ({})

    function build() {
        if (!needed || active)
            return
        if (file.length > 0)
            setSource(file, properties)
        active = true
    }

    active: false
    onNeededChanged: build()
    Component.onCompleted: build()
}
