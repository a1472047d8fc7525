#include "KitTestSupport.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ActivityViewController.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QTest>
#include <QUrl>

using namespace platform::uikit;

namespace {

struct SheetLog : ActionSheetDelegate {
    QStringList events;
    std::function<void()> onClick;
    void actionSheetClickedButtonAtIndex(ActionSheet* sheet, int index) override
    {
        events.append(QStringLiteral("click %1 tag %2").arg(index).arg(sheet->tag()));
        if (onClick)
            onClick();
    }
    void actionSheetDidDismissWithButtonIndex(ActionSheet*, int index) override
    {
        events.append(QStringLiteral("dismiss %1").arg(index));
    }
};

void press(View* view)
{
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(int(view->frame().width() / 2), int(view->frame().height() / 2)));
}

class KitActionSheet : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        root = new ViewController();
        window.setRootViewController(root);
        window.makeKeyAndVisible();
    }
    void TearDown() override
    {
        flushDeferredDeletes();
        KitTest::TearDown();
    }
    Window window;
    ViewController* root = nullptr;
};

} // namespace

TEST_F(KitActionSheet, ButtonsAreNumberedDestructiveFirstCancelLast)
{
    SheetLog log;
    auto* sheet = new ActionSheet(QStringLiteral("更多"), &log, root, QStringLiteral("取消"), QStringLiteral("删除动态"),
                                  {QStringLiteral("系统分享"), QStringLiteral("复制链接")});
    EXPECT_EQ(sheet->numberOfButtons(), 4);
    EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
    EXPECT_EQ(sheet->firstOtherButtonIndex(), 1);
    EXPECT_EQ(sheet->cancelButtonIndex(), 3);
    EXPECT_EQ(sheet->buttonTitleAtIndex(2), QStringLiteral("复制链接"));

    auto* plain = new ActionSheet(QStringLiteral("播放速度"), &log, root);
    for (const char* title : {"0.5x", "1.0x"})
        plain->addButtonWithTitle(QString::fromLatin1(title));
    plain->setCancelButtonIndex(plain->addButtonWithTitle(QStringLiteral("取消")));
    EXPECT_EQ(plain->cancelButtonIndex(), 2);
    EXPECT_EQ(plain->destructiveButtonIndex(), -1);
    delete sheet;
    delete plain;
}

TEST_F(KitActionSheet, SlidesUpInItsViewAndTellsTheClickThenTheDismissalAfterSlidingAway)
{
    SheetLog log;
    auto* sheet = new ActionSheet(QStringLiteral("更多"), &log, root, QStringLiteral("取消"), {},
                                  {QStringLiteral("分享"), QStringLiteral("稍后观看")});
    sheet->setTag(7300);
    QPointer<ActionSheet> guard(sheet);
    sheet->showInView(root->view());
    ASSERT_TRUE(sheet->isVisible());
    View* backdrop = sheet->presentationView();
    EXPECT_EQ(backdrop->frame(), root->view()->bounds());
    const QRectF startFrame = backdrop->findChild<View*>(QStringLiteral("actionSheetPanel"))->frame();
    EXPECT_GE(startFrame.top(), root->view()->bounds().height());
    AnimationClock::advance(ActionSheet::kSlideDuration);
    const QRectF shown = backdrop->findChild<View*>(QStringLiteral("actionSheetPanel"))->frame();
    EXPECT_NEAR(shown.bottom(), root->view()->bounds().height() - 8, 0.5);
    EXPECT_EQ(shown.left(), 8);

    // A tap on the dim part does nothing on a phone.
    QTest::mouseClick(backdrop, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(log.events.isEmpty());

    press(sheet->buttonViewAtIndex(1));
    EXPECT_EQ(log.events, QStringList{QStringLiteral("click 1 tag 7300")});
    AnimationClock::advance(ActionSheet::kSlideDuration / 2);
    EXPECT_EQ(log.events.size(), 1);
    AnimationClock::advance(ActionSheet::kSlideDuration);
    EXPECT_EQ(log.events, (QStringList{QStringLiteral("click 1 tag 7300"), QStringLiteral("dismiss 1")}));
    flushDeferredDeletes();
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(root->view()->findChild<View*>(QStringLiteral("actionSheetBackdrop")), nullptr);
}

TEST_F(KitActionSheet, OnAPadFromARectItIsASmallSheetWithoutCancelAndATapOutsideCancels)
{
    useDevice(QStringLiteral("iPad2,1"), QStringLiteral("9.3"));
    Window padWindow;
    auto* padRoot = new ViewController();
    padWindow.setRootViewController(padRoot);
    padWindow.makeKeyAndVisible();
    SheetLog log;
    auto* sheet = new ActionSheet(QStringLiteral("分享视频"), &log, padRoot, QStringLiteral("取消"), {},
                                  {QStringLiteral("系统分享"), QStringLiteral("复制链接")});
    sheet->showFromRect(QRectF(100, 100, 60, 30), padRoot->view(), true);
    ASSERT_TRUE(sheet->isPopover());
    EXPECT_EQ(sheet->buttonViewAtIndex(sheet->cancelButtonIndex()), nullptr);
    const QRectF panel = sheet->presentationView()->findChild<View*>(QStringLiteral("actionSheetPanel"))->frame();
    EXPECT_EQ(panel.top(), 138);
    EXPECT_EQ(panel.width(), 272);
    QTest::mouseClick(sheet->presentationView(), Qt::LeftButton, {}, QPoint(700, 900));
    EXPECT_EQ(log.events, (QStringList{QStringLiteral("click 2 tag 0"), QStringLiteral("dismiss 2")}));
    flushDeferredDeletes();
}

TEST_F(KitActionSheet, AGoneOwnerHearsNothingAndAGoneHostEndsTheSheet)
{
    SheetLog log;
    auto* owner = new QObject;
    auto* sheet = new ActionSheet(QStringLiteral("更多"), &log, owner, QStringLiteral("取消"), {}, {QStringLiteral("分享")});
    QPointer<ActionSheet> guard(sheet);
    sheet->showInView(root->view());
    AnimationClock::finishAll();
    delete owner;
    sheet->tapButtonForTesting(0);
    AnimationClock::finishAll();
    EXPECT_TRUE(log.events.isEmpty());
    flushDeferredDeletes();
    EXPECT_TRUE(guard.isNull());

    // The view the sheet is in goes while it shows: the delegate hears a cancel and the sheet goes.
    auto* host = new View(QRectF(0, 0, 375, 300), root->view());
    auto* second = new ActionSheet(QStringLiteral("更多"), &log, root, QStringLiteral("取消"), {}, {QStringLiteral("分享")});
    QPointer<ActionSheet> secondGuard(second);
    second->showInView(host);
    delete host;
    EXPECT_EQ(log.events, QStringList{QStringLiteral("dismiss 1")});
    flushDeferredDeletes();
    EXPECT_TRUE(secondGuard.isNull());
}

TEST_F(KitActionSheet, AClickHandlerMayShowTheNextSheet)
{
    SheetLog log;
    auto* first = new ActionSheet(QStringLiteral("更多操作"), &log, root, QStringLiteral("取消"), {}, {QStringLiteral("循环播放")});
    first->showInView(root->view());
    AnimationClock::finishAll();
    ActionSheet* next = nullptr;
    log.onClick = [&] {
        if (next)
            return;
        next = new ActionSheet(QStringLiteral("循环播放"), &log, root, QStringLiteral("取消"), {}, {QStringLiteral("不循环")});
        next->showInView(root->view());
    };
    first->tapButtonForTesting(0);
    AnimationClock::finishAll();
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(next->isVisible());
    next->tapButtonForTesting(1);
    AnimationClock::finishAll();
    EXPECT_EQ(log.events, (QStringList{QStringLiteral("click 0 tag 0"), QStringLiteral("dismiss 0"),
                                       QStringLiteral("click 1 tag 0"), QStringLiteral("dismiss 1")}));
}

TEST_F(KitActionSheet, PasteboardHoldsATextOrAnAddress)
{
    Pasteboard::general().setString(QStringLiteral("岚帆"));
    EXPECT_EQ(Pasteboard::general().string(), QStringLiteral("岚帆"));
    EXPECT_TRUE(Pasteboard::general().url().isEmpty());
    Pasteboard::general().setURL(QUrl(QStringLiteral("https://www.example.test/opus/12")));
    EXPECT_EQ(Pasteboard::general().string(), QStringLiteral("https://www.example.test/opus/12"));
    EXPECT_EQ(Pasteboard::general().url(), QUrl(QStringLiteral("https://www.example.test/opus/12")));
}

TEST_F(KitActionSheet, TheActivitySheetExistsFromSixAndCopiesTheAddress)
{
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("5.1"));
    EXPECT_FALSE(ActivityViewController::isAvailable());
    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("16.7"));
    ASSERT_TRUE(ActivityViewController::isAvailable());

    auto* sheet = new ActivityViewController({QStringLiteral("岚帆影院动态"), QUrl(QStringLiteral("https://www.example.test/opus/7"))});
    root->presentViewController(sheet, true);
    AnimationClock::finishAll();
    ASSERT_EQ(root->presentedViewController(), sheet);
    const QList<Label*> labels = sheet->view()->findChildren<Label*>(QStringLiteral("activityItemLabel"));
    ASSERT_EQ(labels.size(), 2);
    EXPECT_EQ(labels.at(0)->text(), QStringLiteral("岚帆影院动态"));
    Pasteboard::general().setString({});
    press(sheet->copyButton());
    AnimationClock::finishAll();
    EXPECT_EQ(Pasteboard::general().string(), QStringLiteral("https://www.example.test/opus/7"));
    EXPECT_EQ(root->presentedViewController(), nullptr);
}
