#pragma once

#include "support/FakeService.h"

#include <QStringList>

namespace testsupport {

// What the demo service serves, so that a test can drive the same catalogue in-process: every
// read route with every uploader's pages, the pictures of the image hosts, a passport that
// confirms each login code on its own (the third poll of a code, a few seconds after a screen
// shows it) into the demo account (AccountFixtures::installDemoAccount), and every video's play
// information, danmaku and media: each quality it offers really is at that quality, the portrait
// video (ServiceFixtures::kDemoPortraitAID) plays the portrait clip, the 4K one
// (ServiceFixtures::kDemo4KAID) offers a 4K DASH pair too and the parts video
// (ServiceFixtures::kDemoPartsAID) has three parts, each with its own play information.
class DemoCatalogue {
public:
    DemoCatalogue() = delete;

    // What the demo service passes; a test keeps the defaults.
    struct Options {
        // Media leave at about this many bytes a second; 0: as fast as they can.
        qint64 mediaBytesPerSecond = 0;
    };
    // The rate of the demo service, near a real connection's, so a download's progress shows.
    static constexpr qint64 kDemoMediaBytesPerSecond = 2'000'000;

    // Every host the application may ask, image hosts included, once each, lower-cased.
    static QStringList hosts();
    static void install(FakeService& service);
    static void install(FakeService& service, const Options& options);
};

} // namespace testsupport
