#pragma once

#include "support/FakeService.h"

#include <QString>

namespace testsupport {

// The maker's web host as the fake service plays it: the release manifest's route, and
// whatever the host answers otherwise (404, as a static host would).
class MakerFixtures {
public:
    MakerFixtures() = delete;

    static QString host();
    static QString manifestPath(); // "/tarnwick-api/releases/ios/latest.json"
    // The manifest route answers `reply` (a 404 stands for "no manifest published").
    static void routeManifest(FakeService& fake, const FakeReply& reply);
    // The GETs of the manifest the fake service has seen so far.
    static int manifestRequestCount(const FakeService& fake);
};

} // namespace testsupport
