#include "support/MakerFixtures.h"

#include "model/KRServiceHosts.h"

namespace testsupport {

QString MakerFixtures::host() { return KRServiceHosts::makerHost(); }

QString MakerFixtures::manifestPath() { return QStringLiteral("/tarnwick-api/releases/ios/latest.json"); }

void MakerFixtures::routeManifest(FakeService& fake, const FakeReply& reply) { fake.routeReply(host(), manifestPath(), reply); }

int MakerFixtures::manifestRequestCount(const FakeService& fake)
{
    int count = 0;
    for (const FakeRequest& request : fake.requestsTo(manifestPath()))
        count += request.host == host() && request.method == QLatin1String("GET");
    return count;
}

} // namespace testsupport
