#include "shell/KRAppRoutes.h"

#include "login/KRGaiaVerificationViewController.h"
#include "login/KRQRLoginViewController.h"
#include "nav/KRRouter.h"
#include "shell/KRScreenRoutes.h"

void KRInstallAppRoutes()
{
    KRRoutes routes = KRScreenRoutes();
    routes.qrLogin = []() -> KRRoutes::Screen { return new KRQRLoginViewController; };
    routes.gaiaVerification = [](const QVariantMap& riskOptions, KRRoutes::GaiaCompletion completion) -> KRRoutes::Screen {
        return new KRGaiaVerificationViewController(riskOptions, std::move(completion));
    };
    KRRouter::install(std::move(routes));
}
