#pragma once

// The video page against the fake service with the offline store in the test's home, and the
// taps that drive the offline pickers.
#include "VideoPageTesting.h"

#include "platform/uikit/Button.h"
#include "platform/uikit/TableView.h"
#include "playback/KROfflineCacheManager.h"
#include "video/KRVideoOfflineCaching.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "video/KRVideoOfflineQualityPicker.h"

#include <QTest>

namespace videotest {

class OfflineCachingPageTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        KROfflineCacheManager::resetForTesting();
    }
    void TearDown() override
    {
        KROfflineCacheManager::resetForTesting();
        VideoPageTest::TearDown();
    }

    static void tap(platform::uikit::Button* button)
    {
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible()) << button->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        platform::uikit::AnimationClock::finishAll();
    }
    static void tapRow(platform::uikit::TableView* table, int row)
    {
        table->layoutIfNeeded();
        const QPointF point = table->rectForRowAtIndexPath(platform::uikit::IndexPath{0, row}).center() - table->contentOffset();
        QTest::mouseClick(table, Qt::LeftButton, {}, point.toPoint());
        platform::uikit::AnimationClock::finishAll();
    }
    // Waits for the quality picker (the qualities may still be on their way) and taps the
    // option titled `title`.
    void chooseQuality(KRVideoDetailViewController* page, const QString& title)
    {
        ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
        KRVideoOfflineQualityPicker* picker = page->offlineCaching()->qualityPicker();
        for (int i = 0; i < picker->optionCount(); ++i) {
            if (picker->optionButton(i)->title(platform::uikit::ControlStateNormal) == title) {
                tap(picker->optionButton(i));
                return;
            }
        }
        FAIL() << "no option " << title.toStdString();
    }
};

} // namespace videotest
