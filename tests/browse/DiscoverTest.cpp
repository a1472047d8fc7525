#include "browse/BrowseScreenTesting.h"

#include "look/KRTheme.h"
#include "browse/KRPGCGridCell.h"
#include "browse/KRSectionsViewController.h"
#include "model/KRSectionRegistry.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/TableViewCell.h"
#include "social/KRFollowingViewController.h"
#include "store/KRPreferences.h"

#include <QTest>

using namespace browsetest;

namespace {

class DiscoverTest : public BrowseScreenTest {
protected:
    KRSectionsViewController* showDiscover() { return show(new KRSectionsViewController()); }
    // The button of a channel, its row scrolled into view.
    Button* channelButton(KRSectionsViewController* discover, const QString& name)
    {
        const QVariantList channels = discover->channels();
        for (int i = 0; i < channels.size(); ++i) {
            if (channels.at(i).toMap().value(KRSectionNameKey).toString() != name)
                continue;
            TableView* table = discover->tableView();
            table->scrollToRowAtIndexPath({1, i / 3}, false);
            TableViewCell* cell = table->cellForRowAtIndexPath({1, i / 3});
            return cell ? qobject_cast<Button*>(cell->contentView()->viewWithTag(KRSectionsViewController::kChannelTagBase + i))
                        : nullptr;
        }
        return nullptr;
    }
    KRVideoListViewController* openChannel(KRSectionsViewController* discover, const QString& name)
    {
        Button* button = channelButton(discover, name);
        if (!button)
            return nullptr;
        button->tapForTesting();
        AnimationClock::finishAll();
        return qobject_cast<KRVideoListViewController*>(nav->topViewController());
    }
};

TEST_F(DiscoverTest, TheFollowingRowAndAThreeColumnGridOfEverySection)
{
    KRSectionsViewController* discover = showDiscover();
    TableView* table = discover->tableView();
    EXPECT_EQ(discover->title(), QStringLiteral("发现"));
    ASSERT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->numberOfRowsInSection(0), 1);
    ASSERT_EQ(discover->channels().size(), 36);
    EXPECT_EQ(table->numberOfRowsInSection(1), 12);
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).height(), 58);
    EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}).height(), 54);
    EXPECT_EQ(table->rectForRowAtIndexPath({1, 11}).height(), 54);
    EXPECT_EQ(table->rectForHeaderInSection(1).height(), 38);
    EXPECT_EQ(table->rectForFooterInSection(0).height(), 8);
    auto* followingHeader = qobject_cast<Label*>(table->headerViewForSection(0));
    auto* channelHeader = qobject_cast<Label*>(table->headerViewForSection(1));
    ASSERT_TRUE(followingHeader && channelHeader);
    EXPECT_EQ(followingHeader->text(), QStringLiteral("   关注"));
    EXPECT_EQ(channelHeader->text(), QStringLiteral("   按频道找内容"));

    TableViewCell* entry = table->cellForRowAtIndexPath({0, 0});
    ASSERT_NE(entry, nullptr);
    auto* all = qobject_cast<Button*>(entry->contentView()->viewWithTag(KRSectionsViewController::kAllFollowingTag));
    auto* videos = qobject_cast<Button*>(entry->contentView()->viewWithTag(KRSectionsViewController::kVideoFollowingTag));
    ASSERT_TRUE(all && videos);
    EXPECT_EQ(all->currentTitle(), QStringLiteral("动态"));
    EXPECT_EQ(all->frame(), QRectF(9, 5, 175, 46));
    EXPECT_EQ(videos->currentTitle(), QStringLiteral("视频"));
    EXPECT_EQ(videos->frame(), QRectF(191, 5, 175, 46));

    TableViewCell* first = table->cellForRowAtIndexPath({1, 0});
    ASSERT_NE(first, nullptr);
    const qreal xs[] = {9, 130, 251};
    for (int i = 0; i < 3; ++i) {
        auto* button = qobject_cast<Button*>(first->contentView()->viewWithTag(KRSectionsViewController::kChannelTagBase + i));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->frame(), QRectF(xs[i], 5, 114, 44));
        EXPECT_EQ(button->currentTitle(), discover->channels().at(i).toMap().value(KRSectionNameKey).toString());
        EXPECT_EQ(button->backgroundImage(ControlStateNormal).leftCapWidth(), 11);
    }

    // A new style re-dresses the rows.
    KRTheme* theme = KRTheme::sharedTheme();
    const int style = theme->style();
    theme->setStyle(style == 1 ? 0 : 1);
    table->layoutIfNeeded();
    auto* restyled = qobject_cast<Button*>(
        table->cellForRowAtIndexPath({1, 0})->contentView()->viewWithTag(KRSectionsViewController::kChannelTagBase));
    ASSERT_NE(restyled, nullptr);
    EXPECT_EQ(restyled->titleColor(ControlStateNormal), theme->primaryTextColor());
    EXPECT_EQ(restyled->titleColor(ControlStateHighlighted), theme->accentColor());
    EXPECT_EQ(table->backgroundColor(), theme->backgroundColor());
    theme->setStyle(style);

    // A tag past the table is ignored.
    Button stray;
    stray.setTag(KRSectionsViewController::kChannelTagBase + 36);
    discover->channelButtonTapped(&stray);
    EXPECT_EQ(nav->topViewController(), discover);
}

TEST_F(DiscoverTest, ChannelsOpenTheListTheirRouteAsksFor)
{
    KRSectionsViewController* discover = showDiscover();
    KRVideoListViewController* anime = openChannel(discover, QStringLiteral("番剧"));
    ASSERT_NE(anime, nullptr);
    EXPECT_EQ(anime->title(), QStringLiteral("番剧"));
    EXPECT_TRUE(anime->usesPGCGridLayout());
    EXPECT_EQ(anime->seasonType(), 1);
    KR_WAIT_UNTIL(anime->page() == 1 && !anime->isLoading());
    EXPECT_EQ(requestsTo(QStringLiteral("/pgc/season/index/result")).first().queryValue(QStringLiteral("season_type")),
              QStringLiteral("1"));
    TableView* table = anime->tableView();
    EXPECT_EQ(table->numberOfRowsInSection(0), 7) << "20 seasons in rows of three";
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).height(), KRPGCGridCell::rowHeightForWidth(375));
    auto* row = qobject_cast<KRPGCGridCell*>(table->cellForRowAtIndexPath({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->columnCount(), 3);
    EXPECT_FALSE(row->cardButton(2)->isHidden());
    EXPECT_TRUE(row->cardButton(3)->isHidden());
    nav->popViewControllerAnimated(false);

    const QVariantList channels = discover->channels();
    for (const QVariant& entry : channels) {
        const QVariantMap channel = entry.toMap();
        const int route = channel.value(KRSectionRouteKey).toInt();
        if (route == KRSectionRouteSeasonIndex)
            continue;
        KRVideoListViewController* list = openChannel(discover, channel.value(KRSectionNameKey).toString());
        ASSERT_NE(list, nullptr);
        if (route == KRSectionRouteAggregate) {
            EXPECT_EQ(list->mode(), KRVideoListModeAggregate);
            EXPECT_EQ(list->aggregateRIDs(), channel.value(KRSectionSourceRIDsKey).toList());
        } else {
            EXPECT_EQ(list->mode(), KRVideoListModeSection);
            EXPECT_EQ(list->tid(), channel.value(KRSectionRIDKey).toLongLong());
        }
        EXPECT_EQ(list->title(), channel.value(KRSectionNameKey).toString());
        KR_WAIT_UNTIL(list->page() >= 1 && !list->isLoading());
        EXPECT_FALSE(list->videos().isEmpty());
        nav->popViewControllerAnimated(false);
        if (route == KRSectionRouteAggregate)
            break;
    }
}

TEST_F(DiscoverTest, TheFollowingFeedAsksForALogin)
{
    KRSectionsViewController* discover = showDiscover();
    auto following = [&](int tag) {
        return qobject_cast<Button*>(discover->tableView()->cellForRowAtIndexPath({0, 0})->contentView()->viewWithTag(tag));
    };
    following(KRSectionsViewController::kAllFollowingTag)->tapForTesting();
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), QStringLiteral("需要登录"));
    EXPECT_EQ(alert->message(), QStringLiteral("登录后才能读取你的关注动态。"));
    EXPECT_EQ(alert->buttonTitles(), QStringList{QStringLiteral("知道了")});
    alert->tapButtonForTesting(0);
    EXPECT_EQ(nav->topViewController(), discover);

    logIn();
    following(KRSectionsViewController::kVideoFollowingTag)->tapForTesting();
    AnimationClock::finishAll();
    auto* feed = qobject_cast<KRFollowingViewController*>(nav->topViewController());
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(feed->feedType(), QStringLiteral("video"));
}

// A screen above the poster grid turns the window to landscape (the video page's full screen
// does), and a preference changes meanwhile (a switch of the player's more sheet there): the
// hidden grid, stretched to the landscape width, lays its rows out again at that width. Back in
// portrait, every row has the portrait's columns.
TEST_F(DiscoverTest, ThePosterGridKeepsOneColumnCountAfterAHiddenRelayoutInLandscape)
{
    KRSectionsViewController* discover = showDiscover();
    Button* animeButton = channelButton(discover, QStringLiteral("番剧"));
    ASSERT_NE(animeButton, nullptr);
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                      animeButton->mapTo(window.get(), animeButton->rect().center()));
    AnimationClock::finishAll();
    auto* anime = qobject_cast<KRVideoListViewController*>(nav->topViewController());
    ASSERT_NE(anime, nullptr);
    KR_WAIT_UNTIL(anime->page() == 1 && !anime->isLoading());
    TableView* table = anime->tableView();
    window->layoutIfNeeded();

    auto* above = new ViewController();
    above->setHidesBottomBarWhenPushed(true);
    nav->pushViewController(above, false);
    auto turn = [&](int orientation) {
        Device::current().setOrientation(orientation);
        ViewController::attemptRotationToDeviceOrientation();
        AnimationClock::finishAll();
        QCoreApplication::processEvents();
        window->layoutIfNeeded();
    };
    turn(InterfaceOrientationLandscapeRight);
    ASSERT_GT(window->frame().width(), window->frame().height());
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    preferences.setAutoContinueEnabled(!preferences.autoContinueEnabled());
    QCoreApplication::processEvents();
    turn(InterfaceOrientationPortrait);
    ASSERT_LT(window->frame().width(), window->frame().height());

    Button* back = nav->navigationBar()->backButton();
    ASSERT_TRUE(back && back->isVisible());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, back->mapTo(window.get(), back->rect().center()));
    AnimationClock::finishAll();
    QCoreApplication::processEvents();
    window->layoutIfNeeded();
    ASSERT_EQ(nav->topViewController(), anime);

    const int columns = KRPGCGridCell::columnCountForWidth(table->bounds().width());
    EXPECT_EQ(columns, 3);
    EXPECT_EQ(table->numberOfRowsInSection(0), 7);
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).height(), KRPGCGridCell::rowHeightForWidth(table->bounds().width()));
    // Every row, scrolled into view in turn, shows the next three titles: none twice, none left out.
    QStringList titles;
    for (int row = 0; row < table->numberOfRowsInSection(0); ++row) {
        table->scrollToRowAtIndexPath({0, row}, TableViewScrollPositionTop, false);
        table->layoutIfNeeded();
        auto* cell = qobject_cast<KRPGCGridCell*>(table->cellForRowAtIndexPath({0, row}));
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->columnCount(), columns) << "row " << row;
        for (int i = 0; i < cell->columnCount(); ++i)
            if (!cell->cardButton(i)->isHidden())
                titles << cell->titleLabel(i)->text();
    }
    QStringList expected;
    for (const auto& video : anime->videos())
        expected << video->title();
    EXPECT_EQ(titles, expected);
}

} // namespace
