#include "KitTestSupport.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "platform/uikit/Window.h"

#include <QPointer>

using namespace platform::uikit;

namespace {

Image solid(const QColor& color, QSize size = QSize(10, 10))
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return Image(image);
}

QColor pixel(QWidget& widget, int x, int y) { return widget.grab().toImage().pixelColor(x, y); }

struct PageRecorder : ScrollViewDelegate {
    QStringList calls;
    void scrollViewDidEndDragging(ScrollView*, bool decelerate) override
    {
        calls << (decelerate ? QStringLiteral("end+decelerate") : QStringLiteral("end"));
    }
    void scrollViewDidEndDecelerating(ScrollView*) override { calls << QStringLiteral("stopped"); }
};

} // namespace

class KitAdditions : public KitTest {};

TEST_F(KitAdditions, AButtonsImageViewIsMadeOnceAndThenDrawsTheImage)
{
    Button button(ButtonTypeCustom, QRectF(0, 0, 60, 40));
    button.setBackgroundColor(QColor(Qt::black));
    button.setImage(solid(Qt::red, QSize(20, 20)), ControlStateNormal);
    button.setImage(solid(Qt::green, QSize(20, 20)), ControlStateSelected);
    EXPECT_EQ(button.existingImageView(), nullptr);
    EXPECT_EQ(pixel(button, 30, 20), QColor(Qt::red));

    ImageView* view = button.imageView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(button.imageView(), view);
    EXPECT_EQ(view->parentWidget(), &button);
    EXPECT_FALSE(view->isUserInteractionEnabled());
    button.layoutIfNeeded();
    EXPECT_EQ(view->frame(), QRectF(20, 10, 20, 20));
    EXPECT_EQ(view->image().size(), QSizeF(20, 20));
    // Moved by a subclass's layout, the picture moves with the view: the button no longer draws it.
    view->setFrame(QRectF(0, 0, 20, 20));
    EXPECT_EQ(pixel(button, 30, 20), QColor(Qt::black));
    EXPECT_EQ(pixel(button, 10, 10), QColor(Qt::red));
    // The view follows the state's image.
    button.setSelected(true);
    EXPECT_EQ(pixel(button, 10, 10), QColor(Qt::green));
}

TEST_F(KitAdditions, SegmentsDrawTheirStatesImagesDividersAndTitleAttributes)
{
    SegmentedControl seg({QStringLiteral("简介"), QStringLiteral("评论")});
    seg.setFrame(QRectF(0, 0, 200, 30));
    seg.setSelectedSegmentIndex(0);
    seg.setBackgroundImage(solid(Qt::blue), ControlStateNormal);
    seg.setBackgroundImage(solid(Qt::yellow), ControlStateSelected);
    seg.setDividerImage(solid(Qt::red, QSize(4, 10)), ControlStateSelected, ControlStateNormal);
    seg.setDividerImage(solid(Qt::magenta, QSize(4, 10)), ControlStateNormal, ControlStateSelected);
    EXPECT_EQ(seg.backgroundImage(ControlStateHighlighted).size(), QSizeF(10, 10));  // the normal state's
    EXPECT_TRUE(seg.dividerImage(ControlStateNormal, ControlStateNormal).isNull());

    EXPECT_EQ(pixel(seg, 5, 2), QColor(Qt::yellow));
    EXPECT_EQ(pixel(seg, 195, 2), QColor(Qt::blue));
    EXPECT_EQ(pixel(seg, 100, 2), QColor(Qt::red));
    seg.setSelectedSegmentIndex(1);
    EXPECT_EQ(pixel(seg, 5, 2), QColor(Qt::blue));
    EXPECT_EQ(pixel(seg, 195, 2), QColor(Qt::yellow));
    EXPECT_EQ(pixel(seg, 100, 2), QColor(Qt::magenta));

    TextAttributes selected;
    selected.textColor = QColor(Qt::white);
    selected.font = Label::systemFont(15, true);
    seg.setTitleTextAttributes(selected, ControlStateSelected);
    seg.setTitleColor(Qt::black, ControlStateSelected);
    EXPECT_EQ(seg.titleTextAttributes(ControlStateSelected), selected);
    EXPECT_TRUE(seg.titleTextAttributes(ControlStateNormal).isEmpty());
    // The attribute's colour wins over the title colour: some white text on the selected half.
    const QImage shot = seg.grab().toImage();
    int white = 0;
    for (int x = 100; x < 200; ++x)
        for (int y = 0; y < 30; ++y)
            white += shot.pixelColor(x, y) == QColor(Qt::white);
    EXPECT_GT(white, 10);
}

TEST_F(KitAdditions, PagingRestsOnWholePages)
{
    ScrollView pager(QRectF(0, 0, 375, 300));
    pager.setContentSize(QSizeF(750, 300));
    pager.setPagingEnabled(true);
    PageRecorder recorder;
    pager.setDelegate(&recorder);

    // Past half a page, slowly: the next page.
    pager.beginDragForTesting();
    pager.dragToOffsetForTesting(QPointF(200, 0));
    pager.endDragForTesting(QPointF(0, 0));
    EXPECT_TRUE(pager.isDecelerating());
    AnimationClock::advance(1);
    EXPECT_EQ(pager.contentOffset(), QPointF(375, 0));
    EXPECT_EQ(recorder.calls, (QStringList{QStringLiteral("end+decelerate"), QStringLiteral("stopped")}));

    // Less than half back, but a quick flick: the previous page.
    recorder.calls.clear();
    pager.beginDragForTesting();
    pager.dragToOffsetForTesting(QPointF(300, 0));
    pager.endDragForTesting(QPointF(-900, 0));
    AnimationClock::advance(1);
    EXPECT_EQ(pager.contentOffset(), QPointF(0, 0));

    // Less than half, slowly: back where it was. A flick past the last page stays on it.
    pager.beginDragForTesting();
    pager.dragToOffsetForTesting(QPointF(100, 0));
    pager.endDragForTesting(QPointF(0, 0));
    AnimationClock::advance(1);
    EXPECT_EQ(pager.contentOffset(), QPointF(0, 0));
    pager.setContentOffset(QPointF(375, 0));
    pager.beginDragForTesting();
    pager.dragToOffsetForTesting(QPointF(400, 0));
    pager.endDragForTesting(QPointF(2000, 0));
    AnimationClock::advance(1);
    EXPECT_EQ(pager.contentOffset(), QPointF(375, 0));

    // Released exactly on a page: no movement, no deceleration.
    recorder.calls.clear();
    pager.beginDragForTesting();
    pager.dragToOffsetForTesting(QPointF(375, 0));
    pager.endDragForTesting(QPointF(0, 0));
    EXPECT_EQ(recorder.calls, QStringList{QStringLiteral("end")});
    EXPECT_FALSE(pager.isDecelerating());
}

TEST_F(KitAdditions, ALayerShadowFallsOutsideTheViewInItsSuperview)
{
    View parent(QRectF(0, 0, 100, 100));
    parent.setBackgroundColor(QColor(Qt::white));
    View card(QRectF(20, 20, 60, 40), &parent);
    card.setBackgroundColor(QColor(Qt::white));
    EXPECT_EQ(card.shadowOpacity(), 0);
    EXPECT_EQ(card.shadowOffset(), QSizeF(0, -3));
    EXPECT_EQ(card.shadowRadius(), 3);
    EXPECT_EQ(pixel(parent, 50, 64), QColor(Qt::white));

    card.setShadowColor(QColor(Qt::black));
    card.setShadowOffset(QSizeF(0, 6));
    card.setShadowRadius(0);
    card.setShadowOpacity(0.5);
    const QColor below = pixel(parent, 50, 64);
    EXPECT_NEAR(below.red(), 128, 3);
    // Nothing above the card: the offset moved the shadow down.
    EXPECT_EQ(pixel(parent, 50, 18), QColor(Qt::white));
    // The card itself is drawn over its shadow.
    EXPECT_EQ(pixel(parent, 50, 40), QColor(Qt::white));

    // A radius softens the edge: darker near the card than further out.
    card.setShadowRadius(6);
    const int near = pixel(parent, 50, 66).red();
    const int far = pixel(parent, 50, 71).red();
    EXPECT_LT(near, far);
    EXPECT_LT(far, 255);
    EXPECT_EQ(pixel(parent, 50, 80).red(), 255);
    card.setShadowOpacity(2);
    EXPECT_EQ(card.shadowOpacity(), 1);
    // Moved to another superview, the shadow goes with it.
    View other(QRectF(0, 0, 100, 100));
    other.setBackgroundColor(QColor(Qt::white));
    other.addSubview(&card);
    EXPECT_LT(pixel(other, 50, 64).red(), 128);
    EXPECT_EQ(pixel(parent, 50, 64), QColor(Qt::white));
    card.setHidden(true);
    EXPECT_EQ(pixel(other, 50, 64), QColor(Qt::white));
    card.setParent(nullptr);
}

TEST_F(KitAdditions, ShadowsDrawnAgainFollowTheirCardsSizeStrengthAndFading)
{
    View parent(QRectF(0, 0, 200, 120));
    parent.setBackgroundColor(QColor(Qt::white));
    const auto shadowedCard = [&parent](const QRectF& frame) {
        auto* card = new View(frame, &parent);
        card->setBackgroundColor(QColor(Qt::white));
        card->setCornerRadius(7);
        card->setShadowColor(QColor(Qt::black));
        card->setShadowOffset(QSizeF(0, 1));
        card->setShadowRadius(0.8);
        card->setShadowOpacity(0.4);
        return card;
    };
    View& card = *shadowedCard(QRectF(20, 20, 60, 40));
    // Another card of the same size and shadow elsewhere shows the same shadow.
    shadowedCard(QRectF(110, 20, 60, 40));
    const QColor below = pixel(parent, 50, 60);
    EXPECT_LT(below.red(), 230);
    EXPECT_EQ(pixel(parent, 140, 60), below);
    EXPECT_EQ(pixel(parent, 50, 60), below);  // drawn again: the same

    // A taller card casts its shadow at its new bottom, not the old one.
    card.setFrame(QRectF(20, 20, 60, 70));
    EXPECT_EQ(pixel(parent, 50, 60), QColor(Qt::white));
    EXPECT_EQ(pixel(parent, 50, 90), below);
    // A fainter shadow is lighter; the twin keeps its own.
    card.setShadowOpacity(0.1);
    EXPECT_GT(pixel(parent, 50, 90).red(), below.red());
    EXPECT_EQ(pixel(parent, 140, 60), below);
    // A fading superview still draws them, faded with it.
    parent.setAlpha(0.5);
    QImage faded(200, 120, QImage::Format_ARGB32_Premultiplied);
    faded.fill(Qt::transparent);
    parent.render(&faded);
    const QRgb shadowed = faded.pixel(140, 60), plain = faded.pixel(140, 110);
    EXPECT_NE(shadowed, plain);
    EXPECT_LT(qAlpha(plain), 255);
}

TEST_F(KitAdditions, AnOpaquePictureStretchedOverItsViewHidesWhatLiesBeneath)
{
    // A row: a red fill, and a background picture over all of it.
    View row(QRectF(0, 0, 100, 40));
    row.setBackgroundColor(QColor(Qt::red));
    QImage opaque(4, 4, QImage::Format_ARGB32_Premultiplied);
    opaque.fill(QColor(Qt::blue));
    auto* background = new ImageView(QRectF(0, 0, 100, 40), &row);
    background->setImage(Image(opaque));
    EXPECT_TRUE(background->testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(pixel(row, 50, 20), QColor(Qt::blue));

    // Anything translucent or short of the whole rect shows the row beneath.
    QImage translucent = opaque;
    translucent.setPixelColor(1, 1, QColor(0, 0, 255, 128));
    background->setImage(Image(translucent));
    EXPECT_FALSE(background->testAttribute(Qt::WA_OpaquePaintEvent));
    background->setImage(Image(opaque));
    background->setContentMode(ContentModeScaleAspectFit);
    EXPECT_FALSE(background->testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(pixel(row, 2, 20), QColor(Qt::red));
    background->setContentMode(ContentModeScaleToFill);
    background->setAlpha(0.5);
    EXPECT_FALSE(background->testAttribute(Qt::WA_OpaquePaintEvent));
    background->setAlpha(1);
    background->setCornerRadius(6);
    EXPECT_FALSE(background->testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(pixel(row, 0, 0), QColor(Qt::red));

    // A row wholly under it draws nothing of its own, and shows again wherever it is uncovered
    // or the picture hides.
    background->setCornerRadius(0);
    row.setBorderWidth(0);
    EXPECT_EQ(pixel(row, 50, 20), QColor(Qt::blue));
    background->setFrame(QRectF(0, 0, 100, 30));
    EXPECT_EQ(pixel(row, 50, 35), QColor(Qt::red));
    EXPECT_EQ(pixel(row, 50, 20), QColor(Qt::blue));
    background->setHidden(true);
    EXPECT_EQ(pixel(row, 50, 20), QColor(Qt::red));
}

TEST_F(KitAdditions, AToolbarPushesItemsAfterAFlexibleSpaceToTheRight)
{
    Toolbar bar(QRectF(0, 0, 375, 44));
    EXPECT_EQ(Toolbar(QRectF()).frame().height(), Toolbar::kDefaultHeight);
    int cancels = 0;
    auto* cancel = new BarButtonItem(QStringLiteral("取消"), BarButtonItemStylePlain, [&] { ++cancels; });
    auto* flexible = BarButtonItem::systemItem(BarButtonSystemItemFlexibleSpace, {});
    auto* field = BarButtonItem::withCustomView(new View(QRectF(0, 0, 150, 32)));
    auto* fixed = BarButtonItem::systemItem(BarButtonSystemItemFixedSpace, {});
    fixed->setWidth(20);
    auto* send = new BarButtonItem(QStringLiteral("发送"), BarButtonItemStyleDone, {});
    send->setWidth(50);
    bar.setItems({cancel, flexible, field, fixed, send});
    EXPECT_EQ(bar.items().size(), 5);
    EXPECT_EQ(cancel->parent(), &bar);

    View* cancelView = bar.viewForItemAtIndex(0);
    ASSERT_NE(cancelView, nullptr);
    EXPECT_EQ(bar.viewForItemAtIndex(1), nullptr);
    EXPECT_EQ(bar.viewForItemAtIndex(2), field->customView());
    EXPECT_EQ(bar.viewForItemAtIndex(3), nullptr);
    View* sendView = bar.viewForItemAtIndex(4);
    ASSERT_NE(sendView, nullptr);
    // Modern margins of 12: the last item ends there, the custom view keeps its size, centred.
    EXPECT_EQ(sendView->frame().right(), 375 - 12);
    EXPECT_EQ(sendView->frame().width(), 50);
    EXPECT_EQ(field->customView()->frame(), QRectF(375 - 12 - 50 - 8 - 20 - 150, 6, 150, 32));
    EXPECT_EQ(cancelView->frame().left(), 12);
    EXPECT_EQ(qobject_cast<Button*>(cancelView)->currentTitle(), QStringLiteral("取消"));

    qobject_cast<Button*>(cancelView)->sendActionsForControlEvents(ControlEventTouchUpInside);
    EXPECT_EQ(cancels, 1);

    // Wider bar: the flexible space takes it all.
    bar.setFrame(QRectF(0, 0, 667, 44));
    bar.layoutIfNeeded();
    EXPECT_EQ(bar.viewForItemAtIndex(4)->frame().right(), 667 - 12);
    EXPECT_EQ(bar.viewForItemAtIndex(0)->frame().left(), 12);

    // An item's change rebuilds its button.
    cancel->setEnabled(false);
    EXPECT_FALSE(qobject_cast<Button*>(bar.viewForItemAtIndex(0))->isEnabled());
}

// A desktop keyboard is a hardware one: only the field's input accessory view shows, along the
// window's bottom edge, and that bar is the keyboard frame the field reports and posts.
TEST_F(KitAdditions, TheInputAccessoryViewIsTheHardwareKeyboardAtTheWindowsBottomEdge)
{
    Window window(QRectF(0, 0, 375, 667));
    window.makeKeyAndVisible();
    auto* field = new TextField(QRectF(10, 100, 200, 32), &window);
    QPointer<View> bar = new View(QRectF(0, 0, 10, 44));
    field->setInputAccessoryView(bar);
    EXPECT_EQ(field->inputAccessoryView(), bar.data());
    EXPECT_TRUE(bar->isHidden());

    QList<QPair<QString, QVariantMap>> posted;
    auto& center = platform::NotificationCenter::defaultCenter();
    auto record = [&](const platform::Notification& n) { posted << qMakePair(n.name, n.userInfo); };
    auto show = center.addObserver(KeyboardWillShowNotification, nullptr, record);
    auto hide = center.addObserver(KeyboardWillHideNotification, nullptr, record);

    field->becomeFirstResponder();
    const QRectF toolbar(0, 667 - 44, 375, 44);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->parentWidget(), &window);
    EXPECT_EQ(bar->frame(), toolbar);
    EXPECT_EQ(field->keyboardFrameInWindow(), toolbar);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].first, KeyboardWillShowNotification);
    EXPECT_EQ(posted[0].second.value(KeyboardFrameEndKey).toRectF(), toolbar);
    EXPECT_EQ(posted[0].second.value(KeyboardAnimationDurationKey).toDouble(), 0.25);

    // A window made taller while the field edits keeps the bar on its bottom edge.
    window.setFrame(QRectF(0, 0, 375, 700));
    EXPECT_EQ(bar->frame(), QRectF(0, 700 - 44, 375, 44));
    EXPECT_EQ(field->keyboardFrameInWindow(), bar->frame());
    window.setFrame(QRectF(0, 0, 375, 667));

    // Going away, the bar leaves below the bottom edge.
    field->resignFirstResponder();
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->parentWidget(), field);
    ASSERT_EQ(posted.size(), 2);
    EXPECT_EQ(posted[1].first, KeyboardWillHideNotification);
    EXPECT_EQ(posted[1].second.value(KeyboardFrameEndKey).toRectF(), QRectF(0, 667, 375, 44));
    EXPECT_EQ(posted[1].second.value(KeyboardAnimationDurationKey).toDouble(), 0.25);

    // Replaced, the old one goes; the field's end takes the shown one too.
    QPointer<View> second = new View(QRectF(0, 0, 10, 30));
    field->setInputAccessoryView(second);
    EXPECT_TRUE(bar.isNull());
    field->becomeFirstResponder();
    EXPECT_EQ(second->parentWidget(), &window);
    EXPECT_EQ(second->frame(), QRectF(0, 667 - 30, 375, 30));
    EXPECT_EQ(posted.last().second.value(KeyboardFrameEndKey).toRectF(), second->frame());
    delete field;
    EXPECT_TRUE(second.isNull());

    // Without an accessory nothing shows: the frame is 0 high at the bottom edge.
    auto* plain = new TextField(QRectF(10, 100, 200, 32), &window);
    plain->becomeFirstResponder();
    EXPECT_EQ(plain->keyboardFrameInWindow(), QRectF(0, 667, 375, 0));
    EXPECT_EQ(posted.last().second.value(KeyboardFrameEndKey).toRectF(), QRectF(0, 667, 375, 0));
    TextField outside;
    EXPECT_TRUE(outside.keyboardFrameInWindow().isEmpty());
}

// The pad's hardware keyboard is the same bar, in either orientation.
TEST_F(KitAdditions, ThePadsHardwareKeyboardIsItsBarToo)
{
    useDevice(QStringLiteral("iPad2,1"), QStringLiteral("9.3"));
    for (const QRectF& frame : {QRectF(0, 0, 768, 1024), QRectF(0, 0, 1024, 768)}) {
        Window window(frame);
        window.makeKeyAndVisible();
        auto* field = new TextField(QRectF(10, 100, 200, 32), &window);
        field->setInputAccessoryView(new View(QRectF(0, 0, 10, 44)));
        field->becomeFirstResponder();
        EXPECT_EQ(field->keyboardFrameInWindow(), QRectF(0, frame.height() - 44, frame.width(), 44));
        EXPECT_EQ(field->inputAccessoryView()->frame(), field->keyboardFrameInWindow());
    }
}

// A toolbar without a picture draws the platform's bar, in its style, with the hairline on top.
TEST_F(KitAdditions, AToolbarWithoutAPictureDrawsThePlatformsBar)
{
    Toolbar bar(QRectF(0, 0, 200, 44));
    EXPECT_TRUE(colorNear(pixel(bar, 100, 22), QColor(247, 247, 247), 2));
    EXPECT_LT(pixel(bar, 100, 0).lightness(), 240);
    bar.setBarStyle(BarStyleBlack);
    EXPECT_EQ(bar.barStyle(), int(BarStyleBlack));
    EXPECT_TRUE(colorNear(pixel(bar, 100, 22), QColor(22, 22, 22), 2));
    // A picture, when set, is all it draws.
    bar.setBackgroundImage(solid(Qt::red));
    EXPECT_TRUE(colorNear(pixel(bar, 100, 0), Qt::red, 2));

    // The classic look: a gradient, its darker line along the top edge.
    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("6.1"));
    Toolbar classic(QRectF(0, 0, 200, 44));
    const QColor top = pixel(classic, 100, 0);
    const QColor upper = pixel(classic, 100, 4);
    const QColor lower = pixel(classic, 100, 40);
    EXPECT_LT(top.lightness(), lower.lightness());
    EXPECT_GT(upper.lightness(), lower.lightness());
    EXPECT_GT(upper.blue(), upper.red());
}
