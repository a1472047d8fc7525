#include "SocialTesting.h"

#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "shared/KRCommentCell.h"
#include "shared/KRInlineEmoteLabel.h"

#include <QDateTime>
#include <QFontMetricsF>

#include <cmath>

namespace socialtest {
namespace {

class CommentCellTest : public SocialTest, public KRCommentCellDelegate {
protected:
    void commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls) override
    {
        tappedIndex = int(index);
        tappedURLs = urls;
    }
    void commentCellDidTapThread(KRCommentCell*) override { ++threadTaps; }

    static std::shared_ptr<KRComment> comment(int pictures, qint32 replies = 0)
    {
        auto c = std::make_shared<KRComment>();
        c->setRpid(1);
        c->setOid(CommentFixtures::kThreadOID);
        c->setAuthorName(QStringLiteral("A"));
        c->setMessage(QStringLiteral("一条评论的正文，长到足以换成两行以上的文字，好让高度由标签算出。"));
        c->setLikeCount(12);
        c->setReplyCount(replies);
        QStringList urls;
        for (int i = 0; i < pictures; ++i)
            urls << testsupport::ImageFixtures::coverAddress(QStringLiteral("pic%1").arg(i));
        c->setPictureURLs(urls);
        return c;
    }
    KRCommentCell* laidOut(const std::shared_ptr<KRComment>& c, bool hint = false)
    {
        cell = std::make_unique<KRCommentCell>();
        cell->setFrame(QRectF(0, 0, 375, KRCommentCell::heightForComment(*c, 375, hint)));
        cell->configureWithComment(c, hint);
        cell->setPictureDelegate(this);
        cell->layoutSubviews();
        return cell.get();
    }
    static qreal messageHeight(const KRComment& c) { return KRInlineEmoteLabel::heightForMessage(c.message(), c.emotes(), 307); }

    std::unique_ptr<KRCommentCell> cell;
    int tappedIndex = -1;
    QStringList tappedURLs;
    int threadTaps = 0;
};

TEST_F(CommentCellTest, RowLayoutAt375)
{
    const auto c = comment(0);
    const qreal H = messageHeight(*c);
    KRCommentCell* row = laidOut(c);
    EXPECT_EQ(row->avatarView()->frame(), QRectF(10, 9, 36, 36));
    EXPECT_EQ(row->authorLabel()->frame(), QRectF(56, 7, 307, 18));
    EXPECT_EQ(row->messageLabel()->frame(), QRectF(56, 29, 307, H));
    EXPECT_EQ(row->messageLabel()->lineBreakMode(), platform::uikit::LineBreakByCharWrapping);
    EXPECT_EQ(row->messageLabel()->objectName(), QStringLiteral("messageLabel"));

    laidOut(comment(1));
    EXPECT_EQ(cell->pictureViews()[0]->frame(), QRectF(56, H + 33, 148, 92));
    laidOut(comment(2));
    EXPECT_EQ(cell->pictureViews()[0]->frame(), QRectF(56, H + 33, 74, 74));
    EXPECT_EQ(cell->pictureViews()[1]->frame(), QRectF(135, H + 33, 74, 74));
}

TEST_F(CommentCellTest, HeightsByPicturesAndHint)
{
    const qreal H = messageHeight(*comment(0));
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(0), 375, false), std::max(H + 61, 72.0));
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(1), 375, false), H + 61 + 98);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(2), 375, false), H + 61 + 80);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(3), 375, false), H + 61 + 80);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(4), 375, false), H + 61 + 159);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(9), 375, false), H + 61 + 238);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(12), 375, false), H + 61 + 238);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(0, 5), 375, true), H + 61 + 24);
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(0, 5), 375, false), H + 61);
    auto shortOne = comment(0);
    shortOne->setMessage(QStringLiteral("短"));
    // One line: 61 and the font's rounded line spacing; the floor of 72 does not bind.
    EXPECT_EQ(KRCommentCell::heightForComment(*shortOne, 375, false),
              std::max(72.0, 61 + std::ceil(QFontMetricsF(platform::uikit::Label::systemFont(13)).lineSpacing())));
    // A narrow table still lays text out 120 wide.
    EXPECT_EQ(KRCommentCell::heightForComment(*comment(0), 150, false),
              KRInlineEmoteLabel::heightForMessage(comment(0)->message(), {}, 120) + 61);
}

TEST_F(CommentCellTest, TwelvePicturesShowNineAndTheDelegateGetsAllTwelve)
{
    KRCommentCell* row = laidOut(comment(12));
    ASSERT_EQ(row->pictureViews().size(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(row->pictureViews()[i]->tag(), 7300 + i);
        EXPECT_FALSE(row->pictureViews()[i]->isHidden());
        EXPECT_EQ(row->pictureViews()[i]->accessibilityLabel(), QStringLiteral("评论图片 %1").arg(i + 1));
    }
    auto* recogniser = row->pictureViews()[8]->findChild<platform::uikit::TapGestureRecognizer*>();
    ASSERT_TRUE(recogniser);
    recogniser->tapForTesting(QPointF(5, 5));
    EXPECT_EQ(tappedIndex, 8);
    EXPECT_EQ(tappedURLs.size(), 12);

    // Reused for one picture: the rest hide, and a tag beyond the pictures is ignored.
    row->prepareForReuse();
    row->configureWithComment(comment(1), false);
    row->setPictureDelegate(this);
    EXPECT_FALSE(row->pictureViews()[0]->isHidden());
    EXPECT_TRUE(row->pictureViews()[1]->isHidden());
    tappedIndex = -1;
    row->pictureTapped(7301);
    EXPECT_EQ(tappedIndex, -1);
}

TEST_F(CommentCellTest, Texts)
{
    auto c = comment(0, 5);
    c->setPinned(true);
    c->setCreatedAt(QDateTime::currentSecsSinceEpoch());
    laidOut(c, true);
    EXPECT_EQ(cell->authorLabel()->text(), QStringLiteral("置顶 · A"));
    EXPECT_EQ(cell->metaLabel()->text(), QStringLiteral("刚刚  ·  赞 12"));
    EXPECT_EQ(cell->threadLabel()->text(), QStringLiteral("查看 5 条回复  ›"));
    auto* recogniser = cell->threadLabel()->findChild<platform::uikit::TapGestureRecognizer*>();
    ASSERT_TRUE(recogniser);
    recogniser->tapForTesting(QPointF(5, 5));
    EXPECT_EQ(threadTaps, 1);

    auto anonymous = comment(0, 5);
    anonymous->setAuthorName(QString());
    laidOut(anonymous, false);
    EXPECT_EQ(cell->authorLabel()->text(), QStringLiteral("匿名用户"));
    EXPECT_EQ(cell->metaLabel()->text(), QStringLiteral("赞 12"));
    EXPECT_TRUE(cell->threadLabel()->isHidden());
    cell->threadTapped();
    EXPECT_EQ(threadTaps, 1);

    // Pinned and anonymous: the row still says it is pinned.
    auto pinnedAnonymous = comment(0, 0);
    pinnedAnonymous->setAuthorName(QString());
    pinnedAnonymous->setPinned(true);
    laidOut(pinnedAnonymous, false);
    EXPECT_EQ(cell->authorLabel()->text(), QStringLiteral("置顶 · 匿名用户"));
}

TEST_F(CommentCellTest, AvatarPlaceholderPixels)
{
    const QImage image = KRCommentAvatarPlaceholder().image();
    ASSERT_EQ(image.size(), QSize(40, 40));
    EXPECT_TRUE(colorNear(image.pixelColor(2, 2), QColor(232, 232, 237), 2));
    EXPECT_TRUE(colorNear(image.pixelColor(20, 14), QColor(158, 158, 158), 2));
    EXPECT_TRUE(colorNear(image.pixelColor(20, 32), QColor(158, 158, 158), 2));
}

TEST_F(CommentCellTest, ALateAvatarNeverLandsOnAReusedRow)
{
    // An emote-style address: the loader asks for it unchanged.
    const QString slowPath = QStringLiteral("/bfs/emote/slow-avatar.png");
    auto first = comment(0);
    first->setAvatarURL(servePicture(slowPath, 64, 64, 300));
    KRCommentCell* row = laidOut(first);
    KR_WAIT_UNTIL(fake.requestsTo(slowPath).size() == 1);
    row->prepareForReuse();
    row->configureWithComment(comment(0), false);
    // A witness row joins the same download; once it shows the avatar, every waiter has it.
    KRCommentCell witness;
    witness.configureWithComment(first, false);
    KR_WAIT_UNTIL(!witness.avatarView()->image().isSameAs(KRCommentAvatarPlaceholder()));
    EXPECT_TRUE(row->avatarView()->image().isSameAs(KRCommentAvatarPlaceholder()));
}

} // namespace
} // namespace socialtest
