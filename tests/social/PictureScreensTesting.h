#pragma once

// The picture screens' rig: the fake image CDN, a window with a navigation stack the test
// pushes onto, and a photo album in the test's home.

#include "../uikit/KitTestSupport.h"

#include "platform/uikit/AlertView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "images/KRImageLoader.h"
#include "support/FakeService.h"
#include "support/ImageFixtures.h"

#include <QDir>
#include <QTest>
#include <QUrl>

namespace picturetest {

using namespace platform::uikit;
using testsupport::FakeService;
namespace ImageFixtures = testsupport::ImageFixtures;

class PictureScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KitTest::resetKit();
        ImageFixtures::serveImages(fake);
        KRImageLoader::sharedLoader()->clearMemoryCache();
        album = testsupport::testHome() + QStringLiteral("/Album");
        qputenv("KORVANE_PHOTO_LIBRARY", album.toUtf8());
        nav = new NavigationController(new ViewController());
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        ImageFixtures::releaseSlowPictures();
        // An alert a test leaves open is answered, so it goes with its window.
        for (int i = 0; i < 10 && window->visibleAlert(); ++i) {
            AlertView* open = window->visibleAlert();
            open->dismissWithClickedButtonIndex(std::max(0, open->cancelButtonIndex()));
        }
        window.reset();
        flushDeferredDeletes();
        // Pictures still downloading would write into the next test's home.
        testsupport::waitUntil([] { return KRImageLoader::sharedLoader()->downloadCountForTesting() == 0; });
        qunsetenv("KORVANE_PHOTO_LIBRARY");
        KitTest::settleKit();
    }
    template <typename Screen>
    Screen* push(Screen* screen)
    {
        nav->pushViewController(screen, false);
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
        return screen;
    }
    AlertView* alert() const { return window->visibleAlert(); }
    int requestsTo(const QString& address) const { return int(fake.requestsTo(QUrl(address).path()).size()); }
    QStringList albumFiles() const { return QDir(album).entryList(QDir::Files | QDir::Hidden); }
    // A press and release at the middle of a view, through the window.
    static void click(View* view) { QTest::mouseClick(view, Qt::LeftButton, {}, view->rect().center()); }
    // Grabs what the window shows.
    QImage screen() const { return window->grab().toImage(); }

    FakeService fake{ImageFixtures::hosts()};
    std::unique_ptr<Window> window = std::make_unique<Window>();
    NavigationController* nav = nullptr;
    QString album;
};

} // namespace picturetest
