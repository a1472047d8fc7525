#include "service/KRServiceShutdown.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::fputs("Korvane: no screens are built yet; this build holds the service client and stores only.\n", stdout);
    // The services stop while the application object still exists.
    KRShutDownServices();
    return 0;
}
