#include "service/KRServiceShutdown.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::fputs("Korvane: the screens are not built yet; this build holds the clients, stores, UI kit and player beneath them.\n", stdout);
    // The services stop while the application object still exists.
    KRShutDownServices();
    return 0;
}
