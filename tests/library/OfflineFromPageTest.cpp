// What the video page caches, as the offline list under "我的" shows it.
#include "../video/OfflineCachingTesting.h"

#include "library/KRAccountVideoListViewController.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"

using namespace platform::uikit;
using namespace videotest;

namespace {

class OfflineFromPageTest : public OfflineCachingPageTest {};

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
    chooseQuality(page, QStringLiteral("720P"));
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
