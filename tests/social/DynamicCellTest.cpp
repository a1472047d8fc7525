#include "SocialTesting.h"

#include "look/KRTheme.h"
#include "model/KRDynamic.h"
#include "model/KRVideo.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "shared/KRInlineEmoteLabel.h"
#include "social/KRDynamicCell.h"

namespace socialtest {
namespace {

class DynamicCellTest : public SocialTest, public KRDynamicCellDelegate {
protected:
    void dynamicCellDidSelectVideo(KRDynamicCell*) override { taps << QStringLiteral("video"); }
    void dynamicCellDidSelectAuthor(KRDynamicCell*) override { taps << QStringLiteral("author"); }
    void dynamicCellDidSelectBody(KRDynamicCell*) override { taps << QStringLiteral("body"); }
    void dynamicCellDidSelectLike(KRDynamicCell*) override { taps << QStringLiteral("like"); }
    void dynamicCellDidSelectComment(KRDynamicCell*) override { taps << QStringLiteral("comment"); }
    void dynamicCellDidSelectRepost(KRDynamicCell*) override { taps << QStringLiteral("repost"); }
    void dynamicCellDidSelectOriginal(KRDynamicCell*) override { taps << QStringLiteral("original"); }
    bool dynamicCellDidSelectPictureAtIndex(KRDynamicCell*, unsigned index) override
    {
        if (!takesPictures)
            return false;
        taps << QStringLiteral("picture %1").arg(index);
        return true;
    }

    static std::shared_ptr<KRDynamic> post(const QString& text, int pictures = 0)
    {
        auto d = std::make_shared<KRDynamic>();
        d->setDynamicID(QStringLiteral("800%1").arg(pictures));
        d->setAuthorName(QStringLiteral("作者"));
        d->setPublishText(QStringLiteral("3分钟前"));
        d->setText(text);
        QStringList urls;
        for (int i = 0; i < pictures; ++i)
            urls << testsupport::ImageFixtures::coverAddress(QStringLiteral("dyn%1").arg(i));
        d->setPictureURLs(urls);
        return d;
    }
    static std::shared_ptr<KRVideo> video(const QString& title)
    {
        auto v = std::make_shared<KRVideo>();
        v->setAid(170001);
        v->setTitle(title);
        return v;
    }
    KRDynamicCell* laidOut(const std::shared_ptr<KRDynamic>& d, bool expanded = false)
    {
        cell = std::make_unique<KRDynamicCell>(TableViewCellStyleDefault, QStringLiteral("KRDynamicCell"));
        cell->setFrame(QRectF(0, 0, 375, KRDynamicCell::heightForDynamic(*d, 375, expanded)));
        cell->configureWithDynamic(d, expanded);
        cell->setDelegate(this);
        cell->layoutSubviews();
        return cell.get();
    }
    // Clicks the control as a user would, with the row on screen.
    void click(View* control)
    {
        cell->show();
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    }

    std::unique_ptr<KRDynamicCell> cell;
    QStringList taps;
    bool takesPictures = true;
};

TEST_F(DynamicCellTest, RowFramesAt375)
{
    const auto d = post(QStringLiteral("一条动态"), 4);
    d->setVideo(video(QStringLiteral("视频标题")));
    d->setOriginalAuthorName(QStringLiteral("原作者"));
    d->setOriginalTitle(QStringLiteral("原标题"));
    d->setOriginalCoverURL(testsupport::ImageFixtures::coverAddress(QStringLiteral("orig")));
    KRDynamicCell* row = laidOut(d);
    const qreal B = KRDynamicBodyHeight(*d, false, 375);

    EXPECT_EQ(row->avatarView()->frame(), QRectF(10, 9, 36, 36));
    EXPECT_EQ(row->authorLabel()->frame(), QRectF(54, 8, 311, 21));
    EXPECT_EQ(row->timeLabel()->frame(), QRectF(54, 28, 311, 15));
    EXPECT_EQ(row->bodyLabel()->frame(), QRectF(10, 50, 355, B));
    EXPECT_EQ(row->bodyLabel()->numberOfLines(), 5);
    EXPECT_EQ(row->authorControl()->frame(), QRectF(6, 5, 363, 41));
    EXPECT_EQ(row->bodyControl()->frame(), QRectF(6, 47, 363, B + 6));

    EXPECT_EQ(row->pictureContainer()->frame(), QRectF(10, 55 + B, 355, 234));
    EXPECT_EQ(row->pictureViews()[0]->frame(), QRectF(0, 0, 115, 115));
    EXPECT_EQ(row->pictureViews()[1]->frame(), QRectF(119, 0, 115, 115));
    EXPECT_EQ(row->pictureViews()[2]->frame(), QRectF(238, 0, 115, 115));
    EXPECT_EQ(row->pictureViews()[3]->frame(), QRectF(0, 119, 115, 115));
    EXPECT_EQ(row->pictureControls()[3]->frame(), row->pictureViews()[3]->frame());
    EXPECT_FALSE(row->pictureViews()[3]->isHidden());
    EXPECT_TRUE(row->pictureViews()[4]->isHidden());
    EXPECT_TRUE(row->pictureControls()[4]->isHidden());

    qreal y = 55 + B + 234 + 4;
    EXPECT_EQ(row->videoControl()->frame(), QRectF(10, y, 355, 64));
    EXPECT_EQ(row->coverView()->frame(), QRectF(0, 0, 104, 64));
    EXPECT_EQ(row->videoTitleLabel()->frame(), QRectF(112, 7, 233, 50));
    y += 68;
    EXPECT_EQ(row->originalCard()->frame(), QRectF(10, y, 355, 58));
    EXPECT_EQ(row->originalCoverView()->frame(), QRectF(0, 0, 82, 58));
    EXPECT_EQ(row->originalLabel()->frame(), QRectF(89, 4, 256, 50));
    y += 62;
    EXPECT_EQ(row->likeButton()->frame(), QRectF(8, y, 116, 30));
    EXPECT_EQ(row->commentButton()->frame(), QRectF(129, y, 116, 30));
    EXPECT_EQ(row->repostButton()->frame(), QRectF(250, y, 117, 30));
    EXPECT_EQ(KRDynamicCell::heightForDynamic(*d, 375, false), B + 90 + 234 + 4 + 68 + 62);
    EXPECT_EQ(y + 30 + 5, KRDynamicCell::heightForDynamic(*d, 375, false));

    // Without a cover the label takes the card's width.
    d->setOriginalCoverURL({});
    laidOut(d);
    EXPECT_TRUE(cell->originalCoverView()->isHidden());
    EXPECT_EQ(cell->originalLabel()->frame(), QRectF(8, 4, 339, 50));
}

TEST_F(DynamicCellTest, OnePictureIsAWideTile)
{
    const auto d = post(QStringLiteral("一张图"), 1);
    KRDynamicCell* row = laidOut(d);
    const qreal B = KRDynamicBodyHeight(*d, false, 375);
    EXPECT_EQ(row->pictureContainer()->frame(), QRectF(10, 55 + B, 355, 92));
    EXPECT_EQ(row->pictureViews()[0]->frame(), QRectF(0, 0, 164, 92));
    EXPECT_TRUE(row->videoControl()->isHidden());
    EXPECT_TRUE(row->originalCard()->isHidden());
    EXPECT_EQ(KRDynamicCell::heightForDynamic(*d, 375, false), B + 90 + 92 + 4);
}

TEST_F(DynamicCellTest, PictureHeights)
{
    EXPECT_EQ(KRDynamicPictureHeight(0, 375), 0);
    EXPECT_EQ(KRDynamicPictureHeight(1, 375), 92);
    EXPECT_EQ(KRDynamicPictureHeight(2, 375), 115);
    EXPECT_EQ(KRDynamicPictureHeight(4, 375), 234);
    EXPECT_EQ(KRDynamicPictureHeight(12, 375), 353);
    EXPECT_EQ(KRDynamicPictureHeight(4, 320), 198);
}

TEST_F(DynamicCellTest, TwelvePicturesShowNineInThreeRows)
{
    const auto d = post(QStringLiteral("十二张"), 12);
    KRDynamicCell* row = laidOut(d);
    const qreal B = KRDynamicBodyHeight(*d, false, 375);
    EXPECT_EQ(row->pictureContainer()->frame().height(), 353);
    EXPECT_EQ(row->pictureViews()[8]->frame(), QRectF(238, 238, 115, 115));
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(row->pictureViews()[i]->isHidden()) << i;
    EXPECT_EQ(KRDynamicCell::heightForDynamic(*d, 375, false), B + 90 + 353 + 4);
}

TEST_F(DynamicCellTest, BodyHeightIsBoundedOnlyWhenFolded)
{
    QString longText;
    for (int i = 0; i < 40; ++i)
        longText += QStringLiteral("很长的一段动态正文，");
    const auto longPost = post(longText);
    EXPECT_EQ(KRDynamicBodyHeight(*longPost, false, 375), 72);
    const qreal expanded = KRDynamicBodyHeight(*longPost, true, 375);
    EXPECT_GT(expanded, 150);
    EXPECT_EQ(expanded, std::ceil(KRInlineEmoteLabel::heightForMessage(longText, {}, 355, Label::systemFont(13), 0)) + 2);
    KRDynamicCell* row = laidOut(longPost, true);
    EXPECT_EQ(row->bodyLabel()->numberOfLines(), 0);
    EXPECT_EQ(row->bodyLabel()->frame().height(), expanded);

    const qreal shortHeight = KRDynamicBodyHeight(*post(QStringLiteral("短")), false, 375);
    EXPECT_GE(shortHeight, 18);
    EXPECT_LE(shortHeight, 72);
    // A narrow table still measures with 80 points of text.
    EXPECT_EQ(KRDynamicBodyHeight(*longPost, true, 40),
              std::ceil(KRInlineEmoteLabel::heightForMessage(longText, {}, 80, Label::systemFont(13), 0)) + 2);
}

TEST_F(DynamicCellTest, Texts)
{
    auto d = post({});
    laidOut(d);
    EXPECT_EQ(cell->bodyLabel()->parsedContent().value(QStringLiteral("text")).toString(), QStringLiteral("发布了新动态"));
    d->setVideo(video(QStringLiteral("视频")));
    laidOut(d);
    EXPECT_EQ(cell->bodyLabel()->parsedContent().value(QStringLiteral("text")).toString(), QStringLiteral("分享了视频"));
    EXPECT_EQ(cell->videoTitleLabel()->text(), QStringLiteral("视频"));

    d->setAuthorName({});
    d->setLikeCount(5);
    laidOut(d);
    EXPECT_EQ(cell->authorLabel()->text(), QStringLiteral("岚帆视频用户"));
    EXPECT_EQ(cell->timeLabel()->text(), QStringLiteral("3分钟前"));
    EXPECT_EQ(cell->likeButton()->title(ControlStateNormal), QStringLiteral("赞 5"));
    EXPECT_NE(cell->likeButton()->titleColor(ControlStateNormal), KRTheme::sharedTheme()->accentColor());
    EXPECT_EQ(cell->commentButton()->title(ControlStateNormal), QStringLiteral("评论"));
    EXPECT_EQ(cell->repostButton()->title(ControlStateNormal), QStringLiteral("更多"));

    d->setLiked(true);
    d->setLikeCount(6);
    d->setCommentCount(3);
    laidOut(d);
    EXPECT_EQ(cell->likeButton()->title(ControlStateNormal), QStringLiteral("已赞 6"));
    EXPECT_EQ(cell->likeButton()->titleColor(ControlStateNormal), KRTheme::sharedTheme()->accentColor());
    EXPECT_EQ(cell->commentButton()->title(ControlStateNormal), QStringLiteral("评论 3"));
}

TEST_F(DynamicCellTest, RepostCardTexts)
{
    auto d = post(QStringLiteral("转发"));
    const qreal plain = KRDynamicCell::heightForDynamic(*d, 375, false);
    d->setOriginalAuthorName(QStringLiteral("作者"));
    d->setOriginalText(QStringLiteral("正文"));
    d->setOriginalTitle(QStringLiteral("标题"));
    laidOut(d);
    EXPECT_EQ(cell->originalLabel()->text(), QStringLiteral("@作者\n标题"));
    EXPECT_FALSE(cell->originalCard()->isHidden());
    EXPECT_EQ(KRDynamicCell::heightForDynamic(*d, 375, false), plain + 62);

    d->setOriginalAuthorName({});
    d->setOriginalTitle({});
    laidOut(d);
    EXPECT_EQ(cell->originalLabel()->text(), QStringLiteral("原动态\n正文"));

    d->setOriginalText({});
    laidOut(d);
    EXPECT_TRUE(cell->originalCard()->isHidden());
    EXPECT_EQ(KRDynamicCell::heightForDynamic(*d, 375, false), plain);
}

TEST_F(DynamicCellTest, ClicksReachTheDelegate)
{
    auto d = post(QStringLiteral("点我"), 6);
    d->setVideo(video(QStringLiteral("视频")));
    d->setOriginalText(QStringLiteral("原文"));
    KRDynamicCell* row = laidOut(d);
    click(row->authorControl());
    click(row->bodyControl());
    click(row->videoControl());
    click(row->originalCard());
    click(row->likeButton());
    click(row->commentButton());
    click(row->repostButton());
    click(row->pictureControls()[4]);
    EXPECT_EQ(taps, (QStringList{QStringLiteral("author"), QStringLiteral("body"), QStringLiteral("video"),
                                 QStringLiteral("original"), QStringLiteral("like"), QStringLiteral("comment"),
                                 QStringLiteral("repost"), QStringLiteral("picture 4")}));

    // A delegate that takes no pictures hears of a body tap.
    taps.clear();
    takesPictures = false;
    click(row->pictureControls()[4]);
    EXPECT_EQ(taps, QStringList{QStringLiteral("body")});

    // Nothing is told once the delegate is gone.
    taps.clear();
    row->setDelegate(nullptr);
    click(row->likeButton());
    EXPECT_TRUE(taps.isEmpty());
}

TEST_F(DynamicCellTest, ALateAvatarForAnEarlierPostIsDropped)
{
    // An emote-style address: the loader asks for it unchanged.
    const QString slowPath = QStringLiteral("/bfs/emote/slow-face.png");
    auto first = post(QStringLiteral("一"));
    first->setDynamicID(QStringLiteral("1"));
    first->setAuthorAvatarURL(servePicture(slowPath, 64, 64, 300));
    auto second = post(QStringLiteral("二"));
    second->setDynamicID(QStringLiteral("2"));
    laidOut(first);
    KR_WAIT_UNTIL(fake.requestsTo(slowPath).size() == 1);
    cell->configureWithDynamic(second);
    // A witness row joins the same download; once it shows the avatar, every waiter has it.
    KRDynamicCell witness;
    witness.configureWithDynamic(first);
    KR_WAIT_UNTIL(!witness.avatarView()->image().isNull());
    EXPECT_TRUE(cell->avatarView()->image().isNull());
}

} // namespace
} // namespace socialtest
