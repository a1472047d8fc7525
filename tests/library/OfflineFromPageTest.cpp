// What the video page caches, as the offline list under "我的" shows it.
#include "../video/VideoPageTesting.h"

#include "library/KRAccountVideoListViewController.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "playback/KROfflineCacheManager.h"
#include "video/KRVideoOfflineCaching.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "video/KRVideoOfflineQualityPicker.h"

#include <QTest>

using namespace platform::uikit;
using namespace videotest;

namespace {

class OfflineFromPageTest : public VideoPageTest {
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
    static void tap(Button* button)
    {
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        AnimationClock::finishAll();
    }
    static void tapRow(TableView* table, int row)
    {
        table->layoutIfNeeded();
        const QPointF point = table->rectForRowAtIndexPath(IndexPath{0, row}).center() - table->contentOffset();
        QTest::mouseClick(table, Qt::LeftButton, {}, point.toPoint());
        AnimationClock::finishAll();
    }
};

} // namespace

TEST_F(OfflineFromPageTest, APartCachedFromAVideoOfSeveralPartsShowsItsPartTitle)
{
    KRVideoDetailViewController* page = push();
    KR_ADVANCE_UNTIL(page->video()->pages().size() == 3);
    const QString title = page->video()->title();
    page->fullscreenCacheTapped();
    KRVideoOfflinePagePicker* parts = page->offlineCaching()->pagePicker();
    ASSERT_NE(parts, nullptr);
    tapRow(parts->tableView(), 1);
    tap(parts->nextButton());
    KR_ADVANCE_UNTIL(page->offlineCaching()->qualityPicker() != nullptr);
    tap(page->offlineCaching()->qualityPicker()->optionButton(2)); // 720P
    KR_ADVANCE_UNTIL(KROfflineCacheManager::sharedManager()->cachedVideos().size() == 1 &&
                     !KROfflineCacheManager::sharedManager()->isDownloading());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    list->tableView()->layoutIfNeeded();
    ASSERT_EQ(list->videos().size(), 1);
    TableViewCell* cell = list->tableView()->cellForRowAtIndexPath(IndexPath{0, 0});
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->textLabel()->text(), title + QStringLiteral(" · P2 切割与打磨"));
    EXPECT_EQ(list->videos().first()->cid(), testsupport::ServiceFixtures::kDetailCID + 1);
}
