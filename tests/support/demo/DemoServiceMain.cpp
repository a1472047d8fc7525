// korvane-demo-service: the fake service of the tests, with its whole catalogue, run on its own
// so the application can be tried without the real service. It answers on 127.0.0.1 for every
// host name of the service, with a certificate of a throwaway authority.
//
// Standard output gets exactly two lines, the values another process needs to reach it:
//     KORVANE_CONNECT_TO=<host:port:127.0.0.1:port,…>
//     KORVANE_CA_FILE=<path of the authority's PEM file>
// Standard error gets one line per request (method, host and path; never the query or the
// headers, which may carry a session). SIGTERM, SIGINT or SIGHUP (its terminal closed) stop it
// cleanly; the CA file goes too.
//
// Media leave at about 2 MB/s, as over a real connection, so a download's progress can be
// watched; --media-rate=<bytes a second> sets another rate, 0 none.

#include "support/DemoCatalogue.h"
#include "support/FakeService.h"

#include <QCoreApplication>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>

#include <pthread.h>

using namespace testsupport;

namespace {

void printRequests(const QList<FakeRequest>& requests)
{
    for (const FakeRequest& request : requests) {
        std::fprintf(stderr, "[demo-service] %s %s%s\n", qPrintable(request.method), qPrintable(request.host),
                     qPrintable(request.path));
    }
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv)
{
    // The stop signals are taken by sigtimedwait below, in this thread alone: blocked before any
    // server thread starts, so every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that leaves mid-answer must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    // The authority's file goes in a folder of the service's own, never in the home of an
    // application that happens to share this environment.
    qunsetenv("KORVANE_HOME");

    QCoreApplication app(argc, argv);
    DemoCatalogue::Options options{.mediaBytesPerSecond = DemoCatalogue::kDemoMediaBytesPerSecond};
    for (const QString& argument : app.arguments().mid(1)) {
        bool valid = false;
        if (argument.startsWith(QLatin1String("--media-rate=")))
            options.mediaBytesPerSecond = argument.mid(QStringLiteral("--media-rate=").size()).toLongLong(&valid);
        if (!valid || options.mediaBytesPerSecond < 0) {
            std::fprintf(stderr, "korvane-demo-service: unknown argument %s (only --media-rate=<bytes a second>)\n",
                         qPrintable(argument));
            return 2;
        }
    }
    std::unique_ptr<FakeService> service;
    try {
        service = std::make_unique<FakeService>(DemoCatalogue::hosts());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "korvane-demo-service: cannot start: %s\n", failure.what());
        return 1;
    }
    // Each login code is scanned and then confirmed as if by a phone a few seconds (three polls)
    // after the screen shows it, signing in the demo account; a refreshed code goes the same way.
    DemoCatalogue::install(*service, options);

    std::printf("KORVANE_CONNECT_TO=%s\n", qPrintable(service->connectTo().join(QLatin1Char(','))));
    std::printf("KORVANE_CA_FILE=%s\n", qPrintable(service->caFile()));
    std::fflush(stdout);

    // Requests are printed in batches while waiting for a stop signal.
    for (;;) {
        const timespec interval{0, 250 * 1000 * 1000};
        const int received = sigtimedwait(&stopSignals, nullptr, &interval);
        printRequests(service->takeRequests());
        if (received > 0)
            break;
        if (received < 0 && errno != EAGAIN && errno != EINTR) {
            std::perror("korvane-demo-service: sigtimedwait");
            break;
        }
    }
    service->stop();
    printRequests(service->takeRequests());
    std::fprintf(stderr, "[demo-service] stopped\n");
    return 0;
}
