#include "SocialTesting.h"
#include "../uikit/KitTyping.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TextField.h"
#include "shared/KRDynamicComposerView.h"

#include <QLineEdit>

namespace socialtest {
namespace {

// Waits inside a helper that returns a value.
#define KR_WAIT_UNTIL_VALUE(cond, value)                                                                                       \
    do {                                                                                                                       \
        if (!::testsupport::waitUntil([&] { return bool(cond); })) {                                                          \
            ADD_FAILURE() << "timed out waiting for: " #cond;                                                                  \
            return value;                                                                                                      \
        }                                                                                                                      \
    } while (false)

class ComposerTest : public SocialTest, public KRDynamicComposerViewDelegate {
protected:
    void SetUp() override
    {
        SocialTest::SetUp();
        host = new View(QRectF(0, 0, 375, 300));
        screen = new ViewController();
        show(screen);
        screen->view()->addSubview(host);
    }
    void dynamicComposerViewDidCancel(KRDynamicComposerView*) override { ++cancels; }
    void dynamicComposerViewDidSubmitText(KRDynamicComposerView*, const QString& trimmed) override { submitted << trimmed; }
    void dynamicComposerViewDidRequestImage(KRDynamicComposerView*) override { ++imageRequests; }

    KRDynamicComposerView* presented(View* in)
    {
        auto* bar = new KRDynamicComposerView();
        bar->setDelegate(this);
        bar->setAllowsImage(true);
        bar->presentInView(in, QStringLiteral("写评论"));
        KR_WAIT_UNTIL_VALUE(bar->emotes().size() == 80, bar);
        bar->layoutSubviews();
        return bar;
    }
    static QList<Button*> emoteButtons(KRDynamicComposerView* bar)
    {
        QList<Button*> buttons;
        for (View* v : bar->emoteScrollView()->subviews())
            if (auto* b = qobject_cast<Button*>(v))
                buttons << b;
        return buttons;
    }

    ViewController* screen = nullptr;
    View* host = nullptr;
    int cancels = 0;
    int imageRequests = 0;
    QStringList submitted;
};

TEST_F(ComposerTest, BarLayout)
{
    KRDynamicComposerView bar(QRectF(0, 0, 375, 42));
    bar.setAllowsImage(true);
    bar.layoutSubviews();
    EXPECT_EQ(bar.cancelButton()->frame(), QRectF(4, 5, 43, 32));
    EXPECT_EQ(bar.sendButton()->frame(), QRectF(328, 5, 43, 32));
    EXPECT_EQ(bar.emoteButton()->frame(), QRectF(282, 5, 43, 32));
    EXPECT_EQ(bar.textField()->frame(), QRectF(50, 5, 229, 32));
    EXPECT_EQ(bar.selectedImageBadge()->frame(), QRectF(28, 17, 13, 13));
    EXPECT_EQ(bar.emoteButton()->accessibilityLabel(), QStringLiteral("岚帆视频表情"));
    EXPECT_EQ(bar.textField()->returnKeyType(), platform::uikit::ReturnKeySend);

    bar.setAllowsImage(false);
    bar.layoutSubviews();
    EXPECT_TRUE(bar.sendButton()->isHidden());
    EXPECT_EQ(bar.emoteButton()->frame().x(), 328);
    EXPECT_EQ(bar.textField()->frame().width(), 275);

    bar.setFrame(QRectF(0, 0, 100, 42));
    bar.layoutSubviews();
    EXPECT_EQ(bar.textField()->frame().width(), 72);
}

TEST_F(ComposerTest, PictureCount)
{
    KRDynamicComposerView bar(QRectF(0, 0, 375, 42));
    bar.setAllowsImage(true);
    bar.setSelectedImageCount(12);
    EXPECT_EQ(bar.selectedImageCount(), 9u);
    EXPECT_EQ(bar.sendButton()->accessibilityLabel(), QStringLiteral("已选 9 张图片"));
    EXPECT_FALSE(bar.selectedImageBadge()->isHidden());
    bar.setSelectedImageCount(0);
    EXPECT_EQ(bar.sendButton()->accessibilityLabel(), QStringLiteral("选择图片"));
    EXPECT_TRUE(bar.selectedImageBadge()->isHidden());
}

TEST_F(ComposerTest, EmotePanelInTheHost)
{
    KRDynamicComposerView* bar = presented(host);
    ASSERT_EQ(bar->emotes().size(), 80);
    const QList<Button*> buttons = emoteButtons(bar);
    ASSERT_EQ(buttons.size(), 80);
    EXPECT_EQ(buttons.first()->tag(), 9900);
    EXPECT_EQ(buttons.last()->tag(), 9979);
    // Entries 5 and 6 of the first package have no picture and do not count toward its 40.
    EXPECT_EQ(bar->emotes()[5].value(QStringLiteral("text")).toString(), CommentFixtures::emoteToken(0, 7));
    EXPECT_EQ(bar->emotes()[40].value(QStringLiteral("text")).toString(), CommentFixtures::emoteToken(1, 0));
    EXPECT_EQ(bar->frame(), QRectF(0, 258, 375, 42));
    EXPECT_EQ(bar->emotePanel()->superview(), host);
    EXPECT_EQ(bar->emotePanel()->frame(), QRectF(8, 168, 359, 88));
    EXPECT_EQ(buttons[8]->frame(), QRectF(0, 42, 42, 42));   // 8 columns
    EXPECT_EQ(bar->emoteScrollView()->contentSize(), QSizeF(349, 420));

    host->setFrame(QRectF(0, 0, 375, 800));
    bar->layoutSubviews();
    EXPECT_EQ(bar->emotePanel()->frame().height(), 152);
}

TEST_F(ComposerTest, NarrowPanelKeepsFiveColumns)
{
    host->setFrame(QRectF(0, 0, 226, 300));
    KRDynamicComposerView* bar = presented(host);
    QTest::mouseClick(bar->emoteButton(), Qt::LeftButton);
    EXPECT_FALSE(bar->emotePanel()->isHidden());
    EXPECT_EQ(bar->emoteScrollView()->frame().width(), 200);
    EXPECT_EQ(emoteButtons(bar)[5]->frame(), QRectF(0, 42, 42, 42));
    EXPECT_EQ(bar->emoteScrollView()->contentSize().width(), 250);
}

TEST_F(ComposerTest, EmotesAreTypedIntoTheFieldAndTheBarFollowsTheKeyboard)
{
    KRDynamicComposerView* bar = presented(screen->view());
    ASSERT_TRUE(bar->textField()->isFirstResponder());
    QTest::keyClicks(bar->textField()->findChild<QLineEdit*>(), QStringLiteral("ab"));
    bar->textField()->setSelectedRange(0, 1);
    QTest::mouseClick(bar->emoteButton(), Qt::LeftButton);
    QTest::mouseClick(emoteButtons(bar)[0], Qt::LeftButton);
    EXPECT_EQ(bar->textField()->text(), CommentFixtures::emoteToken(0, 0) + QStringLiteral("b"));
    EXPECT_TRUE(bar->emotePanel()->isHidden());
    // The caret stands after the first: the second follows it there.
    QTest::mouseClick(bar->emoteButton(), Qt::LeftButton);
    QTest::mouseClick(emoteButtons(bar)[1], Qt::LeftButton);
    EXPECT_EQ(bar->textField()->text(), CommentFixtures::emoteToken(0, 0) + CommentFixtures::emoteToken(0, 1) + QStringLiteral("b"));

    const qreal windowHeight = window->frame().height();
    ASSERT_EQ(windowHeight, 667);
    platform::NotificationCenter::defaultCenter().post(
        platform::uikit::KeyboardWillShowNotification, nullptr,
        {{platform::uikit::KeyboardFrameEndKey, QRectF(0, windowHeight - 216, 375, 216)}, {platform::uikit::KeyboardAnimationDurationKey, 0.25}});
    AnimationClock::finishAll();
    EXPECT_EQ(bar->frameInWindow().y(), 409);
    platform::NotificationCenter::defaultCenter().post(platform::uikit::KeyboardWillHideNotification, nullptr,
                                                       {{platform::uikit::KeyboardAnimationDurationKey, 0.0}});
    AnimationClock::finishAll();
    EXPECT_EQ(bar->frame().bottom(), screen->view()->frame().height());
}

// With the caret moved back into the text by the keyboard, an emote goes in where it stands,
// and the caret after it.
TEST_F(ComposerTest, AnEmoteGoesInWhereTheCaretStands)
{
    KRDynamicComposerView* bar = presented(screen->view());
    ASSERT_TRUE(bar->textField()->isFirstResponder());
    typeThroughWindow(window.get(), QStringLiteral("abcd"));
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Left, QString(), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Left, QString(), Qt::NoModifier);
    clickThroughWindow(bar->emoteButton());
    ASSERT_FALSE(bar->emotePanel()->isHidden());
    clickThroughWindow(emoteButtons(bar)[0]);
    EXPECT_EQ(bar->textField()->text(), QStringLiteral("ab") + CommentFixtures::emoteToken(0, 0) + QStringLiteral("cd"));
    typeThroughWindow(window.get(), QStringLiteral("x"));
    EXPECT_EQ(bar->textField()->text(), QStringLiteral("ab") + CommentFixtures::emoteToken(0, 0) + QStringLiteral("xcd"));
}

TEST_F(ComposerTest, SubmittingAndCancelling)
{
    KRDynamicComposerView* bar = presented(host);
    QLineEdit* edit = bar->textField()->findChild<QLineEdit*>();
    QTest::keyClicks(edit, QStringLiteral("   "));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(submitted.isEmpty());
    bar->setSelectedImageCount(1);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(submitted, QStringList{QString()});
    bar->textField()->setText(QStringLiteral("  你好 \n"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(submitted.last(), QStringLiteral("你好"));

    QTest::mouseClick(bar->sendButton(), Qt::LeftButton);
    EXPECT_EQ(imageRequests, 1);
    QTest::mouseClick(bar->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(bar->superview(), nullptr);
    EXPECT_EQ(bar->selectedImageCount(), 0u);
    EXPECT_TRUE(bar->textField()->text().isEmpty());
    EXPECT_NE(bar->emotePanel()->superview(), host);
    delete bar;
}

TEST_F(ComposerTest, EmotesLoadOncePerBarAndAgainAfterAFailure)
{
    emotesFail = true;
    auto* bar = new KRDynamicComposerView();
    bar->setDelegate(this);
    bar->presentInView(host, QStringLiteral("写评论"));
    KR_WAIT_UNTIL(fake.requestsTo(QStringLiteral("/x/emote/package")).size() == 1);
    KR_WAIT_UNTIL(!bar->isLoadingEmotes());
    EXPECT_TRUE(bar->emotes().isEmpty());
    emotesFail = false;
    QTest::mouseClick(bar->emoteButton(), Qt::LeftButton);
    KR_WAIT_UNTIL(bar->emotes().size() == 80);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/emote/package")).size(), 2);
    bar->dismiss();
    bar->presentInView(host, QStringLiteral("再写"));
    QTest::mouseClick(bar->emoteButton(), Qt::LeftButton);
    EXPECT_EQ(emoteButtons(bar).size(), 80);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/emote/package")).size(), 2);
}

} // namespace
} // namespace socialtest
