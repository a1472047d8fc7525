#include "../uikit/KitTestSupport.h"
#include "support/AnswerGate.h"

#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "shared/KRLoadMoreView.h"
#include "browse/KRPGCGridCell.h"
#include "browse/KRPGCGridCellDelegate.h"
#include "shared/KRPullRefreshView.h"
#include "browse/KRVideoCell.h"
#include "browse/KRVideoGridCell.h"
#include "browse/KRVideoGridCellDelegate.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ProgressView.h"
#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/TableView.h"
#include "support/ChildTestRun.h"
#include "support/FakeService.h"
#include "support/ImageFixtures.h"

#include <QUrl>
#include <QUuid>


using namespace platform::uikit;
using namespace testsupport;

namespace {

std::shared_ptr<KRVideo> makeVideo(const QString& title, const QString& cover = {})
{
    auto video = std::make_shared<KRVideo>();
    video->setTitle(title);
    video->setOwnerName(QStringLiteral("阿木"));
    video->setPlayCount(12345);
    video->setDanmakuCount(67);
    video->setStatisticsKnown(true);
    video->setDurationText(QStringLiteral("03:25"));
    video->setCoverURL(cover);
    return video;
}

// A fresh cover address per call, so the shared loader's memory cache never answers for an
// earlier test.
QString freshCover() { return ImageFixtures::coverAddress(QUuid::createUuid().toString(QUuid::Id128)); }

class ListBlocks : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        service = std::make_unique<FakeService>(ImageFixtures::hosts());
        ImageFixtures::serveImages(*service);
    }
    void TearDown() override
    {
        service.reset();
        KitTest::TearDown();
    }
    std::unique_ptr<FakeService> service;
};

// Plays the list's part of the pull-to-refresh cycle, as every list owner does.
struct PullingOwner : ScrollViewDelegate {
    KRPullRefreshView* header = nullptr;
    int refreshes = 0;
    void scrollViewDidScroll(ScrollView* view) override { header->updateForScrollView(view); }
    void scrollViewDidEndDragging(ScrollView* view, bool) override
    {
        if (header->shouldBeginRefreshAfterDragging()) {
            header->beginRefreshingInScrollView(view);
            ++refreshes;
        }
    }
};

} // namespace

TEST_F(ListBlocks, FooterStatesTitlesAndTaps)
{
    KRLoadMoreView footer(QRectF(0, 0, 375, 44));
    int taps = 0;
    footer.addTarget([&] { ++taps; });
    EXPECT_EQ(footer.state(), KRLoadMoreStateIdle);
    EXPECT_EQ(footer.button()->currentTitle(), QStringLiteral("上拉加载更多"));
    EXPECT_EQ(footer.spinner()->center(), QPointF(42, 22));
    footer.button()->tapForTesting();
    EXPECT_EQ(taps, 1);

    footer.setLoadMoreState(KRLoadMoreStateLoading);
    EXPECT_EQ(footer.button()->currentTitle(), QStringLiteral("正在加载更多…"));
    EXPECT_TRUE(footer.spinner()->isAnimating());
    // A new idle title waits until the footer is idle again.
    footer.setIdleTitle(QStringLiteral("查看更多评论"));
    EXPECT_EQ(footer.button()->title(ControlStateNormal), QStringLiteral("正在加载更多…"));

    footer.setLoadMoreState(KRLoadMoreStateNoMore);
    EXPECT_FALSE(footer.spinner()->isAnimating());
    EXPECT_FALSE(footer.button()->isEnabled());
    EXPECT_EQ(footer.button()->title(ControlStateNormal), QStringLiteral("已经到底了"));
    footer.button()->tapForTesting();
    EXPECT_EQ(taps, 1);

    footer.setLoadMoreState(KRLoadMoreStateFailed);
    EXPECT_EQ(footer.button()->title(ControlStateNormal), QStringLiteral("加载失败，点击重试"));
    footer.button()->tapForTesting();
    EXPECT_EQ(taps, 2);

    footer.setLoadMoreState(KRLoadMoreStateIdle);
    EXPECT_EQ(footer.button()->title(ControlStateNormal), QStringLiteral("查看更多评论"));
    footer.setIdleTitle(QString());
    EXPECT_EQ(footer.button()->title(ControlStateNormal), QStringLiteral("上拉加载更多"));

    // An unknown state disables without changing what shows.
    footer.setLoadMoreState(7);
    EXPECT_EQ(footer.state(), 7);
    EXPECT_FALSE(footer.button()->isEnabled());
    EXPECT_EQ(footer.button()->title(ControlStateNormal), QStringLiteral("上拉加载更多"));
}

TEST_F(ListBlocks, PullHeaderArmsAtSixtyFourAndKeepsTheListsOtherInsets)
{
    TableView table(QRectF(0, 0, 375, 600));
    table.setContentSize(QSizeF(375, 2000));
    table.setContentInset(EdgeInsets{0, 0, 8, 0});
    auto* header = new KRPullRefreshView(QRectF(0, -64, 375, 64), &table);
    EXPECT_EQ(header->statusLabel()->frame(), QRectF(44, 0, 287, 64));
    EXPECT_EQ(header->spinner()->center(), QPointF(32, 32));
    PullingOwner owner;
    owner.header = header;
    table.setDelegate(&owner);

    table.beginDragForTesting();
    table.dragToOffsetForTesting(QPointF(0, -63.5));
    EXPECT_EQ(header->state(), KRPullRefreshStateIdle);
    EXPECT_EQ(header->statusLabel()->text(), QStringLiteral("下拉更新"));
    table.dragToOffsetForTesting(QPointF(0, -64));
    EXPECT_EQ(header->state(), KRPullRefreshStateArmed);
    EXPECT_EQ(header->statusLabel()->text(), QStringLiteral("松开更新"));
    table.endDragForTesting(QPointF());
    EXPECT_EQ(owner.refreshes, 1);
    EXPECT_EQ(header->statusLabel()->text(), QStringLiteral("正在更新…"));
    EXPECT_TRUE(header->spinner()->isAnimating());
    AnimationClock::finishAll();
    EXPECT_EQ(table.contentInset(), (EdgeInsets{64, 0, 8, 0}));
    EXPECT_NEAR(table.contentOffset().y(), -64, 1e-6);

    // Scrolling while refreshing changes nothing; ending gives the top edge back.
    table.beginDragForTesting();
    table.dragToOffsetForTesting(QPointF(0, 10));
    EXPECT_EQ(header->state(), KRPullRefreshStateRefreshing);
    table.endDragForTesting(QPointF());
    EXPECT_EQ(owner.refreshes, 1);
    header->endRefreshingInScrollView(&table);
    AnimationClock::finishAll();
    EXPECT_EQ(header->state(), KRPullRefreshStateIdle);
    EXPECT_EQ(table.contentInset(), (EdgeInsets{0, 0, 8, 0}));

    // Ending a refresh that never began leaves the inset alone.
    table.setContentInset(EdgeInsets{12, 0, 8, 0});
    header->endRefreshingInScrollView(&table);
    EXPECT_EQ(table.contentInset(), (EdgeInsets{12, 0, 8, 0}));

    // Begun by the owner while the list rests: the content moves down to show the header and
    // comes back to the list's own top inset.
    table.setContentOffset(QPointF(0, -12));
    header->beginRefreshingInScrollView(&table);
    AnimationClock::finishAll();
    EXPECT_NEAR(table.contentOffset().y(), -64, 1e-6);
    EXPECT_EQ(table.contentInset(), (EdgeInsets{64, 0, 8, 0}));
    header->endRefreshingInScrollView(&table);
    AnimationClock::finishAll();
    EXPECT_EQ(table.contentInset(), (EdgeInsets{12, 0, 8, 0}));
    EXPECT_NEAR(table.contentOffset().y(), -12, 1e-6);
}

TEST_F(ListBlocks, VideoRowLayoutAtPhoneWidth)
{
    KRVideoCell cell;
    cell.setFrame(QRectF(0, 0, 375, 86));
    auto video = makeVideo(QStringLiteral("一个很长的标题"));
    cell.configureWithVideo(video);
    cell.setAccessoryType(TableViewCellAccessoryNone);
    cell.layoutIfNeeded();
    EXPECT_EQ(cell.coverView()->frame(), QRectF(8, 9, 112, 68));
    EXPECT_EQ(cell.titleLabel()->frame(), QRectF(128, 5, 235, 38));
    EXPECT_EQ(cell.titleLabel()->text(), QStringLiteral("一个很长的标题"));
    EXPECT_EQ(cell.ownerLabel()->frame().topLeft(), QPointF(128, 44));
    EXPECT_EQ(cell.ownerLabel()->text(), QStringLiteral("UP  阿木"));
    EXPECT_EQ(cell.statsLabel()->text(),
              QStringLiteral("播 %1  ·  弹 %2").arg(video->displayPlayCount(), video->displayDanmakuCount()));
    EXPECT_TRUE(cell.partitionLabel()->isHidden());
    EXPECT_EQ(cell.statsLabel()->frame(), QRectF(128, 63, 235, 17));
    EXPECT_EQ(cell.durationLabel()->text(), QStringLiteral("03:25"));
    EXPECT_EQ(cell.durationLabel()->frame().right(), 112);
    EXPECT_EQ(cell.durationLabel()->frame().y(), 50);
    EXPECT_GE(cell.durationLabel()->frame().width(), 34);

    video->setTname(QStringLiteral("动画"));
    cell.configureWithVideo(video);
    cell.setAccessoryType(TableViewCellAccessoryNone);
    cell.layoutIfNeeded();
    EXPECT_FALSE(cell.partitionLabel()->isHidden());
    EXPECT_EQ(cell.statsLabel()->frame(), QRectF(128, 63, 167, 17));
    EXPECT_EQ(cell.partitionLabel()->frame(), QRectF(299, 63, 64, 17));

    // With the disclosure the text column leaves 32 points.
    cell.configureWithVideo(video);
    cell.layoutIfNeeded();
    EXPECT_EQ(cell.titleLabel()->frame().width(), 215);

    // Offline progress is clamped and takes the statistics' place.
    cell.setOfflineDownloadProgress(1.7f, QString());
    EXPECT_FLOAT_EQ(cell.offlineProgressView()->progress(), 1.0f);
    EXPECT_EQ(cell.offlineProgressLabel()->text(), QStringLiteral("正在缓存…"));
    EXPECT_TRUE(cell.statsLabel()->isHidden());
    EXPECT_EQ(cell.offlineProgressView()->frame(), QRectF(128, 77, 235, 9));
    cell.setOfflineDownloadProgress(-0.5f, QStringLiteral("已暂停"));
    EXPECT_FLOAT_EQ(cell.offlineProgressView()->progress(), 0.0f);
}

TEST_F(ListBlocks, VideoRowForMissingAndUnavailableVideos)
{
    KRVideoCell cell;
    cell.setFrame(QRectF(0, 0, 375, 86));
    auto anonymous = makeVideo(QString(), freshCover());
    anonymous->setOwnerName(QString());
    cell.configureWithVideo(anonymous);
    EXPECT_EQ(cell.titleLabel()->text(), QStringLiteral("无标题视频"));
    EXPECT_EQ(cell.ownerLabel()->text(), QStringLiteral("UP  未知UP主"));

    auto gone = makeVideo(QString(), freshCover());
    gone->setUnavailable(true);
    gone->setOwnerName(QString());
    cell.configureWithVideo(gone);
    cell.loadCover();
    EXPECT_EQ(cell.titleLabel()->text(), QStringLiteral("已失效视频"));
    EXPECT_EQ(cell.ownerLabel()->text(), QStringLiteral("内容已不可用"));
    EXPECT_EQ(cell.statsLabel()->text(), gone->displayUnavailableReason());
    EXPECT_TRUE(cell.durationLabel()->isHidden());
    EXPECT_TRUE(cell.representedCoverURL().isNull());
    EXPECT_EQ(cell.selectionStyle(), TableViewCellSelectionStyleNone);
    EXPECT_EQ(cell.accessoryType(), TableViewCellAccessoryNone);
    EXPECT_TRUE(cell.coverView()->image().isSameAs(KRVideoInvalidCoverImage()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(service->requests().isEmpty());

    // A text row: the meta text gets two lines and the row shows no counts.
    cell.prepareForReuse();
    cell.setTitleText(QString(), QStringLiteral("没有找到视频"), QString());
    EXPECT_EQ(cell.titleLabel()->text(), QStringLiteral("无标题视频"));
    EXPECT_EQ(cell.ownerLabel()->numberOfLines(), 2);
    EXPECT_TRUE(cell.statsLabel()->isHidden());
    EXPECT_TRUE(cell.coverView()->image().isSameAs(KRVideoPlaceholderImage()));
}

// The process keeps its first placeholder, so the drawing is checked in a fresh one.
TEST_F(ListBlocks, DISABLED_DrawnPlaceholderChild)
{
    Image::setBundleArtHiddenForTesting(true);
    const Image placeholder = KRVideoPlaceholderImage();
    ASSERT_EQ(placeholder.size(), QSizeF(96, 58));
    EXPECT_TRUE(colorNear(placeholder.image().pixelColor(2, 2), QColor::fromRgbF(0.90, 0.91, 0.93), 2));
    // "封面" is drawn in the middle.
    bool inked = false;
    for (int x = 28; x < 68; ++x)
        inked = inked || colorNear(placeholder.image().pixelColor(x, 31), QColor::fromRgbF(0.55, 0.57, 0.61), 24);
    EXPECT_TRUE(inked);
    EXPECT_TRUE(KRVideoPlaceholderImage().isSameAs(placeholder));
}

TEST_F(ListBlocks, PlaceholderIsDrawnWithoutBundleArt)
{
    const ChildTestResult child =
        runChildTest(QStringLiteral("ListBlocks.DISABLED_DrawnPlaceholderChild"), testHome(), QStringLiteral("plain"));
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0) << qPrintable(child.standardError);
}

TEST_F(ListBlocks, LateCoverOfAReusedRowIsDropped)
{
    const QString first = freshCover();
    const QString second = freshCover();
    AnswerGate gate;
    // The first cover's answer waits until the test opens the gate; any other is answered at once.
    const QString firstPath = QUrl(first).path();
    service->route(ImageFixtures::primaryHost(), QStringLiteral("*"), [&](const FakeRequest& request) {
        if (request.path.startsWith(firstPath))
            gate.wait();
        const QSize size = ImageFixtures::sizeForPath(request.path);
        return FakeReply{.body = ImageFixtures::bitmap(size.width(), size.height(), qHash(request.path)),
                         .contentType = QStringLiteral("image/bmp")};
    });
    const auto firstAsked = [&] {
        for (const FakeRequest& request : service->requests())
            if (request.path.startsWith(firstPath))
                return true;
        return false;
    };

    KRVideoCell cell;
    cell.configureWithVideo(makeVideo(QStringLiteral("先"), first));
    cell.loadCover();
    KR_WAIT_UNTIL(firstAsked());
    cell.prepareForReuse();
    cell.configureWithVideo(makeVideo(QStringLiteral("后"), second));
    cell.loadCover();
    KR_WAIT_UNTIL(!cell.coverView()->image().isSameAs(KRVideoPlaceholderImage()));
    const Image secondCover = cell.coverView()->image();

    // The first cover now arrives; a load of our own for it tells when it has been delivered.
    bool firstDelivered = false;
    KRImageLoader::sharedLoader()->loadImageForURLString(first, nullptr, [&](const Image&) { firstDelivered = true; });
    gate.release();
    KR_WAIT_UNTIL(firstDelivered);
    EXPECT_TRUE(cell.coverView()->image().isSameAs(secondCover));
    EXPECT_EQ(cell.representedCoverURL(), second);
}

namespace {
struct GridPicks : KRVideoGridCellDelegate, KRPGCGridCellDelegate {
    QList<std::shared_ptr<KRVideo>> picked;
    void videoGridCellDidSelectVideo(KRVideoGridCell*, const std::shared_ptr<KRVideo>& video) override { picked << video; }
    void pgcGridCellDidSelectVideo(KRPGCGridCell*, const std::shared_ptr<KRVideo>& video) override { picked << video; }
};
} // namespace

TEST_F(ListBlocks, TwoCardRowLayoutTapsAndCovers)
{
    KRVideoGridCell cell;
    GridPicks picks;
    cell.setDelegate(&picks);
    cell.setFrame(QRectF(0, 0, 375, 160));
    auto left = makeVideo(QStringLiteral("左"), freshCover());
    auto right = makeVideo(QString(), freshCover());
    right->setUnavailable(true);
    cell.configureWithLeftVideo(left, right);
    cell.layoutIfNeeded();
    // c = floor((375 - 21) / 2) = 177, cover height floor(177 * 9 / 16) = 99.
    EXPECT_EQ(cell.cardButton(0)->frame(), QRectF(7, 5, 177, 153));
    EXPECT_EQ(cell.cardButton(1)->frame(), QRectF(191, 5, 177, 153));
    EXPECT_EQ(cell.coverView(0)->frame(), QRectF(0, 0, 177, 99));
    EXPECT_EQ(cell.titleLabel(0)->frame(), QRectF(4, 103, 169, 30));
    EXPECT_EQ(cell.metaLabel(0)->frame(), QRectF(4, 134, 169, 14));
    EXPECT_EQ(cell.metaLabel(0)->text(),
              QStringLiteral("播 %1 · 弹 %2").arg(left->displayPlayCount(), left->displayDanmakuCount()));
    EXPECT_EQ(cell.titleLabel(1)->text(), QStringLiteral("未命名视频"));
    EXPECT_EQ(cell.metaLabel(1)->text(), right->displayUnavailableReason());
    EXPECT_DOUBLE_EQ(cell.coverView(1)->alpha(), 0.56);
    EXPECT_EQ(cell.cardButton(1)->viewWithTag(KRVideoGridCell::kCoverTag), cell.coverView(1));

    KR_WAIT_UNTIL(!cell.coverView(0)->image().isNull());
    EXPECT_EQ(service->requests().size(), 1);  // the unavailable side loads nothing

    cell.cardButton(1)->tapForTesting();
    EXPECT_TRUE(picks.picked.isEmpty());
    cell.cardButton(0)->tapForTesting();
    ASSERT_EQ(picks.picked.size(), 1);
    EXPECT_EQ(picks.picked.first(), left);

    cell.configureWithLeftVideo(left, nullptr);
    EXPECT_TRUE(cell.cardButton(1)->isHidden());
    EXPECT_TRUE(cell.representedCoverURLAt(1).isNull());
}

TEST_F(ListBlocks, PortraitCatalogueColumnsAndRows)
{
    EXPECT_EQ(KRPGCGridCell::columnCountForWidth(500), 3);
    EXPECT_EQ(KRPGCGridCell::columnCountForWidth(600), 3);
    EXPECT_EQ(KRPGCGridCell::columnCountForWidth(620), 4);
    EXPECT_EQ(KRPGCGridCell::columnCountForWidth(1024), 5);
    EXPECT_EQ(KRPGCGridCell::columnCountForWidth(0), 3);  // the 375-point phone screen
    EXPECT_EQ(KRPGCGridCell::rowHeightForWidth(375), 213);

    KRPGCGridCell cell;
    GridPicks picks;
    cell.setDelegate(&picks);
    cell.setFrame(QRectF(0, 0, 375, 213));
    QList<std::shared_ptr<KRVideo>> videos;
    for (int i = 0; i < 5; ++i)
        videos << makeVideo(QStringLiteral("番%1").arg(i), freshCover());
    videos[0]->setPgcEpisodeText(QStringLiteral("全12话"));
    videos[0]->setPgcBadge(QStringLiteral("会员专享"));
    videos[1]->setSummary(QStringLiteral("简介"));
    cell.configureWithVideos(videos, 3);
    cell.layoutIfNeeded();
    // c = floor((375 - 16 - 16) / 3) = 114, cover height 152.
    EXPECT_EQ(cell.cardButton(1)->frame(), QRectF(130, 6, 114, 205));
    EXPECT_EQ(cell.coverView(0)->frame(), QRectF(0, 0, 114, 152));
    EXPECT_EQ(cell.titleLabel(0)->frame(), QRectF(3, 156, 108, 30));
    EXPECT_FALSE(cell.episodeLabel(0)->isHidden());
    EXPECT_EQ(cell.badgeLabel(0)->frame().topLeft(), QPointF(3, 3));
    EXPECT_TRUE(cell.episodeLabel(1)->isHidden());
    EXPECT_EQ(cell.subtitleLabel(1)->text(), QStringLiteral("简介"));
    EXPECT_TRUE(cell.cardButton(3)->isHidden());
    EXPECT_TRUE(cell.cardButton(4)->isHidden());
    KR_WAIT_UNTIL(service->requests().size() == 3);
    for (int i = 0; i < 3; ++i)
        KR_WAIT_UNTIL(!cell.coverView(i)->image().isSameAs(KRVideoPlaceholderImage()));
    EXPECT_EQ(service->requests().size(), 3);

    cell.cardButton(2)->tapForTesting();
    ASSERT_EQ(picks.picked.size(), 1);
    EXPECT_EQ(picks.picked.first(), videos[2]);
}
