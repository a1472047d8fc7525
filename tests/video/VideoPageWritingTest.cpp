// Writing on the video page as a user does it, with presses and typing through the window:
// comments (the composer bar, emotes, photos, posting and its failures, replies), the comment a
// message jump points at, the keyboard lifting the composers, and danmaku (the entry, pausing
// while writing, sending signed out and in) on real libmpv.
#include "VideoPageTesting.h"

#include "model/KRComment.h"
#include "look/KRTheme.h"
#include "model/KRDanmaku.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioSession.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "shared/KRCommentCell.h"
#include "shared/KRPhotoPickerViewController.h"
#include "social/KRReplyThreadViewController.h"
#include "support/CommentFixtures.h"
#include "support/ConsoleCapture.h"
#include "support/DynamicFixtures.h"
#include "support/ImageFixtures.h"
#include "support/InteractionFixtures.h"
#include "video/KRVideoCommentComposer.h"
#include "video/KRVideoDanmakuComposer.h"

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::AccountFixtures;
using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::ServiceFixtures;
namespace CF = testsupport::CommentFixtures;
namespace DD = testsupport::DynamicFixtures;

namespace {

const QString kCommentPost = QStringLiteral("/x/v2/reply/add");
const QString kCommentDetail = QStringLiteral("/x/v2/reply/detail");
const QString kCommentList = QStringLiteral("/x/v2/reply/wbi/main");
const QString kDanmakuPost = QStringLiteral("/x/v2/dm/post");
const qint64 kAID = ServiceFixtures::kDetailAID;

QVariantMap commentObject(qint64 rpid, const QString& author, const QString& message, qint64 replies = 0)
{
    return {{"rpid", rpid}, {"rpid_str", QString::number(rpid)}, {"oid", kAID}, {"type", 1}, {"root", 0}, {"parent", 0},
            {"count", replies}, {"rcount", replies}, {"like", 3}, {"ctime", 1700000000},
            {"member", QVariantMap{{"mid", QString::number(500 + rpid)}, {"uname", author}}},
            {"content", QVariantMap{{"message", message}}}};
}

// Three comments of this video: two without replies, one (rpid 12) with two.
FakeReply threeComments()
{
    const QVariantList replies{commentObject(11, QStringLiteral("甲"), QStringLiteral("第一")),
                               commentObject(12, QStringLiteral("乙"), QStringLiteral("有回复"), 2),
                               commentObject(10, QStringLiteral("丙"), QStringLiteral("被点名的那条"))};
    return FakeReply::json(ServiceFixtures::envelope(
        QVariantMap{{"replies", replies}, {"cursor", QVariantMap{{"is_end", true}, {"next", 2}, {"all_count", 3}}}}));
}

class VideoPageWritingTest : public VideoPageTest {
protected:
    // The page pushed, its play button tapped, and the video playing a little (null if not).
    KRVideoDetailViewController* pushAndTapPlay()
    {
        KRVideoDetailViewController* page = push();
        auto* play = part<Button>(page, "playButton");
        if (!testsupport::waitUntil([&] { return play->isEnabled(); }))
            return nullptr;
        click(play);
        if (!advanceUntil([&] {
                return page->moviePlayer() && page->moviePlayer()->playbackState() == KRPlaybackStatePlaying
                       && page->moviePlayer()->currentPlaybackTime() > 0.2;
            }))
            return nullptr;
        return page;
    }
    void SetUp() override
    {
        VideoPageTest::SetUp();
        testsupport::ImageFixtures::serveImages(fake);
        playOncePreferences();
        platform::UserDefaults::standard().setObject(QStringLiteral("KRDanmakuEnabled"), true);
        CF::installPostAndEmoteRoutes(fake, posted);
        DD::installActionRoutes(fake, uploads);
        album = testsupport::testHome() + QStringLiteral("/Album");
        qputenv("KORVANE_PHOTO_LIBRARY", album.toUtf8());
        fake.route(KRServiceHosts::apiHost(), kCommentList, [](const FakeRequest&) { return threeComments(); });
    }
    void TearDown() override
    {
        for (int i = 0; i < 10 && window && window->visibleAlert(); ++i) {
            AlertView* open = window->visibleAlert();
            open->dismissWithClickedButtonIndex(std::max(0, open->cancelButtonIndex()));
        }
        qunsetenv("KORVANE_PHOTO_LIBRARY");
        platform::UserDefaults::standard().setObject(QStringLiteral("KRDanmakuEnabled"), true);
        VideoPageTest::TearDown();
    }

    QWindow* handle() { return window->windowHandle(); }
    void click(View* view)
    {
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isVisible());
        const QPoint point = view->mapTo(window.get(), view->rect().center());
        QTest::mouseClick(handle(), Qt::LeftButton, {}, point);
    }
    // Keys typed at the window, as a keyboard types into whatever the window has focused; the
    // field that edits must be what takes them.
    void type(TextField* field, const QString& text)
    {
        ASSERT_TRUE(field->isFirstResponder());
        const QString before = field->text();
        // Each character as a key press carrying its text (keyClicks only knows Latin-1).
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, handle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
        EXPECT_EQ(field->text(), before + text);
    }
    void pressReturn() { QTest::sendKeyEvent(QTest::Click, handle(), Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier); }
    // A button of a toolbar or an alert, by its title, through the window.
    void clickTitled(View* container, const QString& title)
    {
        ASSERT_NE(container, nullptr);
        for (Button* button : container->findChildren<Button*>()) {
            if (button->isVisible() && button->currentTitle() == title)
                return click(button);
        }
        FAIL() << "no button " << title.toStdString();
    }
    // The page on the comments tab with its rows in.
    KRVideoDetailViewController* openComments()
    {
        KRVideoDetailViewController* page = push();
        part<SegmentedControl>(page, "detailSegment")->tapSegmentForTesting(1);
        AnimationClock::finishAll();
        EXPECT_TRUE(testsupport::waitUntil([&] { return page->comments().size() == 3; }));
        page->view()->layoutIfNeeded();
        return page;
    }
    // A page asked to show one comment, pushed as the router does.
    KRVideoDetailViewController* pushFocused(qint64 root, qint64 target, bool finishPush = true)
    {
        nav = new NavigationController(new ViewController());
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
        auto* page = new KRVideoDetailViewController(detailVideo());
        page->showCommentsWhenPresentedAtRootRpid(root, target);
        nav->pushViewController(page, true);
        if (finishPush)
            AnimationClock::finishAll();
        return page;
    }
    // The detail route knows these comments; any other is gone.
    void routeFocusedComment(qint64 rpid, qint64 another = -1)
    {
        fake.route(KRServiceHosts::apiHost(), kCommentDetail, [rpid, another](const FakeRequest& request) {
            const qint64 root = request.queryValue(QStringLiteral("root")).toLongLong();
            if (root != rpid && root != another)
                return AccountFixtures::refusal(12022, QStringLiteral("评论不存在"));
            return FakeReply::json(ServiceFixtures::envelope(QVariantMap{{"root", commentObject(root, QStringLiteral("丙"), QStringLiteral("被点名的那条"), 3)}}));
        });
    }
    int requestCount(const QString& path) const { return int(fake.requestsTo(path).size()); }
    void fillAlbum(int count)
    {
        QDir().mkpath(album);
        for (int i = 0; i < count; ++i) {
            QImage image(40 + i, 30, QImage::Format_RGB32);
            image.fill(QColor((i * 53) % 255, 90, 160));
            ASSERT_TRUE(image.save(album + QStringLiteral("/img%1.png").arg(i), "PNG"));
        }
    }
    // Signed in, `photos` in the album, and the comments tab's composer opened by its button.
    KRVideoDetailViewController* openCommentComposer(int photos)
    {
        signIn();
        fillAlbum(photos);
        KRVideoDetailViewController* page = openComments();
        click(part<Button>(page, "commentComposerButton"));
        return page;
    }
    // Picks the first `count` photos of the album in the picker the page presents.
    void pickPhotos(KRVideoDetailViewController* page, int count)
    {
        AnimationClock::finishAll();
        auto* presented = qobject_cast<NavigationController*>(page->presentedViewController());
        ASSERT_NE(presented, nullptr);
        auto* picker = qobject_cast<KRPhotoPickerViewController*>(presented->topViewController());
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(picker->maximumCount(), 9u);
        KR_WAIT_UNTIL(picker->isAssetLoadFinished());
        picker->view()->layoutIfNeeded();
        for (int i = 0; i < count; ++i) {
            auto* tile = qobject_cast<Button*>(picker->view()->viewWithTag(KRPhotoPickerViewController::kTileTagBase + i));
            ASSERT_NE(tile, nullptr);
            click(tile);
        }
        Button* done = nullptr;
        for (Button* b : presented->navigationBar()->findChildren<Button*>())
            if (b->isVisible() && b->currentTitle().startsWith(QStringLiteral("完成")))
                done = b;
        click(done);
        KR_WAIT_UNTIL(page->presentedViewController() == nullptr);
        AnimationClock::finishAll();
    }
    void signIn() { AccountFixtures::logInWebOnly(); }
    KRVideoCommentComposer* composer(KRVideoDetailViewController* page) { return page->commentComposer(); }
    void postKeyboard(bool showing, const QRectF& frame, double duration)
    {
        platform::NotificationCenter::defaultCenter().post(showing ? KeyboardWillShowNotification : KeyboardWillHideNotification, nullptr,
                                                           {{KeyboardFrameEndKey, frame}, {KeyboardAnimationDurationKey, duration}});
    }

    std::shared_ptr<CF::PostedComments> posted = std::make_shared<CF::PostedComments>();
    std::shared_ptr<DD::ActionPlan> uploads = std::make_shared<DD::ActionPlan>();
    testsupport::InteractionFixtures interactions{fake};
    testsupport::ConsoleCapture console;
    QString album;
};

} // namespace

// ---- comments ----

TEST_F(VideoPageWritingTest, SignedOutTheComposerAsksForALoginAndSendsNothing)
{
    KRVideoDetailViewController* page = openComments();
    click(part<Button>(page, "commentComposerButton"));
    AlertView* gate = window->visibleAlert();
    ASSERT_NE(gate, nullptr);
    EXPECT_EQ(gate->tag(), 7200);
    EXPECT_EQ(gate->title(), QStringLiteral("登录后可操作"));
    EXPECT_EQ(gate->message(), QStringLiteral("发表评论需要登录后提交。当前未登录，不会伪造操作结果。"));
    EXPECT_EQ(gate->buttonTitles(), (QStringList{QStringLiteral("知道了"), QStringLiteral("前往“我的”")}));
    EXPECT_FALSE(composer(page)->isEditing());
    auto* restingField = part<TextField>(page, "commentInputField");
    EXPECT_TRUE(!restingField || !restingField->isVisible());
    // A row without replies would answer it: the same gate.
    clickTitled(gate->presentationView(), QStringLiteral("知道了"));
    part<TableView>(page, "commentsTableView")->tapRowForTesting({0, 0});
    ASSERT_NE(window->visibleAlert(), nullptr);
    EXPECT_EQ(window->visibleAlert()->tag(), 7200);
    EXPECT_EQ(requestCount(kCommentPost), 0);
}

TEST_F(VideoPageWritingTest, AnEmoteAndTextPostATopLevelCommentThatShowsFirst)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    View* bar = part(page, "commentComposerBar");
    View* restingHost = bar->superview();
    click(part<Button>(page, "commentComposerButton"));
    ASSERT_TRUE(composer(page)->isEditing());
    EXPECT_EQ(bar->superview(), page->view());
    // The first tap makes the editing controls: shown at once, in place, themed.
    auto* field = part<TextField>(page, "commentInputField");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->isVisible());
    EXPECT_EQ(field->placeholder(), QStringLiteral("说点什么…"));
    EXPECT_TRUE(part<Button>(page, "commentComposerButton")->isHidden());
    EXPECT_EQ(field->frame(), QRectF(50, 5, 229, 32));
    EXPECT_EQ(field->textColor(), KRTheme::sharedTheme()->primaryTextColor());
    EXPECT_EQ(part(page, "commentSendButton")->frame(), QRectF(328, 5, 43, 32));
    EXPECT_EQ(part(page, "commentEmoteButton")->frame(), QRectF(282, 5, 43, 32));
    EXPECT_EQ(part(page, "commentSelectedImageBadge")->frame(), QRectF(28, 17, 13, 13));
    EXPECT_TRUE(part(page, "commentSendButton")->isVisible());
    EXPECT_TRUE(part(page, "commentEmoteButton")->isVisible());
    EXPECT_TRUE(part(page, "commentCancelButton")->isVisible());
    EXPECT_TRUE(part(page, "commentEmotePanel")->isHidden());

    // The emote button opens the panel of the service's emotes; a tap puts one in.
    click(part<Button>(page, "commentEmoteButton"));
    KR_WAIT_UNTIL(composer(page)->emotes().size() == 80);
    View* panel = part(page, "commentEmotePanel");
    EXPECT_TRUE(panel->isVisible());
    auto* scroll = part<ScrollView>(page, "commentEmoteScrollView");
    auto* emote = qobject_cast<Button*>(scroll->viewWithTag(9900 + 1));
    ASSERT_NE(emote, nullptr);
    EXPECT_EQ(emote->accessibilityLabel(), CF::emoteToken(0, 1));
    click(emote);
    EXPECT_TRUE(panel->isHidden());
    EXPECT_EQ(field->text(), CF::emoteToken(0, 1));
    EXPECT_TRUE(field->isFirstResponder());
    type(field, QStringLiteral("拍得好"));
    EXPECT_EQ(part<Button>(page, "commentSendButton")->currentTitle(), QStringLiteral("发送"));

    click(part<Button>(page, "commentSendButton"));
    KR_WAIT_UNTIL(!composer(page)->isEditing());
    ASSERT_EQ(requestCount(kCommentPost), 1);
    const FakeRequest post = fake.requestsTo(kCommentPost).first();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("oid")), QString::number(kAID));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("type")), QStringLiteral("1"));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("message")), CF::emoteToken(0, 1) + QStringLiteral("拍得好"));
    EXPECT_TRUE(fake.requestsTo(DD::kUploadPath).isEmpty());

    // Shown at once, first, with its emote; the bar is back at rest, empty.
    ASSERT_EQ(page->comments().size(), 4);
    EXPECT_EQ(page->comments().first()->rpid(), CF::kPostedRpid);
    EXPECT_EQ(page->comments().first()->message(), CF::emoteToken(0, 1) + QStringLiteral("拍得好"));
    EXPECT_FALSE(page->comments().first()->emotes().isEmpty());
    EXPECT_EQ(bar->superview(), restingHost);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(field->isVisible());
    EXPECT_TRUE(part<Button>(page, "commentComposerButton")->isVisible());
}

// The keyboard types into what the window has focused: a reply started from a row, a new
// comment and text after an emote all take the keys typed at the window, show them and post them.
TEST_F(VideoPageWritingTest, KeysTypedAtTheWindowWriteAReplyACommentAndTextAfterAnEmote)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    auto* table = part<TableView>(page, "commentsTableView");
    click(table->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(composer(page)->isEditing());
    auto* field = part<TextField>(page, "commentInputField");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->placeholder(), QStringLiteral("回复 甲"));
    type(field, QStringLiteral("同意"));
    // What was typed shows where the placeholder was.
    QLineEdit* shown = field->findChild<QLineEdit*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->text(), QStringLiteral("同意"));
    pressReturn();
    KR_WAIT_UNTIL(!composer(page)->isEditing());
    ASSERT_EQ(requestCount(kCommentPost), 1);
    FakeRequest post = fake.requestsTo(kCommentPost).last();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("root")), QStringLiteral("11"));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("message")), QStringLiteral("同意"));

    // A new comment: typing turns the trailing button into "发送".
    click(part<Button>(page, "commentComposerButton"));
    ASSERT_TRUE(field->isFirstResponder());
    auto* send = part<Button>(page, "commentSendButton");
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("选择图片"));
    type(field, QStringLiteral("好看"));
    EXPECT_EQ(send->currentTitle(), QStringLiteral("发送"));
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("发送评论"));
    click(send);
    KR_WAIT_UNTIL(!composer(page)->isEditing());
    ASSERT_EQ(requestCount(kCommentPost), 2);
    post = fake.requestsTo(kCommentPost).last();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("root")), QString());
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("message")), QStringLiteral("好看"));
    EXPECT_EQ(page->comments().first()->message(), QStringLiteral("好看"));

    // Text typed after an emote goes on after it: both are posted.
    click(part<Button>(page, "commentComposerButton"));
    click(part<Button>(page, "commentEmoteButton"));
    KR_WAIT_UNTIL(composer(page)->emotes().size() == 80);
    click(qobject_cast<Button*>(part<ScrollView>(page, "commentEmoteScrollView")->viewWithTag(9900 + 2)));
    ASSERT_EQ(field->text(), CF::emoteToken(0, 2));
    type(field, QStringLiteral("拍得好"));
    EXPECT_EQ(shown->text(), CF::emoteToken(0, 2) + QStringLiteral("拍得好"));
    pressReturn();
    KR_WAIT_UNTIL(!composer(page)->isEditing());
    ASSERT_EQ(requestCount(kCommentPost), 3);
    EXPECT_EQ(AccountFixtures::formValue(fake.requestsTo(kCommentPost).last(), QStringLiteral("message")),
              CF::emoteToken(0, 2) + QStringLiteral("拍得好"));
}

TEST_F(VideoPageWritingTest, WithoutTextTheTrailingButtonPicksPhotosThatAreUploadedFirst)
{
    KRVideoDetailViewController* page = openCommentComposer(3);
    auto* send = part<Button>(page, "commentSendButton");
    auto* badge = part<ImageView>(page, "commentSelectedImageBadge");
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("选择图片"));
    EXPECT_TRUE(badge->isHidden());

    click(send);
    pickPhotos(page, 2);
    EXPECT_EQ(composer(page)->selectedImageCount(), 2u);
    EXPECT_FALSE(badge->isHidden());
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("已选 2 张图片"));
    auto* field = part<TextField>(page, "commentInputField");
    ASSERT_TRUE(field->isFirstResponder());
    type(field, QStringLiteral("两张图"));
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("发送评论"));
    EXPECT_FALSE(badge->isHidden());

    click(send);
    KR_WAIT_UNTIL(!composer(page)->isEditing());
    EXPECT_EQ(requestCount(DD::kUploadPath), 2);
    ASSERT_EQ(requestCount(kCommentPost), 1);
    EXPECT_EQ(AccountFixtures::formValue(fake.requestsTo(kCommentPost).first(), QStringLiteral("pictures")).count(QStringLiteral("upload")), 2);
    EXPECT_EQ(page->comments().first()->message(), QStringLiteral("两张图"));
    EXPECT_EQ(page->comments().first()->pictureURLs().size(), 2);
}

TEST_F(VideoPageWritingTest, AFailedUploadSaysSoAndKeepsTheText)
{
    KRVideoDetailViewController* page = openCommentComposer(1);
    click(part<Button>(page, "commentSendButton"));
    pickPhotos(page, 1);
    uploads->uploadFails = true;
    auto* field = part<TextField>(page, "commentInputField");
    type(field, QStringLiteral("配图"));
    click(part<Button>(page, "commentSendButton"));
    KR_WAIT_UNTIL(window->visibleAlert() != nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("图片上传失败"));
    EXPECT_EQ(window->visibleAlert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_EQ(requestCount(kCommentPost), 0);
    EXPECT_TRUE(composer(page)->isEditing());
    EXPECT_EQ(field->text(), QStringLiteral("配图"));
    EXPECT_TRUE(field->isEnabled());
    EXPECT_EQ(page->comments().size(), 3);

    // A refused post says why, and the text is still there to send again.
    clickTitled(window->visibleAlert()->presentationView(), QStringLiteral("知道了"));
    field->setText(QStringLiteral("有点敏感"));
    click(part<Button>(page, "commentSendButton"));
    KR_WAIT_UNTIL(window->visibleAlert() != nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("评论失败"));
    EXPECT_TRUE(window->visibleAlert()->message().startsWith(CF::kRefusalMessage)) << window->visibleAlert()->message().toStdString();
    EXPECT_EQ(field->text(), QStringLiteral("有点敏感"));
    EXPECT_TRUE(composer(page)->isEditing());
    EXPECT_EQ(page->comments().size(), 3);
}

TEST_F(VideoPageWritingTest, ARowWithoutRepliesOpensAReplyThatRaisesItsCount)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    auto* table = part<TableView>(page, "commentsTableView");
    table->tapRowForTesting({0, 0});
    ASSERT_TRUE(composer(page)->isEditing());
    auto* field = part<TextField>(page, "commentInputField");
    EXPECT_EQ(field->placeholder(), QStringLiteral("回复 甲"));
    EXPECT_EQ(composer(page)->replyRoot(), 11);
    // Replies take no photos: the trailing button only sends.
    click(part<Button>(page, "commentSendButton"));
    EXPECT_EQ(page->presentedViewController(), nullptr);
    type(field, QStringLiteral("同意"));
    click(part<Button>(page, "commentSendButton"));
    KR_WAIT_UNTIL(!composer(page)->isEditing());
    const FakeRequest post = fake.requestsTo(kCommentPost).first();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("root")), QStringLiteral("11"));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("parent")), QStringLiteral("11"));
    ASSERT_EQ(page->comments().size(), 3);
    EXPECT_EQ(page->comments().first()->rpid(), 11);
    EXPECT_EQ(page->comments().first()->replyCount(), 1);
}

TEST_F(VideoPageWritingTest, ARowWithRepliesClosesTheComposerAndOpensItsThread)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    click(part<Button>(page, "commentComposerButton"));
    type(part<TextField>(page, "commentInputField"), QStringLiteral("写到一半"));
    part<TableView>(page, "commentsTableView")->tapRowForTesting({0, 1});
    AnimationClock::finishAll();
    EXPECT_FALSE(composer(page)->isEditing());
    EXPECT_STREQ(nav->topViewController()->metaObject()->className(), "KRReplyThreadViewController");
}

TEST_F(VideoPageWritingTest, RepliesPostedInAThreadShowInTheRowsCountOnReturn)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    auto* table = part<TableView>(page, "commentsTableView");
    auto* row = qobject_cast<KRCommentCell*>(table->cellForRowAtIndexPath({0, 1}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->threadLabel()->text(), QStringLiteral("查看 2 条回复  ›"));
    table->tapRowForTesting({0, 1});
    AnimationClock::finishAll();
    auto* thread = qobject_cast<KRReplyThreadViewController*>(nav->topViewController());
    ASSERT_NE(thread, nullptr);
    KR_WAIT_UNTIL(!thread->isLoading());
    for (const QString& text : {QStringLiteral("一"), QStringLiteral("二")}) {
        const qsizetype before = thread->replies().size();
        thread->tableView()->tapRowForTesting({0, 0});
        type(thread->replyInputField(), text);
        pressReturn();
        KR_WAIT_UNTIL(thread->replies().size() == before + 1);
        platform::MainClock::advanceForTesting(1.0);
        AnimationClock::finishAll();
    }
    Button* back = nav->navigationBar()->backButton();
    ASSERT_NE(back, nullptr);
    clickThroughWindow(back);
    ASSERT_EQ(nav->topViewController(), page);
    page->view()->layoutIfNeeded();
    row = qobject_cast<KRCommentCell*>(table->cellForRowAtIndexPath({0, 1}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->threadLabel()->text(), QStringLiteral("查看 4 条回复  ›"));
}

TEST_F(VideoPageWritingTest, CancellingPutsTheBarBackAfterTheKeyboardHasGone)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    View* bar = part(page, "commentComposerBar");
    View* restingHost = bar->superview();
    click(part<Button>(page, "commentComposerButton"));
    type(part<TextField>(page, "commentInputField"), QStringLiteral("算了"));
    click(part<Button>(page, "commentCancelButton"));
    // Still on the root view while the keyboard leaves (0.25 s), back at rest just after.
    EXPECT_TRUE(composer(page)->isCancelling());
    EXPECT_EQ(bar->superview(), page->view());
    platform::MainClock::advanceForTesting(0.25);
    EXPECT_TRUE(composer(page)->isCancelling());
    platform::MainClock::advanceForTesting(0.03);
    EXPECT_FALSE(composer(page)->isCancelling());
    EXPECT_EQ(bar->superview(), restingHost);
    EXPECT_TRUE(part<TextField>(page, "commentInputField")->text().isEmpty());
    EXPECT_EQ(requestCount(kCommentPost), 0);
}

// The field's clear button is an edit like any other: the text gone, the trailing button
// picks photos again, and picks them when tapped.
TEST_F(VideoPageWritingTest, ClearingTheTextWithItsButtonBringsBackThePhotoButton)
{
    KRVideoDetailViewController* page = openCommentComposer(1);
    auto* field = part<TextField>(page, "commentInputField");
    ASSERT_NE(field, nullptr);
    auto* send = part<Button>(page, "commentSendButton");
    type(field, QStringLiteral("yz"));
    ASSERT_EQ(send->currentTitle(), QStringLiteral("发送"));
    click(field->clearButton());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(send->currentTitle().isEmpty());
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("选择图片"));
    click(send);
    pickPhotos(page, 1);
    EXPECT_EQ(composer(page)->selectedImageCount(), 1u);
    EXPECT_EQ(send->accessibilityLabel(), QStringLiteral("已选 1 张图片"));
    EXPECT_EQ(requestCount(kCommentPost), 0);
}

TEST_F(VideoPageWritingTest, AMemoryWarningHidesTheEmotePanelAndLetsTheEmotesGo)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    click(part<Button>(page, "commentComposerButton"));
    click(part<Button>(page, "commentEmoteButton"));
    KR_WAIT_UNTIL(composer(page)->emotes().size() == 80);
    platform::NotificationCenter::defaultCenter().post(ApplicationDidReceiveMemoryWarningNotification);
    EXPECT_TRUE(part(page, "commentEmotePanel")->isHidden());
    EXPECT_TRUE(composer(page)->emotes().isEmpty());
    // Asked for again when the panel opens.
    click(part<Button>(page, "commentEmoteButton"));
    KR_WAIT_UNTIL(composer(page)->emotes().size() == 80);
    EXPECT_EQ(requestCount(QStringLiteral("/x/emote/package")), 2);
}

// ---- the keyboard ----

TEST_F(VideoPageWritingTest, AKeyboardLiftsTheComposerBeingEditedWithItsOwnAnimation)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    ASSERT_EQ(window->frame().size(), QSizeF(375, 667));
    const QRectF keyboard(0, 667 - 216, 375, 216);

    // The embedded danmaku bar.
    click(part<Button>(page, "danmakuComposeButton"));
    View* danmakuBar = part(page, "danmakuComposerBar");
    ASSERT_NE(danmakuBar, nullptr);
    ASSERT_TRUE(danmakuBar->isVisible());
    // Made at this first opening: under the tab row, in the theme's colour.
    const QRectF resting = danmakuBar->frame();
    EXPECT_EQ(resting, QRectF(0, 247, 375, 42));
    EXPECT_EQ(danmakuBar->backgroundColor(), QBrush(KRTheme::sharedTheme()->surfaceColor()));
    postKeyboard(true, keyboard, 0);
    platform::MainClock::advanceForTesting(0.125);
    EXPECT_NEAR(danmakuBar->frame().y(), (resting.y() + 345) / 2, 1.0);
    platform::MainClock::advanceForTesting(0.13);
    EXPECT_EQ(danmakuBar->frame(), QRectF(0, 345, 375, 42));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    platform::MainClock::advanceForTesting(0.3);
    EXPECT_TRUE(danmakuBar->isHidden());

    // The comment bar and its emote panel.
    click(part<Button>(page, "commentComposerButton"));
    View* commentBar = part(page, "commentComposerBar");
    postKeyboard(true, keyboard, 0.4);
    platform::MainClock::advanceForTesting(0.25);
    EXPECT_NE(commentBar->frame(), QRectF(0, 345, 375, 42));
    platform::MainClock::advanceForTesting(0.2);
    EXPECT_EQ(commentBar->frame(), QRectF(0, 345, 375, 42));
    click(part<Button>(page, "commentEmoteButton"));
    EXPECT_EQ(part(page, "commentEmotePanel")->frame(), QRectF(8, 191, 359, 152));
}

// The desktop's keyboard is a hardware one: only the field's toolbar shows, along the window's
// bottom edge with its own background, and the bar being edited sits right on top of it.
TEST_F(VideoPageWritingTest, OnAHardwareKeyboardTheBarBeingEditedSitsOnTheToolbarAtTheBottomEdge)
{
    signIn();
    KRVideoDetailViewController* page = openComments();
    ASSERT_EQ(window->frame().size(), QSizeF(375, 667));
    const auto inWindow = [&](View* view) { return QRectF(view->mapTo(window.get(), QPoint(0, 0)), view->frame().size()); };

    // The embedded danmaku bar.
    click(part<Button>(page, "danmakuComposeButton"));
    auto* field = part<TextField>(page, "danmakuInputField");
    ASSERT_TRUE(field->isFirstResponder());
    auto* toolbar = part<Toolbar>(page, "danmakuInputAccessory");
    ASSERT_TRUE(toolbar->isVisible());
    EXPECT_EQ(inWindow(toolbar), QRectF(0, 667 - 44, 375, 44));
    EXPECT_EQ(field->keyboardFrameInWindow(), inWindow(toolbar));
    platform::MainClock::advanceForTesting(0.26);
    View* danmakuBar = part(page, "danmakuComposerBar");
    EXPECT_EQ(inWindow(danmakuBar), QRectF(0, 667 - 44 - 42, 375, 42));
    // Its background hides the page under it: between its buttons the window shows the bar's own
    // colour, the one it draws alone.
    const QImage shot = window->grab().toImage();
    const QColor drawn = toolbar->grab().toImage().pixelColor(187, 30);
    EXPECT_EQ(drawn.alpha(), 255);
    EXPECT_EQ(shot.pixelColor(187, 667 - 44 + 30), drawn);
    EXPECT_EQ(shot.pixelColor(187, 667 - 44 + 30), KRTheme::sharedTheme()->style() == 1 ? QColor(22, 22, 22) : QColor(247, 247, 247));
    type(field, QStringLiteral("前方"));
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("前方"));
    clickTitled(toolbar, QStringLiteral("取消"));
    platform::MainClock::advanceForTesting(0.3);
    EXPECT_TRUE(danmakuBar->isHidden());
    EXPECT_FALSE(toolbar->isVisible());

    // The comment bar has no toolbar: it sits on the bottom edge, its emote panel above it.
    click(part<Button>(page, "commentComposerButton"));
    auto* commentField = part<TextField>(page, "commentInputField");
    ASSERT_TRUE(commentField->isFirstResponder());
    EXPECT_EQ(commentField->keyboardFrameInWindow(), QRectF(0, 667, 375, 0));
    platform::MainClock::advanceForTesting(0.26);
    View* commentBar = part(page, "commentComposerBar");
    EXPECT_EQ(inWindow(commentBar), QRectF(0, 667 - 42, 375, 42));
    type(commentField, QStringLiteral("好"));
    EXPECT_EQ(commentField->text(), QStringLiteral("好"));
    click(part<Button>(page, "commentEmoteButton"));
    KR_WAIT_UNTIL(composer(page)->emotes().size() == 80);
    EXPECT_LE(inWindow(part(page, "commentEmotePanel")).bottom(), inWindow(commentBar).top());
}

// ---- the comment a message points at ----

TEST_F(VideoPageWritingTest, AFocusedCommentIsFetchedOncePinnedFirstAndSelectedForAMoment)
{
    routeFocusedComment(10);
    KRVideoDetailViewController* page = pushFocused(10, 0);
    KR_WAIT_UNTIL(!page->comments().isEmpty() && page->comments().first()->rpid() == 10 && page->focusedCommentRpid() == 0);
    ASSERT_EQ(requestCount(kCommentDetail), 1);
    const FakeRequest request = fake.requestsTo(kCommentDetail).first();
    EXPECT_EQ(request.queryValue(QStringLiteral("type")), QStringLiteral("1"));
    EXPECT_EQ(request.queryValue(QStringLiteral("oid")), QString::number(kAID));
    EXPECT_EQ(request.queryValue(QStringLiteral("root")), QStringLiteral("10"));
    int tens = 0;
    for (const auto& comment : page->comments())
        tens += comment->rpid() == 10;
    EXPECT_EQ(tens, 1);
    EXPECT_EQ(page->comments().size(), 3);
    auto* table = part<TableView>(page, "commentsTableView");
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 0}));
    platform::MainClock::advanceForTesting(1.7);
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 0}));
    platform::MainClock::advanceForTesting(0.15);
    EXPECT_NE(table->indexPathForSelectedRow(), (IndexPath{0, 0}));
    EXPECT_EQ(requestCount(kCommentDetail), 1);
}

TEST_F(VideoPageWritingTest, AFocusOnAReplyOpensItsThreadAtThatReply)
{
    routeFocusedComment(10);
    // The thread the route is asked for, as the shell's route makes it.
    qint64 threadRoot = 0, threadFocus = 0;
    KRRoutes routes = KRScreenRoutes();
    const auto makeThread = routes.replyThread;
    routes.replyThread = [&, makeThread](const std::shared_ptr<KRComment>& root, qint64 focus) {
        threadRoot = root ? root->rpid() : -1;
        threadFocus = focus;
        return makeThread(root, focus);
    };
    KRRouter::install(routes);
    KRVideoDetailViewController* page = pushFocused(10, 25);
    KR_WAIT_UNTIL(nav->topViewController() != page);
    AnimationClock::finishAll();
    EXPECT_STREQ(nav->topViewController()->metaObject()->className(), "KRReplyThreadViewController");
    EXPECT_EQ(threadRoot, 10);
    EXPECT_EQ(threadFocus, 25);
    EXPECT_EQ(page->focusedCommentRpid(), 0);
    for (const auto& comment : page->comments())
        EXPECT_NE(comment->replyCount(), 3) << "the comments list took the fetched root";
}

TEST_F(VideoPageWritingTest, OnTheInformationTabNothingIsFetchedUntilTheCommentsShow)
{
    routeFocusedComment(10);
    KRVideoDetailViewController* page = pushFocused(10, 0, false);
    // The detail arrives while the push still runs: the page shows its information.
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    EXPECT_EQ(page->selectedDetailPage(), 0);
    EXPECT_EQ(requestCount(kCommentDetail), 0);
    AnimationClock::finishAll();
    EXPECT_EQ(page->selectedDetailPage(), 1);
    KR_WAIT_UNTIL(requestCount(kCommentDetail) == 1);
    KR_WAIT_UNTIL(!page->comments().isEmpty() && page->comments().first()->rpid() == 10);
}

TEST_F(VideoPageWritingTest, ASecondJumpWhileTheFirstIsFetchedWins)
{
    routeFocusedComment(10, 20);
    KRVideoDetailViewController* page = pushFocused(10, 0);
    ASSERT_EQ(page->focusedCommentRpid(), 10);
    page->showCommentsWhenPresentedAtRootRpid(20, 0);
    KR_WAIT_UNTIL(requestCount(kCommentDetail) == 2 && page->focusedCommentRpid() == 0 && !page->comments().isEmpty()
                  && page->comments().first()->rpid() == 20);
    EXPECT_EQ(fake.requestsTo(kCommentDetail).last().queryValue(QStringLiteral("root")), QStringLiteral("20"));
    // The list's own comment 10 stays where it was, not the first jump's answer (3 replies).
    EXPECT_EQ(page->comments().size(), 4);
    EXPECT_EQ(page->comments().last()->rpid(), 10);
    EXPECT_EQ(page->comments().last()->replyCount(), 0);
}

// The first jump's comment came while the list was still loading, and waits for it to pin it
// first; a second jump comes before the list does. The comment waiting was the first jump's:
// the list shows without it, as the second could not be found.
TEST_F(VideoPageWritingTest, ANewJumpLetsGoOfTheCommentFetchedForTheOldOne)
{
    routeFocusedComment(10);
    auto listGate = std::make_shared<AnswerGate>();
    fake.route(KRServiceHosts::apiHost(), kCommentList, [listGate](const FakeRequest&) {
        listGate->wait();
        return threeComments();
    });
    KRVideoDetailViewController* page = pushFocused(10, 0);
    KR_WAIT_UNTIL(requestCount(kCommentDetail) == 1 && page->focusedCommentRpid() == 0 && requestCount(kCommentList) == 1);
    page->showCommentsWhenPresentedAtRootRpid(20, 0);
    KR_WAIT_UNTIL(console.contains(QStringLiteral("[KorvaneMessageJump] oid=%1 root=20 error=").arg(kAID)));
    listGate->release();
    KR_WAIT_UNTIL(page->comments().size() == 3);
    AnimationClock::finishAll();
    EXPECT_EQ(page->comments().first()->rpid(), 11);
    for (const auto& comment : page->comments())
        EXPECT_NE(comment->replyCount(), 3) << "the first jump's comment was pinned";
    EXPECT_FALSE(part<TableView>(page, "commentsTableView")->indexPathForSelectedRow().isValid());
}

TEST_F(VideoPageWritingTest, AFocusThatCannotBeFoundOnlyLogs)
{
    routeFocusedComment(99);
    KRVideoDetailViewController* page = pushFocused(10, 0);
    KR_WAIT_UNTIL(console.contains(QStringLiteral("[KorvaneMessageJump] oid=%1 root=10 error=").arg(kAID)));
    EXPECT_EQ(page->focusedCommentRpid(), 0);
    KR_WAIT_UNTIL(page->comments().size() == 3);
    EXPECT_EQ(page->comments().first()->rpid(), 11);
    EXPECT_EQ(nav->topViewController(), page);
}

// ---- danmaku ----

TEST_F(VideoPageWritingTest, WithDanmakuOffTheEntryDoesNothing)
{
    KRVideoDetailViewController* page = push();
    click(part<Button>(page, "danmakuButton"));
    auto* entry = part<Button>(page, "danmakuComposeButton");
    EXPECT_EQ(entry->currentTitle(), QStringLiteral("已关弹幕"));
    EXPECT_FALSE(entry->isEnabled());
    page->embeddedAddDanmakuTapped();
    QTest::mouseClick(handle(), Qt::LeftButton, {}, entry->mapTo(window.get(), entry->rect().center()));
    EXPECT_FALSE(shows(page, "danmakuComposerBar"));
    // Nothing opened, so no field was made to take the keyboard.
    EXPECT_EQ(part<TextField>(page, "danmakuInputField"), nullptr);

    // Opened once with danmaku on, the field is there; off again, the entry still does nothing.
    click(part<Button>(page, "danmakuButton"));
    click(entry);
    auto* field = part<TextField>(page, "danmakuInputField");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isFirstResponder());
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    click(part<Button>(page, "danmakuButton"));
    EXPECT_FALSE(entry->isEnabled());
    QTest::mouseClick(handle(), Qt::LeftButton, {}, entry->mapTo(window.get(), entry->rect().center()));
    EXPECT_FALSE(shows(page, "danmakuComposerBar"));
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(field->placeholder(), QStringLiteral("已关弹幕"));
}

// The bar's field and toolbar are made when it first opens: they wear the theme in force then,
// and follow the changes after.
TEST_F(VideoPageWritingTest, TheDanmakuFieldMadeAtItsFirstOpeningWearsTheThemeInForce)
{
    KRTheme* theme = KRTheme::sharedTheme();
    const int style = theme->style();
    KRVideoDetailViewController* page = push();
    theme->setStyle(1);
    click(part<Button>(page, "danmakuComposeButton"));
    auto* field = part<TextField>(page, "danmakuInputField");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_EQ(field->textColor(), theme->primaryTextColor());
    EXPECT_EQ(field->placeholder(), QStringLiteral("登录后发弹幕"));
    EXPECT_EQ(field->frame(), QRectF(8, 5, 359, 32));
    auto* toolbar = part<Toolbar>(page, "danmakuInputAccessory");
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(toolbar->barStyle(), BarStyleBlack);
    EXPECT_EQ(part(page, "danmakuComposerBar")->backgroundColor(), QBrush(theme->surfaceColor()));
    theme->setStyle(0);
    EXPECT_EQ(toolbar->barStyle(), BarStyleDefault);
    EXPECT_EQ(field->textColor(), theme->primaryTextColor());
    clickTitled(toolbar, QStringLiteral("取消"));
    theme->setStyle(style);
}

// A danmaku is a few words of chat: the keyboard neither corrects nor capitalises them.
TEST_F(VideoPageWritingTest, TheDanmakuFieldAsksTheKeyboardForNoCorrectionOrCapitals)
{
    KRVideoDetailViewController* page = push();
    click(part<Button>(page, "danmakuComposeButton"));
    auto* field = part<TextField>(page, "danmakuInputField");
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isFirstResponder());
    // What the editor taking the window's typing tells the keyboard.
    QWidget* typing = window->focusWidget();
    ASSERT_NE(typing, nullptr);
    ASSERT_TRUE(field->isAncestorOf(typing));
    const auto hints = Qt::InputMethodHints(typing->inputMethodQuery(Qt::ImHints).toInt());
    EXPECT_TRUE(hints.testFlag(Qt::ImhNoAutoUppercase));
    EXPECT_TRUE(hints.testFlag(Qt::ImhNoPredictiveText));
    type(field, QStringLiteral("lol"));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
}

TEST_F(VideoPageWritingTest, SignedOutSendingKeepsTheDraftAndAsksForALogin)
{
    KRVideoDetailViewController* page = push();
    click(part<Button>(page, "danmakuComposeButton"));
    auto* field = part<TextField>(page, "danmakuInputField");
    type(field, QStringLiteral("前方高能"));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("发送"));
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->tag(), 7101);
    EXPECT_EQ(alert->title(), QStringLiteral("登录后才能发弹幕"));
    EXPECT_EQ(alert->message(), QStringLiteral("当前为未登录只读状态，不会伪造发送成功。草稿已保留，登录后可从当前时间发送。"));
    EXPECT_EQ(alert->buttonTitles(), (QStringList{QStringLiteral("继续播放"), QStringLiteral("前往“我的”")}));
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("前方高能"));
    EXPECT_EQ(requestCount(kDanmakuPost), 0);
    // The draft is there when the composer opens again.
    clickTitled(alert->presentationView(), QStringLiteral("继续播放"));
    click(part<Button>(page, "danmakuComposeButton"));
    EXPECT_EQ(field->text(), QStringLiteral("前方高能"));
}

// The draft is what the field shows: emptied by the field's clear button, it is gone when the
// composer opens again.
TEST_F(VideoPageWritingTest, ADanmakuClearedWithItsButtonStaysClearedAfterCancelling)
{
    KRVideoDetailViewController* page = push();
    click(part<Button>(page, "danmakuComposeButton"));
    auto* field = part<TextField>(page, "danmakuInputField");
    ASSERT_NE(field, nullptr);
    type(field, QStringLiteral("前方高能"));
    click(field->clearButton());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(page->danmakuComposer()->draft().isEmpty());
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    EXPECT_FALSE(shows(page, "danmakuComposerBar"));
    click(part<Button>(page, "danmakuComposeButton"));
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->text().isEmpty());
    // What is typed now is all there is.
    type(field, QStringLiteral("好"));
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("好"));
}

TEST_F(VideoPageWritingTest, TheDanmakuLoginAlertLeadsToTheProfileTab)
{
    nav = new NavigationController(new ViewController());
    auto* tabs = new TabBarController();
    tabs->setViewControllers({nav, new NavigationController(new ViewController()), new NavigationController(new ViewController()),
                              new NavigationController(new ViewController())});
    window->setRootViewController(tabs);
    window->makeKeyAndVisible();
    KRVideoDetailViewController* page = push();
    click(part<Button>(page, "danmakuComposeButton"));
    type(part<TextField>(page, "danmakuInputField"), QStringLiteral("好"));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("发送"));
    ASSERT_NE(window->visibleAlert(), nullptr);
    clickTitled(window->visibleAlert()->presentationView(), QStringLiteral("前往“我的”"));
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_EQ(tabs->selectedIndex(), 3);
    EXPECT_EQ(nav->viewControllers().size(), 1);
}

TEST_F(VideoPageWritingTest, WritingPausesPlaybackAndCancellingResumesIt)
{
    KRVideoDetailViewController* page = pushAndTapPlay();
    ASSERT_NE(page, nullptr);
    click(part<Button>(page, "danmakuComposeButton"));
    EXPECT_TRUE(page->danmakuComposer()->isPausedForComposer());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    // A pause the user asked for stays a pause: nothing retries it while the composer is open.
    platform::MainClock::advanceForTesting(3);
    EXPECT_EQ(page->moviePlayer()->playbackState(), KRPlaybackStatePaused);
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    EXPECT_FALSE(page->danmakuComposer()->isPausedForComposer());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePlaying);
    EXPECT_TRUE(part(page, "danmakuComposerBar")->isHidden());
}

TEST_F(VideoPageWritingTest, ClosingTheComposerDoesNotPlayOverAPulledHeadphoneOrAnInterruption)
{
    KRVideoDetailViewController* page = pushAndTapPlay();
    ASSERT_NE(page, nullptr);
    auto& audio = platform::media::AudioSession::sharedInstance();
    // The headphones are pulled while the user writes: closing the composer stays paused.
    click(part<Button>(page, "danmakuComposeButton"));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    audio.postRouteChangeForTesting(2);
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());

    // Played again, then an interruption begins while the composer is open: closing it waits
    // for the interruption's end.
    page->playerControlsDidTogglePlayback(nullptr);
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePlaying);
    click(part<Button>(page, "danmakuComposeButton"));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    audio.postInterruptionForTesting(true);
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    // Its end may resume: the intent the user had is kept for it.
    audio.postInterruptionForTesting(false, 1);
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
}

TEST_F(VideoPageWritingTest, SignedInADanmakuIsPostedAtThePlaybackTimeAndShownAtOnce)
{
    signIn();
    KRVideoDetailViewController* page = push();
    auto* play = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(play->isEnabled());
    click(play);
    KR_ADVANCE_UNTIL(page->moviePlayer() && page->moviePlayer()->playbackState() == KRPlaybackStatePlaying
                     && page->moviePlayer()->currentPlaybackTime() > 0.5);
    click(part<Button>(page, "danmakuComposeButton"));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    const double at = page->playbackSession()->currentTime();
    auto* field = part<TextField>(page, "danmakuInputField");
    type(field, QStringLiteral("第一条弹幕"));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("发送"));
    KR_WAIT_UNTIL(requestCount(kDanmakuPost) == 1 && !page->danmakuComposer()->isSending());
    const FakeRequest post = fake.requestsTo(kDanmakuPost).first();
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("msg")), QStringLiteral("第一条弹幕"));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("oid")), QString::number(ServiceFixtures::kDetailCID));
    EXPECT_EQ(AccountFixtures::formValue(post, QStringLiteral("aid")), QString::number(kAID));
    EXPECT_NEAR(AccountFixtures::formValue(post, QStringLiteral("progress")).toDouble(), at * 1000, 60);
    EXPECT_EQ(interactions.postedDanmaku(), QList<QString>{QStringLiteral("第一条弹幕")});

    KRDanmakuRenderer* renderer = page->danmakuRenderer();
    bool listed = false;
    for (const auto& danmaku : renderer->danmakus())
        listed = listed || (danmaku->text() == QStringLiteral("第一条弹幕") && std::abs(danmaku->time() - at) < 0.06);
    EXPECT_TRUE(listed);
    bool onScreen = false;
    for (const auto& item : renderer->activeItems())
        onScreen = onScreen || item.danmaku->text() == QStringLiteral("第一条弹幕");
    EXPECT_TRUE(onScreen);
    EXPECT_TRUE(page->danmakuComposer()->draft().isEmpty());
    EXPECT_TRUE(field->text().isEmpty());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePlaying);
}

TEST_F(VideoPageWritingTest, ARefusedDanmakuToastsWhyAndKeepsTheDraft)
{
    signIn();
    interactions.refuse(kDanmakuPost, 36703, QStringLiteral("弹幕发送过于频繁"));
    KRVideoDetailViewController* page = push();
    click(part<Button>(page, "danmakuComposeButton"));
    type(part<TextField>(page, "danmakuInputField"), QStringLiteral("再来"));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("发送"));
    KR_WAIT_UNTIL(requestCount(kDanmakuPost) == 1 && !page->danmakuComposer()->isSending());
    auto* status = part<Label>(page, "danmakuStatusLabel");
    EXPECT_TRUE(status->isVisible());
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("弹幕发送过于频繁"))) << status->text().toStdString();
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("再来"));
    EXPECT_FALSE(part(page, "danmakuComposerBar")->isHidden());
}
