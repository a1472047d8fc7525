#include "SocialTesting.h"

#include "model/KRServiceHosts.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TextField.h"
#include "shared/KRCommentCell.h"
#include "shared/KRCommentImageViewController.h"
#include "support/AnswerGate.h"
#include "support/ImageFixtures.h"

#include <QTest>
#include "nav/KRRouter.h"
#include "social/KRReplyThreadViewController.h"
#include "store/KRSessionStore.h"

#include <QApplication>
#include <QScopeGuard>
#include <QLineEdit>

namespace socialtest {
namespace {

using testsupport::CommentFixtures::kEmptyRoot;
using testsupport::CommentFixtures::kFocusedRpid;
using testsupport::CommentFixtures::kThread200Root;
using testsupport::CommentFixtures::kThread45Root;

class ReplyThreadTest : public SocialTest {
protected:
    // The thread pushed over a list, as the router does it.
    KRReplyThreadViewController* open(const std::shared_ptr<KRComment>& root, qint64 focused = 0)
    {
        show(new ViewController());
        EXPECT_TRUE(KRRouter::openReplyThread(nav, root, focused));
        AnimationClock::finishAll();
        auto* thread = qobject_cast<KRReplyThreadViewController*>(nav->topViewController());
        EXPECT_TRUE(thread);
        if (thread)
            thread->view()->layoutIfNeeded();
        return thread;
    }
    static void waitIdle(KRReplyThreadViewController* thread, int page)
    {
        KR_WAIT_UNTIL(thread->loadedPage() == page && !thread->isLoading());
        thread->tableView()->layoutIfNeeded();
    }
    static QString headerText(KRReplyThreadViewController* thread, int section)
    {
        auto* label = qobject_cast<Label*>(thread->tableView()->headerViewForSection(section));
        return label ? label->text() : QString();
    }
    QList<qint64> requestedPages() const
    {
        QList<qint64> pages;
        for (const FakeRequest& r : fake.requestsTo(QStringLiteral("/x/v2/reply/reply")))
            pages << r.queryValue(QStringLiteral("pn")).toLongLong();
        return pages;
    }
    AlertView* shownAlert() const { return window->visibleAlert(); }
    // What a change of account leaves of the reply being written: no text, the root as the
    // target, and the bar closed once its closing steps have run.
    static void expectReplyDropped(KRReplyThreadViewController* thread)
    {
        EXPECT_TRUE(thread->replyInputField()->text().isEmpty());
        EXPECT_EQ(thread->replyTarget(), thread->rootComment());
        EXPECT_EQ(thread->replyInputField()->placeholder(), QStringLiteral("回复 楼主"));
        platform::MainClock::advanceForTesting(1.0);
        AnimationClock::finishAll();
        EXPECT_TRUE(thread->replyComposerBar()->isHidden());
        EXPECT_FALSE(thread->replyInputField()->isFirstResponder());
    }
};

TEST_F(ReplyThreadTest, HeadersAndPagingWithRepeatsAndAnIdlessReply)
{
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 1, 45));
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    EXPECT_EQ(thread->title(), QStringLiteral("楼中楼"));
    EXPECT_EQ(headerText(thread, 0), QStringLiteral("   原评论"));
    EXPECT_EQ(headerText(thread, 1), QStringLiteral("   全部回复  45"));
    EXPECT_EQ(thread->supportedInterfaceOrientations(), InterfaceOrientationMaskPortrait);

    QTest::mouseClick(thread->loadMoreView()->button(), Qt::LeftButton);
    waitIdle(thread, 2);
    thread->tableView()->setContentOffset(QPointF(0, thread->tableView()->contentSize().height() - thread->tableView()->frame().height()));
    waitIdle(thread, 3);
    EXPECT_EQ(thread->loadMoreView()->state(), KRLoadMoreStateNoMore);
    ASSERT_EQ(thread->replies().size(), 45);
    int idless = 0;
    QSet<qint64> seen;
    for (const auto& reply : thread->replies()) {
        if (reply->rpid() == 0)
            ++idless;
        else
            EXPECT_FALSE(seen.contains(reply->rpid()));
        seen.insert(reply->rpid());
    }
    EXPECT_EQ(idless, 1);
    EXPECT_EQ(requestedPages(), (QList<qint64>{1, 2, 3}));
}

TEST_F(ReplyThreadTest, AnEmptyThreadSaysLoadingThenNoReplies)
{
    KRReplyThreadViewController* thread = open(rootComment(kEmptyRoot));
    ASSERT_TRUE(thread);
    auto* cell = thread->tableView()->cellForRowAtIndexPath({1, 0});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->textLabel()->text(), QStringLiteral("正在加载回复…"));
    waitIdle(thread, 1);
    EXPECT_EQ(thread->tableView()->numberOfRowsInSection(1), 1);
    EXPECT_EQ(thread->tableView()->rectForRowAtIndexPath({1, 0}).height(), 72);
    EXPECT_EQ(thread->tableView()->cellForRowAtIndexPath({1, 0})->textLabel()->text(), QStringLiteral("暂无回复"));
    thread->tableView()->tapRowForTesting({1, 0});
    EXPECT_FALSE(shownAlert());
    EXPECT_TRUE(thread->replyComposerBar()->isHidden());
}

TEST_F(ReplyThreadTest, AFocusedReplyOnPageFiveComesFirstSelectedThenDeselected)
{
    KRReplyThreadViewController* thread = open(rootComment(kThread200Root, 1, 200), kFocusedRpid);
    ASSERT_TRUE(thread);
    KR_WAIT_UNTIL(!thread->replies().isEmpty() && thread->replies().first()->rpid() == kFocusedRpid);
    EXPECT_EQ(requestedPages(), (QList<qint64>{1, 2, 3, 4, 5}));
    EXPECT_EQ(thread->tableView()->indexPathForSelectedRow(), (IndexPath{1, 0}));
    EXPECT_EQ(thread->tableView()->contentOffset().y(), thread->tableView()->rectForRowAtIndexPath({1, 0}).top());
    // The highlight goes 1.8 s later.
    platform::MainClock::advanceForTesting(1.79);
    EXPECT_TRUE(thread->tableView()->indexPathForSelectedRow().isValid());
    platform::MainClock::advanceForTesting(0.02);
    EXPECT_FALSE(thread->tableView()->indexPathForSelectedRow().isValid());
}

TEST_F(ReplyThreadTest, AMissingFocusStopsAfterEightMorePages)
{
    KRReplyThreadViewController* thread = open(rootComment(kThread200Root, 1, 200), kThread200Root * 1000 + 999);
    ASSERT_TRUE(thread);
    waitIdle(thread, 9);
    QCoreApplication::processEvents();
    EXPECT_EQ(requestedPages(), (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // The failing page leaves the list as it was, and the footer retries it.
    QTest::mouseClick(thread->loadMoreView()->button(), Qt::LeftButton);
    KR_WAIT_UNTIL(thread->loadMoreView()->state() == KRLoadMoreStateFailed);
    EXPECT_EQ(thread->replies().size(), 180);
    EXPECT_EQ(thread->loadedPage(), 9);
}

TEST_F(ReplyThreadTest, ComposerGeometryInTheNavigationView)
{
    logIn();
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 1, 45));
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    thread->tableView()->tapRowForTesting({1, 2});
    EXPECT_EQ(thread->replyTarget(), thread->replies()[2]);
    View* navView = nav->view();
    const qreal V = navView->frame().height();
    ASSERT_EQ(thread->replyComposerBar()->superview(), navView);
    EXPECT_FALSE(thread->replyComposerBar()->isHidden());
    EXPECT_TRUE(thread->replyInputField()->isFirstResponder());
    EXPECT_EQ(thread->replyInputField()->placeholder(), QStringLiteral("回复 回复者3"));
    // The desktop keyboard takes no room.
    AnimationClock::finishAll();
    EXPECT_EQ(thread->replyComposerBar()->frame(), QRectF(0, V - 42, 375, 42));
    EXPECT_EQ(thread->replyEmoteButton()->frame(), QRectF(328, 5, 43, 32));
    EXPECT_EQ(thread->replyInputField()->frame(), QRectF(50, 5, 275, 32));
    const qreal panel = std::clamp(0.28 * V, 126.0, 174.0);
    EXPECT_EQ(thread->replyEmotePanel()->frame().height(), panel);

    // A 216-point keyboard lifts the bar.
    platform::NotificationCenter::defaultCenter().post(
        KeyboardWillShowNotification, nullptr,
        {{KeyboardFrameEndKey, QRectF(0, 667 - 216, 375, 216)}, {KeyboardAnimationDurationKey, 0.25}});
    AnimationClock::finishAll();
    EXPECT_EQ(thread->replyComposerBar()->frameInWindow().bottom(), 667 - 216);

    // Emotes go into the field through the panel.
    KR_WAIT_UNTIL(thread->replyEmotes().size() == 80);
    QTest::mouseClick(thread->replyEmoteButton(), Qt::LeftButton);
    EXPECT_FALSE(thread->replyEmotePanel()->isHidden());
    auto* emote = qobject_cast<Button*>(thread->replyEmoteScrollView()->viewWithTag(9803));
    ASSERT_TRUE(emote);
    QTest::mouseClick(emote, Qt::LeftButton);
    EXPECT_EQ(thread->replyInputField()->text(), CommentFixtures::emoteToken(0, 3));
    EXPECT_TRUE(thread->replyEmotePanel()->isHidden());

    // Cancelling runs the named close steps.
    QTest::mouseClick(thread->replyCancelButton(), Qt::LeftButton);
    EXPECT_FALSE(thread->replyComposerBar()->isHidden());
    platform::MainClock::advanceForTesting(1.0);
    AnimationClock::finishAll();
    EXPECT_TRUE(thread->replyComposerBar()->isHidden());
    EXPECT_FALSE(thread->replyInputField()->isFirstResponder());

    // Popping takes the bar and the panel out of the navigation view.
    QPointer<View> bar = thread->replyComposerBar();
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_TRUE(!bar || bar->superview() != navView);
}

TEST_F(ReplyThreadTest, LoggedOutTheLoginAlertReachesTheProfileTab)
{
    auto* other1 = new NavigationController(new ViewController());
    auto* other2 = new NavigationController(new ViewController());
    auto* profile = new NavigationController(new ViewController());
    profile->topViewController()->setTitle(QStringLiteral("我的"));
    tabs->setViewControllers({nav, other1, other2, profile});
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 1, 45));
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    thread->tableView()->tapRowForTesting({0, 0});
    AlertView* alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->tag(), 9101);
    EXPECT_EQ(alert->title(), QStringLiteral("登录后回复"));
    EXPECT_EQ(alert->message(), QStringLiteral("已选择回复 楼主。这里与弹幕发送完全独立；当前未登录，保持只读。"));
    EXPECT_EQ(alert->buttonTitles(), (QStringList{QStringLiteral("取消"), QStringLiteral("前往“我的”")}));
    EXPECT_TRUE(thread->replyComposerBar()->isHidden());
    alert->tapButtonForTesting(1);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_EQ(tabs->selectedIndex(), 3);
    EXPECT_EQ(nav->viewControllers().size(), 1);
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/v2/reply/add")).isEmpty());
}

TEST_F(ReplyThreadTest, AReplyBegunByOneAccountIsNotLeftForTheNext)
{
    logIn();
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 1, 45));
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    const auto target = thread->replies()[4];
    thread->tableView()->tapRowForTesting({1, 4});
    ASSERT_FALSE(thread->replyComposerBar()->isHidden());
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClicks(focused, QStringLiteral("half"));
    EXPECT_EQ(thread->replyInputField()->text(), QStringLiteral("half"));
    EXPECT_EQ(thread->replyTarget(), target);

    // The same account, its profile read again: the reply stays as it was.
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("甲")}});
    EXPECT_FALSE(thread->replyComposerBar()->isHidden());
    EXPECT_EQ(thread->replyInputField()->text(), QStringLiteral("half"));
    EXPECT_EQ(thread->replyTarget(), target);

    // Signed out elsewhere: the bar closes, its text and its target go.
    KRSessionStore::sharedStore().clearSession();
    expectReplyDropped(thread);

    // A tap now asks for a login, and nothing is posted.
    thread->tableView()->tapRowForTesting({1, 4});
    ASSERT_TRUE(shownAlert());
    EXPECT_EQ(shownAlert()->tag(), 9101);
    shownAlert()->tapButtonForTesting(0);
    EXPECT_TRUE(thread->replyComposerBar()->isHidden());
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/v2/reply/add")).isEmpty());
}

// Another account's login confirmed over the last one, with no sign-out between: the reply
// being written and whom it answers were the last account's and go; the answer to its post
// still on its way lands in the thread without touching what the next account writes.
TEST_F(ReplyThreadTest, AnotherAccountSigningInOverTheLastWritesItsOwnReply)
{
    constexpr qint64 kFirstAccountsRpid = 77000101;
    constexpr qint64 kSecondAccountsRpid = 77000102;
    // The first account's post is held on its way, and its answer names no member; the
    // second's names its account.
    auto held = std::make_shared<AnswerGate>();
    auto firstAsked = std::make_shared<std::atomic<bool>>(false);
    const auto openAtTheEnd = qScopeGuard([held] { held->release(); });
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/v2/reply/add"), [held, firstAsked](const FakeRequest& request) {
        const bool second = request.header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151"));
        if (!second) {
            firstAsked->store(true);
            held->wait();
        }
        const qint64 rpid = second ? kSecondAccountsRpid : kFirstAccountsRpid;
        QVariantMap reply{{QStringLiteral("rpid"), rpid},
                          {QStringLiteral("oid"), AccountFixtures::formValue(request, QStringLiteral("oid")).toLongLong()},
                          {QStringLiteral("root"), AccountFixtures::formValue(request, QStringLiteral("root")).toLongLong()},
                          {QStringLiteral("parent"), AccountFixtures::formValue(request, QStringLiteral("parent")).toLongLong()},
                          {QStringLiteral("content"), QVariantMap{{QStringLiteral("message"), AccountFixtures::formValue(request, QStringLiteral("message"))}}}};
        if (second)
            reply.insert(QStringLiteral("member"), QVariantMap{{QStringLiteral("mid"), QStringLiteral("5151")}, {QStringLiteral("uname"), QStringLiteral("乙")}});
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("rpid"), rpid}, {QStringLiteral("reply"), reply}});
    });
    // Typed at the window, as a keyboard types into what the window has focused.
    const auto type = [this](const QString& text) {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    };
    const auto pressReturn = [this] {
        QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
    };
    logIn();
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("甲")}});
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 1, 45));
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);

    // The first account answers the fifth reply; its post is on its way.
    const std::shared_ptr<KRComment> firstTarget = thread->replies()[4];
    clickThroughWindow(thread->tableView()->cellForRowAtIndexPath({1, 4}));
    ASSERT_EQ(thread->replyTarget(), firstTarget);
    ASSERT_TRUE(thread->replyInputField()->isFirstResponder());
    type(QStringLiteral("first"));
    pressReturn();
    KR_WAIT_UNTIL(firstAsked->load());
    ASSERT_EQ(thread->replyInputField()->text(), QStringLiteral("first"));

    // The second account's login is confirmed: the reply begun and whom it answered go.
    AccountFixtures::logInAnotherAccount(5151);
    expectReplyDropped(thread);

    // The second account's profile is read; it answers the third reply.
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("乙")}});
    const std::shared_ptr<KRComment> secondTarget = thread->replies()[2];
    clickThroughWindow(thread->tableView()->cellForRowAtIndexPath({1, 2}));
    ASSERT_FALSE(thread->replyComposerBar()->isHidden());
    ASSERT_EQ(thread->replyTarget(), secondTarget);
    type(QStringLiteral("second"));

    // The first account's answer comes meanwhile: its reply shows as the first account's, and
    // the one being written stays.
    held->release();
    KR_WAIT_UNTIL(!thread->replies().isEmpty() && thread->replies().first()->rpid() == kFirstAccountsRpid);
    EXPECT_EQ(thread->replies().first()->authorName(), QStringLiteral("甲"));
    EXPECT_EQ(thread->replies().first()->message(), QStringLiteral("first"));
    EXPECT_EQ(shownAlert(), nullptr);
    platform::MainClock::advanceForTesting(1.0);
    AnimationClock::finishAll();
    EXPECT_FALSE(thread->replyComposerBar()->isHidden());
    EXPECT_EQ(thread->replyInputField()->text(), QStringLiteral("second"));
    EXPECT_EQ(thread->replyTarget(), secondTarget);
    EXPECT_TRUE(thread->replyInputField()->isFirstResponder());

    // Its own reply goes out as its own, answering the reply it chose.
    pressReturn();
    KR_WAIT_UNTIL(!thread->replies().isEmpty() && thread->replies().first()->rpid() == kSecondAccountsRpid);
    const QList<FakeRequest> posts = fake.requestsTo(QStringLiteral("/x/v2/reply/add"));
    ASSERT_EQ(posts.size(), 2);
    EXPECT_TRUE(posts[1].header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")));
    EXPECT_EQ(AccountFixtures::formValue(posts[1], QStringLiteral("parent")), QString::number(secondTarget->rpid()));
    EXPECT_EQ(AccountFixtures::formValue(posts[1], QStringLiteral("message")), QStringLiteral("second"));
    EXPECT_EQ(thread->replies().first()->authorName(), QStringLiteral("乙"));
    EXPECT_TRUE(thread->replyInputField()->text().isEmpty());
}

TEST_F(ReplyThreadTest, APostLandsOnTopInTheRootsArea)
{
    logIn();
    auto root = rootComment(kThread45Root, 1, 45);
    root->setPreviewReplies({reply(kThread45Root * 1000 + 1, QStringLiteral("甲")), reply(kThread45Root * 1000 + 2, QStringLiteral("乙")),
                             reply(kThread45Root * 1000 + 3, QStringLiteral("丙"))});
    KRReplyThreadViewController* thread = open(root);
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    const auto target = thread->replies()[4];
    thread->tableView()->tapRowForTesting({1, 4});
    ASSERT_TRUE(thread->replyInputField()->isFirstResponder());
    // Typed at the window, as a keyboard types into what the window has focused.
    for (const QChar ch : QStringLiteral("  谢谢分享  "))
        QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    EXPECT_EQ(thread->replyInputField()->text(), QStringLiteral("  谢谢分享  "));
    EXPECT_TRUE(thread->replyInputField()->findChild<QLineEdit*>()->isVisible());
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
    KR_WAIT_UNTIL(!thread->replies().isEmpty() && thread->replies().first()->rpid() == CommentFixtures::kPostedRpid);
    const QList<FakeRequest> posts = fake.requestsTo(QStringLiteral("/x/v2/reply/add"));
    ASSERT_EQ(posts.size(), 1);
    EXPECT_EQ(AccountFixtures::formValue(posts[0], QStringLiteral("type")), QStringLiteral("1"));
    EXPECT_EQ(AccountFixtures::formValue(posts[0], QStringLiteral("oid")), QString::number(CommentFixtures::kThreadOID));
    EXPECT_EQ(AccountFixtures::formValue(posts[0], QStringLiteral("root")), QString::number(kThread45Root));
    EXPECT_EQ(AccountFixtures::formValue(posts[0], QStringLiteral("parent")), QString::number(target->rpid()));
    EXPECT_EQ(AccountFixtures::formValue(posts[0], QStringLiteral("message")), QStringLiteral("谢谢分享"));
    EXPECT_EQ(thread->replies().first()->message(), QStringLiteral("谢谢分享"));
    EXPECT_EQ(thread->totalCount(), 46);
    AnimationClock::finishAll();
    EXPECT_TRUE(thread->tableView()->indexPathsForVisibleRows().contains(IndexPath{1, 0}));
    thread->tableView()->setContentOffset(QPointF(0, 0));
    thread->tableView()->layoutIfNeeded();
    EXPECT_EQ(headerText(thread, 1), QStringLiteral("   全部回复  46"));
    EXPECT_EQ(root->replyCount(), 46);
    ASSERT_EQ(root->previewReplies().size(), 3);
    EXPECT_EQ(root->previewReplies().last()->rpid(), CommentFixtures::kPostedRpid);
    EXPECT_EQ(root->previewReplies().first()->authorName(), QStringLiteral("乙"));
    auto* top = qobject_cast<KRCommentCell*>(thread->tableView()->cellForRowAtIndexPath({1, 0}));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->representedComment()->rpid(), CommentFixtures::kPostedRpid);
    EXPECT_TRUE(thread->replyInputField()->text().isEmpty());
    platform::MainClock::advanceForTesting(1.0);
    AnimationClock::finishAll();
    EXPECT_TRUE(thread->replyComposerBar()->isHidden());
}

TEST_F(ReplyThreadTest, AReplyInADynamicsThreadStaysInItsArea)
{
    logIn();
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 17, 45));
    ASSERT_TRUE(thread);
    KR_WAIT_UNTIL(!thread->isLoading());
    thread->tableView()->tapRowForTesting({0, 0});
    thread->replyInputField()->typeForTesting(QStringLiteral("动态里的回复"), true);
    KR_WAIT_UNTIL(fake.requestsTo(QStringLiteral("/x/v2/reply/add")).size() == 1);
    const FakeRequest post = fake.requestsTo(QStringLiteral("/x/v2/reply/add")).first();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("type")), QStringLiteral("17"));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("parent")), QString::number(kThread45Root));
    EXPECT_TRUE(AccountFixtures::formValue(post, QStringLiteral("pictures")).isEmpty());
    KR_WAIT_UNTIL(!thread->replies().isEmpty() && thread->replies().first()->rpid() == CommentFixtures::kPostedRpid);
    EXPECT_EQ(thread->replies().first()->type(), 17);
}

TEST_F(ReplyThreadTest, ARefusedPostIsShownAndKeepsTheText)
{
    logIn();
    KRReplyThreadViewController* thread = open(rootComment(kThread45Root, 1, 45));
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    thread->tableView()->tapRowForTesting({0, 0});
    thread->replyInputField()->typeForTesting(QStringLiteral("敏感的话"), true);
    KR_WAIT_UNTIL(shownAlert());
    AlertView* alert = shownAlert();
    EXPECT_EQ(alert->title(), QStringLiteral("回复失败"));
    EXPECT_TRUE(alert->message().startsWith(CommentFixtures::kRefusalMessage)) << qPrintable(alert->message());
    EXPECT_EQ(alert->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_EQ(thread->replyInputField()->text(), QStringLiteral("敏感的话"));
    EXPECT_EQ(thread->replyInputField()->placeholder(), alert->message());
    EXPECT_EQ(thread->replies().size(), 20);
    EXPECT_EQ(thread->totalCount(), 45);
    alert->tapButtonForTesting(0);
}

TEST_F(ReplyThreadTest, TappingAPictureClosesTheBarAndOpensTheViewerAtIt)
{
    auto root = rootComment(kThread45Root, 1, 45);
    root->setPictureURLs({testsupport::ImageFixtures::sizedPictureAddress(400, 300, QStringLiteral("a")),
                          testsupport::ImageFixtures::sizedPictureAddress(300, 400, QStringLiteral("b"))});
    KRReplyThreadViewController* thread = open(root);
    ASSERT_TRUE(thread);
    waitIdle(thread, 1);
    auto* cell = qobject_cast<KRCommentCell*>(thread->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(cell);
    auto* second = cell->viewWithTag(7301);
    ASSERT_TRUE(second);
    // A user's click on the second picture.
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(int(second->frame().width() / 2), int(second->frame().height() / 2)));
    AnimationClock::finishAll();
    auto* viewer = qobject_cast<KRCommentImageViewController*>(nav->topViewController());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->currentIndex(), 1u);
    // The row under the picture does not take the tap as well (signed out, it would ask to log in).
    EXPECT_EQ(shownAlert(), nullptr);
}

} // namespace
} // namespace socialtest
