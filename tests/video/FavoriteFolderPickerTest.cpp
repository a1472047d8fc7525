#include "../uikit/KitTestSupport.h"
#include "../uikit/KitTyping.h"
#include "account/AccountClientTesting.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "shared/KRClassicSettingsCell.h"
#include "support/InteractionFixtures.h"
#include "video/KRFavoriteFolderPickerViewController.h"

#include <QPointer>
#include <QTest>

using namespace platform::uikit;
using namespace accounttest;
using testsupport::InteractionFixtures;

namespace {

const QString kDeal = QStringLiteral("/x/v3/fav/resource/deal");
constexpr qint64 kAid = 77;

struct Outcome {
    int calls = 0;
    bool favorited = false;
    QString message;
};

class FavoriteFolderPickerTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        KitTest::resetKit();
        AccountFixtures::routeRiskCookies(fake);
        AccountFixtures::logInWebOnly();
        interactions.setFolders({{11, QStringLiteral("默认收藏夹"), 3, false, {kAid}},
                                 {12, QStringLiteral("音乐"), -2, false, {}},
                                 {13, QStringLiteral("稍后"), 5, true, {kAid}}});
        root = new ViewController();
        nav = new NavigationController(root);
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        KitTest::settleKit();
        AccountClientTest::TearDown();
    }

    KRFavoriteFolderPickerViewController* open(const QString& title = QStringLiteral("猫和老鼠"))
    {
        picker = new KRFavoriteFolderPickerViewController(kAid, title, [this](bool favorited, const QString& message) {
            ++outcome.calls;
            outcome.favorited = favorited;
            outcome.message = message;
        });
        nav->pushViewController(picker, false);
        AnimationClock::finishAll();
        return picker;
    }
    bool loaded() { return testsupport::waitUntil([&] { return picker && !picker->isLoading(); }); }
    TableViewCell* cell(int section, int row)
    {
        picker->view()->layoutIfNeeded();
        return picker->tableView()->cellForRowAtIndexPath(IndexPath{section, row});
    }
    void clickRow(int section, int row)
    {
        TableView* table = picker->tableView();
        const QPointF point = table->rectForRowAtIndexPath(IndexPath{section, row}).center() - table->contentOffset();
        QTest::mouseClick(table, Qt::LeftButton, {}, point.toPoint());
    }
    void clickDone()
    {
        View* done = nav->navigationBar()->rightItemView();
        ASSERT_NE(done, nullptr);
        QTest::mouseClick(done, Qt::LeftButton, {}, done->rect().center());
    }
    bool popped() { return nav->topViewController() == root; }
    // The create row's alert, a name typed at the window into it and one of its buttons clicked,
    // as a user does.
    void createFolder(const QString& name, int buttonIndex)
    {
        clickRow(1, 0);
        AlertView* alert = window->visibleAlert();
        ASSERT_NE(alert, nullptr);
        ASSERT_NE(alert->textFieldAtIndex(0), nullptr);
        typeThroughWindow(window.get(), name);
        clickAlertButton(buttonIndex);
    }
    void clickAlertButton(int index)
    {
        ASSERT_NE(window->visibleAlert(), nullptr);
        View* button = window->visibleAlert()->presentationView()->viewWithTag(index + 1);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        AnimationClock::finishAll();
    }

    std::unique_ptr<Window> window = std::make_unique<Window>();
    InteractionFixtures interactions{fake};
    ViewController* root = nullptr;
    NavigationController* nav = nullptr;
    QPointer<KRFavoriteFolderPickerViewController> picker;
    Outcome outcome;
};

} // namespace

TEST_F(FavoriteFolderPickerTest, FoldersHoldingTheVideoAreTickedAndEveryRowSaysWhatItHolds)
{
    open();
    EXPECT_EQ(picker->title(), QStringLiteral("选择收藏夹"));
    EXPECT_FALSE(picker->saveButton()->isEnabled());
    EXPECT_EQ(picker->stateLabel()->text(), QStringLiteral("正在读取收藏夹…"));
    EXPECT_TRUE(picker->spinner()->isAnimating());
    ASSERT_TRUE(loaded());
    EXPECT_TRUE(picker->saveButton()->isEnabled());
    EXPECT_FALSE(picker->spinner()->isAnimating());
    EXPECT_TRUE(picker->stateLabel()->text().isEmpty());
    EXPECT_EQ(picker->supportedInterfaceOrientations(), InterfaceOrientationMaskPortrait);

    TableViewCell* first = cell(0, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(qobject_cast<KRClassicSettingsCell*>(first), nullptr);
    EXPECT_EQ(first->reuseIdentifier(), QStringLiteral("KRFavoriteFolderCell"));
    EXPECT_EQ(first->textLabel()->text(), QStringLiteral("默认收藏夹"));
    EXPECT_EQ(first->detailTextLabel()->text(), QStringLiteral("3 个内容"));
    EXPECT_EQ(first->accessoryType(), TableViewCellAccessoryCheckmark);
    EXPECT_EQ(first->accessibilityValue(), QStringLiteral("已选"));
    EXPECT_EQ(cell(0, 1)->detailTextLabel()->text(), QStringLiteral("0 个内容"));
    EXPECT_EQ(cell(0, 1)->accessoryType(), TableViewCellAccessoryNone);
    EXPECT_EQ(cell(0, 1)->accessibilityValue(), QStringLiteral("未选"));
    EXPECT_EQ(cell(0, 2)->accessoryType(), TableViewCellAccessoryCheckmark);
    TableViewCell* create = cell(1, 0);
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(create->reuseIdentifier(), QStringLiteral("KRFavoriteFolderCreateCell"));
    EXPECT_EQ(create->textLabel()->text(), QStringLiteral("＋ 新建收藏夹"));
    EXPECT_EQ(create->detailTextLabel()->text(), QStringLiteral("新建后自动勾选"));
    EXPECT_EQ(create->accessoryType(), TableViewCellAccessoryDisclosureIndicator);
    EXPECT_EQ(picker->footerText(), QStringLiteral("“猫和老鼠”可同时加入多个收藏夹。一键三连始终使用默认收藏夹。"));
    EXPECT_EQ(picker->tableView()->rectForRowAtIndexPath(IndexPath{0, 0}).height(), 58);
}

TEST_F(FavoriteFolderPickerTest, DoneWithoutAChangePopsAndSendsNothing)
{
    open(QString());
    ASSERT_TRUE(loaded());
    EXPECT_EQ(picker->footerText(), QStringLiteral("视频可同时加入多个收藏夹。一键三连始终使用默认收藏夹。"));
    // A tick set and taken back again is no change.
    clickRow(0, 1);
    clickRow(0, 1);
    clickDone();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.favorited);
    EXPECT_TRUE(outcome.message.isNull());
    AnimationClock::finishAll();
    EXPECT_TRUE(popped());
    drain();
    EXPECT_TRUE(fake.requestsTo(kDeal).isEmpty());
}

TEST_F(FavoriteFolderPickerTest, UntickingEveryFolderSendsOnlyRemovals)
{
    open();
    ASSERT_TRUE(loaded());
    clickRow(0, 0);
    EXPECT_EQ(cell(0, 0)->accessoryType(), TableViewCellAccessoryNone);
    clickRow(0, 2);
    clickDone();
    EXPECT_TRUE(picker->isSaving());
    EXPECT_EQ(picker->stateLabel()->text(), QStringLiteral("正在保存收藏夹…"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome.calls == 1; }));
    EXPECT_FALSE(outcome.favorited);
    EXPECT_EQ(outcome.message, QStringLiteral("已从所有收藏夹移除"));
    const QList<FakeRequest> deals = fake.requestsTo(kDeal);
    ASSERT_EQ(deals.size(), 1);
    EXPECT_TRUE(AccountFixtures::formValue(deals[0], QStringLiteral("add_media_ids")).isEmpty());
    const QStringList removed = AccountFixtures::formValue(deals[0], QStringLiteral("del_media_ids")).split(QLatin1Char(','));
    EXPECT_EQ(QSet<QString>(removed.begin(), removed.end()), (QSet<QString>{QStringLiteral("11"), QStringLiteral("13")}));
    AnimationClock::finishAll();
    EXPECT_TRUE(popped());
}

TEST_F(FavoriteFolderPickerTest, APrivateFolderAnsweredWithoutItsIDIsTickedByItsTitleAndEarlierTicksStay)
{
    interactions.setPrivateFolderAnsweredWithoutID(true);
    interactions.setNextFolderID(40);
    open();
    ASSERT_TRUE(loaded());
    clickRow(0, 1);  // "音乐" ticked by the user before creating
    clickRow(1, 0);
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), QStringLiteral("新建收藏夹"));
    EXPECT_EQ(alert->tag(), 8241);
    EXPECT_EQ(alert->message(), QStringLiteral("新建后会自动勾选，点击“完成”后将视频加入。"));
    EXPECT_EQ(alert->buttonTitles(), (QStringList{QStringLiteral("取消"), QStringLiteral("新建公开收藏夹"), QStringLiteral("新建私密收藏夹")}));
    ASSERT_NE(alert->textFieldAtIndex(0), nullptr);
    EXPECT_EQ(alert->textFieldAtIndex(0)->placeholder(), QStringLiteral("输入收藏夹名称"));
    typeThroughWindow(window.get(), QStringLiteral(" 测试 "));
    alert->tapButtonForTesting(2);
    EXPECT_EQ(picker->stateLabel()->text(), QStringLiteral("正在新建收藏夹…"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return picker->folders().size() == 4 && !picker->isLoading() && !picker->isSaving(); }));
    EXPECT_TRUE(interactions.folders().last().isPrivate);
    EXPECT_EQ(picker->selectedMediaIDs(), (QSet<qint64>{11, 12, 13, 40}));
    EXPECT_EQ(cell(0, 3)->textLabel()->text(), QStringLiteral("测试"));
    EXPECT_EQ(cell(0, 3)->accessoryType(), TableViewCellAccessoryCheckmark);
    EXPECT_TRUE(picker->saveButton()->isEnabled());

    clickDone();
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome.calls == 1; }));
    EXPECT_TRUE(outcome.favorited);
    EXPECT_EQ(outcome.message, QStringLiteral("收藏夹已更新"));
    EXPECT_TRUE(interactions.folders()[3].aids.contains(kAid));
    EXPECT_TRUE(interactions.folders()[1].aids.contains(kAid));
}

TEST_F(FavoriteFolderPickerTest, AnEmptyNameIsRefusedAndAFailedSaveKeepsTheScreen)
{
    open();
    ASSERT_TRUE(loaded());
    clickRow(1, 0);
    ASSERT_NE(window->visibleAlert(), nullptr);
    typeThroughWindow(window.get(), QStringLiteral("   "));
    window->visibleAlert()->tapButtonForTesting(1);
    ASSERT_NE(window->visibleAlert(), nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("无法新建"));
    EXPECT_EQ(window->visibleAlert()->message(), QStringLiteral("收藏夹名称不能为空。"));
    window->visibleAlert()->tapButtonForTesting(0);
    EXPECT_FALSE(picker->isSaving());

    interactions.refuse(kDeal, -403, QStringLiteral("访问权限不足"));
    clickRow(0, 1);
    clickDone();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !picker->isSaving(); }));
    // The account client's message, as it gives it (with the service's code).
    EXPECT_TRUE(picker->stateLabel()->text().startsWith(QStringLiteral("保存失败：访问权限不足")));
    ASSERT_NE(window->visibleAlert(), nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("收藏夹保存失败"));
    EXPECT_TRUE(window->visibleAlert()->message().startsWith(QStringLiteral("访问权限不足")));
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_EQ(nav->topViewController(), picker.data());
    EXPECT_TRUE(picker->saveButton()->isEnabled());
    EXPECT_TRUE(picker->selectedMediaIDs().contains(12));
}

TEST_F(FavoriteFolderPickerTest, ALoadErrorNamesItAndSigningOutLeaves)
{
    interactions.refuse(QStringLiteral("/x/v3/fav/folder/created/list-all"), -400, QStringLiteral("请求错误"));
    open();
    ASSERT_TRUE(loaded());
    EXPECT_TRUE(picker->stateLabel()->text().startsWith(QStringLiteral("收藏夹读取失败\n")));
    EXPECT_TRUE(picker->stateLabel()->text().endsWith(QStringLiteral("\n返回后可重试")));
    EXPECT_TRUE(picker->stateLabel()->text().contains(QStringLiteral("请求错误"))) << picker->stateLabel()->text().toStdString();
    // The middle line is the error as a user reads it: never blank, never a domain and code.
    EXPECT_EQ(picker->stateLabel()->text().split(QLatin1Char('\n')).value(1), QStringLiteral("请求错误"));
    EXPECT_FALSE(picker->saveButton()->isEnabled());
    EXPECT_EQ(picker->tableView()->numberOfRowsInSection(0), 0);

    KRSessionStore::sharedStore().clearSession();
    AnimationClock::finishAll();
    EXPECT_TRUE(popped());
    EXPECT_EQ(outcome.calls, 0);
}

TEST_F(FavoriteFolderPickerTest, NoFoldersStillOffersTheCreateRowAndFoldersWithoutAnIDAreLeftOut)
{
    EXPECT_EQ(KRFavoriteFolderPickerViewController::mediaIDForFolder(QVariantMap{{QStringLiteral("id"), 0}, {QStringLiteral("media_id"), 5}}), 5);
    EXPECT_EQ(KRFavoriteFolderPickerViewController::mediaIDForFolder(QVariantMap{{QStringLiteral("id"), -1}}), std::nullopt);
    EXPECT_EQ(KRFavoriteFolderPickerViewController::mediaIDForFolder(QVariant(QStringLiteral("11"))), std::nullopt);
    interactions.setFolders({});
    open();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(picker->stateLabel()->text(), QStringLiteral("暂无收藏夹\n可以先新建一个"));
    EXPECT_EQ(picker->tableView()->numberOfRowsInSection(1), 1);
    clickRow(1, 0);
    EXPECT_NE(window->visibleAlert(), nullptr);
}

TEST_F(FavoriteFolderPickerTest, ANewFolderIsTickedByTheIDItWasAnsweredWith)
{
    interactions.setNextFolderID(900);
    auto slowCreate = std::make_shared<AnswerGate>();
    interactions.hold(QStringLiteral("/x/v3/fav/folder/add"), slowCreate);
    open();
    ASSERT_TRUE(loaded());
    createFolder(QStringLiteral("Songs"), 1);
    EXPECT_EQ(picker->stateLabel()->text(), QStringLiteral("正在新建收藏夹…"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return interactions.folders().size() == 4; }));
    // Meanwhile another device made a folder of the same name, listed before the new one.
    QList<InteractionFixtures::Folder> folders = interactions.folders();
    folders.insert(3, {899, QStringLiteral("Songs"), 0, false, {}});
    interactions.setFolders(folders);
    slowCreate->release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return picker->folders().size() == 5 && !picker->isLoading() && !picker->isSaving(); }));
    EXPECT_FALSE(interactions.folders().last().isPrivate);
    EXPECT_EQ(picker->selectedMediaIDs(), (QSet<qint64>{11, 13, 900}));
    EXPECT_EQ(cell(0, 3)->textLabel()->text(), QStringLiteral("Songs"));
    EXPECT_EQ(cell(0, 3)->accessoryType(), TableViewCellAccessoryNone);
    EXPECT_EQ(cell(0, 4)->textLabel()->text(), QStringLiteral("Songs"));
    EXPECT_EQ(cell(0, 4)->accessoryType(), TableViewCellAccessoryCheckmark);
    EXPECT_TRUE(picker->stateLabel()->text().isEmpty());
    EXPECT_TRUE(picker->saveButton()->isEnabled());
}

TEST_F(FavoriteFolderPickerTest, AFailedCreationSaysSoTicksNothingAndKeepsTheTicks)
{
    open();
    ASSERT_TRUE(loaded());
    clickRow(0, 1);
    interactions.refuse(QStringLiteral("/x/v3/fav/folder/add"), -400, QStringLiteral("收藏夹数量已达上限"));
    createFolder(QStringLiteral("Songs"), 2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !picker->isSaving(); }));
    EXPECT_TRUE(picker->stateLabel()->text().startsWith(QStringLiteral("新建失败：收藏夹数量已达上限"))) << picker->stateLabel()->text().toStdString();
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), QStringLiteral("新建收藏夹失败"));
    EXPECT_TRUE(alert->message().startsWith(QStringLiteral("收藏夹数量已达上限")));
    EXPECT_EQ(alert->buttonTitles(), QStringList{QStringLiteral("知道了")});
    clickAlertButton(0);
    EXPECT_EQ(window->visibleAlert(), nullptr);
    // Nothing new is listed or ticked; the load had succeeded, so "完成" works again.
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/v3/fav/folder/created/list-all")).size(), 1);
    EXPECT_EQ(picker->folders().size(), 3);
    EXPECT_EQ(picker->selectedMediaIDs(), (QSet<qint64>{11, 12, 13}));
    EXPECT_TRUE(picker->saveButton()->isEnabled());
    clickDone();
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome.calls == 1; }));
    EXPECT_TRUE(outcome.favorited);
    EXPECT_EQ(outcome.message, QStringLiteral("收藏夹已更新"));
    EXPECT_TRUE(interactions.folders()[1].aids.contains(kAid));
}
