#include "SocialTesting.h"

#include "model/KRDynamic.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/MainClock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ActivityViewController.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TextField.h"
#include "shared/KRCommentCell.h"
#include "shared/KRCommentImageViewController.h"
#include "shared/KRCommentPoster.h"
#include "shared/KRDynamicComposerView.h"
#include "nav/KRRouter.h"
#include "social/KRDynamicCell.h"
#include "social/KRDynamicDetailViewController.h"
#include "social/KRReplyThreadViewController.h"
#include "store/KRSessionStore.h"
#include "support/ConsoleCapture.h"
#include "support/DynamicFixtures.h"

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QUrlQuery>

namespace socialtest {
namespace {

namespace DD = testsupport::DynamicFixtures;
using testsupport::ServiceFixtures;

const QString kSignedComments = QStringLiteral("/x/v2/reply/wbi/main");
const QString kCommentPost = QStringLiteral("/x/v2/reply/add");
const qint64 kFirst = ServiceFixtures::kFirstCommentRPID;

class DynamicDetailTest : public SocialTest {
protected:
    void SetUp() override
    {
        SocialTest::SetUp();
        DD::installDetailRoute(fake);
        DD::installActionRoutes(fake, actions);
        // The composer's emote pictures are the composer's own business, and slow to fetch.
        emotesFail = true;
        countObserver = platform::NotificationCenter::defaultCenter().addObserver(
            KRDynamicCommentCountDidChangeNotification, nullptr, [this](const platform::Notification& n) {
                countObjects << n.object;
                counts << n.userInfo;
            });
    }
    void TearDown() override
    {
        countObserver.reset();
        SocialTest::TearDown();
    }

    // The screen pushed over a list, as the router does it; waits for the dynamic and its first
    // comment page unless told not to.
    KRDynamicDetailViewController* open(const QString& id, const KRCommentFocus& focus = {}, bool waitForComments = true)
    {
        show(new ViewController());
        EXPECT_TRUE(KRRouter::openDynamicDetail(nav, id, focus));
        AnimationClock::finishAll();
        auto* detail = qobject_cast<KRDynamicDetailViewController*>(nav->topViewController());
        EXPECT_TRUE(detail);
        if (detail && waitForComments) {
            EXPECT_TRUE(testsupport::waitUntil(
                [detail] {
                    return detail->dynamic() && !detail->isLoadingComments() &&
                           (detail->commentPage() >= 1 || !detail->commentsErrorText().isEmpty());
                }));
            detail->view()->layoutIfNeeded();
        }
        return detail;
    }
    static QString stateRowText(KRDynamicDetailViewController* detail)
    {
        TableView* table = detail->tableView();
        table->layoutIfNeeded();
        const int rows = table->numberOfRowsInSection(1);
        table->scrollToRowAtIndexPath({1, rows - 1}, TableViewScrollPositionTop, false);
        TableViewCell* cell = table->cellForRowAtIndexPath({1, rows - 1});
        return cell ? cell->textLabel()->text() : QString();
    }
    static QString headerText(KRDynamicDetailViewController* detail)
    {
        View* header = detail->tableView()->headerViewForSection(1);
        auto* label = header ? header->findChild<Label*>(QStringLiteral("commentsHeaderLabel")) : nullptr;
        return label ? label->text() : QString();
    }
    static QLineEdit* composerEdit(KRDynamicDetailViewController* detail)
    {
        return detail->composer()->textField()->findChild<QLineEdit*>();
    }
    // Types into the composer (Chinese arrives committed by the input method) and presses return.
    static void send(KRDynamicDetailViewController* detail, const QString& text)
    {
        QLineEdit* edit = composerEdit(detail);
        QInputMethodEvent typed;
        typed.setCommitString(text);
        QCoreApplication::sendEvent(edit, &typed);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    ActionSheet* openMoreSheet(KRDynamicDetailViewController* detail)
    {
        auto* cell = qobject_cast<KRDynamicCell*>(detail->tableView()->cellForRowAtIndexPath({0, 0}));
        EXPECT_TRUE(cell);
        if (cell)
            cell->repostButton()->tapForTesting();
        AnimationClock::finishAll();
        return detail->moreSheet();
    }
    static QStringList sheetTitles(ActionSheet* sheet)
    {
        QStringList titles;
        for (int i = 0; sheet && i < sheet->numberOfButtons(); ++i)
            titles << sheet->buttonTitleAtIndex(i);
        return titles;
    }
    // Taps a sheet button and lets the slide and the short wait before the action pass.
    // A sheet that never came fails here, and the caller's next look at an alert stops the test.
    static void choose(ActionSheet* sheet, int index)
    {
        ASSERT_NE(sheet, nullptr) << "no more sheet to choose from";
        sheet->tapButtonForTesting(index);
        platform::MainClock::advanceForTesting(ActionSheet::kSlideDuration);
        AnimationClock::finishAll();
        platform::MainClock::advanceForTesting(0.05);
    }
    AlertView* shownAlert() const { return window->visibleAlert(); }
    static QImage picture(int width)
    {
        QImage image(width, 30, QImage::Format_RGB32);
        image.fill(QColor(200, 100, 50));
        return image;
    }

    // Every write refused with kRefusal, or none.
    void refuseWrites(bool refuse)
    {
        for (const QString& path : {DD::kThumbPath, DD::kCreatePath, DD::kRemovePath, DD::kWatchLaterPath}) {
            if (refuse)
                actions->refuse(path, kRefusal);
            else
                actions->accept(path);
        }
    }

    const QString kRefusal = QStringLiteral("操作过于频繁");
    std::shared_ptr<DD::ActionPlan> actions = std::make_shared<DD::ActionPlan>();
    platform::ObserverToken countObserver;
    QList<const void*> countObjects;
    QList<QVariantMap> counts;
};

TEST_F(DynamicDetailTest, SaysItIsLoadingThenThatAnEmptyAnswerHasNoDynamic)
{
    logIn();
    auto* detail = open(DD::kEmptyID, {}, false);
    EXPECT_EQ(detail->stateLabel()->text(), QStringLiteral("正在加载动态…"));
    EXPECT_EQ(detail->tableView()->numberOfSections(), 0);
    KR_WAIT_UNTIL(detail->stateLabel()->text() == QStringLiteral("这条动态已失效或不可见"));
    EXPECT_EQ(detail->tableView()->numberOfSections(), 0);
    EXPECT_EQ(detail->tableView()->backgroundView(), detail->stateLabel());
    EXPECT_TRUE(fake.requestsTo(kSignedComments).isEmpty());
}

TEST_F(DynamicDetailTest, AFailedLoadShowsOnlyTheFailure)
{
    logIn();
    auto* detail = open(DD::kFailingID, {}, false);
    KR_WAIT_UNTIL(detail->stateLabel()->text() != QStringLiteral("正在加载动态…"));
    EXPECT_FALSE(detail->stateLabel()->text().isEmpty());
    EXPECT_NE(detail->stateLabel()->text(), QStringLiteral("这条动态已失效或不可见"));
    EXPECT_EQ(detail->tableView()->numberOfSections(), 0);
}

TEST_F(DynamicDetailTest, ListsTheCommentsOfTheDynamicsAreaAndPagesOnlyFromTheStateRow)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    EXPECT_EQ(detail->commentOID(), DD::kOwnVideoAID);
    EXPECT_EQ(detail->commentType(), 11);
    const FakeRequest first = fake.requestsTo(kSignedComments).first();
    EXPECT_EQ(first.queryValue(QStringLiteral("oid")), QString::number(DD::kOwnVideoAID));
    EXPECT_EQ(first.queryValue(QStringLiteral("type")), QStringLiteral("11"));
    EXPECT_EQ(detail->comments().size(), 20);
    const qint64 total = detail->dynamic()->commentCount();
    EXPECT_GT(total, 20);
    EXPECT_EQ(headerText(detail), QStringLiteral("评论 %1").arg(total));

    // Every page tells the feed, with no object and the dynamic's id.
    ASSERT_EQ(counts.size(), 1);
    EXPECT_EQ(countObjects.first(), nullptr);
    EXPECT_EQ(counts.first().value(QStringLiteral("dynamicID")).toString(), DD::kOwnVideoID);
    EXPECT_EQ(counts.first().value(QStringLiteral("count")).toLongLong(), total);

    // Scrolling to the very end asks for nothing.
    TableView* table = detail->tableView();
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height()));
    table->layoutIfNeeded();
    QCoreApplication::processEvents();
    EXPECT_EQ(fake.requestsTo(kSignedComments).size(), 1);

    EXPECT_EQ(stateRowText(detail), QStringLiteral("查看更多评论"));
    table->tapRowForTesting({1, int(detail->comments().size())});
    EXPECT_EQ(stateRowText(detail), QStringLiteral("正在加载评论…"));
    KR_WAIT_UNTIL(detail->commentPage() == 2 && !detail->isLoadingComments());
    EXPECT_EQ(detail->comments().size(), 40);
    EXPECT_EQ(counts.size(), 2);
}

TEST_F(DynamicDetailTest, WithoutACommentAreaTheNumericIDIsUsedInAreaOne)
{
    logIn();
    auto* detail = open(DD::kPictureID);
    EXPECT_EQ(detail->commentOID(), DD::kPictureID.toLongLong());
    EXPECT_EQ(detail->commentType(), 1);
    const FakeRequest first = fake.requestsTo(kSignedComments).first();
    EXPECT_EQ(first.queryValue(QStringLiteral("oid")), DD::kPictureID);
    EXPECT_EQ(first.queryValue(QStringLiteral("type")), QStringLiteral("1"));
    EXPECT_EQ(stateRowText(detail), QStringLiteral("暂时没有评论"));
    EXPECT_EQ(headerText(detail), QStringLiteral("评论"));
    EXPECT_EQ(detail->shareURLString(), QStringLiteral("https://%1/opus/%2").arg(KRServiceHosts::webHost(), DD::kPictureID));
}

TEST_F(DynamicDetailTest, AFirstPageWithoutATotalCountsWhatIsListedOnceEach)
{
    logIn();
    // Two comments and one of them again, with no count on record.
    fake.route(KRServiceHosts::apiHost(), kSignedComments, [](const FakeRequest&) {
        QVariantList replies;
        for (qint64 rpid : {501, 502, 501})
            replies << QVariantMap{{"rpid", rpid}, {"oid", DD::kPictureID.toLongLong()}, {"type", 1},
                                   {"member", QVariantMap{{"mid", "9"}, {"uname", QStringLiteral("路人")}}},
                                   {"content", QVariantMap{{"message", QStringLiteral("好看 %1").arg(rpid)}}}};
        return FakeReply::json(ServiceFixtures::envelope(QVariantMap{
            {"replies", replies}, {"cursor", QVariantMap{{"is_end", true}, {"next", 2}, {"all_count", 0}}}}));
    });
    auto* detail = open(DD::kPictureID);
    EXPECT_EQ(detail->comments().size(), 2);
    EXPECT_FALSE(detail->commentsHaveMore());
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.last().value(QStringLiteral("count")).toLongLong(), 2);
    EXPECT_EQ(headerText(detail), QStringLiteral("评论 2"));
    // Nothing more to load: no state row.
    EXPECT_EQ(detail->tableView()->numberOfRowsInSection(1), 2);
}

TEST_F(DynamicDetailTest, AFailedPageSaysSoAndATapRetries)
{
    logIn();
    fake.routeReply(KRServiceHosts::apiHost(), kSignedComments, FakeReply::withStatus(500));
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/v2/reply"), FakeReply::withStatus(500));
    auto* detail = open(DD::kOwnVideoID);
    EXPECT_EQ(stateRowText(detail), QStringLiteral("评论加载失败，点击重试"));
    const int asked = fake.requestsTo(kSignedComments).size();
    detail->tableView()->tapRowForTesting({1, 0});
    KR_WAIT_UNTIL(fake.requestsTo(kSignedComments).size() > asked && !detail->isLoadingComments());
    EXPECT_EQ(stateRowText(detail), QStringLiteral("评论加载失败，点击重试"));
}

TEST_F(DynamicDetailTest, TheDockSitsAboveTheTabBarAndComesBackAfterThePictureViewer)
{
    logIn();
    auto* detail = open(DD::kPictureID);
    View* dock = detail->composerDock();
    ASSERT_TRUE(dock);
    EXPECT_EQ(dock->superview(), tabs->view());
    EXPECT_EQ(tabs->view()->bounds().size(), QSizeF(375, 667));
    EXPECT_EQ(dock->frame(), QRectF(0, 576, 375, 42));
    EXPECT_EQ(detail->composerButton()->frame(), QRectF(8, 5, 359, 32));
    EXPECT_EQ(detail->composerButton()->currentTitle(), QStringLiteral("说点什么…"));
    EXPECT_EQ(detail->tableView()->contentInset().bottom, 42);
    EXPECT_FALSE(dock->isHidden());

    auto* cell = qobject_cast<KRDynamicCell*>(detail->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(cell);
    ASSERT_GE(cell->pictureControls().size(), 2);
    cell->pictureControls().at(1)->tapForTesting();
    AnimationClock::finishAll();
    auto* viewer = qobject_cast<KRCommentImageViewController*>(nav->topViewController());
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(!dock->isVisible());

    nav->popViewControllerAnimated(true);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->topViewController(), detail);
    EXPECT_EQ(dock->superview(), tabs->view());
    EXPECT_FALSE(dock->isHidden());
    EXPECT_EQ(dock->frame(), QRectF(0, 576, 375, 42));
}

TEST_F(DynamicDetailTest, LoggedOutTheDockAsksForALogin)
{
    auto* detail = open(DD::kPictureID, {}, false);
    EXPECT_EQ(detail->composerButton()->currentTitle(), QStringLiteral("登录后发表评论"));
    logIn();
    platform::NotificationCenter::defaultCenter().post(KRSessionDidChangeNotification);
    EXPECT_EQ(detail->composerButton()->currentTitle(), QStringLiteral("说点什么…"));
}

TEST_F(DynamicDetailTest, AnotherAccountSeesTheDynamicLoadedAgainAndNobodyKeepsTheLastOnes)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    ASSERT_TRUE(detail->dynamic());
    ASSERT_FALSE(detail->comments().isEmpty());
    QTest::mouseClick(detail->composerButton(), Qt::LeftButton);
    ASSERT_TRUE(detail->composer()->superview());

    // The account's profile read again keeps the screen as it is.
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("甲")}});
    EXPECT_TRUE(detail->composer()->superview());
    EXPECT_TRUE(detail->dynamic());
    EXPECT_EQ(fake.requestsTo(DD::kDetailPath).size(), 1);

    // Signed out elsewhere: what that account saw goes at once, and the load says why.
    KRSessionStore::sharedStore().clearSession();
    EXPECT_FALSE(detail->dynamic());
    EXPECT_TRUE(detail->comments().isEmpty());
    EXPECT_EQ(detail->tableView()->numberOfSections(), 0);
    ASSERT_TRUE(detail->stateLabel());
    EXPECT_EQ(detail->tableView()->backgroundView(), detail->stateLabel());
    EXPECT_EQ(detail->stateLabel()->text(), QStringLiteral("账号未登录"));
    EXPECT_FALSE(detail->composer()->superview());
    EXPECT_EQ(detail->pendingAction(), 0);
    EXPECT_FALSE(detail->composerDock()->isHidden());
    EXPECT_EQ(detail->composerButton()->currentTitle(), QStringLiteral("登录后发表评论"));

    // Another account signs in: the dynamic and its comments as that account sees them.
    AccountFixtures::logInWebOnly(5151);
    KR_WAIT_UNTIL(detail->dynamic() && !detail->isLoadingComments() && detail->commentPage() >= 1);
    ASSERT_EQ(fake.requestsTo(DD::kDetailPath).size(), 2);
    EXPECT_TRUE(fake.requestsTo(DD::kDetailPath).last().header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")));
    EXPECT_EQ(detail->tableView()->backgroundView(), nullptr);
    EXPECT_EQ(detail->tableView()->numberOfSections(), 2);
    EXPECT_FALSE(detail->comments().isEmpty());
    EXPECT_EQ(detail->composerButton()->currentTitle(), QStringLiteral("说点什么…"));
    // Not this account's own dynamic: nothing offers to delete it.
    EXPECT_FALSE(sheetTitles(openMoreSheet(detail)).contains(QStringLiteral("删除动态")));
}

// Another account's login confirmed over the last one, with no sign-out between: the dynamic
// and its comments are loaded again as that account sees them, and what the last one was
// writing goes.
TEST_F(DynamicDetailTest, AnotherAccountSigningInOverTheLastSeesTheDynamicAsItSeesIt)
{
    // The first account has liked its dynamic; the second has not.
    fake.route(KRServiceHosts::apiHost(), DD::kDetailPath, [](const FakeRequest& request) {
        const bool first = request.header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=4242"));
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("item"), DD::withStats(DD::ownVideoDetailItem(), first ? 6 : 5, 7, first)}});
    });
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    ASSERT_TRUE(detail->dynamic());
    ASSERT_TRUE(detail->dynamic()->liked());
    ASSERT_FALSE(detail->comments().isEmpty());
    const qsizetype commentPages = fake.requestsTo(kSignedComments).size();
    clickThroughWindow(detail->composerButton());
    ASSERT_TRUE(detail->composer()->superview());
    QTest::keyClicks(composerEdit(detail), QStringLiteral("draft"));
    ASSERT_EQ(detail->composer()->textField()->text(), QStringLiteral("draft"));

    AccountFixtures::logInAnotherAccount(5151);
    EXPECT_FALSE(detail->dynamic()) << "the last account's dynamic goes at once";
    EXPECT_TRUE(detail->comments().isEmpty());
    EXPECT_FALSE(detail->composer()->superview());
    EXPECT_EQ(detail->pendingAction(), 0);
    EXPECT_FALSE(detail->composerDock()->isHidden());

    KR_WAIT_UNTIL(detail->dynamic() && !detail->isLoadingComments() && detail->commentPage() >= 1);
    ASSERT_EQ(fake.requestsTo(DD::kDetailPath).size(), 2);
    EXPECT_TRUE(fake.requestsTo(DD::kDetailPath).last().header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")));
    EXPECT_FALSE(detail->dynamic()->liked());
    EXPECT_EQ(detail->dynamic()->likeCount(), 5);
    EXPECT_GT(fake.requestsTo(kSignedComments).size(), commentPages);
    EXPECT_FALSE(detail->comments().isEmpty());
    EXPECT_EQ(detail->composerButton()->currentTitle(), QStringLiteral("说点什么…"));
    // Not the second account's own dynamic: nothing offers to delete it.
    EXPECT_FALSE(sheetTitles(openMoreSheet(detail)).contains(QStringLiteral("删除动态")));
}

TEST_F(DynamicDetailTest, AnAnswerAskedForTheLastAccountNeverLands)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID, {}, false);
    KR_WAIT_UNTIL(fake.requestsTo(DD::kDetailPath).size() == 1);
    // Signed out before the dynamic came: its answer is the last account's.
    KRSessionStore::sharedStore().clearSession();
    ASSERT_TRUE(detail->stateLabel());
    EXPECT_EQ(detail->stateLabel()->text(), QStringLiteral("账号未登录"));
    for (int i = 0; i < 20 && fake.requestsTo(kSignedComments).isEmpty(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_FALSE(detail->dynamic());
    EXPECT_TRUE(fake.requestsTo(kSignedComments).isEmpty());
    ASSERT_TRUE(detail->stateLabel());
    EXPECT_EQ(detail->stateLabel()->text(), QStringLiteral("账号未登录"));
}

TEST_F(DynamicDetailTest, AFocusOnOneCommentPutsItFirstSelectedForAMoment)
{
    logIn();
    const qint64 root = kFirst + 30; // not on the first page
    auto* detail = open(DD::kOwnVideoID, KRCommentFocus{KRCommentFocus::Kind::AtRpid, 0, 0, root});
    KR_WAIT_UNTIL(!detail->comments().isEmpty() && detail->comments().first()->rpid() == root);
    TableView* table = detail->tableView();
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{1, 0}));
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/v2/reply/detail")).first().queryValue(QStringLiteral("type")), QStringLiteral("11"));
    platform::MainClock::advanceForTesting(1.7);
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{1, 0}));
    platform::MainClock::advanceForTesting(0.1);
    EXPECT_FALSE(table->indexPathForSelectedRow().isValid() && table->indexPathForSelectedRow() == (IndexPath{1, 0}));
}

TEST_F(DynamicDetailTest, AFocusOnAReplyOpensItsThread)
{
    logIn();
    const qint64 root = kFirst + 4;
    const qint64 target = root * 100 + 9;
    open(DD::kOwnVideoID, KRCommentFocus{KRCommentFocus::Kind::AtRootRpid, root, target, 0}, false);
    KR_WAIT_UNTIL(qobject_cast<KRReplyThreadViewController*>(nav->topViewController()) != nullptr);
    auto* thread = qobject_cast<KRReplyThreadViewController*>(nav->topViewController());
    EXPECT_EQ(thread->rootComment()->rpid(), root);
}

TEST_F(DynamicDetailTest, AFocusThatCannotBeFoundOnlyLeavesAConsoleLine)
{
    logIn();
    testsupport::ConsoleCapture console;
    auto* detail = open(DD::kOwnVideoID, KRCommentFocus{KRCommentFocus::Kind::AtRootRpid, 5, 5, 0});
    KR_WAIT_UNTIL(console.contains(QStringLiteral("[KorvaneDynamicMessageJump] oid=%1 type=11 root=5 error=").arg(DD::kOwnVideoAID)));
    EXPECT_EQ(detail->comments().size(), 20);
    EXPECT_EQ(detail->comments().first()->rpid(), kFirst);
}

TEST_F(DynamicDetailTest, TheMoreSheetOfAnOwnVideoDynamic)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    ActionSheet* sheet = openMoreSheet(detail);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->tag(), 8801);
    EXPECT_EQ(sheet->title(), QStringLiteral("更多"));
    EXPECT_EQ(sheetTitles(sheet), (QStringList{QStringLiteral("系统分享"), QStringLiteral("转发动态"), QStringLiteral("复制链接"),
                                               QStringLiteral("稍后观看"), QStringLiteral("删除动态"), QStringLiteral("取消")}));
    EXPECT_EQ(sheet->destructiveButtonIndex(), 4);
    EXPECT_EQ(sheet->cancelButtonIndex(), 5);

    // Watch-later waits for the sheet to go.
    sheet->tapButtonForTesting(3);
    platform::MainClock::advanceForTesting(ActionSheet::kSlideDuration);
    AnimationClock::finishAll();
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/v2/history/toview/add")).isEmpty());
    platform::MainClock::advanceForTesting(0.05);
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("已加入稍后观看"));
    EXPECT_EQ(AccountFixtures::formValue(fake.requestsTo(QStringLiteral("/x/v2/history/toview/add")).first(), QStringLiteral("aid")),
              QString::number(DD::kOwnVideoAID));
}

TEST_F(DynamicDetailTest, AnotherAuthorsDynamicWithoutAVideoOffersNeitherWatchLaterNorDeletion)
{
    logIn();
    auto* detail = open(DD::kPictureID);
    EXPECT_EQ(sheetTitles(openMoreSheet(detail)),
              (QStringList{QStringLiteral("系统分享"), QStringLiteral("转发动态"), QStringLiteral("复制链接"), QStringLiteral("取消")}));
}

TEST_F(DynamicDetailTest, CopyingTheLinkFillsThePasteboard)
{
    logIn();
    auto* detail = open(DD::kPictureID);
    Pasteboard::general().setString(QString());
    choose(openMoreSheet(detail), 2);
    EXPECT_EQ(Pasteboard::general().url(), QUrl(detail->shareURLString()));
    ASSERT_TRUE(shownAlert());
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("已复制链接"));
    EXPECT_TRUE(shownAlert()->message().isEmpty());
}

TEST_F(DynamicDetailTest, SystemSharingPresentsTheActivitySheetOrExplainsItsAbsence)
{
    logIn();
    auto* detail = open(DD::kPictureID);
    choose(openMoreSheet(detail), 0);
    AnimationClock::finishAll();
    auto* activity = qobject_cast<ActivityViewController*>(detail->presentedViewController());
    ASSERT_TRUE(activity);
    EXPECT_EQ(activity->activityItems(), (QVariantList{QStringLiteral("今天的晚霞"), QUrl(detail->shareURLString())}));
    detail->dismissViewControllerAnimated(false);
    AnimationClock::finishAll();

    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone4,1"));
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("5.1"));
    Pasteboard::general().setString(QString());
    choose(openMoreSheet(detail), 0);
    ASSERT_TRUE(shownAlert());
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("已复制链接"));
    EXPECT_EQ(shownAlert()->message(), QStringLiteral("iOS 5 没有系统活动面板，可将链接粘贴到其他应用。"));
    EXPECT_EQ(Pasteboard::general().url(), QUrl(detail->shareURLString()));
}

TEST_F(DynamicDetailTest, DeletingAnOwnDynamicLeavesTheScreenAndARefusalSaysWhy)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    refuseWrites(true);
    choose(openMoreSheet(detail), 4);
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("删除失败"));
    EXPECT_TRUE(shownAlert()->message().startsWith(kRefusal));
    shownAlert()->tapButtonForTesting(0);
    EXPECT_EQ(nav->topViewController(), detail);

    refuseWrites(false);
    choose(openMoreSheet(detail), 4);
    KR_WAIT_UNTIL(nav->topViewController() != detail);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/dynamic/feed/operate/remove")).size(), 2);
}

TEST_F(DynamicDetailTest, ACommentWithTwoPhotosUploadsBothAndGoesFirst)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    const qint32 before = detail->dynamic()->commentCount();
    QTest::mouseClick(detail->composerButton(), Qt::LeftButton);
    KRDynamicComposerView* composer = detail->composer();
    ASSERT_TRUE(composer->superview());
    EXPECT_TRUE(detail->composerDock()->isHidden());
    EXPECT_TRUE(composer->allowsImage());
    EXPECT_EQ(composer->textField()->placeholder(), QStringLiteral("说点什么…"));

    // The picker hands back two pictures.
    QTest::mouseClick(composer->sendButton(), Qt::LeftButton);
    AnimationClock::finishAll();
    ASSERT_TRUE(detail->presentedViewController());
    auto* picker = detail->presentedViewController()->findChild<KRPhotoPickerViewController*>();
    ASSERT_TRUE(picker);
    detail->photoPickerViewControllerDidFinishWithItems(
        picker, {KRPhotoPickerItem{{KRPhotoPickerItemImageKey, picture(40)}}, KRPhotoPickerItem{{KRPhotoPickerItemImageKey, picture(41)}}});
    AnimationClock::finishAll();
    EXPECT_EQ(composer->selectedImageCount(), 2u);

    send(detail, QStringLiteral("两张图"));
    KR_WAIT_UNTIL(fake.requestsTo(kCommentPost).size() == 1);
    KR_WAIT_UNTIL(detail->pendingAction() == 0);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/dynamic/feed/draw/upload_bfs")).size(), 2);
    const FakeRequest post = fake.requestsTo(kCommentPost).first();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("type")), QStringLiteral("11"));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("oid")), QString::number(DD::kOwnVideoAID));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("pictures")).count(QStringLiteral("upload")), 2);

    EXPECT_EQ(detail->comments().first()->message(), QStringLiteral("两张图"));
    EXPECT_EQ(detail->comments().first()->pictureURLs().size(), 2);
    EXPECT_EQ(detail->dynamic()->commentCount(), before + 1);
    EXPECT_EQ(counts.last().value(QStringLiteral("count")).toLongLong(), before + 1);
    EXPECT_FALSE(composer->superview());
    EXPECT_FALSE(detail->composerDock()->isHidden());
}

TEST_F(DynamicDetailTest, AFailedUploadKeepsTheTextButDropsThePhotos)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    QTest::mouseClick(detail->composerButton(), Qt::LeftButton);
    detail->photoPickerViewControllerDidFinishWithItems(nullptr, {KRPhotoPickerItem{{KRPhotoPickerItemImageKey, picture(40)}}});
    actions->uploadFails = true;
    send(detail, QStringLiteral("配图"));
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("图片上传失败"));
    EXPECT_EQ(composerEdit(detail)->text(), QStringLiteral("配图"));
    EXPECT_TRUE(detail->composer()->textField()->isEnabled());
    EXPECT_EQ(detail->selectedImageCount(), 0);
    EXPECT_EQ(detail->composer()->selectedImageCount(), 0u);
    EXPECT_TRUE(fake.requestsTo(kCommentPost).isEmpty());
}

TEST_F(DynamicDetailTest, APictureThatCannotBeReadPostsNothing)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    const qsizetype listed = detail->comments().size();
    QTest::mouseClick(detail->composerButton(), Qt::LeftButton);
    // The second picture is one no JPEG can be made of.
    detail->photoPickerViewControllerDidFinishWithItems(
        nullptr, {KRPhotoPickerItem{{KRPhotoPickerItemImageKey, picture(40)}}, KRPhotoPickerItem{{KRPhotoPickerItemImageKey, QImage()}}});
    send(detail, QStringLiteral("两张图"));
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("图片上传失败"));
    EXPECT_EQ(shownAlert()->message(), QStringLiteral("图片无法读取"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/dynamic/feed/draw/upload_bfs")).isEmpty());
    EXPECT_TRUE(fake.requestsTo(kCommentPost).isEmpty());
    EXPECT_EQ(detail->comments().size(), listed);
    EXPECT_EQ(composerEdit(detail)->text(), QStringLiteral("两张图"));
    EXPECT_TRUE(detail->composer()->textField()->isEnabled());

    // The uploader itself says why, with the error the account client gives for it.
    std::optional<std::pair<std::optional<QVariantList>, KROptionalError>> answer;
    KRCommentPoster::uploadImages({picture(40), QImage()}, detail,
                                  [&answer](const std::optional<QVariantList>& records, const KROptionalError& error) {
                                      answer = std::make_pair(records, error);
                                  });
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->first);
    ASSERT_TRUE(answer->second);
    EXPECT_EQ(answer->second->domain(), KRAccountErrorDomain);
    EXPECT_EQ(answer->second->code(), -2);
    EXPECT_EQ(answer->second->message(), QStringLiteral("图片无法读取"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/dynamic/feed/draw/upload_bfs")).isEmpty());
}

TEST_F(DynamicDetailTest, AReplyOffersNoPhotosAndCountsUnderItsComment)
{
    logIn();
    // A comment without replies of its own: the picture dynamic lists these two.
    fake.route(KRServiceHosts::apiHost(), kSignedComments, [](const FakeRequest&) {
        QVariantList replies;
        for (qint64 rpid : {601, 602})
            replies << QVariantMap{{"rpid", rpid}, {"oid", DD::kPictureID.toLongLong()}, {"type", 1},
                                   {"member", QVariantMap{{"mid", "9"}, {"uname", QStringLiteral("路人%1").arg(rpid)}}},
                                   {"content", QVariantMap{{"message", QStringLiteral("好看")}}}};
        return FakeReply::json(ServiceFixtures::envelope(
            QVariantMap{{"replies", replies}, {"cursor", QVariantMap{{"is_end", true}, {"next", 2}, {"all_count", 2}}}}));
    });
    auto* detail = open(DD::kPictureID);
    detail->tableView()->tapRowForTesting({1, 1});
    KRDynamicComposerView* composer = detail->composer();
    ASSERT_TRUE(composer->superview());
    EXPECT_FALSE(composer->allowsImage());
    EXPECT_EQ(composer->textField()->placeholder(), QStringLiteral("回复 路人602"));
    EXPECT_EQ(detail->replyRoot(), 602);
    EXPECT_EQ(detail->replyParent(), 602);
    // Photos picked for an earlier comment do not ride along.
    detail->photoPickerViewControllerDidFinishWithItems(nullptr, {KRPhotoPickerItem{{KRPhotoPickerItemImageKey, picture(40)}}});
    send(detail, QStringLiteral("同意"));
    KR_WAIT_UNTIL(detail->pendingAction() == 0);
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/dynamic/feed/draw/upload_bfs")).isEmpty());
    const FakeRequest post = fake.requestsTo(kCommentPost).first();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("root")), QStringLiteral("602"));
    EXPECT_TRUE(AccountFixtures::formValue(post, QStringLiteral("pictures")).isEmpty());
    EXPECT_EQ(detail->comments().size(), 2);
    EXPECT_EQ(detail->comments().at(1)->replyCount(), 1);
}

TEST_F(DynamicDetailTest, RepliesPostedInAThreadShowInTheRowsCountOnReturn)
{
    logIn();
    // One comment with one reply; each reply posted gets an rpid of its own.
    const qint64 oid = DD::kPictureID.toLongLong();
    const auto commentObject = [oid](qint64 rpid, qint64 root, qint64 replies) {
        return QVariantMap{{"rpid", rpid}, {"oid", oid}, {"type", 1}, {"root", root}, {"parent", root},
                           {"count", replies}, {"rcount", replies}, {"ctime", 1700000000},
                           {"member", QVariantMap{{"mid", "9"}, {"uname", QStringLiteral("路人%1").arg(rpid)}}},
                           {"content", QVariantMap{{"message", QStringLiteral("好看")}}}};
    };
    fake.route(KRServiceHosts::apiHost(), kSignedComments, [commentObject](const FakeRequest&) {
        return FakeReply::json(ServiceFixtures::envelope(QVariantMap{
            {"replies", QVariantList{commentObject(601, 0, 1)}}, {"cursor", QVariantMap{{"is_end", true}, {"next", 2}, {"all_count", 1}}}}));
    });
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/v2/reply/reply"), [commentObject](const FakeRequest&) {
        return FakeReply::json(ServiceFixtures::envelope(QVariantMap{
            {"page", QVariantMap{{"num", 1}, {"size", 20}, {"count", 1}}}, {"replies", QVariantList{commentObject(60101, 601, 0)}}}));
    });
    CommentFixtures::installPostAndEmoteRoutes(fake, std::make_shared<CommentFixtures::PostedComments>());
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/emote/package"), FakeReply::withStatus(500));

    auto* detail = open(DD::kPictureID);
    TableView* table = detail->tableView();
    auto* row = qobject_cast<KRCommentCell*>(table->cellForRowAtIndexPath({1, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->threadLabel()->text(), QStringLiteral("查看 1 条回复  ›"));
    // The hint's tap reaches the row too: one thread opens, over the dynamic.
    clickThroughWindow(row->threadLabel());
    auto* thread = qobject_cast<KRReplyThreadViewController*>(nav->topViewController());
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(nav->viewControllers().size(), 3);
    EXPECT_EQ(nav->viewControllers().at(1), detail);
    KR_WAIT_UNTIL(!thread->isLoading());
    for (const QString& text : {QStringLiteral("一"), QStringLiteral("二")}) {
        const qsizetype before = thread->replies().size();
        thread->view()->layoutIfNeeded();
        clickThroughWindow(thread->tableView()->cellForRowAtIndexPath({0, 0}));
        ASSERT_TRUE(thread->replyInputField()->isFirstResponder());
        thread->replyInputField()->typeForTesting(text, true);
        KR_WAIT_UNTIL(thread->replies().size() == before + 1);
        platform::MainClock::advanceForTesting(1.0);
        AnimationClock::finishAll();
    }
    clickThroughWindow(nav->navigationBar()->backButton());
    ASSERT_EQ(nav->topViewController(), detail);
    detail->view()->layoutIfNeeded();
    row = qobject_cast<KRCommentCell*>(table->cellForRowAtIndexPath({1, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->threadLabel()->text(), QStringLiteral("查看 3 条回复  ›"));
    EXPECT_EQ(row->frame().height(), KRCommentCell::heightForComment(*detail->comments().first(), table->frame().width(), true));
}

TEST_F(DynamicDetailTest, ARepostStartsWithTheAuthorAndARetryAfterARefusalPosts)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    choose(openMoreSheet(detail), 1);
    KRDynamicComposerView* composer = detail->composer();
    ASSERT_TRUE(composer->superview());
    EXPECT_EQ(detail->pendingAction(), 2);
    EXPECT_TRUE(composer->allowsImage());
    EXPECT_EQ(composer->textField()->placeholder(), QStringLiteral("转发动态"));
    EXPECT_EQ(composerEdit(detail)->text(), QStringLiteral("//@%1:").arg(detail->dynamic()->authorName()));
    EXPECT_FALSE(detail->dynamic()->authorName().isEmpty());

    refuseWrites(true);
    QTest::keyClick(composerEdit(detail), Qt::Key_Return);
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("转发失败"));
    EXPECT_TRUE(shownAlert()->message().startsWith(kRefusal));
    shownAlert()->tapButtonForTesting(0);
    EXPECT_TRUE(composer->superview());

    refuseWrites(false);
    const qint32 reposts = detail->dynamic()->repostCount();
    QTest::keyClick(composerEdit(detail), Qt::Key_Return);
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("转发成功"));
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/dynamic/feed/create/dyn")).size(), 2);
    EXPECT_EQ(detail->dynamic()->repostCount(), reposts + 1);
    EXPECT_FALSE(composer->superview());
    EXPECT_FALSE(detail->composerDock()->isHidden());
}

TEST_F(DynamicDetailTest, ADoubleTapLikesOnceAndTheRowShowsIt)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    auto* cell = qobject_cast<KRDynamicCell*>(detail->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->likeButton()->currentTitle(), QStringLiteral("赞 5"));
    cell->likeButton()->tapForTesting();
    cell->likeButton()->tapForTesting();
    EXPECT_TRUE(detail->isLikeInFlight());
    KR_WAIT_UNTIL(!detail->isLikeInFlight());
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/dynamic/feed/dyn/thumb")).size(), 1);
    EXPECT_TRUE(detail->dynamic()->liked());
    EXPECT_EQ(detail->dynamic()->likeCount(), 6);
    auto* shown = qobject_cast<KRDynamicCell*>(detail->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->likeButton()->currentTitle(), QStringLiteral("已赞 6"));
}

TEST_F(DynamicDetailTest, ARefusedLikeChangesNothing)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    refuseWrites(true);
    auto* cell = qobject_cast<KRDynamicCell*>(detail->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(cell);
    cell->likeButton()->tapForTesting();
    KR_WAIT_UNTIL(shownAlert() != nullptr);
    EXPECT_EQ(shownAlert()->title(), QStringLiteral("操作失败"));
    EXPECT_EQ(shownAlert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_FALSE(detail->dynamic()->liked());
    EXPECT_EQ(detail->dynamic()->likeCount(), 5);
}

TEST_F(DynamicDetailTest, PictureURLsComeFromTheUploadRecords)
{
    EXPECT_EQ(KRDynamicDetailViewController::pictureURLsFromUploadInfos(
                  {QVariantMap{{"image_url", "a"}}, QVariantMap{{"img_src", "b"}}, QVariantMap{{"url", "c"}}, QVariantMap{{"url", ""}},
                   QVariant(QStringLiteral("x")), QVariantMap{{"image_url", ""}, {"img_src", "d"}}}),
              (QStringList{"a", "b", "c", "d"}));
}

TEST_F(DynamicDetailTest, TheScreenGoesWithItsDockAndHearsNothingAfterwards)
{
    logIn();
    auto* detail = open(DD::kOwnVideoID);
    QPointer<View> dock = detail->composerDock();
    QPointer<KRDynamicComposerView> composer = detail->composer();
    choose(openMoreSheet(detail), 2);
    ASSERT_TRUE(shownAlert());
    shownAlert()->tapButtonForTesting(0);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_TRUE(dock.isNull());
    EXPECT_TRUE(composer.isNull());
}

} // namespace
} // namespace socialtest
