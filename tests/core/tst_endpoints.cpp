#include "Endpoints.h"
#include "LoopbackHttpServer.h"
#include "TemporaryDataDirectory.h"

#include <QtTest>

#include <variant>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(mirvo::Endpoints)

namespace {

// Every field, so that a failed comparison shows what differs.
QString describe(const Endpoints& e)
{
    return QStringList{e.gitHubApi.toString(),
                       e.gitHubWebHost,
                       e.gitHubRawContent.toString(),
                       e.ipatoolRepository,
                       e.goIOSRepository,
                       e.removedAppsRepository,
                       e.removedAppsPath,
                       e.removedAppsBranch,
                       e.topAppsRepository,
                       e.topAppsPath,
                       e.topAppsBranch,
                       e.appStoreLookup.toString(),
                       u'[' + e.lookupFallbackCountries.join(u',') + u']',
                       e.appStoreWebHost,
                       e.faviconService.toString(),
                       e.faviconPath,
                       e.updateManifest.toString(),
                       e.extraCertificateAuthorities}
        .join(u'\n');
}

// Test JSON is written with ' for " to stay readable.
QByteArray json(QByteArray text)
{
    return text.replace('\'', '"');
}

} // namespace

class tst_Endpoints : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkpath(u"authorities"_s));
        QVERIFY(QFile::copy(LoopbackHttpServer::certificateAuthorityPath(), caPath()));
        writeFile(m_dir.filePath(u"authorities/none.pem"_s), "not a certificate\n");
    }

    void defaults()
    {
        const Endpoints endpoints;
        QCOMPARE(endpoints.gitHubApi, QUrl(u"https://api.github.com"_s));
        QCOMPARE(endpoints.appStoreLookup, QUrl(u"https://itunes.apple.com"_s));
        QCOMPARE(endpoints.lookupFallbackCountries, QStringList{u"us"_s});
        QCOMPARE(endpoints.extraCertificateAuthorities, QString());
    }

    void overrides_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Endpoints>("expected");
        const auto row = [](const char* name, const QByteArray& json, auto change) {
            Endpoints expected;
            change(expected);
            QTest::newRow(name) << json << expected;
        };

        row("empty object", "{}", [](Endpoints&) {});
        row("URL", "{'gitHubApi': 'http://127.0.0.1:8080/api'}",
            [](Endpoints& e) { e.gitHubApi = QUrl(u"http://127.0.0.1:8080/api"_s); });
        row("URL with a port", "{'appStoreLookup': 'https://mirror.example:8443'}",
            [](Endpoints& e) { e.appStoreLookup = QUrl(u"https://mirror.example:8443"_s); });
        row("every URL",
            "{'gitHubApi': 'http://a.test', 'gitHubRawContent': 'http://b.test',"
            "'appStoreLookup': 'http://c.test', 'faviconService': 'http://d.test',"
            "'updateManifest': 'http://e.test/latest.json'}",
            [](Endpoints& e) {
                e.gitHubApi = QUrl(u"http://a.test"_s);
                e.gitHubRawContent = QUrl(u"http://b.test"_s);
                e.appStoreLookup = QUrl(u"http://c.test"_s);
                e.faviconService = QUrl(u"http://d.test"_s);
                e.updateManifest = QUrl(u"http://e.test/latest.json"_s);
            });
        row("host", "{'gitHubWebHost': '127.0.0.1'}", [](Endpoints& e) { e.gitHubWebHost = u"127.0.0.1"_s; });
        row("every text",
            "{'gitHubWebHost': 'g', 'ipatoolRepository': 'o/i', 'goIOSRepository': 'o/g',"
            "'removedAppsRepository': 'o/r', 'removedAppsPath': 'r.txt', 'removedAppsBranch': 'rb',"
            "'topAppsRepository': 'o/t', 'topAppsPath': 't.json', 'topAppsBranch': 'tb',"
            "'appStoreWebHost': 's', 'faviconPath': '/f'}",
            [](Endpoints& e) {
                e.gitHubWebHost = u"g"_s;
                e.ipatoolRepository = u"o/i"_s;
                e.goIOSRepository = u"o/g"_s;
                e.removedAppsRepository = u"o/r"_s;
                e.removedAppsPath = u"r.txt"_s;
                e.removedAppsBranch = u"rb"_s;
                e.topAppsRepository = u"o/t"_s;
                e.topAppsPath = u"t.json"_s;
                e.topAppsBranch = u"tb"_s;
                e.appStoreWebHost = u"s"_s;
                e.faviconPath = u"/f"_s;
            });
        row("countries", "{'lookupFallbackCountries': ['gb', 'DE']}", [](Endpoints& e) {
            e.lookupFallbackCountries = {u"gb"_s, u"DE"_s};
        });
        row("no countries", "{'lookupFallbackCountries': []}",
            [](Endpoints& e) { e.lookupFallbackCountries.clear(); });
        row("authorities, absolute path", "{'extraCertificateAuthorities': '" + caPath().toUtf8() + "'}",
            [this](Endpoints& e) { e.extraCertificateAuthorities = caPath(); });
        row("authorities, relative to the file", "{'extraCertificateAuthorities': 'authorities/ca.pem'}",
            [this](Endpoints& e) { e.extraCertificateAuthorities = caPath(); });
        row("authorities, dotted relative path",
            "{'extraCertificateAuthorities': './authorities/../authorities/ca.pem'}",
            [this](Endpoints& e) { e.extraCertificateAuthorities = caPath(); });
        row("authorities, empty for none", "{'extraCertificateAuthorities': ''}", [](Endpoints&) {});
        row("partial file keeps the other defaults",
            "{'appStoreLookup': 'http://127.0.0.1:1', 'topAppsBranch': 'test'}", [](Endpoints& e) {
                e.appStoreLookup = QUrl(u"http://127.0.0.1:1"_s);
                e.topAppsBranch = u"test"_s;
            });
    }

    void overrides()
    {
        QFETCH(QByteArray, json);
        QFETCH(Endpoints, expected);
        const QString path = m_dir.filePath(u"endpoints.json"_s);
        writeFile(path, ::json(json));

        std::variant<Endpoints, QString> loaded = Endpoints::load(path);
        if (const QString* error = std::get_if<QString>(&loaded))
            QFAIL(qPrintable(*error));
        QCOMPARE(describe(std::get<Endpoints>(loaded)), describe(expected));
        QVERIFY(std::get<Endpoints>(loaded) == expected);
    }

    void errors_data()
    {
        QTest::addColumn<QByteArray>("json"); // ' for "; null: no file at all
        QTest::addColumn<QString>("reason");

        QTest::newRow("missing file") << QByteArray() << u"файл не существует"_s;
        QTest::newRow("empty file") << ""_ba << u"это не JSON (ошибка в позиции 0)"_s;
        QTest::newRow("not JSON") << "appStoreLookup = x"_ba << u"это не JSON (ошибка в позиции 1)"_s;
        QTest::newRow("truncated JSON")
            << "{'gitHubApi': 'http://a.test'"_ba << u"это не JSON (ошибка в позиции 29)"_s;
        QTest::newRow("array") << "['gitHubApi']"_ba << u"ожидался JSON-объект"_s;
        QTest::newRow("unknown member")
            << "{'gitHubAPI': 'http://a.test'}"_ba << u"неизвестный ключ «gitHubAPI»"_s;
        QTest::newRow("text a number")
            << "{'gitHubWebHost': 1}"_ba << u"значение «gitHubWebHost» должно быть строкой"_s;
        QTest::newRow("text null") << "{'topAppsPath': null}"_ba
                                   << u"значение «topAppsPath» должно быть строкой"_s;
        QTest::newRow("text empty") << "{'ipatoolRepository': ''}"_ba
                                    << u"значение «ipatoolRepository» не может быть пустым"_s;
        QTest::newRow("URL an object")
            << "{'appStoreLookup': {}}"_ba << u"значение «appStoreLookup» должно быть строкой"_s;
        QTest::newRow("URL without scheme")
            << "{'appStoreLookup': 'itunes.apple.com'}"_ba
            << u"значение «appStoreLookup» («itunes.apple.com») не является абсолютным адресом http или https"_s;
        QTest::newRow("URL relative")
            << "{'gitHubApi': '/api'}"_ba
            << u"значение «gitHubApi» («/api») не является абсолютным адресом http или https"_s;
        QTest::newRow("URL of another scheme")
            << "{'updateManifest': 'ftp://mirror.test/latest.json'}"_ba
            << u"значение «updateManifest» («ftp://mirror.test/latest.json») не является абсолютным адресом "
               u"http "
               u"или https"_s;
        QTest::newRow("URL invalid") << "{'faviconService': 'http://exa mple.test'}"_ba
                                     << u"значение «faviconService» («http://exa mple.test») не является "
                                        u"абсолютным адресом http или https"_s;
        QTest::newRow("countries a string")
            << "{'lookupFallbackCountries': 'us'}"_ba
            << u"значение «lookupFallbackCountries» должно быть массивом строк"_s;
        QTest::newRow("countries with a number")
            << "{'lookupFallbackCountries': ['us', 1]}"_ba
            << u"значение «lookupFallbackCountries» должно быть массивом строк"_s;
        QTest::newRow("country not two letters")
            << "{'lookupFallbackCountries': ['usa']}"_ba
            << u"в «lookupFallbackCountries» код страны «usa» не из двух "
               u"латинских букв"_s;
        QTest::newRow("authorities a list")
            << "{'extraCertificateAuthorities': ['ca.pem']}"_ba
            << u"значение «extraCertificateAuthorities» должно быть строкой"_s;
        QTest::newRow("authorities missing")
            << "{'extraCertificateAuthorities': 'authorities/gone.pem'}"_ba
            << u"файл сертификатов «"_s + m_dir.filePath(u"authorities/gone.pem"_s) + u"» не существует"_s;
        QTest::newRow("authorities a folder")
            << "{'extraCertificateAuthorities': 'authorities'}"_ba
            << u"файл сертификатов «"_s + m_dir.filePath(u"authorities"_s) + u"» не читается"_s;
        QTest::newRow("authorities without a certificate")
            << "{'extraCertificateAuthorities': 'authorities/none.pem'}"_ba
            << u"в файле «"_s + m_dir.filePath(u"authorities/none.pem"_s) +
                   u"» нет сертификатов в формате PEM"_s;
    }

    void errors()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(u"broken.json"_s);
        QFile::remove(path);
        if (!json.isNull())
            writeFile(path, ::json(json));

        std::variant<Endpoints, QString> loaded = Endpoints::load(path);
        QVERIFY(std::holds_alternative<QString>(loaded));
        QCOMPARE(std::get<QString>(loaded),
                 u"Не удалось прочитать файл адресов MIRVO_ENDPOINTS ("_s + path + u"): "_s + reason + u'.');
    }

    void folderInsteadOfFile()
    {
        QCOMPARE(std::get<QString>(Endpoints::load(m_dir.path())),
                 u"Не удалось прочитать файл адресов MIRVO_ENDPOINTS ("_s + m_dir.path() +
                     u"): это папка, а не файл."_s);
    }

private:
    QString caPath() const { return m_dir.filePath(u"authorities/ca.pem"_s); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_Endpoints)
#include "tst_endpoints.moc"
