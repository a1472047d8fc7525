#pragma once

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Image.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QExposeEvent>
#include <QHideEvent>
#include <QImage>
#include <QRegion>
#include <QShowEvent>
#include <QWidget>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>

// Every kit test starts on the default phone profile, with the main clock (and so the
// animation clock) in manual mode, a fresh application object and our bundle art visible.
// Delayed steps run only as a test advances the clock: platform::MainClock::advanceForTesting.
class KitTest : public ::testing::Test {
public:
    // The same start and end for fixtures that cannot derive from this one.
    static void resetKit()
    {
        platform::DeviceProfile::resetForTesting();
        platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,1"));
        platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("16.7"));
        platform::MainClock::setManualForTesting(true);
        platform::uikit::AnimationClock::setFramesHeldForTesting(false);
        platform::uikit::AnimationClock::finishAll();
        platform::uikit::Application::shared().resetForTesting();
        platform::uikit::Image::setBundleArtHiddenForTesting(false);
    }
    static void settleKit()
    {
        platform::uikit::AnimationClock::setFramesHeldForTesting(false);
        platform::uikit::AnimationClock::finishAll();
        // Tests of the same program that are not kit tests run on wall time, as the app does.
        platform::MainClock::setManualForTesting(false);
        platform::DeviceProfile::resetForTesting();
    }

protected:
    void SetUp() override { resetKit(); }
    void TearDown() override { settleKit(); }
    static void useDevice(const QString& machine, const QString& version)
    {
        platform::DeviceProfile::setMachineForTesting(machine);
        platform::DeviceProfile::setSystemVersionForTesting(version);
    }
};

// Runs the deletions the kit has deferred (screens popped or dismissed, alerts answered).
inline void flushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

inline bool colorNear(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// How many pixels of `shot` are near `color`.
inline int pixelsNear(const QImage& shot, const QColor& color, int tolerance)
{
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += colorNear(shot.pixelColor(x, y), color, tolerance) ? 1 : 0;
    return count;
}

// What the window system tells a top-level window as it unmaps or maps it without Qt calling
// it hidden or minimised (another desktop, an unmap): an expose event with nothing to show,
// or with the whole window, delivered to its window-system window as the platform's own.
inline void sendExposeAsTheWindowSystem(QWidget* window, bool exposed)
{
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    QExposeEvent event(exposed ? QRegion(QRect(QPoint(), handle->size())) : QRegion());
    QSpontaneKeyEvent::setSpontaneous(&event);
    QCoreApplication::instance()->notify(handle, &event);
}

// A hide or show the window system makes (Qt marks them spontaneous), without a window state.
inline void sendVisibilityAsTheWindowSystem(QWidget* window, bool shown)
{
    QHideEvent hide;
    QShowEvent show;
    QEvent& event = shown ? static_cast<QEvent&>(show) : static_cast<QEvent&>(hide);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QCoreApplication::instance()->notify(window, &event);
}
