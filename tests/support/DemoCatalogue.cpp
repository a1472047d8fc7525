#include "support/DemoCatalogue.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/DynamicFixtures.h"
#include "support/ImageFixtures.h"
#include "support/InteractionFixtures.h"
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
    // The demo account's folders, likes, triple, danmaku and shares; its own relation, follow
    // and coin routes, installed after, answer from its purse and follow list instead.
    InteractionFixtures interactions(service);
    interactions.setFolders({{InteractionFixtures::kFirstDemoFolderID, QStringLiteral("默认收藏夹"), 0, false, {}},
                             {InteractionFixtures::kFirstDemoFolderID + 1, QStringLiteral("想去的地方"), 0, false, {}},
                             {InteractionFixtures::kFirstDemoFolderID + 2, QStringLiteral("私藏"), 0, true, {}}});
    interactions.setPrivateFolderAnsweredWithoutID(true);
    AccountFixtures::installDemoAccount(service);
    const auto feed = DynamicFixtures::demoFeed();
    DynamicFixtures::installFeedRoute(service, feed);
    DynamicFixtures::installDetailRoute(service, feed);
    DynamicFixtures::installActionRoutes(service, std::make_shared<DynamicFixtures::ActionPlan>());
}

} // namespace testsupport
