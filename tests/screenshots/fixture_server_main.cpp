// Serves the screenshot fixtures until stopped: mirvo-fixture-server ENDPOINTS_FILE writes the file that
// MIRVO_ENDPOINTS should name, prints the server's address and waits. The application started with that
// variable talks only to this server.
#include "FixtureServer.h"

#include <QGuiApplication>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    // The icons are drawn off screen; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: mirvo-fixture-server ENDPOINTS_FILE\n");
        return 2;
    }
    mirvo::screenshots::FixtureServer server;
    if (!server.isListening() || !server.writeEndpoints(arguments.at(1))) {
        std::fprintf(stderr, "mirvo-fixture-server: cannot listen or write %s\n",
                     qPrintable(arguments.at(1)));
        return 1;
    }
    std::printf("%s\n", qPrintable(server.baseURL().toString()));
    std::fflush(stdout);
    return QGuiApplication::exec();
}
