#include "Application.h"
#include "LogBuffer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    return arguments;
}

} // namespace

int main(int argc, char* argv[])
{
    mirvo::Application::setApplicationNames();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Сольвена возвращает на iPhone приложения, которых больше нет в App Store вашего региона."_s);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption verboseOption(u"verbose"_s, u"Подробный журнал всех действий приложения."_s);
    parser.addOption(verboseOption);
    // For timing start-up: ends as soon as the window has drawn itself once.
    QCommandLineOption firstFrameOption(u"quit-after-first-frame"_s);
    firstFrameOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(firstFrameOption);
    // Help, the version and a wrong option are answered without a display: a plain application prints
    // them and exits.
    if (!parser.parse(argumentsOf(argc, argv)) || parser.isSet(helpOption) || parser.isSet(versionOption)) {
        QCoreApplication console(argc, argv);
        parser.process(console);
        return 0;
    }

    mirvo::LogBuffer log;
    log.install();
    if (parser.isSet(verboseOption))
        QLoggingCategory::setFilterRules(u"mirvo.*=true"_s);

    QGuiApplication app(argc, argv);
    mirvo::Application application(mirvo::AppModelEnvironment::production());
    if (!application.load())
        return 1;
    if (parser.isSet(firstFrameOption))
        application.quitAfterFirstFrame();
    return QGuiApplication::exec();
}
