#include "shell/KRAppRoutes.h"

#include "login/KRQRLoginViewController.h"
#include "nav/KRRouter.h"
#include "shell/KRScreenRoutes.h"

void KRInstallAppRoutes()
{
    KRRoutes routes = KRScreenRoutes();
    routes.qrLogin = []() -> KRRoutes::Screen { return new KRQRLoginViewController; };
    KRRouter::install(std::move(routes));
}
