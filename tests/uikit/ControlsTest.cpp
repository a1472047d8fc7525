#include "KitTestSupport.h"
#include "KitTyping.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/ApplicationDelegate.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ProgressView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"

#include <QApplication>
#include <QInputMethodQueryEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>

using namespace platform::uikit;

class KitControls : public KitTest {
protected:
    // Shown and active, so that the window's keys go to what it has focused.
    static void showActive(Window& w)
    {
        w.makeKeyAndVisible();
        w.activateWindow();
        KR_WAIT_UNTIL(w.isActiveWindow());
    }
};

TEST_F(KitControls, SpinnerRunsOnTheClockAndHidesWhenStopped)
{
    ActivityIndicatorView spinner(ActivityIndicatorStyleGray);
    EXPECT_EQ(spinner.frame().size(), QSizeF(20, 20));
    EXPECT_TRUE(spinner.isHidden());
    spinner.startAnimating();
    EXPECT_TRUE(spinner.isAnimating());
    EXPECT_FALSE(spinner.isHidden());
    EXPECT_EQ(AnimationClock::runningCount(), 1);
    spinner.stopAnimating();
    EXPECT_FALSE(spinner.isAnimating());
    EXPECT_TRUE(spinner.isHidden());
    EXPECT_EQ(AnimationClock::runningCount(), 0);
    spinner.setHidesWhenStopped(false);
    EXPECT_FALSE(spinner.isHidden());
    ActivityIndicatorView large(ActivityIndicatorStyleWhiteLarge);
    EXPECT_EQ(large.frame().size(), QSizeF(37, 37));
}

TEST_F(KitControls, ProgressSegmentsAndTextFields)
{
    ProgressView progress;
    progress.setProgress(1.7f);
    EXPECT_EQ(progress.progress(), 1.0f);
    progress.setProgress(-1);
    EXPECT_EQ(progress.progress(), 0.0f);

    SegmentedControl seg({QStringLiteral("综合"), QStringLiteral("最新")});
    int changes = 0;
    seg.addTarget(ControlEventValueChanged, [&] { ++changes; });
    EXPECT_EQ(seg.selectedSegmentIndex(), -1);
    seg.tapSegmentForTesting(1);
    seg.tapSegmentForTesting(1);  // already selected
    seg.tapSegmentForTesting(5);  // no such segment
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seg.selectedSegmentIndex(), 1);
    seg.setSelectedSegmentIndex(9);
    EXPECT_EQ(seg.selectedSegmentIndex(), -1);
    seg.setTitleColor(Qt::red, ControlStateSelected);
    EXPECT_EQ(seg.titleColor(ControlStateSelected | ControlStateHighlighted), QColor(Qt::red));

    TextField field(QRectF(0, 0, 200, 34));
    QStringList events;
    field.addTarget(ControlEventEditingChanged, [&] { events << field.text(); });
    field.addTarget(ControlEventEditingDidEndOnExit, [&] { events << QStringLiteral("return"); });
    field.typeForTesting(QStringLiteral("孤独"));
    field.typeForTesting(QStringLiteral("摇滚"), true);
    EXPECT_EQ(events, (QStringList{"孤独", "孤独摇滚", "return"}));
    field.shouldReturn = [] { return false; };
    field.typeForTesting(QString(), true);
    EXPECT_EQ(events.last(), QStringLiteral("孤独摇滚"));
}

TEST_F(KitControls, TextFieldEditingClearButtonAndLeftView)
{
    TextField field(QRectF(0, 0, 200, 34));
    QStringList events;
    field.addTarget(ControlEventEditingDidBegin, [&] { events << QStringLiteral("begin"); });
    field.addTarget(ControlEventEditingDidEnd, [&] { events << QStringLiteral("end"); });
    field.addTarget(ControlEventEditingChanged, [&] { events << field.text(); });
    field.setLeftView(new View(QRectF(0, 0, 28, 18)));
    EXPECT_EQ(field.leftView()->frame(), QRectF(0, 8, 28, 18));
    EXPECT_EQ(field.textRect().left(), 28);
    field.setClearsWhileEditing(true);
    ASSERT_NE(field.clearButton(), nullptr);
    EXPECT_TRUE(field.clearButton()->isHidden());

    field.becomeFirstResponder();
    field.becomeFirstResponder();
    field.typeForTesting(QStringLiteral("猫"));
    EXPECT_TRUE(field.isFirstResponder());
    EXPECT_FALSE(field.clearButton()->isHidden());
    EXPECT_EQ(field.textRect().right(), 200 - 28);
    int asked = 0;
    field.shouldClear = [&] { return ++asked > 1; };
    field.tapClearButtonForTesting();
    EXPECT_EQ(field.text(), QStringLiteral("猫"));
    field.tapClearButtonForTesting();
    EXPECT_TRUE(field.text().isEmpty());
    EXPECT_TRUE(field.clearButton()->isHidden());
    field.resignFirstResponder();
    field.resignFirstResponder();
    EXPECT_FALSE(field.isFirstResponder());
    // The clear the button made is an edit; the one it was refused is none.
    EXPECT_EQ(events, (QStringList{"begin", "猫", "", "end"}));
    field.setText(QStringLiteral("狗"));
    EXPECT_TRUE(field.clearButton()->isHidden()) << "only while editing";
}

// The clear button, pressed where it is drawn, empties the field as the user's own deletion
// would: an edit its owner hears of, after `shouldClear` allowed it. Refused, nothing changes
// and nothing is heard.
TEST_F(KitControls, AClearByTheButtonIsAnEditLikeADeletion)
{
    Window w;
    auto* field = new TextField(QRectF(10, 30, 200, 34), &w);
    field->setClearsWhileEditing(true);
    QStringList edits;
    field->addTarget(ControlEventEditingChanged, [&] { edits << field->text(); });
    int asked = 0;
    bool allow = true;
    field->shouldClear = [&] {
        ++asked;
        // Asked before the field is emptied.
        EXPECT_FALSE(field->text().isEmpty());
        return allow;
    };
    showActive(w);
    const auto typeAtWindow = [&](const QString& text) {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    };
    const auto clickClear = [&] {
        Button* clear = field->clearButton();
        ASSERT_TRUE(clear->isVisible());
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, clear->mapTo(&w, clear->rect().center()));
    };

    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, field->mapTo(&w, QPoint(20, 17)));
    ASSERT_TRUE(field->isFirstResponder());
    typeAtWindow(QStringLiteral("yz"));
    clickClear();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(edits, (QStringList{"y", "yz", ""}));
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->clearButton()->isHidden());

    allow = false;
    typeAtWindow(QStringLiteral("猫"));
    clickClear();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(field->text(), QStringLiteral("猫"));
    EXPECT_EQ(edits, (QStringList{"y", "yz", "", "猫"}));
}

// Real presses, not the testing taps: the press is where a desktop moves the focus.
TEST_F(KitControls, PressingButtonsLeavesTheFieldEditing)
{
    Window w;
    auto* field = new TextField(QRectF(10, 30, 200, 34), &w);
    field->setClearsWhileEditing(true);
    auto* button = new Button(ButtonTypeCustom, QRectF(10, 100, 120, 40), &w);
    int taps = 0;
    button->addTarget(ControlEventTouchUpInside, [&] { ++taps; });
    int ends = 0;
    field->addTarget(ControlEventEditingDidEnd, [&] { ++ends; });
    w.makeKeyAndVisible();
    w.activateWindow();
    KR_WAIT_UNTIL(w.isActiveWindow());

    field->becomeFirstResponder();
    field->typeForTesting(QStringLiteral("猫"));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(60, 20));
    EXPECT_EQ(taps, 1);
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_EQ(ends, 0);

    ASSERT_FALSE(field->clearButton()->isHidden());
    const QRectF clear = field->clearButton()->frame();
    QTest::mouseClick(field->clearButton(), Qt::LeftButton, {}, QPoint(int(clear.width() / 2), int(clear.height() / 2)));
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(field->isFirstResponder());

    // Leaving the screen (a tab switch hides it) ends the editing: keys no longer reach it.
    auto* screen = new View(w.bounds(), &w);
    auto* other = new TextField(QRectF(10, 30, 200, 34), screen);
    other->becomeFirstResponder();
    ASSERT_TRUE(other->isFirstResponder());
    screen->setHidden(true);
    EXPECT_FALSE(other->isFirstResponder());
    QTest::keyClicks(&w, QStringLiteral("zz"));
    EXPECT_TRUE(other->text().isEmpty());
}

// A field made on a window already on screen, as an owner makes one at its first edit, types as
// one made before: the keys the window takes land in it and what is typed shows, whether it is
// handed the editing by its owner or tapped, and whether it waited hidden first.
TEST_F(KitControls, AFieldMadeOnAShownWindowTakesTheKeysTypedAtTheWindow)
{
    Window w;
    auto* bar = new View(QRectF(0, 200, 375, 42), &w);
    showActive(w);
    const auto typeAtWindow = [&](const QString& text) {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    };
    // What the field draws: anything in its text colour shows the text.
    const auto showsText = [](TextField* field) { return pixelsNear(field->grab().toImage(), Qt::red, 60) > 0; };

    auto* field = new TextField(QRectF(10, 5, 200, 32), bar);
    field->setTextColor(Qt::red);
    int changes = 0;
    field->addTarget(ControlEventEditingChanged, [&] { ++changes; });
    field->becomeFirstResponder();
    typeAtWindow(QStringLiteral("猫a"));
    EXPECT_EQ(field->text(), QStringLiteral("猫a"));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(showsText(field));

    // Made hidden, shown when its owner edits, then tapped.
    auto* later = new TextField(QRectF(10, 5, 200, 32), bar);
    later->setTextColor(Qt::red);
    later->setHidden(true);
    field->setHidden(true);
    later->setHidden(false);
    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, later->mapTo(&w, later->rect().center()));
    EXPECT_TRUE(later->isFirstResponder());
    typeAtWindow(QStringLiteral("狗"));
    EXPECT_EQ(later->text(), QStringLiteral("狗"));
    EXPECT_TRUE(showsText(later));
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Backspace, QString(), Qt::NoModifier);
    EXPECT_TRUE(later->text().isEmpty());
}

// An emote or any text put in place of the selection goes where the caret stands when
// nothing is selected, as typing would, and replaces a selection.
TEST_F(KitControls, TextPutInPlaceOfTheSelectedRangeGoesAtTheCaret)
{
    Window w;
    auto* field = new TextField(QRectF(10, 205, 200, 32), &w);
    showActive(w);
    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, field->mapTo(&w, field->rect().center()));
    ASSERT_TRUE(field->isFirstResponder());
    typeThroughWindow(&w, QStringLiteral("abcd"));
    QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_Left, QString(), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_Left, QString(), Qt::NoModifier);
    field->replaceSelectedRange(QStringLiteral("[笑]"));
    EXPECT_EQ(field->text(), QStringLiteral("ab[笑]cd"));
    // The caret stands after what went in: typing goes on from there.
    typeThroughWindow(&w, QStringLiteral("x"));
    EXPECT_EQ(field->text(), QStringLiteral("ab[笑]xcd"));
    field->setSelectedRange(0, 2);
    field->replaceSelectedRange(QStringLiteral("[哭]"));
    EXPECT_EQ(field->text(), QStringLiteral("[哭][笑]xcd"));
    // At the start too.
    QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_Home, QString(), Qt::NoModifier);
    field->replaceSelectedRange(QStringLiteral("0"));
    EXPECT_EQ(field->text(), QStringLiteral("0[哭][笑]xcd"));
}

// A label takes no touches unless told: one laid over a button lets the button have the click;
// one given a tap of its own takes it.
TEST_F(KitControls, ALabelOverAButtonLetsTheButtonHaveTheClick)
{
    Window w;
    auto* card = new View(QRectF(0, 200, 375, 34), &w);
    auto* button = new Button(ButtonTypeCustom, QRectF(0, 0, 375, 34), card);
    int buttonTaps = 0;
    button->addTarget(ControlEventTouchUpInside, [&] { ++buttonTaps; });
    auto* glyph = new Label(QRectF(285, 8, 80, 18), card);
    glyph->setText(QStringLiteral("展开 ▼"));
    EXPECT_FALSE(glyph->isUserInteractionEnabled());
    showActive(w);
    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, glyph->mapTo(&w, glyph->rect().center()));
    EXPECT_EQ(buttonTaps, 1);

    int labelTaps = 0;
    glyph->setUserInteractionEnabled(true);
    new TapGestureRecognizer(glyph, [&] { ++labelTaps; });
    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, glyph->mapTo(&w, glyph->rect().center()));
    EXPECT_EQ(labelTaps, 1);
    EXPECT_EQ(buttonTaps, 1);
}

// The keyboard settings an owner gives the field are kept, and those a desktop's input method can
// use are what the field answers it; a tint draws the text cursor in it.
TEST_F(KitControls, AFieldKeepsItsKeyboardSettingsAndDrawsItsCursorInItsTint)
{
    Window w;
    auto* field = new TextField(QRectF(10, 30, 200, 34), &w);
    showActive(w);
    EXPECT_EQ(field->returnKeyType(), ReturnKeyDefault);
    EXPECT_EQ(field->autocapitalizationType(), TextAutocapitalizationTypeSentences);
    EXPECT_EQ(field->autocorrectionType(), TextAutocorrectionTypeDefault);
    EXPECT_EQ(field->keyboardAppearance(), KeyboardAppearanceDefault);
    EXPECT_FALSE(field->tintColor().isValid());

    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, field->mapTo(&w, field->rect().center()));
    ASSERT_TRUE(field->isFirstResponder());
    // Asked as an input method asks what has the focus.
    const auto ask = [](Qt::InputMethodQuery query) {
        QInputMethodQueryEvent event(query);
        QCoreApplication::sendEvent(QApplication::focusWidget(), &event);
        return event.value(query);
    };
    EXPECT_EQ(ask(Qt::ImEnterKeyType).toInt(), Qt::EnterKeyDefault);
    EXPECT_EQ(ask(Qt::ImHints).toInt() & (Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText), 0);

    field->setReturnKeyType(ReturnKeySearch);
    field->setAutocapitalizationType(TextAutocapitalizationTypeNone);
    field->setAutocorrectionType(TextAutocorrectionTypeNo);
    field->setKeyboardAppearance(KeyboardAppearanceDark);
    EXPECT_EQ(field->returnKeyType(), ReturnKeySearch);
    EXPECT_EQ(field->autocapitalizationType(), TextAutocapitalizationTypeNone);
    EXPECT_EQ(field->autocorrectionType(), TextAutocorrectionTypeNo);
    EXPECT_EQ(field->keyboardAppearance(), KeyboardAppearanceDark);
    EXPECT_EQ(ask(Qt::ImEnterKeyType).toInt(), Qt::EnterKeySearch);
    EXPECT_EQ(ask(Qt::ImHints).toInt() & (Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText),
              Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    field->setReturnKeyType(ReturnKeySend);
    EXPECT_EQ(ask(Qt::ImEnterKeyType).toInt(), Qt::EnterKeySend);
    field->setAutocapitalizationType(TextAutocapitalizationTypeSentences);
    field->setAutocorrectionType(TextAutocorrectionTypeDefault);
    EXPECT_EQ(ask(Qt::ImHints).toInt() & (Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText), 0);

    // The cursor, shown at once after a key, in the tint: a column of it where the text ends.
    const QColor tint(255, 0, 128);
    const auto tinted = [&] { return pixelsNear(field->grab().toImage(), tint, 40); };
    field->setTextColor(Qt::black);
    QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_A, QStringLiteral("a"), Qt::NoModifier);
    EXPECT_EQ(tinted(), 0);
    field->setTintColor(tint);
    EXPECT_EQ(field->tintColor(), tint);
    QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_B, QStringLiteral("b"), Qt::NoModifier);
    EXPECT_EQ(field->text(), QStringLiteral("ab"));
    EXPECT_GE(tinted(), 10);
    // Not editing, no cursor; without a tint, the platform's again.
    field->resignFirstResponder();
    EXPECT_EQ(tinted(), 0);
    field->becomeFirstResponder();
    field->setTintColor(QColor());
    QTest::sendKeyEvent(QTest::Click, w.windowHandle(), Qt::Key_C, QStringLiteral("c"), Qt::NoModifier);
    EXPECT_EQ(tinted(), 0);
}

TEST_F(KitControls, AButtonShowingTouchGlowsOnlyWhileHighlighted)
{
    Button button(ButtonTypeCustom, QRectF(0, 0, 38, 32));
    button.setBackgroundColor(QColor(Qt::black));
    button.setShowsTouchWhenHighlighted(true);
    const auto centre = [&] {
        const QImage shot = button.grab().toImage();
        return shot.pixelColor(shot.width() / 2, shot.height() / 2);
    };
    EXPECT_EQ(centre(), QColor(Qt::black));
    button.setHighlighted(true);
    EXPECT_GT(centre().lightness(), 180);
    button.setShowsTouchWhenHighlighted(false);
    EXPECT_EQ(centre(), QColor(Qt::black));
}

TEST_F(KitControls, NavigationBarShowsItemsAsButtons)
{
    NavigationBar bar(QRectF(0, 20, 375, 44));
    NavigationItem below, top;
    below.setTitle(QStringLiteral("首页"));
    top.setTitle(QStringLiteral("详情"));
    int refreshes = 0, backs = 0;
    bar.onBack = [&] { ++backs; };
    bar.setItems({&below, &top});
    ASSERT_NE(bar.backButton(), nullptr);
    EXPECT_EQ(bar.backButton()->title(ControlStateNormal), QStringLiteral("首页"));  // no back item: the title
    bar.backButton()->tapForTesting();
    EXPECT_EQ(backs, 1);

    top.setRightBarButtonItem(BarButtonItem::systemItem(BarButtonSystemItemRefresh, [&] { ++refreshes; }));
    auto* right = qobject_cast<Button*>(bar.rightItemView());
    ASSERT_NE(right, nullptr);
    EXPECT_TRUE(right->isDescendantOfView(&bar));
    right->tapForTesting();
    EXPECT_EQ(refreshes, 1);
    EXPECT_GT(right->frame().left(), 300);

    // A left item replaces the back button; hiding the back button removes it.
    top.setLeftBarButtonItem(new BarButtonItem(QStringLiteral("关闭")));
    EXPECT_EQ(bar.backButton(), nullptr);
    EXPECT_EQ(qobject_cast<Button*>(bar.leftItemView())->title(ControlStateNormal), QStringLiteral("关闭"));
    top.setLeftBarButtonItem(nullptr);
    top.setHidesBackButton(true);
    EXPECT_EQ(bar.backButton(), nullptr);

    // A custom view goes into the bar as it is; a title view replaces the title label.
    auto* custom = new Button(ButtonTypeCustom, QRectF(0, 0, 63, 32));
    top.setRightBarButtonItem(BarButtonItem::withCustomView(custom, &top));
    EXPECT_EQ(bar.rightItemView(), custom);
    EXPECT_EQ(custom->superview(), &bar);
    auto* logo = new View(QRectF(0, 0, 70, 32));
    top.setTitleView(logo);
    EXPECT_EQ(logo->superview(), &bar);
    EXPECT_TRUE(bar.titleLabel()->isHidden());
    EXPECT_EQ(logo->frame(), QRectF(152.5, 6, 70, 32));

    // Bar item attributes from the appearance proxy colour the titles.
    TextAttributes green;
    green.textColor = QColor(Qt::green);
    BarButtonItem::appearanceInNavigationBar()->setTitleTextAttributes(green, ControlStateNormal);
    top.setLeftBarButtonItem(new BarButtonItem(QStringLiteral("编辑")));
    EXPECT_EQ(qobject_cast<Button*>(bar.leftItemView())->titleColor(ControlStateNormal), QColor(Qt::green));
    BarButtonItem::appearanceInNavigationBar()->setTitleTextAttributes({}, ControlStateNormal);
}

// The item owns its title view, as a phone's navigation item keeps its own: whether a bar
// shows it or not, it goes with the item.
TEST_F(KitControls, ANavigationItemTakesItsTitleViewAlongWhenItGoes)
{
    QPointer<View> unshown = new View(QRectF(0, 0, 70, 32));
    {
        NavigationItem item;
        item.setTitleView(unshown);
    }
    EXPECT_TRUE(unshown.isNull());

    NavigationBar bar(QRectF(0, 20, 375, 44));
    QPointer<View> shown = new View(QRectF(0, 0, 70, 32));
    {
        NavigationItem item;
        item.setTitle(QStringLiteral("详情"));
        item.setTitleView(shown);
        bar.setItems({&item});
        ASSERT_EQ(shown->superview(), &bar);
        bar.setItems({});
    }
    EXPECT_TRUE(shown.isNull());
    NavigationItem next;
    next.setTitle(QStringLiteral("首页"));
    bar.setItems({&next});
    EXPECT_FALSE(bar.titleLabel()->isHidden());
    bar.setItems({});
}

TEST_F(KitControls, TabBarTapsSelectAndASecondTapReturnsToTheRoot)
{
    Window w;
    auto* tabs = new TabBarController();
    auto* nav = new NavigationController(new ViewController());
    auto* other = new ViewController();
    tabs->setViewControllers({nav, other});
    w.setRootViewController(tabs);
    w.makeKeyAndVisible();
    nav->pushViewController(new ViewController(), false);
    EXPECT_FALSE(other->isViewLoaded());  // unselected tabs load when first shown
    tabs->tapTabForTesting(1);
    EXPECT_EQ(tabs->selectedViewController(), other);
    EXPECT_TRUE(other->isAppeared());
    EXPECT_FALSE(nav->isAppeared());
    EXPECT_EQ(other->view()->frame(), QRectF(0, 0, 375, 618));
    EXPECT_TRUE(nav->view()->isHidden());
    tabs->tapTabForTesting(0);
    EXPECT_EQ(nav->viewControllers().size(), 2);
    // The tab shown again is visible again, the one left hidden.
    EXPECT_FALSE(nav->view()->isHidden());
    EXPECT_TRUE(other->view()->isHidden());
    tabs->tapTabForTesting(0);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 1);
    EXPECT_EQ(tabs->tabBar()->items().size(), 2);
}

TEST_F(KitControls, StatusBarChangesPostAndMoveTheStrip)
{
    Window w;
    w.makeKeyAndVisible();
    int frameChanges = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        ApplicationDidChangeStatusBarFrameNotification, nullptr, [&](const platform::Notification&) { ++frameChanges; });
    auto& app = Application::shared();
    EXPECT_EQ(app.statusBarFrame(), QRectF(0, 0, 375, 20));
    app.setStatusBarHidden(true);
    EXPECT_EQ(app.statusBarFrame(), QRectF());
    EXPECT_TRUE(w.statusBarView()->isHidden());
    EXPECT_EQ(w.safeAreaInsets(), EdgeInsets{});
    app.setStatusBarHidden(true);
    app.setStatusBarHidden(false);
    EXPECT_EQ(frameChanges, 2);
    app.setStatusBarOrientation(InterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app.statusBarFrame(), QRectF(0, 0, 667, 20));
    EXPECT_EQ(frameChanges, 3);
}

TEST_F(KitControls, ApplicationMainLaunchesActivatesAndRunsTheLoop)
{
    struct Delegate : ApplicationDelegate {
        QStringList calls;
        bool didFinishLaunching() override
        {
            calls << "launch";
            QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
            return true;
        }
        void didBecomeActive() override { calls << "active"; }
    };
    Delegate* seen = nullptr;
    QStringList calls;
    const int rc = ApplicationMain(0, nullptr, [&] {
        auto d = std::make_unique<Delegate>();
        seen = d.get();
        return d;
    });
    Q_UNUSED(seen);
    EXPECT_EQ(rc, 7);
    EXPECT_EQ(Application::shared().applicationState(), int(ApplicationStateActive));
    EXPECT_EQ(Application::shared().delegate(), nullptr);  // gone with the loop
}
