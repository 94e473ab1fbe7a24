#include "LogBuffer.h"
#include "LogCategories.h"

#include <QtTest>

#include <mutex>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

// What the handler in place before the buffer received.
std::mutex s_lock;
QStringList s_forwarded;
QStringList s_forwardedCategories;

void recordForwarded(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    std::lock_guard lock(s_lock);
    s_forwarded.append(message);
    s_forwardedCategories.append(QString::fromUtf8(context.category ? context.category : ""));
}

} // namespace

class tst_LogBuffer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        std::lock_guard lock(s_lock);
        s_forwarded.clear();
        s_forwardedCategories.clear();
    }

    void keepsOnlyTheLastLines()
    {
        LogBuffer buffer(5);
        for (int index = 0; index < 12; ++index)
            buffer.append(QtInfoMsg, "mirvo.tools", u"line %1"_s.arg(index));
        const QStringList lines = buffer.lines();
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.constFirst().endsWith(u"line 7"_s));
        QVERIFY(lines.constLast().endsWith(u"line 11"_s));
    }

    void formatsTimeLevelAndCategory()
    {
        LogBuffer buffer;
        const QDateTime time(QDate(2026, 12, 7), QTime(14, 5, 9, 42), Qt::UTC);
        buffer.append(QtWarningMsg, "mirvo.store", u"saving failed"_s, time);
        buffer.append(QtInfoMsg, nullptr, u"for jane@example.com"_s, time);
        // Masked by the tool output's rule, whose own tests cover what it hides.
        QCOMPARE(buffer.lines(),
                 (QStringList{u"2026-12-07T14:05:09.042Z warning mirvo.store: saving failed"_s,
                              u"2026-12-07T14:05:09.042Z info default: for [скрыто]"_s}));
        QCOMPARE(buffer.text(), buffer.lines().join(u'\n').toUtf8() + '\n');
        buffer.clear();
        QVERIFY(buffer.lines().isEmpty());
    }

    void installedBufferKeepsAndForwardsMaskedMessages()
    {
        const QtMessageHandler original = qInstallMessageHandler(&recordForwarded);
        const QString rules = u"mirvo.*=true"_s;
        QLoggingCategory::setFilterRules(rules);
        {
            LogBuffer buffer;
            buffer.install();
            QCOMPARE(LogBuffer::installed(), &buffer);
            qCInfo(lcTools).noquote() << "ipatool auth info for jane@example.com";
            qCDebug(lcNetwork) << "GET example.com/path";
            buffer.uninstall();
            QCOMPARE(LogBuffer::installed(), nullptr);
            qCInfo(lcTools) << "after uninstalling";

            const QStringList lines = buffer.lines();
            QCOMPARE(lines.size(), 2);
            QVERIFY(lines.at(0).contains(u" info mirvo.tools: ipatool auth info for [скрыто]"_s));
            QVERIFY(lines.at(1).contains(u" debug mirvo.network: "_s));
        }
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(original);

        std::lock_guard lock(s_lock);
        QCOMPARE(s_forwarded.size(), 3);
        QCOMPARE(s_forwarded.at(0), u"ipatool auth info for [скрыто]"_s);
        QCOMPARE(s_forwardedCategories.at(0), u"mirvo.tools"_s);
        QCOMPARE(s_forwardedCategories.at(1), u"mirvo.network"_s);
        // Once uninstalled, the earlier handler is back in place and the buffer no longer sees anything.
        QCOMPARE(s_forwarded.at(2), u"after uninstalling"_s);
    }

    void categoriesShowOnlyWarningsByDefault()
    {
        QLoggingCategory::setFilterRules(QString());
        for (const QLoggingCategory* category :
             {&lcTools(), &lcNetwork(), &lcSignIn(), &lcCatalog(), &lcStore()}) {
            QVERIFY(category->isWarningEnabled());
            QVERIFY(!category->isInfoEnabled());
            QVERIFY(!category->isDebugEnabled());
        }
    }
};

QTEST_GUILESS_MAIN(tst_LogBuffer)
#include "tst_logbuffer.moc"
