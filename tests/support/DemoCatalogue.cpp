#include "support/DemoCatalogue.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/DynamicFixtures.h"
#include "support/ImageFixtures.h"
#include "support/ServiceFixtures.h"

namespace testsupport {

QStringList DemoCatalogue::hosts()
{
    QStringList hosts = KRServiceHosts::allServiceHosts() + ImageFixtures::hosts();
    for (QString& host : hosts)
        host = host.toLower();
    hosts.removeDuplicates();
    return hosts;
}

void DemoCatalogue::install(FakeService& service)
{
    ServiceFixtures::installReadRoutes(service);
    ServiceFixtures::installEveryUploaderPages(service);
    ImageFixtures::serveImages(service);
    // The passport's routes keep its state alive; the object itself is not needed afterwards.
    AccountFixtures::Passport passport(service);
    passport.setConfirmingOnItsOwn(true);
    AccountFixtures::installDemoAccount(service);
    const auto feed = DynamicFixtures::demoFeed();
    DynamicFixtures::installFeedRoute(service, feed);
    DynamicFixtures::installDetailRoute(service, feed);
    DynamicFixtures::installActionRoutes(service, std::make_shared<DynamicFixtures::ActionPlan>());
}

} // namespace testsupport
