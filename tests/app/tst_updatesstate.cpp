#include "AppModel.h"
#include "TestEnvironment.h"

#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

// Where the update check looks, and the silent check that runs once.
class tst_UpdatesState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void manifestAddressFromBundleInfo_data();
    void manifestAddressFromBundleInfo();
    void automaticCheckRunsOnce();

private:
    test::TemporaryDataDirectory m_dir;
};

void tst_UpdatesState::manifestAddressFromBundleInfo_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QUrl>("expected");

    const QUrl fallback(u"https://mirvo.app/download/latest.json"_s);
    QTest::newRow("absent") << QVariant() << fallback;
    QTest::newRow("a number") << QVariant(42) << fallback;
    QTest::newRow("not a url") << QVariant(u"не адрес"_s) << fallback;
    QTest::newRow("relative") << QVariant(u"latest.json"_s) << fallback;
    QTest::newRow("no host") << QVariant(u"file:///latest.json"_s) << fallback;
    QTest::newRow("a url") << QVariant(u"https://mirror.example/download/latest.json"_s)
                           << QUrl(u"https://mirror.example/download/latest.json"_s);
}

void tst_UpdatesState::manifestAddressFromBundleInfo()
{
    QFETCH(QVariant, value);
    QFETCH(QUrl, expected);

    QVariantMap bundle;
    if (value.isValid())
        bundle.insert(u"SolvenaUpdateManifestURL"_s, value);
    AppModel model(test::modelEnvironment(m_dir, bundle));
    QCOMPARE(model.updates()->manifestURL(), expected);
}

void tst_UpdatesState::automaticCheckRunsOnce()
{
    AppModel model(test::modelEnvironment(m_dir));
    UpdatesState* updates = model.updates();
    QVERIFY(updates->automaticCheck().isEmpty());
    updates->startAutomaticCheck();
    const quint64 first = updates->automaticCheck().serial();
    updates->startAutomaticCheck();
    QCOMPARE(updates->automaticCheck().serial(), first);
    QTRY_VERIFY(updates->automaticCheck().isFinished());
    QVERIFY(!updates->checking());
}

QTEST_MAIN(tst_UpdatesState)
#include "tst_updatesstate.moc"
