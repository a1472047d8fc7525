// Attributed text in frames, plain measurement, character-wrapping labels, the field's
// selection and keyboard notifications, and the table's additions.
#include "KitTestSupport.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/AttributedString.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/TextFrame.h"
#include "platform/uikit/TextMeasurement.h"
#include "platform/uikit/Window.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRandomGenerator>

#include <cmath>

using namespace platform::uikit;

namespace {

class KitText : public KitTest {};

TEST_F(KitText, SpansSplitWhereAttributesChange)
{
    AttributedString s(QStringLiteral("abcdefgh"));
    s.setColor(2, 4, Qt::red);
    s.setAttribute(4, 10, QStringLiteral("k"), 1);
    s.setRunDelegate(7, {10, 2, 30});
    s.setColor(-3, 2, Qt::blue);   // clipped to the text: nothing
    ASSERT_EQ(s.spans().size(), 4);
    EXPECT_EQ(s.spans()[0].location, 2);
    EXPECT_EQ(s.spans()[0].length, 2);
    EXPECT_FALSE(s.spans()[0].attributes.custom.contains(QStringLiteral("k")));
    EXPECT_EQ(s.spans()[1].location, 4);
    EXPECT_EQ(s.spans()[1].attributes.color, QColor(Qt::red));
    EXPECT_EQ(s.spans()[1].attributes.custom.value(QStringLiteral("k")), 1);
    EXPECT_EQ(s.spans()[2].location, 6);
    EXPECT_FALSE(s.spans()[2].attributes.color.has_value());
    EXPECT_TRUE(s.attributesAt(7).delegate.has_value());
    EXPECT_TRUE(s.attributesAt(7).custom.contains(QStringLiteral("k")));
    EXPECT_FALSE(s.attributesAt(0).color.has_value());
}

TEST_F(KitText, FramesBreakBetweenCharactersAndKeepWholeLines)
{
    AttributedString s(QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    s.setFont(Label::systemFont(13));
    s.setLineHeight(20);
    const qreal width = QFontMetricsF(s.font()).horizontalAdvance(QStringLiteral("abcdefghij"));
    const TextFrame frame(s, QRectF(5, 7, width + 0.5, 45));
    ASSERT_EQ(frame.lines().size(), 2);   // 45 holds two lines of 20 whole
    EXPECT_EQ(frame.lineCountAtWidth(), 3);
    EXPECT_EQ(frame.lines()[0].location, 0);
    EXPECT_EQ(frame.lines()[0].length, 10);
    EXPECT_EQ(frame.lines()[1].location, 10);
    EXPECT_NEAR(frame.lines()[1].origin.y() - frame.lines()[0].origin.y(), 20, 0.001);
    EXPECT_EQ(frame.lines()[0].origin.x(), 5);
    EXPECT_GT(frame.lines()[0].origin.y(), 7);
    EXPECT_LE(frame.lines()[0].origin.y(), 27);

    // A frame draws its glyphs in the string's colour.
    QImage image(200, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    s.setColor(QColor(Qt::black));
    {
        QPainter p(&image);
        TextFrame(s, QRectF(0, 0, 200, 60)).draw(p);
    }
    bool inked = false;
    for (int x = 0; x < 200 && !inked; ++x)
        for (int y = 0; y < 20 && !inked; ++y)
            inked = image.pixelColor(x, y).red() < 100;
    EXPECT_TRUE(inked);
}

TEST_F(KitText, RunDelegatesTakeTheirBoxAndLiftTheBaseline)
{
    AttributedString s(QStringLiteral("ab\uFFFCcd"));
    s.setFont(Label::systemFont(13));
    s.setLineHeight(40);
    s.setRunDelegate(2, {30, 10, 25});
    s.setAttribute(2, 1, QStringLiteral("url"), QStringLiteral("u"));
    const TextFrame frame(s, QRectF(0, 0, 300, 40));
    ASSERT_EQ(frame.lines().size(), 1);
    const QList<TextRun>& runs = frame.lines()[0].runs;
    ASSERT_EQ(runs.size(), 3);
    EXPECT_EQ(runs[1].location, 2);
    EXPECT_NEAR(runs[1].width, 25, 0.01);
    EXPECT_EQ(runs[1].ascent, 30);
    EXPECT_EQ(runs[1].descent, 10);
    EXPECT_NEAR(runs[1].origin.y(), 30, 0.01);   // the box's ascent sets the baseline
    EXPECT_NEAR(runs[2].origin.x(), runs[1].origin.x() + 25, 0.01);
    EXPECT_EQ(runs[1].attributes.custom.value(QStringLiteral("url")).toString(), QStringLiteral("u"));
    EXPECT_EQ(TextFrame(s, QRectF(0, 0, 300, 10)).lines().size(), 0);
}

// Counting lines without a frame must agree with the frame's count for every string: texts of
// mixed scripts, digits, punctuation, emoji with modifiers, combining marks, spaces, new lines,
// right-to-left runs and coloured ranges, with boxes anywhere (first, last, in rows, wider than
// the line), at whole and fractional widths, in two fonts and two box sizes.
TEST_F(KitText, LineCountsWithoutAFrameMatchTheFrames)
{
    const QStringList pieces = {
        QStringLiteral("这个视频做得真好"), QStringLiteral("讲得清楚又有趣。"), QStringLiteral("哈哈哈"),
        QStringLiteral("abc"), QStringLiteral("Wow"), QStringLiteral("fffjjj"), QStringLiteral("123456"),
        QStringLiteral("！？"), QStringLiteral("、"), QStringLiteral("ありがとう"), QStringLiteral("한국어"),
        QStringLiteral("x"), QStringLiteral("——"), QStringLiteral("~~"), QStringLiteral("😀"),
        QStringLiteral("👍🏻"), QStringLiteral("a b"), QStringLiteral("x  "), QStringLiteral("\u0301e"),
        QStringLiteral("🏻"), QStringLiteral("ab\ncd"), QStringLiteral("١٢٣"), QStringLiteral("שלום"),
        QStringLiteral("。"), QStringLiteral("Ok!"), QStringLiteral("\u200d"), QStringLiteral("🇨🇳")};
    QRandomGenerator random(29);
    int compared = 0;
    for (int round = 0; round < 1500; ++round) {
        QString text;
        QList<int> boxes;
        const int parts = 1 + int(random.bounded(10));
        for (int i = 0; i < parts; ++i) {
            if (random.bounded(3) == 0) {
                for (int n = 1 + int(random.bounded(3)); n > 0; --n) {
                    boxes << int(text.size());
                    text += QChar(0xFFFC);
                }
            } else {
                text += pieces[int(random.bounded(int(pieces.size())))];
            }
        }
        AttributedString s(text);
        s.setFont(Label::systemFont(round % 3 == 0 ? 10 : 13));
        const qreal box = round % 4 == 0 ? 23.5 : 17;
        s.setLineHeight(box);
        for (int at : std::as_const(boxes)) {
            s.setRunDelegate(at, {box - 4, 4, box});
            s.setAttribute(at, 1, QStringLiteral("url"), QStringLiteral("u"));
        }
        if (round % 10 == 0)
            s.setColor(0, 2, Qt::red);
        const qreal width = 10 + random.bounded(390) + (round % 5 == 0 ? 0.5 : 0);
        ASSERT_EQ(TextFrame::lineCount(s, width), TextFrame(s, QRectF(0, 0, width, 0)).lineCountAtWidth())
            << "width " << width << ": " << qPrintable(text);
        ++compared;
    }
    EXPECT_EQ(compared, 1500);
    EXPECT_EQ(TextFrame::lineCount(AttributedString(), 100), 0);
    AttributedString one(QStringLiteral("ab"));
    one.setFont(Label::systemFont(13));
    EXPECT_EQ(TextFrame::lineCount(one, 0), 0);
    EXPECT_EQ(TextFrame::lineCount(one, 300), 1);
}

// A box beside a character that can join it into one cluster (a mark, a joiner, a modifier
// or a vowel sign after it, a prepended sign before it), beside right-to-left text outside the
// first plane, or between ordinary neighbours: counted without a frame, the lines are the
// frame's at every width.
TEST_F(KitText, BoxesBesideJoiningCharactersCountAsTheFramesDo)
{
    const QStringList neighbours = {
        QStringLiteral("\u0301"), QStringLiteral("\u200d"), QStringLiteral("🏻"), QStringLiteral("\u0e33"),
        QStringLiteral("\u0d4e"), QStringLiteral("क्ष"), QStringLiteral("\U0001E900\U0001E901"),
        QStringLiteral("\U00010800"), QStringLiteral("\u3099"), QStringLiteral("。"), QStringLiteral("ｶﾞ"),
        QStringLiteral("好"), QStringLiteral("a"), QStringLiteral("，"), QStringLiteral("😀")};
    const QString filler = QStringLiteral("讲得清楚又有趣");
    const QFont font = Label::systemFont(13);
    int compared = 0;
    for (const QString& neighbour : neighbours) {
        const QStringList texts = {filler + neighbour + QChar(0xFFFC) + filler, filler + QChar(0xFFFC) + neighbour + filler,
                                   neighbour + QChar(0xFFFC) + neighbour, QChar(0xFFFC) + neighbour + QChar(0xFFFC)};
        for (const QString& text : texts) {
            AttributedString s(text);
            s.setFont(font);
            s.setLineHeight(17);
            for (int i = 0; i < s.length(); ++i)
                if (text.at(i) == QChar(0xFFFC))
                    s.setRunDelegate(i, {13, 4, 17});
            for (const qreal width : {30.0, 61.5, 97.0, 140.0, 400.0}) {
                ASSERT_EQ(TextFrame::lineCount(s, width), TextFrame(s, QRectF(0, 0, width, 0)).lineCountAtWidth())
                    << "width " << width << ": " << qPrintable(text);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, int(neighbours.size()) * 4 * 5);
}

// Ranges set one after another in text order, as boxes are, make the spans that the same
// ranges set backwards make.
TEST_F(KitText, SpansSetInTextOrderMatchThoseSetBackwards)
{
    const QString text = QStringLiteral("ab\uFFFCcd\uFFFC\uFFFCe");
    AttributedString forwards(text), backwards(text);
    const QList<int> boxes = {2, 5, 6};
    for (int at : boxes) {
        forwards.setRunDelegate(at, {10, 2, 12});
        forwards.setAttribute(at, 1, QStringLiteral("url"), at);
    }
    forwards.setColor(7, 1, Qt::red);
    backwards.setColor(7, 1, Qt::red);
    for (auto it = boxes.crbegin(); it != boxes.crend(); ++it) {
        backwards.setAttribute(*it, 1, QStringLiteral("url"), *it);
        backwards.setRunDelegate(*it, {10, 2, 12});
    }
    ASSERT_EQ(forwards.spans().size(), 4);
    ASSERT_EQ(backwards.spans().size(), forwards.spans().size());
    for (int i = 0; i < int(forwards.spans().size()); ++i) {
        const AttributedString::Span& f = forwards.spans()[i];
        const AttributedString::Span& b = backwards.spans()[i];
        EXPECT_EQ(f.location, b.location);
        EXPECT_EQ(f.length, b.length);
        EXPECT_EQ(f.attributes.color, b.attributes.color);
        EXPECT_EQ(f.attributes.delegate.has_value(), b.attributes.delegate.has_value());
        EXPECT_EQ(f.attributes.custom, b.attributes.custom);
    }
    EXPECT_EQ(forwards.spans()[3].location, 7);
    EXPECT_EQ(forwards.spans()[3].attributes.color, QColor(Qt::red));
}

TEST_F(KitText, PlainMeasurementCountsWholeLines)
{
    const QFont font = Label::systemFont(13);
    const QFontMetricsF fm(font);
    const QString text = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    const qreal width = fm.horizontalAdvance(QStringLiteral("abcdefghij")) + 0.5;
    EXPECT_EQ(sizeWithFont(text, font, QSizeF(width, 1000), LineBreakByCharWrapping).height(), 3 * fm.lineSpacing());
    EXPECT_EQ(sizeWithFont(text, font, QSizeF(width, 2.5 * fm.lineSpacing()), LineBreakByCharWrapping).height(), 2 * fm.lineSpacing());
    EXPECT_LE(sizeWithFont(text, font, QSizeF(width, 1000), LineBreakByCharWrapping).width(), width);
    // Words stay whole where they can.
    EXPECT_EQ(sizeWithFont(QStringLiteral("abcdefgh abcdefgh"), font, QSizeF(width, 1000), LineBreakByWordWrapping).height(),
              2 * fm.lineSpacing());
    EXPECT_EQ(sizeWithFont(QString(), font, QSizeF(width, 1000), LineBreakByCharWrapping), QSizeF(0, 0));
}

TEST_F(KitText, CharacterWrapLabelsBreakInsideWords)
{
    Label label(QRectF(0, 0, 60, 200));
    label.setFont(Label::systemFont(13));
    label.setNumberOfLines(0);
    label.setText(QStringLiteral("abcdefghijklmnopqrst uv"));
    const QSizeF word = label.sizeThatFits(QSizeF(60, 0));
    label.setLineBreakMode(LineBreakByCharWrapping);
    const QSizeF character = label.sizeThatFits(QSizeF(60, 0));
    EXPECT_EQ(character.height(), std::ceil(sizeWithFont(label.text(), label.font(), QSizeF(60, 1e6), LineBreakByCharWrapping).height()));
    EXPECT_GT(word.height(), 0);
    const QStringList lines = wrappedLabelLines(label.text(), label.font(), QRectF(0, 0, 60, 200), 0, true);
    ASSERT_GE(lines.size(), 2);
    EXPECT_GT(lines[0].size(), 4);
    EXPECT_FALSE(lines[0].contains(u' '));
}

TEST_F(KitText, FieldsReplaceTheSelectionAndPostKeyboardNotifications)
{
    Window window;
    window.makeKeyAndVisible();
    auto* field = new TextField(QRectF(10, 100, 200, 30), &window);
    field->setText(QStringLiteral("hello"));
    field->replaceSelectedRange(QStringLiteral("!"));
    EXPECT_EQ(field->text(), QStringLiteral("hello!"));
    field->setSelectedRange(1, 3);
    field->replaceSelectedRange(QStringLiteral("E"));
    EXPECT_EQ(field->text(), QStringLiteral("hEo!"));

    QList<QPair<QString, QVariantMap>> posted;
    auto& center = platform::NotificationCenter::defaultCenter();
    auto show = center.addObserver(KeyboardWillShowNotification, nullptr, [&](const platform::Notification& n) { posted << qMakePair(n.name, n.userInfo); });
    auto hide = center.addObserver(KeyboardWillHideNotification, nullptr, [&](const platform::Notification& n) { posted << qMakePair(n.name, n.userInfo); });
    field->becomeFirstResponder();
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].first, KeyboardWillShowNotification);
    // No accessory: a hardware keyboard shows nothing, 0 high at the bottom edge.
    EXPECT_EQ(posted[0].second.value(KeyboardFrameEndKey).toRectF(), QRectF(0, window.frame().height(), window.frame().width(), 0));
    EXPECT_EQ(posted[0].second.value(KeyboardAnimationDurationKey).toDouble(), 0.25);
    // Ending editing in an ancestor resigns the field inside it.
    EXPECT_TRUE(window.endEditing());
    EXPECT_FALSE(field->isFirstResponder());
    ASSERT_EQ(posted.size(), 2);
    EXPECT_EQ(posted[1].first, KeyboardWillHideNotification);
    EXPECT_FALSE(window.endEditing());

    field->setEnabled(false);
    EXPECT_FALSE(field->findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly)->isEnabled());

    AlertView alert(QStringLiteral("t"), QString(), QStringLiteral("ok"), {});
    alert.setTag(9101);
    EXPECT_EQ(alert.tag(), 9101);
}

struct Rows : TableViewDataSource, TableViewDelegate {
    int rows = 30;
    int numberOfRowsInSection(TableView*, int) override { return rows; }
    TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath& ip) override
    {
        auto* cell = t->dequeueReusableCellWithIdentifier(QStringLiteral("r"));
        if (!cell)
            cell = new TableViewCell(TableViewCellStyleDefault, QStringLiteral("r"));
        cell->textLabel()->setText(QString::number(ip.row));
        return cell;
    }
    qreal heightForRowAtIndexPath(TableView*, const IndexPath&) override { return 50; }
};

TEST_F(KitText, TableBackgroundInsertsAndScrollingARowToTheTop)
{
    Rows rows;
    TableView table(QRectF(0, 0, 320, 400));
    table.setDataSource(&rows);
    table.setTableDelegate(&rows);
    auto* background = new View(QRectF());
    table.setBackgroundView(background);
    table.reloadData();
    table.layoutIfNeeded();
    EXPECT_EQ(background->frame(), QRectF(0, 0, 320, 400));

    table.scrollToRowAtIndexPath({0, 10}, TableViewScrollPositionTop, false);
    EXPECT_EQ(table.contentOffset().y(), 500);
    EXPECT_EQ(background->frame(), QRectF(0, 500, 320, 400));
    EXPECT_EQ(table.subviews().first(), background);
    // The last rows cannot reach the top: the offset stops at the end.
    table.scrollToRowAtIndexPath({0, 29}, TableViewScrollPositionTop, false);
    EXPECT_EQ(table.contentOffset().y(), 1500 - 400);

    table.setContentOffset(QPointF(0, 0));
    rows.rows = 31;
    table.insertRowsAtIndexPaths({{0, 0}}, TableViewRowAnimationFade);
    EXPECT_EQ(table.contentSize().height(), 31 * 50);
    TableViewCell* inserted = table.cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(inserted);
    EXPECT_EQ(inserted->alpha(), 0);
    AnimationClock::finishAll();
    EXPECT_EQ(inserted->alpha(), 1);

    table.setScrollIndicatorInsets({10, 0, 20, 0});
    EXPECT_EQ(table.scrollIndicatorInsets(), (EdgeInsets{10, 0, 20, 0}));
    // A replaced view is taken out, not deleted: whoever made it keeps it.
    table.setBackgroundView(nullptr);
    EXPECT_EQ(table.backgroundView(), nullptr);
    EXPECT_EQ(background->superview(), nullptr);
    delete background;
}

} // namespace
