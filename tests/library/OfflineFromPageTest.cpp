// What the video page caches, as the offline list under "我的" shows it.
#include "../video/OfflineCachingTesting.h"

#include "library/KRAccountVideoListViewController.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "playback/KRPlayerControlsView.h"

using namespace platform::uikit;
using namespace videotest;

namespace {

class OfflineFromPageTest : public OfflineCachingPageTest {
protected:
    // Caches part `index` of the page's video at `quality` through the pickers, and leaves the
    // page once the download has ended.
    void cachePart(KRVideoDetailViewController* page, int index, const QString& quality)
    {
        ASSERT_TRUE(advanceUntil([&] { return page->video()->pages().size() == 3; }));
        page->fullscreenCacheTapped();
        KRVideoOfflinePagePicker* parts = page->offlineCaching()->pagePicker();
        ASSERT_NE(parts, nullptr);
        tapRow(parts->tableView(), index);
        tap(parts->nextButton());
        chooseQuality(page, quality);
        ASSERT_TRUE(advanceUntil([&] {
            return KROfflineCacheManager::sharedManager()->cachedVideos().size() == 1 && !KROfflineCacheManager::sharedManager()->isDownloading();
        }));
        nav->popViewControllerAnimated(false);
        AnimationClock::finishAll();
        // The page's views leave the window, so the next page's are the ones found there.
        flushDeferredDeletes();
    }
    KRAccountVideoListViewController* pushList()
    {
        auto* list = new KRAccountVideoListViewController();
        nav->pushViewController(list, false);
        AnimationClock::finishAll();
        list->tableView()->layoutIfNeeded();
        return list;
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

TEST_F(OfflineFromPageTest, APartCachedOnItsOwnShowsItsOwnLength)
{
    KRVideoDetailViewController* page = push();
    ASSERT_TRUE(advanceUntil([&] { return page->video()->pages().size() == 3; }));
    const QString whole = page->video()->durationText();
    cachePart(page, 1, QStringLiteral("720P"));

    KRAccountVideoListViewController* list = pushList();
    ASSERT_EQ(list->videos().size(), 1);
    TableViewCell* cell = list->tableView()->cellForRowAtIndexPath(IndexPath{0, 0});
    ASSERT_NE(cell, nullptr);
    // The second part lasts 845 s; the whole video is longer.
    EXPECT_EQ(cell->detailTextLabel()->text(), QStringLiteral("720P · 离线 · 14:05"));
    EXPECT_NE(whole, QStringLiteral("14:05"));
}

// A progressive copy keeps no quality code of its own, only its title: the page playing it
// shows that quality, and the quality sheet ticks it.
TEST_F(OfflineFromPageTest, AProgressiveCopyPlayingOnThePageShowsItsQuality)
{
    cachePart(push(), 0, QStringLiteral("720P"));
    ASSERT_TRUE(KROfflineCacheManager::sharedManager()
                    ->recordForKey(KROfflineVideoKey(detailVideo()))
                    .value(QStringLiteral("file_name"))
                    .toString()
                    .endsWith(QStringLiteral(".mp4")));

    KRVideoDetailViewController* page = pushAndPlay();
    ASSERT_TRUE(advanceUntil([&] { return playing(page); }));
    ASSERT_TRUE(page->moviePlayer()->contentURL().isLocalFile());
    Button* qualityButton = page->playerControls()->qualityButton();
    EXPECT_EQ(qualityButton->title(ControlStateNormal), QStringLiteral("720P"));
    page->showQualityActionSheetFromView(qualityButton);
    ASSERT_TRUE(advanceUntil([&] { return page->visibleActionSheet() != nullptr; }));
    ActionSheet* sheet = page->visibleActionSheet();
    QStringList ticked;
    for (int i = 0; i < sheet->numberOfButtons(); ++i) {
        if (sheet->buttonTitleAtIndex(i).endsWith(QStringLiteral(" ✓")))
            ticked.append(sheet->buttonTitleAtIndex(i));
    }
    EXPECT_EQ(ticked, QStringList{QStringLiteral("720P ✓")});
}
