#pragma once

#include "support/FakeService.h"

#include <QStringList>

namespace testsupport {

// What the demo service serves, so that a test can drive the same catalogue in-process: every
// read route with every uploader's pages, the pictures of the image hosts, and a passport that
// confirms each login code on its own (the third poll of a code, a few seconds after a screen
// shows it) into the demo account (AccountFixtures::installDemoAccount).
class DemoCatalogue {
public:
    DemoCatalogue() = delete;

    // Every host the application may ask, image hosts included, once each, lower-cased.
    static QStringList hosts();
    static void install(FakeService& service);
};

} // namespace testsupport
