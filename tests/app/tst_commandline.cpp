#include <QProcess>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

// The executable answers --version and --help without a window and without a display.
class tst_CommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        QTest::newRow("version") << u"--version"_s << u"Mirvo " MIRVO_VERSION_TEXT u"\n"_s;
        QTest::newRow("help") << u"--help"_s << u"--verbose"_s;
    }

    void answers()
    {
        QFETCH(QString, option);
        QFETCH(QString, expected);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
        environment.remove(u"QT_QPA_PLATFORM"_s);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(MIRVO_EXECUTABLE), {option});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        if (option == u"--version"_s) {
            QCOMPARE(output, expected);
        } else {
            QVERIFY2(output.contains(expected), qPrintable(output));
            QVERIFY(output.contains(u"Сольвена возвращает на iPhone приложения"_s));
        }
    }

    void unknownOptionFails()
    {
        QProcess process;
        process.start(QStringLiteral(MIRVO_EXECUTABLE), {u"--no-such-option"_s});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(u"no-such-option"_s));
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
