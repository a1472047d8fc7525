// The video page's account layer through the window, against the fake service: the login gates,
// the coin limits and sheets, the triple, the More and share sheets with their deferred calls,
// the share composer, the folder picker opened from the page, follow, watch later, the session
// changing under the page, and a like or coin stopped by the risk control, verified through the
// captcha route and repeated once.
#include "VideoPageTesting.h"

#include "model/KRServiceHosts.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/CookieStorage.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ActivityViewController.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "shared/KRDynamicComposerView.h"
#include "store/KRSessionStore.h"
#include "support/AccountFixtures.h"
#include "support/ConsoleCapture.h"
#include "support/InteractionFixtures.h"
#include "video/KRFavoriteFolderPickerViewController.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoOfflineCaching.h"

#include <QLineEdit>
#include <QPointer>
#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::AccountFixtures;
using testsupport::InteractionFixtures;
using testsupport::FakeRequest;
using testsupport::ServiceFixtures;

namespace {

// The captcha screen as the route hands it out in these tests (the real one needs the web
// engine): it keeps the risk options it was given, and its two buttons answer as the real
// screen does, with the token or with error 1.
class CaptchaStandIn : public ViewController {
public:
    CaptchaStandIn(QVariantMap options, KRRoutes::GaiaCompletion completion, QString token)
        : m_options(std::move(options))
        , m_completion(std::move(completion))
        , m_token(std::move(token))
    {
    }
    static inline QList<QVariantMap> shownOptions;
    Button* passButton = nullptr;
    Button* cancelButton = nullptr;

protected:
    void viewDidLoad() override
    {
        shownOptions.append(m_options);
        passButton = new Button(ButtonTypeCustom, QRectF(20, 20, 120, 40), view());
        passButton->setTitle(QStringLiteral("通过"), ControlStateNormal);
        passButton->addTarget(ControlEventTouchUpInside, [this] { answer(m_token, {}); });
        cancelButton = new Button(ButtonTypeCustom, QRectF(20, 80, 120, 40), view());
        cancelButton->setTitle(QStringLiteral("取消"), ControlStateNormal);
        cancelButton->addTarget(ControlEventTouchUpInside, [this] { answer({}, KRError(QStringLiteral("KRGaiaVerificationError"), 1, {})); });
    }

private:
    void answer(const QString& token, const KROptionalError& error)
    {
        auto completion = std::exchange(m_completion, nullptr);
        navigationController()->popViewControllerAnimated(false);
        if (completion)
            completion(token, error);
    }
    QVariantMap m_options;
    KRRoutes::GaiaCompletion m_completion;
    QString m_token;
};

class VideoAccountActionsTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        AccountFixtures::routeRiskCookies(fake);
        CaptchaStandIn::shownOptions.clear();
        KRRoutes routes = KRScreenRoutes();
        routes.gaiaVerification = [](const QVariantMap& options, KRRoutes::GaiaCompletion completion) -> KRRoutes::Screen {
            return new CaptchaStandIn(options, std::move(completion), QStringLiteral("a+b/c="));
        };
        KRRouter::install(routes);
        interactions.setFolders({{501, QStringLiteral("默认收藏夹"), 0, false, {}}, {502, QStringLiteral("旅行"), 0, false, {}}});
    }
    void TearDown() override
    {
        platform::CookieStorage::shared().deleteAll();
        VideoPageTest::TearDown();
    }

    static std::shared_ptr<KRVideo> videoWithAID(qint64 aid)
    {
        auto video = std::make_shared<KRVideo>();
        video->setAid(aid);
        video->setBvid(ServiceFixtures::bvidForAID(aid));
        video->setTitle(QStringLiteral("列表里的标题"));
        return video;
    }
    // The page with its detail read (and, signed in, the account's state of the video).
    KRVideoDetailViewController* open(std::shared_ptr<KRVideo> video = detailVideo())
    {
        KRVideoDetailViewController* page = push(std::move(video));
        [&] { KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled()); }();
        if (KRSessionStore::sharedStore().isLoggedIn())
            [&] { KR_WAIT_UNTIL(page->accountActions()->interactions().stateLoaded); }();
        return page;
    }
    // Pops the page and lets it go, so the next page's parts are the only ones in the window.
    void leave()
    {
        nav->popViewControllerAnimated(false);
        AnimationClock::finishAll();
        flushDeferredDeletes();
    }
    static void click(View* view)
    {
        ASSERT_NE(view, nullptr);
        QTest::mouseClick(view, Qt::LeftButton, {}, view->rect().center());
    }
    void tap(KRVideoDetailViewController* page, const char* name) { click(part(page, name)); }
    // Clicks a button of the sheet on screen, lets it go and runs what its choice armed.
    static void answerSheet(KRVideoDetailViewController* page, const QString& title)
    {
        ActionSheet* sheet = page->visibleActionSheet();
        ASSERT_NE(sheet, nullptr);
        const int index = sheetButtonIndex(sheet, title);
        ASSERT_GE(index, 0) << title.toStdString();
        click(sheet->buttonViewAtIndex(index));
        AnimationClock::finishAll();
        platform::MainClock::advanceForTesting(0.05);
    }
    static QStringList sheetButtons(ActionSheet* sheet)
    {
        QStringList titles;
        for (int i = 0; sheet && i < sheet->numberOfButtons(); ++i)
            titles << sheet->buttonTitleAtIndex(i);
        return titles;
    }
    // The sheet on screen, with its tag, title and buttons ("取消" last).
    static void expectSheet(KRVideoDetailViewController* page, int tag, const QString& title, const QStringList& buttons)
    {
        ActionSheet* sheet = page->visibleActionSheet();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->tag(), tag);
        EXPECT_EQ(sheet->title(), title);
        EXPECT_EQ(sheetButtons(sheet), buttons);
    }
    // "更多", "分享", "系统分享": the activity sheet the page presents, if any.
    static ActivityViewController* shareWithTheSystem(KRVideoDetailViewController* page)
    {
        click(part(page, "moreButton"));
        answerSheet(page, QStringLiteral("分享"));
        answerSheet(page, QStringLiteral("系统分享"));
        AnimationClock::finishAll();
        return qobject_cast<ActivityViewController*>(page->presentedViewController());
    }
    static QString toast(KRVideoDetailViewController* page) { return labelText(page, "danmakuStatusLabel"); }
    AlertView* alert() const { return window->visibleAlert(); }
    // The captcha screen the page pushed, once it is on screen.
    CaptchaStandIn* captcha()
    {
        if (!testsupport::waitUntil([&] { return dynamic_cast<CaptchaStandIn*>(nav->topViewController()) != nullptr; }))
            return nullptr;
        AnimationClock::finishAll();
        return dynamic_cast<CaptchaStandIn*>(nav->topViewController());
    }
    int writes() const
    {
        int count = 0;
        for (const QString& path : {InteractionFixtures::kLikePath, InteractionFixtures::kCoinPath, QStringLiteral("/x/v3/fav/resource/deal"),
                                    QStringLiteral("/x/web-interface/archive/like/triple"), QStringLiteral("/x/relation/modify"),
                                    InteractionFixtures::kWatchLaterPath})
            count += int(fake.requestsTo(path).size());
        return count;
    }

    InteractionFixtures interactions{fake};
};

} // namespace

TEST_F(VideoAccountActionsTest, SignedOutEveryButtonShowsItsGateAndSendsNothing)
{
    // The page sits in the first tab; "我的" is the fourth.
    auto* tabs = new TabBarController();
    nav = new NavigationController(new ViewController());
    tabs->setViewControllers({nav, new NavigationController(new ViewController()), new NavigationController(new ViewController()),
                              new NavigationController(new ViewController())});
    window->setRootViewController(tabs);
    window->makeKeyAndVisible();
    KRVideoDetailViewController* page = open();

    const struct {
        const char* button;
        QString title;
        QString message;
    } gates[] = {
        {"likeButton", QStringLiteral("登录后可操作"), QStringLiteral("点赞需要登录后提交。当前未登录，不会伪造操作结果。")},
        {"coinButton", QStringLiteral("登录后可操作"), QStringLiteral("投币需要登录后提交。当前未登录，不会伪造操作结果。")},
        {"favoriteButton", QStringLiteral("登录后可操作"), QStringLiteral("收藏需要登录后提交。当前未登录，不会伪造操作结果。")},
        {"tripleButton", QStringLiteral("登录后可操作"),
         QStringLiteral("一键三连需要登录后同时完成点赞、投币和收藏。当前未登录，不会伪造操作结果。")},
        {"followButton", QStringLiteral("登录后可操作"), QStringLiteral("关注需要登录后提交。当前未登录，不会伪造操作结果。")},
    };
    for (const auto& gate : gates) {
        tap(page, gate.button);
        ASSERT_NE(alert(), nullptr) << gate.button;
        EXPECT_EQ(alert()->tag(), 7200);
        EXPECT_EQ(alert()->title(), gate.title);
        EXPECT_EQ(alert()->message(), gate.message);
        EXPECT_EQ(alert()->buttonTitles(), (QStringList{QStringLiteral("知道了"), QStringLiteral("前往“我的”")}));
        click(alert()->presentationView()->viewWithTag(1));
        AnimationClock::finishAll();
        EXPECT_EQ(alert(), nullptr);
    }
    // Watch later from More: its own gate.
    tap(page, "moreButton");
    answerSheet(page, QStringLiteral("稍后观看"));
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("登录后稍后观看"));
    EXPECT_EQ(alert()->message(), QStringLiteral("稍后观看会同步到账号；当前未登录，不会伪造添加成功。"));
    EXPECT_EQ(writes(), 0);
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/web-interface/archive/relation")).isEmpty());

    // "前往“我的”" leaves the page for the profile tab.
    click(alert()->presentationView()->viewWithTag(2));
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_EQ(tabs->selectedIndex(), 3);
    EXPECT_EQ(nav->viewControllers().size(), 1);
    EXPECT_EQ(writes(), 0);
}

TEST_F(VideoAccountActionsTest, CoinLimitsFollowTheCopyrightAndTheCoinsGiven)
{
    AccountFixtures::logInWebOnly();
    // Reposted (copyright 2) with its one coin given: the limit's toast, no sheet.
    const qint64 reposted = 300003;
    ASSERT_EQ(ServiceFixtures::copyrightOf(reposted), 2);
    interactions.setCoinsGiven(reposted, 1);
    KRVideoDetailViewController* page = open(videoWithAID(reposted));
    auto* coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(page->coinLimitForCurrentVideo(), 1);
    EXPECT_EQ(coin->title(ControlStateNormal), QStringLiteral("已投满"));
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("1/1 枚硬币，已达上限"));
    click(coin);
    EXPECT_EQ(page->visibleActionSheet(), nullptr);
    EXPECT_EQ(toast(page), QStringLiteral("该视频已达投币上限（1/1）"));
    leave();

    // Made by the uploader (copyright 1), nothing given: one or two coins.
    page = open();
    coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(page->coinLimitForCurrentVideo(), 2);
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("最多可投 2 枚硬币"));
    click(coin);
    ASSERT_NE(page->visibleActionSheet(), nullptr);
    EXPECT_EQ(page->visibleActionSheet()->tag(), 7304);
    EXPECT_EQ(page->visibleActionSheet()->title(), QStringLiteral("可投 1 或 2 枚硬币（投币后不可撤销）"));
    EXPECT_EQ(sheetButtons(page->visibleActionSheet()),
              (QStringList{QStringLiteral("投 1 枚硬币"), QStringLiteral("投 2 枚硬币"), QStringLiteral("取消")}));
    answerSheet(page, QStringLiteral("取消"));
    EXPECT_TRUE(fake.requestsTo(InteractionFixtures::kCoinPath).isEmpty());
    leave();

    // One coin given: the button, the sheet, and one more coin with multiply 1.
    interactions.setCoinsGiven(ServiceFixtures::kDetailAID, 1);
    page = open();
    coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(coin->title(ControlStateNormal), QStringLiteral("已投 1"));
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("已投 1 枚，还可投 1 枚"));
    click(coin);
    ASSERT_NE(page->visibleActionSheet(), nullptr);
    EXPECT_EQ(page->visibleActionSheet()->title(), QStringLiteral("已投 1 枚，还可再投 1 枚（投币后不可撤销）"));
    answerSheet(page, QStringLiteral("再投 1 枚硬币（补齐 2 枚）"));
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    const QList<FakeRequest> coins = fake.requestsTo(InteractionFixtures::kCoinPath);
    ASSERT_EQ(coins.size(), 1);
    EXPECT_EQ(AccountFixtures::formValue(coins.first(), QStringLiteral("multiply")), QStringLiteral("1"));
    EXPECT_EQ(interactions.coinsGiven(ServiceFixtures::kDetailAID), 2);
    EXPECT_EQ(coin->title(ControlStateNormal), QStringLiteral("已投满"));
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("2/2 枚硬币，已达上限"));
    EXPECT_TRUE(coin->isSelected());
}

TEST_F(VideoAccountActionsTest, TripleCompletesWhatIsMissing)
{
    AccountFixtures::logInWebOnly();
    // Two coins given, not liked: only like and favourite are left to do.
    interactions.setCoinsGiven(ServiceFixtures::kDetailAID, 2);
    KRVideoDetailViewController* page = open();
    tap(page, "tripleButton");
    expectSheet(page, 7303, QStringLiteral("该视频硬币已投满（2/2），将只补齐点赞和收藏"),
                {QStringLiteral("补齐一键三连"), QStringLiteral("取消")});
    answerSheet(page, QStringLiteral("补齐一键三连"));
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(fake.requestsTo(InteractionFixtures::kCoinPath).isEmpty());
    EXPECT_EQ(fake.requestsTo(InteractionFixtures::kLikePath).size(), 1);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/v3/fav/resource/deal")).size(), 1);
    EXPECT_TRUE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(part<KRInteractionButton>(page, "tripleButton")->isSelected());
    leave();

    // Liked, favourited and at the limit: the triple runs at once with no coin.
    page = open();
    EXPECT_TRUE(page->accountActions()->interactions().favorited);
    tap(page, "tripleButton");
    EXPECT_EQ(page->visibleActionSheet(), nullptr);
    EXPECT_TRUE(page->accountActions()->isInteractionLoading());
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(fake.requestsTo(InteractionFixtures::kCoinPath).isEmpty());
    EXPECT_EQ(toast(page), QStringLiteral("已在默认收藏夹"));
}

TEST_F(VideoAccountActionsTest, TripleSheetWithCoinsLeftGivesTheChosenCount)
{
    AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = open();
    tap(page, "tripleButton");
    ASSERT_NE(page->visibleActionSheet(), nullptr);
    EXPECT_EQ(sheetButtons(page->visibleActionSheet()),
              (QStringList{QStringLiteral("三连并投 1 枚硬币"), QStringLiteral("三连并投 2 枚硬币"), QStringLiteral("取消")}));
    answerSheet(page, QStringLiteral("三连并投 2 枚硬币"));
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    const QList<FakeRequest> coins = fake.requestsTo(InteractionFixtures::kCoinPath);
    ASSERT_EQ(coins.size(), 1);
    EXPECT_EQ(AccountFixtures::formValue(coins.first(), QStringLiteral("multiply")), QStringLiteral("2"));
    EXPECT_EQ(AccountFixtures::formValue(coins.first(), QStringLiteral("select_like")), QStringLiteral("1"));
    const KRVideoInfoPage::Interactions state = page->accountActions()->interactions();
    EXPECT_TRUE(state.liked && state.favorited);
    EXPECT_EQ(state.coinCount, 2);
    EXPECT_EQ(part<KRInteractionButton>(page, "coinButton")->title(ControlStateNormal), QStringLiteral("已投满"));
}

TEST_F(VideoAccountActionsTest, CoinTapBeforeTheStateIsReadAsksAgain)
{
    AccountFixtures::logInWebOnly();
    interactions.refuse(QStringLiteral("/x/web-interface/archive/relation"), -500, QStringLiteral("服务器错误"));
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(fake.requestsTo(QStringLiteral("/x/web-interface/archive/relation")).size() == 1);
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    auto* coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("状态读取中"));
    interactions.refuse(QStringLiteral("/x/web-interface/archive/relation"), 0, {});
    click(coin);
    EXPECT_EQ(toast(page), QStringLiteral("正在读取投币状态，请稍后再点"));
    EXPECT_EQ(page->visibleActionSheet(), nullptr);
    KR_WAIT_UNTIL(page->accountActions()->interactions().stateLoaded);
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("最多可投 2 枚硬币"));
}

TEST_F(VideoAccountActionsTest, LikeFollowAndWatchLaterSignedIn)
{
    AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = open();
    auto* like = part<KRInteractionButton>(page, "likeButton");
    EXPECT_FALSE(like->isSelected());
    click(like);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(like->isSelected());
    // A second tap takes the like back.
    click(like);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_FALSE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_FALSE(like->isSelected());

    auto* follow = part<Button>(page, "followButton");
    KR_WAIT_UNTIL(!fake.requestsTo(QStringLiteral("/x/relation")).isEmpty());
    EXPECT_EQ(follow->title(ControlStateNormal), QStringLiteral("＋关注"));
    click(follow);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(interactions.following(ServiceFixtures::kUploaderMID));
    EXPECT_EQ(follow->title(ControlStateNormal), QStringLiteral("已关注"));

    tap(page, "moreButton");
    answerSheet(page, QStringLiteral("稍后观看"));
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(interactions.watchLater().contains(ServiceFixtures::kDetailAID));
    EXPECT_EQ(toast(page), QStringLiteral("已加入稍后观看"));

    // A refusal is shown and changes nothing.
    interactions.refuse(QStringLiteral("/x/relation/modify"), 22001, QStringLiteral("不能关注自己"));
    click(follow);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(toast(page).startsWith(QStringLiteral("不能关注自己")));
    EXPECT_EQ(follow->title(ControlStateNormal), QStringLiteral("已关注"));
}

TEST_F(VideoAccountActionsTest, TheSessionChangingUnderThePageReadsTheStateAgain)
{
    interactions.setCoinsGiven(ServiceFixtures::kDetailAID, 1);
    interactions.setLiked(ServiceFixtures::kDetailAID, true);
    KRVideoDetailViewController* page = open();
    auto* coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("状态读取中"));

    AccountFixtures::logInWebOnly();
    platform::NotificationCenter::defaultCenter().post(KRSessionDidChangeNotification);
    KR_WAIT_UNTIL(page->accountActions()->interactions().stateLoaded);
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("已投 1 枚，还可投 1 枚"));
    EXPECT_TRUE(part<KRInteractionButton>(page, "likeButton")->isSelected());

    // Signing out clears it, and the gates come back.
    KRSessionStore::sharedStore().clearSession();
    platform::NotificationCenter::defaultCenter().post(KRSessionDidChangeNotification);
    EXPECT_FALSE(page->accountActions()->interactions().stateLoaded);
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("状态读取中"));
    EXPECT_FALSE(part<KRInteractionButton>(page, "likeButton")->isSelected());
    click(coin);
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->tag(), 7200);
}

TEST_F(VideoAccountActionsTest, MoreThenShareCopiesTheLinkOnceTheSheetsHaveGone)
{
    KRVideoDetailViewController* page = open();
    tap(page, "moreButton");
    ActionSheet* more = page->visibleActionSheet();
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->tag(), 7300);
    EXPECT_EQ(more->title(), QStringLiteral("更多"));
    EXPECT_EQ(sheetButtons(more), (QStringList{QStringLiteral("分享"), QStringLiteral("稍后观看"), QStringLiteral("离线缓存"), QStringLiteral("取消")}));
    answerSheet(page, QStringLiteral("分享"));
    ActionSheet* share = page->visibleActionSheet();
    ASSERT_NE(share, nullptr);
    EXPECT_EQ(share->tag(), 7305);
    EXPECT_EQ(share->title(), QStringLiteral("分享视频"));
    EXPECT_EQ(sheetButtons(share), (QStringList{QStringLiteral("系统分享"), QStringLiteral("分享到动态"), QStringLiteral("复制链接"), QStringLiteral("取消")}));
    Pasteboard::general().setString(QString());
    answerSheet(page, QStringLiteral("复制链接"));
    const QString link = QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/video/") + ServiceFixtures::detailBVID();
    EXPECT_EQ(Pasteboard::general().string(), link);
    EXPECT_EQ(page->shareURLString(), link);
    EXPECT_EQ(toast(page), QStringLiteral("分享链接已复制"));
    // The choice ran once: the click's own arming finds nothing left to do.
    Pasteboard::general().setString(QString());
    platform::MainClock::advanceForTesting(1.0);
    EXPECT_TRUE(Pasteboard::general().string().isEmpty());
    EXPECT_EQ(page->visibleActionSheet(), nullptr);

    // Without a bvid the web host's root is shared.
    leave();
    auto bare = std::make_shared<KRVideo>();
    bare->setTitle(QStringLiteral("无编号"));
    page = push(bare);
    EXPECT_EQ(page->shareURLString(), QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"));
}

TEST_F(VideoAccountActionsTest, SystemShareCopiesOnIOS5AndPresentsTheActivitySheetLater)
{
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("5.1"));
    KRVideoDetailViewController* page = open();
    tap(page, "moreButton");
    answerSheet(page, QStringLiteral("分享"));
    answerSheet(page, QStringLiteral("系统分享"));
    EXPECT_EQ(toast(page), QStringLiteral("iOS 5 已复制分享链接"));
    EXPECT_EQ(Pasteboard::general().string(), page->shareURLString());
    window.reset();
    nav = nullptr;

    useDevice(QStringLiteral("iPhone8,1"), QStringLiteral("9.3"));
    page = open();
    auto* activity = shareWithTheSystem(page);
    ASSERT_NE(activity, nullptr);
    EXPECT_EQ(activity->activityItems().value(1).toUrl().toString(), page->shareURLString());
    EXPECT_EQ(activity->activityItems().value(0).toString(), page->video()->title());
    // The sheet lays itself out, shows its items and answers: "拷贝" copies the link and closes it.
    KR_WAIT_UNTIL(activity->copyButton()->frame().height() == 57);
    ASSERT_TRUE(activity->copyButton()->isVisible());
    auto* link = activity->view()->findChildren<Label*>(QStringLiteral("activityItemLabel")).value(1);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->text(), page->shareURLString());
    EXPECT_GT(link->frame().height(), 0);
    Pasteboard::general().setString(QString());
    click(activity->copyButton());
    AnimationClock::finishAll();
    EXPECT_EQ(Pasteboard::general().string(), page->shareURLString());
    EXPECT_EQ(page->presentedViewController(), nullptr);
}

TEST_F(VideoAccountActionsTest, ShareToDynamicsSendsOnceAndAFailureKeepsTheText)
{
    AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = open();
    auto openComposer = [&] {
        tap(page, "moreButton");
        answerSheet(page, QStringLiteral("分享"));
        answerSheet(page, QStringLiteral("分享到动态"));
    };
    openComposer();
    KRDynamicComposerView* composer = page->accountActions()->shareComposer();
    ASSERT_NE(composer, nullptr);
    EXPECT_FALSE(composer->isHidden());
    EXPECT_EQ(composer->textField()->placeholder(), QStringLiteral("分享视频到动态…"));
    auto* edit = composer->textField()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    // An empty text sends nothing.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(interactions.sharedTexts().isEmpty());

    // Refused: the composer stays with its text, ready to send again.
    interactions.refuse(QStringLiteral("/dynamic_repost/v1/dynamic_repost/share"), -400, QStringLiteral("内容含有敏感词"));
    QTest::keyClicks(edit, QStringLiteral("nice"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(composer->textField()->isEnabled());
    KR_WAIT_UNTIL(composer->textField()->isEnabled());
    EXPECT_TRUE(toast(page).startsWith(QStringLiteral("分享失败：内容含有敏感词")));
    EXPECT_EQ(composer->textField()->text(), QStringLiteral("nice"));
    EXPECT_TRUE(composer->superview() != nullptr && !composer->isHidden());

    interactions.refuse(QStringLiteral("/dynamic_repost/v1/dynamic_repost/share"), 0, {});
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(toast(page) == QStringLiteral("已分享到动态"));
    EXPECT_EQ(interactions.sharedTexts(), (QList<QString>{QStringLiteral("nice")}));
}

TEST_F(VideoAccountActionsTest, FavoriteOpensThePickerAndItsOutcomeComesBack)
{
    AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = open();
    auto* favorite = part<KRInteractionButton>(page, "favoriteButton");
    EXPECT_FALSE(favorite->isSelected());
    click(favorite);
    AnimationClock::finishAll();
    auto* picker = qobject_cast<KRFavoriteFolderPickerViewController*>(nav->topViewController());
    ASSERT_NE(picker, nullptr);
    EXPECT_TRUE(picker->hidesBottomBarWhenPushed());
    EXPECT_EQ(picker->footerText(), QStringLiteral("“在家做的猫爬架”可同时加入多个收藏夹。一键三连始终使用默认收藏夹。"));
    KR_WAIT_UNTIL(picker->tableView()->numberOfRowsInSection(0) == 2);
    picker->tableView()->layoutIfNeeded();
    const QPointF row = picker->tableView()->rectForRowAtIndexPath(IndexPath{0, 1}).center() - picker->tableView()->contentOffset();
    QTest::mouseClick(picker->tableView(), Qt::LeftButton, {}, row.toPoint());
    click(nav->navigationBar()->rightItemView());
    KR_WAIT_UNTIL(nav->topViewController() == page);
    AnimationClock::finishAll();
    EXPECT_TRUE(favorite->isSelected());
    EXPECT_TRUE(page->accountActions()->interactions().favorited);
    EXPECT_FALSE(toast(page).isEmpty());
    EXPECT_TRUE(interactions.folders().value(1).aids.contains(ServiceFixtures::kDetailAID));
}

TEST_F(VideoAccountActionsTest, ARiskChallengedLikeIsVerifiedAndRepeatedOnce)
{
    AccountFixtures::logInWebOnly();
    interactions.challengeLikeAndCoin();
    KRVideoDetailViewController* page = open();
    tap(page, "likeButton");
    CaptchaStandIn* screen = captcha();
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(CaptchaStandIn::shownOptions.size(), 1);
    EXPECT_EQ(CaptchaStandIn::shownOptions.first().value(QStringLiteral("v_voucher")).toString(), QStringLiteral("voucher-1"));
    EXPECT_EQ(CaptchaStandIn::shownOptions.first().value(QStringLiteral("grisk_id")).toString(), QStringLiteral("grisk-1"));
    click(screen->passButton);
    KR_WAIT_UNTIL(fake.requestsTo(InteractionFixtures::kLikePath).size() == 2);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    const FakeRequest repeat = fake.requestsTo(InteractionFixtures::kLikePath).last();
    EXPECT_EQ(AccountFixtures::formValue(repeat, QStringLiteral("tk")), QStringLiteral("a+b/c="));
    EXPECT_TRUE(repeat.header(QStringLiteral("Cookie")).contains(QLatin1String("x-zant-gaia-vtoken=")));
    EXPECT_TRUE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(part<KRInteractionButton>(page, "likeButton")->isSelected());
    EXPECT_EQ(nav->topViewController(), page);

    // The token served one repeat: the next like is challenged again, and a second refusal
    // after a passed captcha is shown, not verified again.
    interactions.challengeLikeAndCoin(QStringLiteral("another"));
    tap(page, "likeButton");
    screen = captcha();
    ASSERT_NE(screen, nullptr);
    click(screen->passButton);
    KR_WAIT_UNTIL(fake.requestsTo(InteractionFixtures::kLikePath).size() == 4);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_EQ(CaptchaStandIn::shownOptions.size(), 2);
    EXPECT_EQ(nav->topViewController(), page);
    EXPECT_TRUE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(toast(page).contains(QStringLiteral("-352")));
}

TEST_F(VideoAccountActionsTest, ACancelledOrUnfinishedCaptchaLeavesTheCoinsAlone)
{
    AccountFixtures::logInWebOnly();
    interactions.challengeLikeAndCoin();
    KRVideoDetailViewController* page = open();
    tap(page, "coinButton");
    answerSheet(page, QStringLiteral("投 1 枚硬币"));
    CaptchaStandIn* screen = captcha();
    ASSERT_NE(screen, nullptr);
    click(screen->cancelButton);
    EXPECT_EQ(toast(page), QStringLiteral("已取消安全验证，本次没有消耗硬币"));
    EXPECT_EQ(interactions.coinsGiven(ServiceFixtures::kDetailAID), 0);
    EXPECT_EQ(fake.requestsTo(InteractionFixtures::kCoinPath).size(), 1);

    // Passed, the coin goes with the token and the chosen count.
    tap(page, "coinButton");
    answerSheet(page, QStringLiteral("投 2 枚硬币"));
    screen = captcha();
    ASSERT_NE(screen, nullptr);
    click(screen->passButton);
    KR_WAIT_UNTIL(interactions.coinsGiven(ServiceFixtures::kDetailAID) == 2);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_EQ(AccountFixtures::formValue(fake.requestsTo(InteractionFixtures::kCoinPath).last(), QStringLiteral("multiply")),
              QStringLiteral("2"));
    EXPECT_EQ(part<KRInteractionButton>(page, "coinButton")->title(ControlStateNormal), QStringLiteral("已投满"));

    // With no captcha screen to open, the like is left as it was with its text.
    KRRoutes routes = KRScreenRoutes();
    KRRouter::install(routes);
    tap(page, "likeButton");
    KR_WAIT_UNTIL(toast(page) == QStringLiteral("安全验证未完成，点赞状态未改变"));
    EXPECT_FALSE(interactions.liked(ServiceFixtures::kDetailAID));
}

TEST_F(VideoAccountActionsTest, MoreSheetCachingChoiceRunsTheCacheEntryOnceTheSheetHasGone)
{
    KRVideoDetailViewController* page = open();
    testsupport::ConsoleCapture console;
    tap(page, "moreButton");
    answerSheet(page, QStringLiteral("离线缓存"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] selected from More; deferring until dismissal")));
    EXPECT_EQ(toast(page), QStringLiteral("正在打开缓存清晰度…"));
    // Once the sheet has gone, the caching entry runs: three parts, none cached.
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] opening page picker")));
}

// ---- reads and writes of the account state in flight together ----

TEST_F(VideoAccountActionsTest, ARelationReadAskedBeforeALikeDoesNotUndoIt)
{
    AccountFixtures::logInWebOnly();
    const QString relation = QStringLiteral("/x/web-interface/archive/relation");
    // The page's first read is answered with the state before the like, and arrives after it.
    auto slowRead = std::make_shared<AnswerGate>();
    interactions.hold(relation, slowRead);
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(fake.requestsTo(relation).size() == 1);
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    auto* like = part<KRInteractionButton>(page, "likeButton");
    click(like);
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(like->isSelected());

    interactions.hold(relation, nullptr);
    slowRead->release();
    // The late answer is dropped; the state is read again and knows of the like.
    KR_WAIT_UNTIL(page->accountActions()->interactions().stateLoaded);
    EXPECT_GE(fake.requestsTo(relation).size(), 2);
    EXPECT_TRUE(page->accountActions()->interactions().liked);
    EXPECT_TRUE(like->isSelected());
    EXPECT_EQ(part<KRInteractionButton>(page, "coinButton")->accessibilityValue(), QStringLiteral("最多可投 2 枚硬币"));
}

TEST_F(VideoAccountActionsTest, AFollowAnswerWritesWhatWasAskedWhateverWasReadMeanwhile)
{
    AccountFixtures::logInWebOnly();
    // Followed on another device: the page's read will say so, but arrives only once the user
    // has tapped "＋关注" on the page that does not know it yet.
    interactions.setFollowing(ServiceFixtures::kUploaderMID, true);
    const QString relation = QStringLiteral("/x/relation"), modify = QStringLiteral("/x/relation/modify");
    auto slowRead = std::make_shared<AnswerGate>(), slowWrite = std::make_shared<AnswerGate>();
    interactions.hold(relation, slowRead);
    interactions.hold(modify, slowWrite);
    KRVideoDetailViewController* page = open();
    auto* follow = part<Button>(page, "followButton");
    KR_WAIT_UNTIL(fake.requestsTo(relation).size() == 1);
    EXPECT_EQ(follow->title(ControlStateNormal), QStringLiteral("＋关注"));
    click(follow);
    KR_WAIT_UNTIL(fake.requestsTo(modify).size() == 1);
    EXPECT_EQ(AccountFixtures::formValue(fake.requestsTo(modify).first(), QStringLiteral("act")), QStringLiteral("1"));

    // Both answers go, in whichever order: the page shows what it asked for.
    interactions.hold(relation, nullptr);
    slowRead->release();
    slowWrite->release();
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    // The read asked before the follow is asked again after it.
    KR_WAIT_UNTIL(fake.requestsTo(relation).size() == 2);
    KR_WAIT_UNTIL(!page->accountActions()->isFollowStateLoading());
    EXPECT_TRUE(interactions.following(ServiceFixtures::kUploaderMID));
    EXPECT_TRUE(page->accountActions()->interactions().following);
    EXPECT_EQ(follow->title(ControlStateNormal), QStringLiteral("已关注"));
}

// ---- taps, sheets and deferred calls ----

TEST_F(VideoAccountActionsTest, ATapWhileAnActionRunsDoesNothingButMoreStillOpens)
{
    AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = open();
    auto slowLike = std::make_shared<AnswerGate>();
    interactions.hold(InteractionFixtures::kLikePath, slowLike);
    tap(page, "likeButton");
    KR_WAIT_UNTIL(fake.requestsTo(InteractionFixtures::kLikePath).size() == 1);
    ASSERT_TRUE(page->accountActions()->isInteractionLoading());

    // The four account buttons are refused while the like runs: no sheet, no picker, no request.
    for (const char* name : {"likeButton", "coinButton", "tripleButton", "favoriteButton"}) {
        tap(page, name);
        AnimationClock::finishAll();
        EXPECT_EQ(page->visibleActionSheet(), nullptr) << name;
        EXPECT_EQ(nav->topViewController(), page) << name;
    }
    EXPECT_EQ(alert(), nullptr);
    // "更多" is no account action: its sheet opens.
    tap(page, "moreButton");
    ASSERT_NE(page->visibleActionSheet(), nullptr);
    EXPECT_EQ(page->visibleActionSheet()->tag(), 7300);
    answerSheet(page, QStringLiteral("取消"));

    slowLike->release();
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_EQ(fake.requestsTo(InteractionFixtures::kLikePath).size(), 1);
    EXPECT_EQ(writes(), 1);
    EXPECT_TRUE(part<KRInteractionButton>(page, "likeButton")->isSelected());
}

TEST_F(VideoAccountActionsTest, OneCoinLeftAndNoneGivenOffersTheOneCoin)
{
    AccountFixtures::logInWebOnly();
    // Reposted (copyright 2): one coin at most, none given yet.
    const qint64 reposted = 300003;
    ASSERT_EQ(ServiceFixtures::copyrightOf(reposted), 2);
    KRVideoDetailViewController* page = open(videoWithAID(reposted));
    EXPECT_EQ(page->remainingCoinCapacity(), 1);

    const QString title = QStringLiteral("该视频最多可投 1 枚硬币（投币后不可撤销）");
    tap(page, "tripleButton");
    expectSheet(page, 7303, title, {QStringLiteral("三连并投 1 枚硬币"), QStringLiteral("取消")});
    answerSheet(page, QStringLiteral("取消"));

    tap(page, "coinButton");
    expectSheet(page, 7304, title, {QStringLiteral("投 1 枚硬币"), QStringLiteral("取消")});
    answerSheet(page, QStringLiteral("投 1 枚硬币"));
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    const QList<FakeRequest> coins = fake.requestsTo(InteractionFixtures::kCoinPath);
    ASSERT_EQ(coins.size(), 1);
    EXPECT_EQ(AccountFixtures::formValue(coins.first(), QStringLiteral("multiply")), QStringLiteral("1"));
    EXPECT_EQ(interactions.coinsGiven(reposted), 1);
    auto* coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(coin->title(ControlStateNormal), QStringLiteral("已投满"));
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("1/1 枚硬币，已达上限"));
}

TEST_F(VideoAccountActionsTest, ANewMoreSheetCancelsTheChoiceStillWaitingForTheLastOne)
{
    KRVideoDetailViewController* page = open();
    testsupport::ConsoleCapture console;
    // Clicks a More button and lets the sheet go, but not the time its choice waits for.
    auto chooseWithoutWaiting = [&](const QString& title) {
        tap(page, "moreButton");
        ActionSheet* more = page->visibleActionSheet();
        ASSERT_NE(more, nullptr);
        const int index = int(sheetButtons(more).indexOf(title));
        ASSERT_GE(index, 0);
        click(more->buttonViewAtIndex(index));
        AnimationClock::finishAll();
        EXPECT_EQ(page->visibleActionSheet(), nullptr);
    };
    for (const QString& choice : {QStringLiteral("分享"), QStringLiteral("离线缓存")}) {
        chooseWithoutWaiting(choice);
        // More again before the choice has run: the new sheet stays, alone.
        tap(page, "moreButton");
        ActionSheet* again = page->visibleActionSheet();
        ASSERT_NE(again, nullptr);
        platform::MainClock::advanceForTesting(1.0);
        EXPECT_EQ(page->visibleActionSheet(), again) << choice.toStdString();
        EXPECT_EQ(again->tag(), 7300);
        answerSheet(page, QStringLiteral("取消"));
        platform::MainClock::advanceForTesting(1.0);
        EXPECT_EQ(page->visibleActionSheet(), nullptr) << choice.toStdString();
    }
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvaneOfflinePicker] opening page picker")));
    EXPECT_EQ(page->offlineCaching()->pagePicker(), nullptr);
}

TEST_F(VideoAccountActionsTest, SystemShareOfAVideoWithoutTitleNamesTheApp)
{
    useDevice(QStringLiteral("iPhone8,1"), QStringLiteral("9.3"));
    auto bare = std::make_shared<KRVideo>();
    KRVideoDetailViewController* page = push(bare);
    ASSERT_TRUE(page->video()->title().isEmpty());
    ActivityViewController* activity = shareWithTheSystem(page);
    ASSERT_NE(activity, nullptr);
    EXPECT_EQ(activity->activityItems().value(0).toString(), QStringLiteral("岚帆影院视频"));
    EXPECT_EQ(activity->activityItems().value(1).toUrl().toString(), QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"));
}

TEST_F(VideoAccountActionsTest, ATripleWhoseFavouriteStepFailsStillShowsItsLikeAndCoin)
{
    AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = open();
    interactions.refuse(QStringLiteral("/x/v3/fav/resource/deal"), -403, QStringLiteral("访问权限不足"));
    tap(page, "tripleButton");
    answerSheet(page, QStringLiteral("三连并投 1 枚硬币"));
    KR_WAIT_UNTIL(!page->accountActions()->isInteractionLoading());
    EXPECT_TRUE(toast(page).startsWith(QStringLiteral("点赞和投币状态已保留，但收藏失败：访问权限不足"))) << toast(page).toStdString();
    // The service holds the like and the coin: so does the page, and the next coin is the last.
    EXPECT_TRUE(interactions.liked(ServiceFixtures::kDetailAID));
    EXPECT_EQ(interactions.coinsGiven(ServiceFixtures::kDetailAID), 1);
    const KRVideoInfoPage::Interactions state = page->accountActions()->interactions();
    EXPECT_TRUE(state.liked);
    EXPECT_EQ(state.coinCount, 1);
    EXPECT_FALSE(state.favorited);
    EXPECT_TRUE(part<KRInteractionButton>(page, "likeButton")->isSelected());
    EXPECT_EQ(part<KRInteractionButton>(page, "coinButton")->title(ControlStateNormal), QStringLiteral("已投 1"));
    EXPECT_FALSE(part<KRInteractionButton>(page, "favoriteButton")->isSelected());
}
