#include "SocialTesting.h"

#include "platform/uikit/Label.h"
#include "platform/uikit/TextFrame.h"
#include "platform/uikit/TextMeasurement.h"
#include "shared/KRInlineEmoteLabel.h"

#include <QFontMetricsF>
#include <QRandomGenerator>

#include <cmath>

namespace socialtest {
namespace {

KREmoteMap emoteMap(const QVariantMap& urls)
{
    KREmoteMap map;
    for (auto it = urls.begin(); it != urls.end(); ++it)
        map.insert(it.key(), QVariantMap{{QStringLiteral("text"), it.key()}, {QStringLiteral("url"), it.value()}});
    return map;
}

QVariantList items(const KRInlineEmoteContent& content) { return content.value(QStringLiteral("items")).toList(); }

TEST(InlineEmoteParse, LongestTokenWinsAndLocationsCountUTF16)
{
    const KREmoteMap map = emoteMap({{QStringLiteral("[a]"), QStringLiteral("https://x/a.png")},
                                     {QStringLiteral("[ab]"), QStringLiteral("https://x/ab.png")}});
    const KRInlineEmoteContent ab = KRInlineEmoteParse(QStringLiteral("[ab]"), map);
    ASSERT_EQ(items(ab).size(), 1);
    EXPECT_EQ(items(ab)[0].toMap().value(QStringLiteral("token")).toString(), QStringLiteral("[ab]"));
    EXPECT_EQ(ab.value(QStringLiteral("text")).toString(), QString(QChar(0xFFFC)));

    const KRInlineEmoteContent xay = KRInlineEmoteParse(QStringLiteral("x[a]y"), map);
    EXPECT_EQ(xay.value(QStringLiteral("text")).toString(), QStringLiteral("x\uFFFCy"));
    ASSERT_EQ(items(xay).size(), 1);
    EXPECT_EQ(items(xay)[0].toMap().value(QStringLiteral("location")).toULongLong(), 1u);
    EXPECT_EQ(items(xay)[0].toMap().value(QStringLiteral("url")).toString(), QStringLiteral("https://x/a.png"));

    const KRInlineEmoteContent cut = KRInlineEmoteParse(QStringLiteral("x[ab"), map);
    EXPECT_EQ(cut.value(QStringLiteral("text")).toString(), QStringLiteral("x[ab"));
    EXPECT_TRUE(items(cut).isEmpty());
}

TEST(InlineEmoteParse, TokensWithoutATextAddressStayText)
{
    KREmoteMap map = emoteMap({{QStringLiteral("[e]"), QString()}});
    map.insert(QStringLiteral("[n]"), QVariantMap{{QStringLiteral("url"), 42}});
    map.insert(QStringLiteral("[m]"), QVariantMap{});
    const KRInlineEmoteContent content = KRInlineEmoteParse(QStringLiteral("[e][n][m]"), map);
    EXPECT_EQ(content.value(QStringLiteral("text")).toString(), QStringLiteral("[e][n][m]"));
    EXPECT_TRUE(items(content).isEmpty());
    EXPECT_TRUE(items(KRInlineEmoteParse(QStringLiteral("[e]"), {})).isEmpty());
}

// Text between, before and after boxes is kept whole; a longer token without a picture stays
// text and hides the shorter tokens inside it; a record given as a hash reads as a map.
TEST(InlineEmoteParse, TextAroundBoxesIsKeptAndPicturelessTokensHideShorterOnes)
{
    KREmoteMap map = emoteMap({{QStringLiteral("[a]"), QStringLiteral("https://x/a.png")},
                               {QStringLiteral("[a][a]x"), QString()}});
    map.insert(QStringLiteral("[h]"), QVariantHash{{QStringLiteral("url"), QStringLiteral("https://x/h.png")}});
    const KRInlineEmoteContent content = KRInlineEmoteParse(QStringLiteral("前[a]中间[a][a]x[h][a]后"), map);
    EXPECT_EQ(content.value(QStringLiteral("text")).toString(), QStringLiteral("前\uFFFC中间[a][a]x\uFFFC\uFFFC后"));
    ASSERT_EQ(items(content).size(), 3);
    EXPECT_EQ(items(content)[0].toMap().value(QStringLiteral("location")).toULongLong(), 1u);
    EXPECT_EQ(items(content)[1].toMap().value(QStringLiteral("location")).toULongLong(), 11u);
    EXPECT_EQ(items(content)[1].toMap().value(QStringLiteral("url")).toString(), QStringLiteral("https://x/h.png"));
    EXPECT_EQ(items(content)[1].toMap().value(QStringLiteral("token")).toString(), QStringLiteral("[h]"));
    EXPECT_EQ(items(content)[2].toMap().value(QStringLiteral("location")).toULongLong(), 12u);
    // Without any box the text is the message.
    EXPECT_EQ(KRInlineEmoteParse(QStringLiteral("[b]没有"), map).value(QStringLiteral("text")).toString(), QStringLiteral("[b]没有"));

    // Tokens that begin differently are all found.
    const KREmoteMap mixed = emoteMap({{QStringLiteral(":)"), QStringLiteral("https://x/smile.png")},
                                       {QStringLiteral("[a]"), QStringLiteral("https://x/a.png")},
                                       {QStringLiteral("a]"), QStringLiteral("https://x/tail.png")}});
    const KRInlineEmoteContent both = KRInlineEmoteParse(QStringLiteral("x:)y[a]a]:"), mixed);
    EXPECT_EQ(both.value(QStringLiteral("text")).toString(), QStringLiteral("x\uFFFCy\uFFFC\uFFFC:"));
    ASSERT_EQ(items(both).size(), 3);
    EXPECT_EQ(items(both)[0].toMap().value(QStringLiteral("token")).toString(), QStringLiteral(":)"));
    EXPECT_EQ(items(both)[1].toMap().value(QStringLiteral("token")).toString(), QStringLiteral("[a]"));
    EXPECT_EQ(items(both)[2].toMap().value(QStringLiteral("token")).toString(), QStringLiteral("a]"));
}

TEST(InlineEmoteLayout, BoxesAreOneLineSquares)
{
    const QFont font = platform::uikit::Label::systemFont(10);
    ASSERT_LE(QFontMetricsF(font).lineSpacing(), 17);
    EXPECT_EQ(KRInlineEmoteLineHeight(font), 17);
    const QFont large = platform::uikit::Label::systemFont(30);
    EXPECT_EQ(KRInlineEmoteLineHeight(large), std::ceil(QFontMetricsF(large).lineSpacing()));

    const KREmoteMap map = emoteMap({{QStringLiteral("[a]"), QStringLiteral("https://x/a.png")}});
    const auto string = KRInlineEmoteCreateAttributedString(KRInlineEmoteParse(QStringLiteral("ab[a]cd"), map), font);
    const platform::uikit::TextFrame frame(string, QRectF(0, 0, 300, 100));
    ASSERT_EQ(frame.lines().size(), 1);
    int boxes = 0;
    for (const auto& run : frame.lines()[0].runs) {
        if (!run.attributes.custom.contains(KRInlineEmoteURLAttribute))
            continue;
        ++boxes;
        EXPECT_EQ(run.location, 2);
        EXPECT_NEAR(run.width, 17, 0.01);
        EXPECT_NEAR(run.ascent + run.descent, 17, 0.01);
        EXPECT_GE(run.typographicBounds().top(), -0.01);
        EXPECT_LE(run.typographicBounds().bottom(), 17.01);
    }
    EXPECT_EQ(boxes, 1);
}

TEST(InlineEmoteLayout, BoxesWrapWholeAndEveryLineIsOneLineHigh)
{
    const QFont font = platform::uikit::Label::systemFont(13);
    const qreal L = KRInlineEmoteLineHeight(font);
    const KREmoteMap map = emoteMap({{QStringLiteral("[a]"), QStringLiteral("https://x/a.png")}});
    // Ten boxes of L in a width of 4.5 L: four a line.
    const auto string = KRInlineEmoteCreateAttributedString(KRInlineEmoteParse(QString(QStringLiteral("[a]")).repeated(10), map), font);
    const platform::uikit::TextFrame frame(string, QRectF(0, 0, 4.5 * L, 1000));
    ASSERT_EQ(frame.lines().size(), 3);
    for (int i = 0; i < 3; ++i) {
        for (const auto& run : frame.lines()[i].runs) {
            EXPECT_LE(run.origin.x() + run.width, 4.5 * L + 0.01);
            EXPECT_NEAR(run.typographicBounds().top(), i * L, 0.01);
        }
    }
    // Only whole lines fit a short rectangle; the count still covers them all.
    const platform::uikit::TextFrame shortFrame(string, QRectF(0, 0, 4.5 * L, 2 * L));
    EXPECT_EQ(shortFrame.lines().size(), 2);
    EXPECT_EQ(shortFrame.lineCountAtWidth(), 3);
}

class InlineEmoteLabelTest : public SocialTest {};

TEST_F(InlineEmoteLabelTest, HeightsFollowLinesAndAreCached)
{
    const QFont font = platform::uikit::Label::systemFont(13);
    const qreal L = KRInlineEmoteLineHeight(font);
    const KREmoteMap map = emoteMap({{QStringLiteral("[a]"), QStringLiteral("https://x/a.png")}});
    KRInlineEmoteHeightCache().clear();
    EXPECT_EQ(KRInlineEmoteLabel::heightForMessage(QStringLiteral("[a]"), map, 300), L);
    const QString many = QString(QStringLiteral("[a]")).repeated(60);
    EXPECT_GE(KRInlineEmoteLabel::heightForMessage(many, map, 100), 5 * L);
    EXPECT_EQ(KRInlineEmoteLabel::heightForMessage(many, map, 100, font, 2), 2 * L);

    const QString plain = QStringLiteral("没有表情的一段比较长的文字，会在窄的宽度里换成好几行。");
    const QSizeF measured = platform::uikit::sizeWithFont(plain, font, QSizeF(120, 32768), platform::uikit::LineBreakByCharWrapping);
    EXPECT_GT(measured.height(), QFontMetricsF(font).lineSpacing());
    EXPECT_EQ(KRInlineEmoteLabel::heightForMessage(plain, map, 120),
              std::max(std::ceil(QFontMetricsF(font).lineSpacing()), std::ceil(measured.height())));
    EXPECT_EQ(KRInlineEmoteLabel::heightForMessage(plain, map, 120, font, 1), L);

    EXPECT_EQ(KRInlineEmoteHeightCache().maxCost(), 128);
    const int before = KRInlineEmoteHeightCache().count();
    KRInlineEmoteLabel::heightForMessage(plain, map, 120);
    EXPECT_EQ(KRInlineEmoteHeightCache().count(), before);
    // A bold font is another key.
    KRInlineEmoteLabel::heightForMessage(plain, map, 120, platform::uikit::Label::systemFont(13, true));
    EXPECT_EQ(KRInlineEmoteHeightCache().count(), before + 1);
}

// A measured height is the drawn frame's lines, for messages of every kind: emotes first,
// last, in rows and between scripts, digits, punctuation, emoji, spaces and new lines.
TEST_F(InlineEmoteLabelTest, HeightsAreTheDrawnFramesLines)
{
    const KREmoteMap map = emoteMap({{QStringLiteral("[笑]"), QStringLiteral("https://x/laugh.png")},
                                     {QStringLiteral("[赞]"), QStringLiteral("https://x/like.png")},
                                     {QStringLiteral("[doge]"), QStringLiteral("https://x/doge.png")}});
    const QStringList pieces = {QStringLiteral("[笑]"), QStringLiteral("[赞]"), QStringLiteral("[doge]"),
                                QStringLiteral("这个视频做得真好，"), QStringLiteral("讲得清楚又有趣。"),
                                QStringLiteral("哈哈哈"), QStringLiteral("2333"), QStringLiteral("up主"),
                                QStringLiteral("！！"), QStringLiteral("😀"), QStringLiteral("nice "),
                                QStringLiteral("下次还来\n"), QStringLiteral("ありがとう"), QStringLiteral("——")};
    QRandomGenerator random(7);
    for (int round = 0; round < 400; ++round) {
        QString message;
        for (int n = 1 + int(random.bounded(12)); n > 0; --n)
            message += pieces[int(random.bounded(int(pieces.size())))];
        const QFont font = platform::uikit::Label::systemFont(round % 2 ? 13 : 11);
        const qreal width = 60 + random.bounded(300);
        const KRInlineEmoteContent content = KRInlineEmoteParse(message, map);
        if (items(content).isEmpty())
            continue;
        const platform::uikit::TextFrame frame(KRInlineEmoteCreateAttributedString(content, font), QRectF(0, 0, width, 32768));
        KRInlineEmoteHeightCache().clear();
        ASSERT_EQ(KRInlineEmoteLabel::heightForMessage(message, map, width, font),
                  std::max(1, int(frame.lines().size())) * KRInlineEmoteLineHeight(font))
            << "width " << width << ": " << qPrintable(message);
    }
}

TEST_F(InlineEmoteLabelTest, ATokenUsedThriceIsAskedForOnceAndDrawsFittedInItsBox)
{
    const QString url = servePicture(QStringLiteral("/bfs/emote/wide.png"), 40, 20);
    const KREmoteMap map = emoteMap({{QStringLiteral("[w]"), url}});
    KRInlineEmoteLabel label(QRectF(0, 0, 300, 17));
    label.setFont(platform::uikit::Label::systemFont(10));
    label.configureWithMessage(QStringLiteral("[w]x[w]y[w]"), map);
    EXPECT_EQ(label.accessibilityLabel(), QStringLiteral("[w]x[w]y[w]"));
    KR_WAIT_UNTIL(label.loadedImages().contains(url));
    QCoreApplication::processEvents();
    EXPECT_EQ(requestsStartingWith(QStringLiteral("/bfs/emote/wide")), 1);

    const auto rects = label.emoteImageRectsInSize(QSizeF(300, 17));
    ASSERT_EQ(rects.size(), 3);
    EXPECT_NEAR(rects[0].second.width(), 17, 0.01);
    EXPECT_NEAR(rects[0].second.height(), 8.5, 0.01);
    EXPECT_NEAR(rects[0].second.x(), 0, 0.01);
    EXPECT_NEAR(rects[0].second.y(), 4, 0.01);

    // The picture shows where the box is: the text around it is not drawn over it.
    const QImage grab = label.grab().toImage();
    const QImage picture = label.loadedImages().value(url).image();
    EXPECT_NE(grab.pixelColor(8, 8).alpha(), 0);
    EXPECT_TRUE(colorNear(grab.pixelColor(8, 8), picture.pixelColor(20, 10), 40));
}

TEST_F(InlineEmoteLabelTest, ALateImageIsDroppedAfterANewConfiguration)
{
    const QString slowPath = QStringLiteral("/bfs/emote/slow.png");
    const QString slow = servePicture(slowPath, 40, 40, 300);
    KRInlineEmoteLabel label(QRectF(0, 0, 300, 40));
    label.configureWithMessage(QStringLiteral("[s]"), emoteMap({{QStringLiteral("[s]"), slow}}));
    KR_WAIT_UNTIL(fake.requestsTo(slowPath).size() == 1);
    // The new configuration has emotes of its own, so only its generation keeps the old one out.
    const QString other = servePicture(QStringLiteral("/bfs/emote/other.png"), 40, 40);
    label.configureWithMessage(QStringLiteral("plain[t]"), emoteMap({{QStringLiteral("[t]"), other}}));
    // A witness joins the same download; once it has the picture, so has every waiter.
    KRInlineEmoteLabel witness(QRectF(0, 0, 300, 40));
    witness.configureWithMessage(QStringLiteral("[s]"), emoteMap({{QStringLiteral("[s]"), slow}}));
    KR_WAIT_UNTIL(witness.loadedImages().contains(slow));
    EXPECT_FALSE(label.loadedImages().contains(slow));
    EXPECT_EQ(label.text(), QStringLiteral("plain\uFFFC"));
}

} // namespace
} // namespace socialtest
