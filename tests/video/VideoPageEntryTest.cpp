// What the video page shows, without a window: the part chosen on opening and after the
// detail, the parts' addresses, the picture's shape and what the page was asked to do.
#include "video/KRVideoPageEntry.h"

#include "model/KRVideo.h"

#include <gtest/gtest.h>

namespace {

KRVideoPartInfo part(qint64 cid, const QString& duration, qint64 width = 0, qint64 height = 0, qint64 rotate = 0)
{
    return {{QStringLiteral("cid"), cid},     {QStringLiteral("duration"), duration}, {QStringLiteral("width"), width},
            {QStringLiteral("height"), height}, {QStringLiteral("rotate"), rotate}};
}

std::shared_ptr<KRVideo> threeParts(qint64 cid)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(7001);
    video->setCid(cid);
    video->setTitle(QStringLiteral("三集"));
    video->setPages({part(11, QStringLiteral("05:12")), part(12, QStringLiteral("01:30")), part(13, QStringLiteral("12:00"))});
    return video;
}

TEST(VideoPageEntry, OpensOnThePartWithTheVideosCidAndKeepsItThroughTheDetail)
{
    KRVideoPageEntry entry(threeParts(12));
    EXPECT_EQ(entry.selectedPageIndex(), 1);
    EXPECT_EQ(entry.selectedPartDuration(), 90);
    EXPECT_EQ(entry.accountAID(), 7001);

    // The detail names the first part: the page stays on P2, with P2's cid.
    std::shared_ptr<KRVideo> detail = threeParts(11);
    detail->setResolvedAid(7002);
    entry.applyDetail(detail);
    EXPECT_EQ(entry.video(), detail);
    EXPECT_EQ(entry.selectedPageIndex(), 1);
    EXPECT_EQ(entry.video()->cid(), 12);
    EXPECT_EQ(entry.accountAID(), 7002);

    // A cid the detail lacks: the detail's own part.
    KRVideoPageEntry stray(threeParts(99));
    EXPECT_EQ(stray.selectedPageIndex(), 0);
    stray.applyDetail(threeParts(13));
    EXPECT_EQ(stray.selectedPageIndex(), 2);
    EXPECT_EQ(stray.video()->cid(), 13);
    EXPECT_EQ(stray.selectedPartDuration(), 720);
}

TEST(VideoPageEntry, ALocalCopyKeepsItsAddressForItsOwnPartOnly)
{
    std::shared_ptr<KRVideo> copy = threeParts(11);
    copy->setPlayURL(QStringLiteral("file:///home/u/p1.mp4"));
    copy->setPlayURLCandidates({QStringLiteral("file:///home/u/p1.mp4")});
    KRVideoPageEntry entry(copy);

    std::shared_ptr<KRVideo> detail = threeParts(11);
    detail->setPlayURL(QStringLiteral("https://a.test/p1.mp4"));
    entry.applyDetail(detail);
    EXPECT_EQ(entry.video()->playURL(), QStringLiteral("file:///home/u/p1.mp4"));

    std::shared_ptr<KRVideo> first = entry.videoForPart(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->cid(), 11);
    EXPECT_EQ(first->playURL(), QStringLiteral("file:///home/u/p1.mp4"));
    std::shared_ptr<KRVideo> second = entry.videoForPart(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->cid(), 12);
    EXPECT_TRUE(second->playURL().isEmpty());
    EXPECT_TRUE(second->playURLCandidates().isEmpty());
    EXPECT_FALSE(entry.videoForPart(3));
    EXPECT_FALSE(entry.videoForPart(-1));

    // A video without a part list has its one part.
    auto single = std::make_shared<KRVideo>();
    single->setCid(5);
    KRVideoPageEntry lone(single);
    EXPECT_TRUE(lone.videoForPart(0));
    EXPECT_FALSE(lone.videoForPart(1));

    entry.selectPart(second, 1);
    EXPECT_EQ(entry.selectedPageIndex(), 1);
    EXPECT_EQ(entry.video(), second);
}

TEST(VideoPageEntry, ThePicturesShapeComesFromThePlayerThenThePartThenTheVideo)
{
    auto video = std::make_shared<KRVideo>();
    video->setCid(21);
    video->setWidth(1920);
    video->setHeight(1080);
    video->setPages({part(21, QStringLiteral("00:12"), 1080, 1920), part(22, QStringLiteral("00:12"), 1920, 1080, 90),
                     part(23, QStringLiteral("00:12"))});
    KRVideoPageEntry entry(video);
    EXPECT_TRUE(entry.hasKnownOrientation());
    EXPECT_TRUE(entry.isPortrait());

    // A real size wins; an empty one changes nothing.
    entry.refreshMediaOrientationFromSize(QSizeF(640, 360));
    EXPECT_TRUE(entry.hasMediaNaturalSize());
    EXPECT_FALSE(entry.isPortrait());
    entry.refreshMediaOrientationFromSize(QSizeF(0, 0));
    EXPECT_FALSE(entry.isPortrait());

    // Another part forgets the size; a rotated part turns.
    entry.selectPart(entry.videoForPart(1), 1);
    EXPECT_FALSE(entry.hasMediaNaturalSize());
    EXPECT_TRUE(entry.isPortrait());
    // A part without sizes takes the video's.
    entry.selectPart(entry.videoForPart(2), 2);
    EXPECT_TRUE(entry.hasKnownOrientation());
    EXPECT_FALSE(entry.isPortrait());

    KRVideoPageEntry unknown(std::make_shared<KRVideo>());
    EXPECT_FALSE(unknown.hasKnownOrientation());
    EXPECT_FALSE(unknown.isPortrait());
    KRVideoPageEntry none(nullptr);
    EXPECT_FALSE(none.hasKnownOrientation());
    EXPECT_EQ(none.accountAID(), 0);
    EXPECT_EQ(none.selectedPartDuration(), 0);
    EXPECT_FALSE(none.videoForPart(0));
}

TEST(VideoPageEntry, TheAutomaticStartIsDecidedOnceAndCommentFocusNamesTheRootWithoutAReply)
{
    KRVideoPageEntry entry(threeParts(11));
    EXPECT_TRUE(entry.claimAutomaticPlaybackDecision());
    EXPECT_FALSE(entry.claimAutomaticPlaybackDecision());

    entry.focusComment(501, 0);
    EXPECT_EQ(entry.focusedCommentRpid(), 501);
    EXPECT_EQ(entry.focusedReplyRpid(), 501);
    entry.focusComment(501, 777);
    EXPECT_EQ(entry.focusedReplyRpid(), 777);
    entry.focusComment(-3, -1);
    EXPECT_EQ(entry.focusedCommentRpid(), 0);
    EXPECT_EQ(entry.focusedReplyRpid(), 0);
}

} // namespace
