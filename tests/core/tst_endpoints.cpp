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
        const auto ca = [this](Endpoints& e) { e.extraCertificateAuthorities = caPath(); };
        row("authorities, absolute path", "{'extraCertificateAuthorities': '" + caPath().toUtf8() + "'}", ca);
        row("authorities, relative to the file", "{'extraCertificateAuthorities': 'authorities/ca.pem'}", ca);
        row("authorities, dotted relative path",
            "{'extraCertificateAuthorities': './authorities/../authorities/ca.pem'}", ca);
        row("authorities, empty for none", "{'extraCertificateAuthorities': ''}", [](Endpoints&) {});
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
        // Every other field keeps its default.
        QVERIFY(std::get<Endpoints>(loaded) == expected);
    }

    void errors_data()
    {
        QTest::addColumn<QByteArray>("json"); // ' for "; null: no file at all
        QTest::addColumn<QString>("reason");

        const auto row = [](const char* name, const QByteArray& json, const QString& reason) {
            QTest::newRow(name) << json << reason;
        };
        const auto notURL = [](const char* key, const char* value) {
            return u"значение «%1» («%2») не является абсолютным адресом http или https"_s.arg(
                QLatin1String(key), QLatin1String(value));
        };
        const auto certificates = [this](const QString& path, const QString& what) -> QString {
            return u"файл сертификатов «"_s + m_dir.filePath(path) + u"» "_s + what;
        };
        row("missing file", QByteArray(), u"файл не существует"_s);
        row("not JSON", "appStoreLookup = x", u"это не JSON (ошибка в позиции 1)"_s);
        row("truncated JSON", "{'gitHubApi': 'http://a.test'", u"это не JSON (ошибка в позиции 29)"_s);
        row("array", "['gitHubApi']", u"ожидался JSON-объект"_s);
        row("unknown member", "{'gitHubAPI': 'http://a.test'}", u"неизвестный ключ «gitHubAPI»"_s);
        row("text a number", "{'gitHubWebHost': 1}", u"значение «gitHubWebHost» должно быть строкой"_s);
        row("text empty", "{'ipatoolRepository': ''}",
            u"значение «ipatoolRepository» не может быть пустым"_s);
        row("URL an object", "{'appStoreLookup': {}}", u"значение «appStoreLookup» должно быть строкой"_s);
        row("URL of another scheme", "{'updateManifest': 'ftp://mirror.test/latest.json'}",
            notURL("updateManifest", "ftp://mirror.test/latest.json"));
        row("URL invalid", "{'faviconService': 'http://exa mple.test'}",
            notURL("faviconService", "http://exa mple.test"));
        const QString notCountries = u"значение «lookupFallbackCountries» должно быть массивом строк"_s;
        row("countries a string", "{'lookupFallbackCountries': 'us'}", notCountries);
        row("countries with a number", "{'lookupFallbackCountries': ['us', 1]}", notCountries);
        row("country not two letters", "{'lookupFallbackCountries': ['usa']}",
            u"в «lookupFallbackCountries» код страны «usa» не из двух латинских букв"_s);
        row("authorities a list", "{'extraCertificateAuthorities': ['ca.pem']}",
            u"значение «extraCertificateAuthorities» должно быть строкой"_s);
        row("authorities missing", "{'extraCertificateAuthorities': 'authorities/gone.pem'}",
            certificates(u"authorities/gone.pem"_s, u"не существует"_s));
        row("authorities a folder", "{'extraCertificateAuthorities': 'authorities'}",
            certificates(u"authorities"_s, u"не читается"_s));
        row("authorities without a certificate", "{'extraCertificateAuthorities': 'authorities/none.pem'}",
            u"в файле «"_s + m_dir.filePath(u"authorities/none.pem"_s) +
                u"» нет сертификатов в формате PEM"_s);
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
