// Draws the kit, theme and skin on the offscreen platform and writes one PNG per scene and
// device: each style on a 16.7 phone, the pink style on a 6.1 phone and on a full-screen pad.
// Usage: korvane_gallery [output folder] (default: $KORVANE_SCREENSHOTS_DIR or ./screenshots).

#include "login/KRQRLoginViewController.h"
#include "support/SanitizerDefaults.h"
#include "shell/KRRootViewController.h"
#include "shared/KRPlayerFullscreen.h"
#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "browse/KRSearchHistory.h"
#include "browse/KRSearchViewController.h"
#include "browse/KRSectionsViewController.h"
#include "browse/KRThemedSearchTextField.h"
#include "browse/KRUploaderViewController.h"
#include "browse/KRUsageNoticeViewController.h"
#include "browse/KRVideoCell.h"
#include "browse/KRVideoListViewController.h"
#include "social/KRDynamicCell.h"
#include "library/KRAccountVideoListViewController.h"
#include "library/KRProfileViewController.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlaybackTransport.h"
#include "support/BodyGate.h"
#include "support/InteractionFixtures.h"
#include "support/MediaFixtures.h"
#include "video/KRFavoriteFolderPickerViewController.h"
#include "social/KRFollowingViewController.h"
#include "social/KRMessageViewController.h"
#include "shared/KRCommentImageViewController.h"
#include "shared/KRPhotoPickerViewController.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "social/KRReplyThreadViewController.h"
#include "social/KRDynamicDetailViewController.h"
#include "platform/uikit/ActionSheet.h"
#include "model/KRComment.h"
#include "platform/uikit/TextField.h"
#include "store/KRSessionStore.h"
#include "support/CommentFixtures.h"
#include "support/DynamicFixtures.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlayerControlsView.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaSeams.h"
#include "platform/media/PlayerSurface.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "service/KRServiceShutdown.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"
#include "model/KRVideo.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Button.h"
#include "video/KRVideoDetailViewController.h"
#include "video/KRVideoOfflineCaching.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "video/KRVideoOfflineQualityPicker.h"
#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/FakeService.h"
#include "support/ImageFixtures.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceFixtures.h"

#include <QApplication>
#include <cstring>
#include <QDeadlineTimer>
#include <QDir>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace platform::uikit;

namespace {

KRTheme* theme() { return KRTheme::sharedTheme(); }

// A plain list of titled rows, themed.
class ListScreen : public ViewController, public TableViewDataSource, public TableViewDelegate {
public:
    ListScreen(const QString& title, QStringList rows, int style = TableViewStylePlain)
        : m_rows(std::move(rows)), m_style(style)
    {
        setTitle(title);
    }
    TableView* table = nullptr;
    QList<QStringList> sections;

protected:
    void loadView() override
    {
        table = new TableView(QRectF(QPointF(), platform::DeviceProfile::screenSize()), m_style);
        table->setDataSource(this);
        table->setTableDelegate(this);
        table->setBackgroundColor(theme()->backgroundColor());
        table->setSeparatorColor(theme()->separatorColor());
        if (m_style == TableViewStyleGrouped)
            table->setSeparatorStyle(TableViewCellSeparatorStyleNone);
        setView(table);
        table->reloadData();
    }
    int numberOfSectionsInTableView(TableView*) override { return sections.isEmpty() ? 1 : int(sections.size()); }
    int numberOfRowsInSection(TableView*, int s) override { return int(rowsOf(s).size()); }
    QString titleForHeaderInSection(TableView*, int s) override
    {
        return m_style == TableViewStyleGrouped ? QStringList{QStringLiteral("播放"), QStringLiteral("外观")}.value(s) : QString();
    }
    TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath& ip) override
    {
        auto* cell = t->dequeueReusableCellWithIdentifier(QStringLiteral("row"));
        if (!cell)
            cell = new TableViewCell(TableViewCellStyleValue1, QStringLiteral("row"));
        cell->textLabel()->setText(rowsOf(ip.section)[ip.row]);
        cell->textLabel()->setTextColor(theme()->primaryTextColor());
        cell->detailTextLabel()->setTextColor(theme()->secondaryTextColor());
        cell->setBackgroundColor(theme()->surfaceColor());
        if (m_style == TableViewStyleGrouped) {
            const int n = int(rowsOf(ip.section).size());
            auto* bg = new ImageView(QRectF());
            bg->setImage(theme()->groupedCellBackgroundImageWithTopCorners(ip.row == 0, ip.row == n - 1, 44));
            cell->setBackgroundView(bg);
            cell->setBackgroundColor(QBrush(Qt::NoBrush));
            cell->setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
            cell->detailTextLabel()->setText(ip == IndexPath{0, 0} ? QStringLiteral("高清 1080P") : QString());
        }
        return cell;
    }

private:
    QStringList rowsOf(int s) const { return sections.isEmpty() ? m_rows : sections[s]; }
    QStringList m_rows;
    int m_style;
};

// A screen of skin buttons in every variant and state.
class SkinScreen : public ViewController {
protected:
    void loadView() override
    {
        auto* v = new View(QRectF(QPointF(), platform::DeviceProfile::screenSize()));
        v->setBackgroundColor(theme()->backgroundColor());
        setView(v);
        const qreal w = v->frame().width();
        qreal y = 90;
        auto add = [&](const QString& title, const Image& normal, const Image& pressed, const QColor& color,
                       const QColor& shadow, const QSizeF& offset) {
            for (int i = 0; i < 2; ++i) {
                auto* b = new Button(ButtonTypeCustom, QRectF(20 + i * (w - 40) / 2, y, (w - 60) / 2, 36), v);
                b->setTitle(title, ControlStateNormal);
                b->setTitleColor(color, ControlStateNormal);
                b->setTitleShadowColor(shadow, ControlStateNormal);
                b->titleLabel()->setShadowOffset(offset);
                b->titleLabel()->setFont(Label::systemFont(15, true));
                b->setBackgroundImage(normal, ControlStateNormal);
                b->setBackgroundImage(pressed, ControlStateHighlighted);
                b->setHighlighted(i == 1);
            }
            y += 56;
        };
        add(QStringLiteral("关注"), KRTarnwick23ButtonBackground(theme(), false), KRTarnwick23ButtonBackground(theme(), true),
            KRTarnwick23ButtonTitleColor(theme()), KRTarnwick23ButtonTitleShadowColor(theme()),
            KRTarnwick23ButtonTitleShadowOffset(theme()));
        add(QStringLiteral("最新发布"), KRTarnwick23PaleButtonBackground(theme(), false),
            KRTarnwick23PaleButtonBackground(theme(), true), KRTarnwick23PaleButtonTitleColor(theme()),
            KRTarnwick23PaleButtonTitleShadowColor(theme()), KRTarnwick23PaleButtonTitleShadowOffset(theme()));
        add(QStringLiteral("一键三连"), KRTarnwick23PinkButtonBackground(false), KRTarnwick23PinkButtonBackground(true),
            Qt::white, QColor::fromRgbF(0, 0, 0, 0.45), QSizeF(0, -1));
        auto* note = new Label(QRectF(20, y, w - 40, 40), v);
        note->setText(QStringLiteral("左：常态  右：按下"));
        note->setTextColor(theme()->secondaryTextColor());
        note->setTextAlignment(TextAlignmentCenter);
        auto* spinnerLabel = new Label(QRectF(20, y + 40, w - 40, 30), v);
        spinnerLabel->setText(theme()->displayName() + QStringLiteral("主题"));
        spinnerLabel->setTextColor(theme()->primaryTextColor());
        spinnerLabel->setTextAlignment(TextAlignmentCenter);
    }
};

// The loading picture over the page.
class LoadingScreen : public ViewController {
public:
    ImageView* loading = nullptr;

protected:
    void loadView() override
    {
        auto* v = new View(QRectF(QPointF(), platform::DeviceProfile::screenSize()));
        v->setBackgroundColor(KRTarnwick23LoadingBackgroundColor());
        setView(v);
        loading = KRTarnwick23LoadingTVView(QRectF(QPointF(), v->frame().size()));
        loading->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        v->addSubview(loading);
    }
};

struct Shell {
    std::unique_ptr<Window> window = std::make_unique<Window>();
    TabBarController* tabs = new TabBarController();
    NavigationController* nav = nullptr;
};

// The screen sits at its own tab of the application's four, the others hold empty lists.
Shell makeShell(ViewController* root, int tab = 0)
{
    Shell s;
    QList<ViewController*> tabs;
    for (int i = 0; i < 4; ++i) {
        TabBarItem* item = KRRootTabItem(i);
        ViewController* screen = i == tab ? root : new ListScreen(item->title(), {});
        auto* nav = new NavigationController(screen);
        nav->setTabBarItem(item);
        tabs.append(nav);
        if (i == tab)
            s.nav = nav;
    }
    s.tabs->setViewControllers(tabs);
    s.tabs->setSelectedIndex(tab);
    s.window->setRootViewController(s.tabs);
    s.window->makeKeyAndVisible();
    theme()->applyToTabBarController(s.tabs);
    return s;
}

void push(NavigationController* nav, ViewController* screen)
{
    ViewController* covered = nav->topViewController();
    if (!covered->navigationItem()->backBarButtonItem())
        covered->navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("返回"), BarButtonItemStyleBordered));
    nav->pushViewController(screen, true);
    AnimationClock::finishAll();
    theme()->refreshNavigationController(nav);
}

bool save(Window& window, const QDir& dir, const QString& name)
{
    AnimationClock::finishAll();
    QCoreApplication::processEvents();
    window.layoutIfNeeded();
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool save(Shell& s, const QDir& dir, const QString& name) { return save(*s.window, dir, name); }

// Runs the event loop until `condition` holds or 30 s pass. The shots wait on covers, pages
// and a real player one after another in one process; on a machine busy with other builds a
// single slow one must not fail them all.
bool waitFor(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(30000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return condition();
}

// Whether every visible row that asked for a cover shows a picture rather than the placeholder.
bool coversShown(TableView* table)
{
    table->layoutIfNeeded();
    const QList<TableViewCell*> cells = table->visibleCells();
    return !cells.isEmpty() && std::all_of(cells.begin(), cells.end(), [](TableViewCell* cell) {
        auto* row = qobject_cast<KRVideoCell*>(cell);
        return !row || row->representedCoverURL().isEmpty() || !row->coverView()->image().isSameAs(KRVideoPlaceholderImage());
    });
}

// The explore tab against the fake service: the hot ranking, results with their sort bar,
// and the recent keywords while the field is edited.
bool shootSearch(const QDir& dir, const QString& device)
{
    testsupport::FakeService service(KRServiceHosts::allServiceHosts() + testsupport::ImageFixtures::hosts());
    testsupport::ServiceFixtures::installReadRoutes(service);
    testsupport::ImageFixtures::serveImages(service);
    for (const QString& keyword : {QStringLiteral("城市夜景"), QStringLiteral("手工"), QStringLiteral("猫")})
        KRSearchHistory::save(keyword);
    auto* search = new KRSearchViewController();
    Shell s = makeShell(search, 2);
    theme()->refreshNavigationController(s.nav);
    bool ok = true;
    auto shot = [&](const QString& name) {
        if (!waitFor([&] { return !search->isLoading(); })) {
            std::printf("FAILED to load the %s list\n", qPrintable(name));
            ok = false;
            return;
        }
        // Covers arrive on their own; the shot waits for the rows on screen to show theirs.
        waitFor([&] { return coversShown(search->tableView()); });
        ok &= save(s, dir, device + QStringLiteral("-search-") + name);
    };
    shot(QStringLiteral("hot"));
    search->beginSearchForKeyword(QStringLiteral("猫"));
    shot(QStringLiteral("results"));
    search->searchField()->becomeFirstResponder();
    shot(QStringLiteral("history"));
    search->searchField()->resignFirstResponder();
    KRSearchHistory::clear();
    return ok;
}

bool shoot(const QDir& dir, const QString& device)
{
    bool ok = true;
    {
        auto* home = new ListScreen(QStringLiteral("首页"), {QStringLiteral("【4K】城市夜景延时摄影"), QStringLiteral("今天也要好好吃饭"),
                                                            QStringLiteral("三分钟看懂一部电影"), QStringLiteral("旧设备也能流畅播放")});
        Shell s = makeShell(home);
        push(s.nav, new ListScreen(QStringLiteral("详情"), {QStringLiteral("简介"), QStringLiteral("评论 1.2万"), QStringLiteral("相关推荐")}));
        ok &= save(s, dir, device + QStringLiteral("-navigation"));
        auto* alert = new AlertView(QStringLiteral("提示"), QStringLiteral("确定要清除浏览缓存吗？"), QStringLiteral("取消"),
                                    {QStringLiteral("清除")});
        alert->show();
        ok &= save(s, dir, device + QStringLiteral("-alert"));
        alert->dismissWithClickedButtonIndex(0);
        AnimationClock::finishAll();
        if (s.nav->interactivePopGestureRecognizer()) {
            // A page hiding the tab bar, a third of the way through an edge swipe back: the
            // list comes in under it with its tab bar, and the bar's items cross-fade.
            auto* page = new ListScreen(QStringLiteral("视频详情"), {QStringLiteral("简介"), QStringLiteral("评论 1.2万")});
            page->setHidesBottomBarWhenPushed(true);
            push(s.nav, page);
            View* container = s.nav->view();
            const auto send = [&](QWidget* target, QEvent::Type type, qreal x) {
                const QPointF local(x, 300);
                QMouseEvent event(type, target->mapFrom(container, local), container->mapToGlobal(local), Qt::LeftButton,
                                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(target, &event);
            };
            send(page->view(), QEvent::MouseButtonPress, 4);
            send(container, QEvent::MouseMove, 4 + container->frame().width() / 3);
            ok &= save(s, dir, device + QStringLiteral("-navigation-swipe"));
            send(container, QEvent::MouseButtonRelease, 4 + container->frame().width() / 3);
        }
    }
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("我的"), {}), 3);
        push(s.nav, new SkinScreen());
        s.nav->topViewController()->setTitle(QStringLiteral("按钮"));
        theme()->refreshNavigationController(s.nav);
        ok &= save(s, dir, device + QStringLiteral("-buttons"));
    }
    {
        auto* settings = new ListScreen(QStringLiteral("设置"), {}, TableViewStyleGrouped);
        settings->sections = {{QStringLiteral("播放画质"), QStringLiteral("自动播放"), QStringLiteral("后台听视频")},
                              {QStringLiteral("主题"), QStringLiteral("列表样式")}};
        Shell s = makeShell(settings, 3);
        theme()->refreshNavigationController(s.nav);
        ok &= save(s, dir, device + QStringLiteral("-grouped"));
    }
    ok &= shootSearch(dir, device);
    {
        auto* loading = new LoadingScreen();
        loading->setTitle(QStringLiteral("加载中"));
        Shell s = makeShell(loading);
        theme()->refreshNavigationController(s.nav);
        loading->loading->startAnimating();
        AnimationClock::advance(0.25);
        ok &= save(s, dir, device + QStringLiteral("-loading"));
        loading->loading->stopAnimating();
    }
    {
        // The QR login screen showing a code the fake passport handed out.
        testsupport::FakeService service(KRServiceHosts::allServiceHosts());
        testsupport::AccountFixtures::Passport passport(service);
        Shell s = makeShell(new ListScreen(QStringLiteral("我的"), {}), 3);
        auto* login = new KRQRLoginViewController();
        push(s.nav, login);
        if (!waitFor([&] { return passport.polls() > 0 && !login->qrImageView()->image().isNull(); })) {
            std::printf("FAILED to show a login code\n");
            return false;
        }
        ok &= save(s, dir, device + QStringLiteral("-qrlogin"));
    }
    {
        // An uploader's page with its first page of videos, covers and statistics loaded.
        QStringList hosts = KRServiceHosts::allServiceHosts();
        hosts << testsupport::ImageFixtures::hosts();
        testsupport::FakeService service(hosts);
        testsupport::ServiceFixtures::installReadRoutes(service);
        testsupport::ImageFixtures::serveImages(service);
        service.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/relation/stat"),
                           testsupport::AccountFixtures::ok(QVariantMap{{QStringLiteral("follower"), 123456}}));
        Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
        auto* uploader = new KRUploaderViewController(testsupport::ServiceFixtures::kUploaderMID,
                                                      testsupport::ServiceFixtures::uploaderName(), QString());
        push(s.nav, uploader);
        const auto loaded = [&] {
            if (uploader->videos().isEmpty() || !uploader->stateLabel()->text().contains(QStringLiteral("粉丝")))
                return false;
            return coversShown(uploader->tableView());
        };
        if (!waitFor(loaded)) {
            std::printf("FAILED to show an uploader page\n");
            return false;
        }
        ok &= save(s, dir, device + QStringLiteral("-uploader"));
    }
    return ok;
}

// The application's own shell: the root with its four tabs, the first-run notice over it, the
// read-only notice and a later screen pushed onto a tab, and an alert over the shell.
bool shootShell(const QDir& dir, const QString& device)
{
    testsupport::FakeService service(KRServiceHosts::allServiceHosts() + testsupport::ImageFixtures::hosts());
    testsupport::ServiceFixtures::installReadRoutes(service);
    testsupport::ImageFixtures::serveImages(service);
    bool ok = true;
    Window window;
    auto* root = new KRRootViewController;
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    theme()->applyToTabBarController(root);
    auto* home = qobject_cast<NavigationController*>(root->viewControllers().first());
    auto* feed = qobject_cast<KRVideoListViewController*>(home->viewControllers().first());
    if (!feed || !waitFor([&] { return !feed->videos().isEmpty() && coversShown(feed->tableView()); })) {
        std::printf("FAILED to show the home feed with its covers in the shell\n");
        return false;
    }
    ok &= save(window, dir, device + QStringLiteral("-shell"));

    auto* alert = new AlertView(QStringLiteral("提示"), QStringLiteral("网络不可用，请稍后重试"), QStringLiteral("知道了"), {});
    alert->show();
    ok &= save(window, dir, device + QStringLiteral("-shell-alert"));
    alert->dismissWithClickedButtonIndex(0);

    home->pushViewController(new KRFollowingViewController(QStringLiteral("all")), true);
    ok &= save(window, dir, device + QStringLiteral("-placeholder"));
    home->pushViewController(new KRUsageNoticeViewController(false), true);
    ok &= save(window, dir, device + QStringLiteral("-notice-readonly"));
    home->popToRootViewControllerAnimated(false);

    auto* notice = new NavigationController(new KRUsageNoticeViewController(true));
    if (platform::DeviceProfile::isPad())
        notice->setModalPresentationStyle(ModalPresentationFormSheet);
    root->presentViewController(notice, true);
    ok &= save(window, dir, device + QStringLiteral("-notice"));
    return ok;
}

// The browsing lists against the fake service and its picture CDN: the home feed in one and
// in two columns, a PGC catalogue's poster grid and the discover tab.
bool shootBrowsing(const QDir& dir, const QString& device)
{
    testsupport::FakeService service(KRServiceHosts::allServiceHosts());
    testsupport::ServiceFixtures::installReadRoutes(service);
    testsupport::ImageFixtures::serveImages(service);
    const auto settled = [](KRVideoListViewController* list) {
        return waitFor([list] {
            return list->page() >= 1 && !list->isLoading() && KRImageLoader::sharedLoader()->downloadCountForTesting() == 0;
        });
    };
    bool ok = true;
    {
        auto* home = new KRVideoListViewController(KRVideoListModeHome, 0, QStringLiteral("首页"));
        Shell s = makeShell(home);
        theme()->refreshNavigationController(s.nav);
        if (!settled(home)) {
            std::printf("FAILED to load the home feed\n");
            return false;
        }
        ok &= save(s, dir, device + QStringLiteral("-home"));
        KRPreferences::sharedPreferences().setVideoListLayout(1);
        home->tableView()->layoutIfNeeded();
        settled(home);
        ok &= save(s, dir, device + QStringLiteral("-home-grid"));
        KRPreferences::sharedPreferences().setVideoListLayout(0);

        auto* anime = KRVideoListViewController::createWithPGCSeasonType(1, QStringLiteral("番剧"));
        push(s.nav, anime);
        if (!settled(anime)) {
            std::printf("FAILED to load a PGC catalogue\n");
            return false;
        }
        ok &= save(s, dir, device + QStringLiteral("-pgc"));
    }
    {
        Shell s = makeShell(new KRSectionsViewController(), 1);
        theme()->refreshNavigationController(s.nav);
        ok &= save(s, dir, device + QStringLiteral("-discover"));
    }
    return ok;
}

// The comment picture viewer (page dots, a failed load's retry, the save question) and the
// photo picker over an album of generated pictures (two chosen, then the limit alert).
bool shootPictures(const QDir& dir, const QString& device)
{
    testsupport::FakeService service(testsupport::ImageFixtures::hosts());
    testsupport::ImageFixtures::serveImages(service);
    bool ok = true;
    auto viewer = [&](const QStringList& urls, const QString& name, const std::function<bool(KRCommentImageViewController*)>& ready,
                      const std::function<void(KRCommentImageViewController*)>& then = {}) {
        Shell s = makeShell(new ListScreen(QStringLiteral("动态"), {}), 1);
        theme()->refreshNavigationController(s.nav);
        auto* screen = new KRCommentImageViewController(urls, 1);
        push(s.nav, screen);
        if (!waitFor([&] { return ready(screen); })) {
            std::printf("FAILED to show %s\n", qPrintable(name));
            ok = false;
            return;
        }
        if (then)
            then(screen);
        ok &= save(s, dir, device + name);
        if (AlertView* alert = s.window->visibleAlert())
            alert->tapButtonForTesting(0);
    };
    const auto shows = [](KRCommentImageViewController* screen) {
        auto* image = screen->view()->findChild<ImageView*>(QStringLiteral("imageView"));
        return !image->image().isNull();
    };
    QStringList five;
    for (int i = 0; i < 5; ++i)
        five.append(testsupport::ImageFixtures::sizedPictureAddress(640 - 60 * i, 400 + 40 * i, QStringLiteral("comment%1").arg(i)));
    viewer(five, QStringLiteral("-viewer"), shows);
    viewer({five[0], testsupport::ImageFixtures::missingPictureAddress(QStringLiteral("gone"))}, QStringLiteral("-viewer-retry"),
           [](KRCommentImageViewController* screen) {
               return !screen->view()->findChild<Button*>(QStringLiteral("retryButton"))->isHidden();
           });
    viewer(five, QStringLiteral("-viewer-save"), shows, [](KRCommentImageViewController* screen) {
        auto* press = screen->view()->findChild<LongPressGestureRecognizer*>();
        press->beginPressForTesting(QPointF(20, 20));
        press->endPressForTesting();
    });

    QTemporaryDir album;
    qputenv("KORVANE_PHOTO_LIBRARY", album.path().toUtf8());
    for (int i = 0; i < 14; ++i) {
        QByteArray bitmap = testsupport::ImageFixtures::bitmap(300 + 20 * i, 240, 0x9e3779b9u * quint32(i + 1));
        QImage picture = QImage::fromData(bitmap);
        picture.save(album.filePath(QStringLiteral("photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'))), "JPG");
    }
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("动态"), {}), 1);
        theme()->refreshNavigationController(s.nav);
        auto* picker = new KRPhotoPickerViewController({}, 9);
        auto* sheet = new NavigationController(picker);
        s.nav->presentViewController(sheet, false);
        AnimationClock::finishAll();
        theme()->refreshNavigationController(sheet);
        auto* grid = picker->view()->findChild<View*>(QStringLiteral("scrollView"));
        const auto tile = [grid](int index) { return qobject_cast<Button*>(grid->viewWithTag(KRPhotoPickerViewController::kTileTagBase + index)); };
        const auto thumbnailsShown = [&] {
            for (int i = 0; i < 14; ++i) {
                if (!tile(i) || tile(i)->image(ControlStateNormal).isNull())
                    return false;
            }
            return true;
        };
        if (!waitFor([&] { return picker->isAssetLoadFinished() && thumbnailsShown(); })) {
            std::printf("FAILED to read the gallery's album\n");
            ok = false;
        } else {
            tile(2)->tapForTesting();
            tile(5)->tapForTesting();
            ok &= save(s, dir, device + QStringLiteral("-picker"));
            for (int i : {0, 1, 3, 4, 6, 7, 8})
                tile(i)->tapForTesting();
            tile(9)->tapForTesting();
            ok &= save(s, dir, device + QStringLiteral("-picker-limit"));
            if (AlertView* alert = s.window->visibleAlert())
                alert->tapButtonForTesting(0);
        }
    }
    qunsetenv("KORVANE_PHOTO_LIBRARY");
    return ok;
}

// A reply thread against the fake service: the root with inline emotes over its replies, then
// with the reply bar open, then with the emote panel over it.
bool shootComments(const QDir& dir, const QString& device)
{
    namespace CF = testsupport::CommentFixtures;
    QStringList hosts = KRServiceHosts::allServiceHosts();
    hosts << testsupport::ImageFixtures::hosts();
    testsupport::FakeService service(hosts);
    testsupport::ServiceFixtures::installReadRoutes(service);
    testsupport::ImageFixtures::serveImages(service);
    CF::installCommentRoutes(service);
    testsupport::AccountFixtures::logInWebOnly();
    const auto settled = [] { return KRImageLoader::sharedLoader()->downloadCountForTesting() == 0; };

    auto root = std::make_shared<KRComment>();
    root->setRpid(CF::kThread45Root);
    root->setOid(CF::kThreadOID);
    root->setType(1);
    root->setAuthorName(QStringLiteral("木工小林"));
    root->setAvatarURL(testsupport::ImageFixtures::avatarAddress(QStringLiteral("root")));
    KREmoteMap emotes;
    for (int i = 0; i < 3; ++i)
        emotes.insert(CF::emoteToken(0, i), QVariantMap{{QStringLiteral("text"), CF::emoteToken(0, i)}, {QStringLiteral("url"), CF::emoteURL(0, i)}});
    root->setEmotes(emotes);
    root->setMessage(QStringLiteral("做好的书桌用了一年还很结实%1，下次试试胡桃木%2%2，大家觉得呢%3")
                         .arg(CF::emoteToken(0, 0), CF::emoteToken(0, 1), CF::emoteToken(0, 2)));
    root->setLikeCount(321);
    root->setReplyCount(45);
    root->setCreatedAt(1700000000);

    bool ok = true;
    Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
    auto* thread = new KRReplyThreadViewController(root);
    push(s.nav, thread);
    if (!waitFor([&] { return thread->loadedPage() == 1 && !thread->isLoading() && settled(); })) {
        std::printf("FAILED to load a reply thread\n");
        KRSessionStore::sharedStore().clearSession();
        return false;
    }
    waitFor(settled);
    ok &= save(s, dir, device + QStringLiteral("-thread"));
    thread->tableView()->tapRowForTesting({1, 1});
    thread->replyInputField()->typeForTesting(QStringLiteral("我也想做一张"));
    waitFor([&] { return thread->replyEmotes().size() == 80 && settled(); });
    ok &= save(s, dir, device + QStringLiteral("-thread-composer"));
    thread->replyEmoteButton()->tapForTesting();
    waitFor(settled);
    ok &= save(s, dir, device + QStringLiteral("-thread-emotes"));
    KRSessionStore::sharedStore().clearSession();
    return ok;
}

// The dynamic screen against the fake service: the user's own video dynamic over its comments
// with the comment button docked above the tab bar, then its more sheet.
bool shootDynamicDetail(const QDir& dir, const QString& device)
{
    namespace DD = testsupport::DynamicFixtures;
    QStringList hosts = KRServiceHosts::allServiceHosts();
    hosts << testsupport::ImageFixtures::hosts();
    testsupport::FakeService service(hosts);
    testsupport::ServiceFixtures::installReadRoutes(service);
    testsupport::ImageFixtures::serveImages(service);
    testsupport::CommentFixtures::installCommentRoutes(service);
    DD::installDetailRoute(service);
    DD::installActionRoutes(service, std::make_shared<DD::ActionPlan>());
    testsupport::AccountFixtures::logInWebOnly();
    const auto settled = [] { return KRImageLoader::sharedLoader()->downloadCountForTesting() == 0; };

    bool ok = true;
    Shell s = makeShell(new ListScreen(QStringLiteral("关注"), {}), 1);
    auto* detail = new KRDynamicDetailViewController(DD::kOwnVideoID);
    push(s.nav, detail);
    if (!waitFor([&] { return detail->commentPage() == 1 && !detail->isLoadingComments() && settled(); })) {
        std::printf("FAILED to load a dynamic\n");
        KRSessionStore::sharedStore().clearSession();
        return false;
    }
    waitFor(settled);
    ok &= save(s, dir, device + QStringLiteral("-dynamic"));
    if (auto* cell = qobject_cast<KRDynamicCell*>(detail->tableView()->cellForRowAtIndexPath({0, 0})))
        cell->repostButton()->tapForTesting();
    AnimationClock::finishAll();
    ok &= save(s, dir, device + QStringLiteral("-dynamic-more"));
    if (ActionSheet* sheet = detail->moreSheet())
        sheet->dismissWithClickedButtonIndex(sheet->cancelButtonIndex(), false);
    AnimationClock::finishAll();
    KRSessionStore::sharedStore().clearSession();
    return ok;
}

// The player of the video page: a decoded frame of the test clip under the danmaku and the
// controls, once with the controls up and paused, once playing with them hidden.
bool shootPlayer(const QDir& dir)
{
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    const QSizeF size(375, 211);
    View stage(QRectF(QPointF(), size));
    stage.setBackgroundColor(QColor(Qt::black));
    platform::media::MediaPlayer player;
    auto* surface = new platform::media::PlayerSurface(QRectF(QPointF(), size), &stage);
    surface->setPlayer(&player);
    player.replaceCurrentItem(QUrl::fromLocalFile(QDir(QStringLiteral(KORVANE_TEST_MEDIA_DIR)).filePath(QStringLiteral("clip-360p.mp4"))));
    bool seeked = false;
    player.seek(4.0, 0, 0, &player, [&](bool finished) { seeked = finished; });
    if (!waitFor([&] { return seeked && player.framesSinceLoadOrSeek() > 0; })) {
        std::printf("FAILED to decode a frame of the test clip\n");
        return false;
    }
    auto* danmaku = new KRDanmakuRenderer(&stage);
    danmaku->setGeometry(QRect(QPoint(), size.toSize()));
    KRDanmakuList lines;
    const QStringList texts{QStringLiteral("前方高能"), QStringLiteral("这个画面好清楚"), QStringLiteral("第一次来，打卡"),
                            QStringLiteral("哈哈哈哈哈哈"), QStringLiteral("老设备也很流畅"), QStringLiteral("顶部弹幕"),
                            QStringLiteral("底部弹幕"), QStringLiteral("233333")};
    const quint32 colours[] = {0xffffff, 0xfe0302, 0xffffff, 0xffe133, 0x00cd00, 0x4266be, 0xcc0273, 0xffffff};
    for (int i = 0; i < texts.size(); ++i) {
        auto line = std::make_shared<KRDanmaku>();
        line->setDanmakuID(i + 1);
        line->setTime(2.0 + i * 0.25);
        line->setMode(i == 5 ? 5 : i == 6 ? 4 : 1);
        line->setFontSize(25);
        line->setColorRGB(colours[i]);
        line->setText(texts[i]);
        lines.append(line);
    }
    danmaku->setDanmakus(lines);
    danmaku->reloadVisibleDanmakusForPlaybackTime(4.0, false);
    danmaku->show();
    auto* controls = new KRPlayerControlsView(QRectF(QPointF(), size), &stage);
    controls->setVideoTitle(QStringLiteral("【4K】城市夜景延时摄影"));
    controls->setQualityTitle(QStringLiteral("360P"));
    controls->updateCurrentTime(4.0, player.duration());
    controls->setFullscreen(false, false);
    controls->layoutIfNeeded();
    bool ok = true;
    const auto grab = [&](const QString& name) {
        AnimationClock::finishAll();
        const QString path = dir.filePath(name + QStringLiteral(".png"));
        QImage image(stage.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        stage.render(&image);
        const bool saved = image.save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        ok &= saved;
    };
    grab(QStringLiteral("player-controls"));
    controls->setPlaying(true);
    controls->setControlsVisible(false, false);
    grab(QStringLiteral("player-danmaku"));
    return ok;
}

} // namespace

// The inbox of a signed-in user against the fake service: both feeds, and the alert of a
// message that points nowhere.
// The video page: both tabs, playing with danmaku and the controls, the speed and player More
// sheets, a status line and an unavailable video.
// The fake service the video page's shots read and play from, and the video of three parts
// they open.
struct VideoPageService {
    VideoPageService()
    {
        testsupport::ServiceFixtures::installReadRoutes(service);
        testsupport::ImageFixtures::serveImages(service);
        KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(false);
        video->setAid(testsupport::ServiceFixtures::kDetailAID);
        video->setBvid(testsupport::ServiceFixtures::detailBVID());
        video->setCid(testsupport::ServiceFixtures::kDetailCID);
    }
    testsupport::FakeService service{KRServiceHosts::allServiceHosts() + testsupport::ImageFixtures::hosts()};
    testsupport::PlaybackFixtures playback{service};
    std::shared_ptr<KRVideo> video = std::make_shared<KRVideo>();
};

// The page pushed onto the shell's stack, once its detail, its cover and related videos are
// in; null (and said) when they do not come.
KRVideoDetailViewController* pushLoadedVideoPage(Shell& s, const std::shared_ptr<KRVideo>& video)
{
    auto* page = new KRVideoDetailViewController(video);
    push(s.nav, page);
    auto* play = page->view()->findChild<Button*>(QStringLiteral("playButton"));
    auto* cover = page->view()->findChild<ImageView*>(QStringLiteral("coverView"));
    if (!waitFor([&] { return play->isEnabled() && !page->relatedVideos().isEmpty() && !cover->image().isNull(); })) {
        std::printf("FAILED to load a video page\n");
        return nullptr;
    }
    return page;
}

bool shootVideoPage(const QDir& dir, const QString& device)
{
    bool ok = true;
    VideoPageService served;
    const std::shared_ptr<KRVideo>& video = served.video;
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    KRPreferences::sharedPreferences().setPreferredQuality(64);
    Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
    KRVideoDetailViewController* page = pushLoadedVideoPage(s, video);
    if (!page)
        return false;
    auto* play = page->view()->findChild<Button*>(QStringLiteral("playButton"));
    ok &= save(s, dir, device + QStringLiteral("-video-info"));
    page->setSelectedDetailPage(1, false);
    waitFor([&] { return !page->comments().isEmpty(); });
    ok &= save(s, dir, device + QStringLiteral("-video-comments"));
    page->setSelectedDetailPage(0, false);
    page->showDanmakuStatus(QStringLiteral("播放速度 1.25x"));
    ok &= save(s, dir, device + QStringLiteral("-video-status"));

    play->sendActionsForControlEvents(ControlEventTouchUpInside);
    const auto playingWithDanmaku = [&] {
        KRPlaybackTransport* player = page->moviePlayer();
        return player && player->playbackState() == 1 && player->currentPlaybackTime() > 2.5;
    };
    if (!waitFor(playingWithDanmaku)) {
        std::printf("FAILED to play on the video page\n");
        return false;
    }
    page->playerControls()->setControlsVisible(true, false);
    page->playerControls()->layoutIfNeeded();
    {
        // Grabbed as it is: finishing the animations would run the controls' hide as well.
        const QString path = dir.filePath(device + QStringLiteral("-video-playing.png"));
        const bool saved = s.window->grab().save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        ok &= saved;
    }
    page->speedButtonTapped(nullptr);
    ok &= save(s, dir, device + QStringLiteral("-video-speed-sheet"));
    if (ActionSheet* sheet = page->visibleActionSheet())
        sheet->dismissWithClickedButtonIndex(sheet->cancelButtonIndex(), false);
    page->showPlayerMoreActionSheetFromView(page->playerControls()->moreButton());
    ok &= save(s, dir, device + QStringLiteral("-video-more-sheet"));
    if (ActionSheet* sheet = page->visibleActionSheet())
        sheet->dismissWithClickedButtonIndex(sheet->cancelButtonIndex(), false);
    // A switch whose address is still on its way: its status stays up while the old quality plays.
    served.playback.setQualityFault(80, testsupport::PlaybackFixtures::QualityFault::Held);
    waitFor([&] { return page->qualityValues().contains(80); });
    page->switchToQualityAtIndex(int(page->qualityValues().indexOf(80)));
    auto* status = s.window->findChild<Label*>(QStringLiteral("danmakuStatusLabel"));
    if (waitFor([&] { return served.playback.heldReplyCount() > 0 && status && !status->isHidden(); }))
        ok &= save(s, dir, device + QStringLiteral("-video-switch-status"));
    else {
        std::printf("FAILED to show a switch status (qualities=%d held=%d shown=%d media=%d)\n", int(page->qualityValues().size()),
                    served.playback.heldReplyCount(), status && !status->isHidden() ? 1 : 0, page->moviePlayer() ? 1 : 0);
        ok = false;
    }
    served.playback.releaseHeldReplies();
    s.nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    auto gone = std::make_shared<KRVideo>(*video);
    gone->setUnavailable(true);
    gone->setUnavailableReason(QStringLiteral("该视频已失效"));
    push(s.nav, new KRVideoDetailViewController(gone));
    ok &= save(s, dir, device + QStringLiteral("-video-unavailable"));
    return ok;
}

// The video page's own full screen under the application's root, turned by the shell: landscape
// with the rail (compact on the 320-point phone), its composer over the keyboard, a setting
// sheet over the picture, and a portrait video's portrait full screen.
bool shootVideoFullscreen(const QDir& dir, const QString& device, bool all)
{
    bool ok = true;
    VideoPageService served;
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    preferences.setDetailAutoFullscreenEnabled(false);
    preferences.setPreferredQuality(64);
    Application::shared().becomeActiveForTesting();
    const auto settle = [](const std::function<bool()>& done) {
        return waitFor([&] {
            AnimationClock::finishAll();
            return done();
        });
    };
    const auto open = [&](NavigationController* nav, bool portrait) -> KRVideoDetailViewController* {
        preferences.setPortraitVideoFullscreenEnabled(portrait);
        auto* page = new KRVideoDetailViewController(std::make_shared<KRVideo>(*served.video));
        push(nav, page);
        auto* play = page->view()->findChild<Button*>(QStringLiteral("playButton"));
        if (!waitFor([&] { return play->isEnabled(); }))
            return nullptr;
        play->sendActionsForControlEvents(ControlEventTouchUpInside);
        const bool playing = waitFor([&] {
            KRPlaybackTransport* player = page->moviePlayer();
            return player && player->playbackState() == 1 && player->currentPlaybackTime() > 1.5
                && (!portrait || page->currentVideoIsPortrait());
        });
        if (!playing)
            return nullptr;
        page->playerControls()->setControlsVisible(true, false);
        page->requestLandscapeForCustomFullscreen();
        const bool shown = settle([&] {
            KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
            return fullscreen->isFullscreen() && !fullscreen->isTransitioning() && (portrait || fullscreen->phase() == 3);
        });
        return shown ? page : nullptr;
    };
    Window window;
    auto* root = new KRRootViewController();
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    AnimationClock::finishAll();
    auto* nav = qobject_cast<NavigationController*>(root->viewControllers().value(0));
    KRVideoDetailViewController* page = open(nav, false);
    if (!page) {
        std::printf("FAILED to show the full screen\n");
        return false;
    }
    page->playerControls()->setControlsVisible(true, false);
    page->fullscreen()->syncFullscreenControls(false);
    ok &= save(window, dir, device + QStringLiteral("-video-fullscreen"));
    if (all) {
        page->fullscreenAddDanmakuTapped();
        if (auto* field = window.findChild<TextField*>(QStringLiteral("fullscreenInputField")))
            field->setText(QStringLiteral("前方高能"));
        ok &= save(window, dir, device + QStringLiteral("-video-fullscreen-composer"));
        page->fullscreen()->composer().close();
        page->fullscreen()->showFullscreenDanmakuSettings();
        ok &= save(window, dir, device + QStringLiteral("-video-fullscreen-sheet"));
        if (ActionSheet* sheet = page->fullscreen()->visibleSheet())
            sheet->dismissWithClickedButtonIndex(sheet->cancelButtonIndex(), false);
    }
    page->fullscreenDoneTapped();
    settle([&] { return !page->fullscreen()->isShown(); });
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    if (all) {
        served.playback.setPortraitCID(testsupport::ServiceFixtures::kDetailCID);
        KRVideoDetailViewController* portrait = open(nav, true);
        if (!portrait) {
            std::printf("FAILED to show the portrait full screen\n");
            ok = false;
        } else {
            portrait->playerControls()->setControlsVisible(true, false);
            portrait->fullscreen()->syncFullscreenControls(false);
            ok &= save(window, dir, device + QStringLiteral("-video-portrait-fullscreen"));
            portrait->fullscreenDoneTapped();
            settle([&] { return !portrait->fullscreen()->isShown(); });
        }
        nav->popViewControllerAnimated(false);
        AnimationClock::finishAll();
    }
    preferences.setPortraitVideoFullscreenEnabled(false);
    return ok;
}

// The video page's account layer: the login gate signed out, the page's More and share sheets,
// and signed in the coin sheet and the folder picker opened from "收藏".
bool shootVideoAccount(const QDir& dir, const QString& device)
{
    bool ok = true;
    VideoPageService served;
    testsupport::AccountFixtures::routeRiskCookies(served.service);
    testsupport::InteractionFixtures interactions(served.service);
    interactions.setFolders({{11, QStringLiteral("默认收藏夹"), 12, false, {}},
                             {12, QStringLiteral("骑行路线"), 4, false, {testsupport::ServiceFixtures::kDetailAID}},
                             {13, QStringLiteral("稍后再看的音乐"), 27, true, {}}});
    interactions.setCoinsGiven(testsupport::ServiceFixtures::kDetailAID, 1);
    KRSessionStore::sharedStore().clearSession();
    const std::shared_ptr<KRVideo>& video = served.video;
    const auto sheetTagged = [](KRVideoDetailViewController* page, int tag) {
        return waitFor([&] {
            ActionSheet* sheet = page->visibleActionSheet();
            return sheet && sheet->tag() == tag && sheet->isVisible();
        });
    };
    const auto closeSheet = [](KRVideoDetailViewController* page) {
        if (ActionSheet* sheet = page->visibleActionSheet())
            sheet->dismissWithClickedButtonIndex(sheet->cancelButtonIndex(), false);
        AnimationClock::finishAll();
    };
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
        KRVideoDetailViewController* page = pushLoadedVideoPage(s, video);
        if (!page)
            return false;
        page->interactionButtonTapped(7601);
        ok &= save(s, dir, device + QStringLiteral("-video-login-gate"));
        if (AlertView* alert = s.window->visibleAlert())
            alert->tapButtonForTesting(0);
        AnimationClock::finishAll();
        page->interactionButtonTapped(7604);
        ok &= sheetTagged(page, 7300) && save(s, dir, device + QStringLiteral("-video-account-more-sheet"));
        if (ActionSheet* sheet = page->visibleActionSheet())
            sheet->dismissWithClickedButtonIndex(0, true);
        AnimationClock::finishAll();
        ok &= sheetTagged(page, 7305) && save(s, dir, device + QStringLiteral("-video-share-sheet"));
        closeSheet(page);

        testsupport::AccountFixtures::logInWebOnly();
        if (!waitFor([&] { return page->accountActions()->interactions().stateLoaded; })) {
            std::printf("FAILED to read the account's state of the video\n");
            return false;
        }
        page->interactionButtonTapped(7602);
        ok &= sheetTagged(page, 7304) && save(s, dir, device + QStringLiteral("-video-coin-sheet"));
        closeSheet(page);
        page->interactionButtonTapped(7603);
        AnimationClock::finishAll();
        auto* picker = qobject_cast<KRFavoriteFolderPickerViewController*>(s.nav->topViewController());
        if (!picker || !waitFor([&] { return picker->folders().size() == 3 && !picker->isLoading(); })) {
            std::printf("FAILED to open the folder picker from the page\n");
            ok = false;
        } else {
            theme()->refreshNavigationController(s.nav);
            ok &= save(s, dir, device + QStringLiteral("-video-folder-picker"));
        }
    }
    KRSessionStore::sharedStore().clearSession();
    return ok;
}

// The comments tab of a signed-in user writing a comment: the composer bar above the keyboard
// with an emote typed in, and the emote panel open over the comments.
bool shootVideoCommentEditing(const QDir& dir, const QString& device)
{
    VideoPageService served;
    testsupport::CommentFixtures::installPostAndEmoteRoutes(served.service,
                                                            std::make_shared<testsupport::CommentFixtures::PostedComments>());
    testsupport::AccountFixtures::logInWebOnly();
    Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
    auto* page = new KRVideoDetailViewController(served.video);
    push(s.nav, page);
    page->setSelectedDetailPage(1, false);
    if (!waitFor([&] { return !page->comments().isEmpty(); })) {
        std::printf("FAILED to load the comments of a video page\n");
        KRSessionStore::sharedStore().clearSession();
        return false;
    }
    page->commentComposerTapped();
    page->commentEmoteTapped();
    auto* panel = page->view()->findChild<ScrollView*>(QStringLiteral("commentEmoteScrollView"));
    const auto emotesShown = [&] {
        if (page->commentComposer()->emotes().isEmpty() || !panel)
            return false;
        for (Button* emote : panel->findChildren<Button*>())
            if (emote->image(ControlStateNormal).isNull())
                return false;
        return true;
    };
    bool ok = waitFor(emotesShown);
    if (!ok)
        std::printf("FAILED to show the emotes of the comment composer\n");
    page->commentComposer()->inputField()->setText(testsupport::CommentFixtures::emoteToken(0, 2) + QStringLiteral("这个镜头太美了"));
    page->updateCommentPictureButton();
    ok &= save(s, dir, device + QStringLiteral("-video-comment-editing"));
    page->cancelCommentComposer();
    s.nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    KRSessionStore::sharedStore().clearSession();
    return ok;
}

// Caching from the video page: the part picker with two parts ticked, then the quality picker
// for them.
bool shootOfflinePickers(const QDir& dir, const QString& device)
{
    bool ok = true;
    VideoPageService served;
    Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
    auto* page = new KRVideoDetailViewController(served.video);
    push(s.nav, page);
    if (!waitFor([&] { return page->video()->pages().size() == 3; })) {
        std::printf("FAILED to load the video page's parts\n");
        return false;
    }
    page->fullscreenCacheTapped();
    KRVideoOfflinePagePicker* parts = page->offlineCaching()->pagePicker();
    if (!parts) {
        std::printf("FAILED to open the part picker\n");
        return false;
    }
    parts->tableView()->tapRowForTesting(IndexPath{0, 0});
    parts->tableView()->tapRowForTesting(IndexPath{0, 2});
    ok &= save(s, dir, device + QStringLiteral("-video-offline-parts"));
    parts->nextButton()->sendActionsForControlEvents(ControlEventTouchUpInside);
    if (!waitFor([&] { return page->offlineCaching()->qualityPicker() != nullptr; })) {
        std::printf("FAILED to open the quality picker\n");
        return false;
    }
    ok &= save(s, dir, device + QStringLiteral("-video-offline-quality"));
    page->dismissOfflineQualityPicker();
    s.nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    return ok;
}

bool shootInbox(const QDir& dir, const QString& device)
{
    QStringList hosts = KRServiceHosts::allServiceHosts();
    hosts << testsupport::ImageFixtures::hosts();
    testsupport::FakeService service(hosts);
    testsupport::ImageFixtures::serveImages(service);
    testsupport::AccountFixtures::routeRiskCookies(service);
    const auto record = [](qint64 id, const QString& name, const QString& text, const QVariantMap& item) {
        QVariantMap withText = item;
        withText.insert(QStringLiteral("source_content"), text);
        return QVariantMap{{QStringLiteral("id"), id},
                           {QStringLiteral("user"), QVariantMap{{QStringLiteral("mid"), 100 + id},
                                                                {QStringLiteral("nickname"), name},
                                                                {QStringLiteral("avatar"), testsupport::ImageFixtures::avatarAddress(name)}}},
                           {QStringLiteral("item"), withText}};
    };
    const QVariantMap video{{QStringLiteral("business_id"), 1}, {QStringLiteral("subject_id"), 170001},
                            {QStringLiteral("title"), QStringLiteral("周末的城市骑行")}};
    const QVariantList replies{record(1, QStringLiteral("晴川"), QStringLiteral("这段剪辑节奏太舒服了，期待下一期"), video),
                               record(2, QStringLiteral("松间"), QStringLiteral("同问 BGM 是哪首？"), video),
                               record(3, QStringLiteral("拾光"), QStringLiteral("路线能分享一下吗"), {})};
    const QVariantList mentions{record(4, QStringLiteral("南枝"), QStringLiteral("@你 快来看这个"), video)};
    const auto page = [](const QVariantList& items) {
        return testsupport::AccountFixtures::ok(QVariantMap{
            {QStringLiteral("items"), items},
            {QStringLiteral("cursor"), QVariantMap{{QStringLiteral("is_end"), true}, {QStringLiteral("id"), 0}}}});
    };
    service.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/msgfeed/reply"), page(replies));
    service.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/msgfeed/at"), page(mentions));
    testsupport::AccountFixtures::logInWebOnly();

    bool ok = true;
    Shell s = makeShell(new ListScreen(QStringLiteral("首页"), {}));
    auto* inbox = new KRMessageViewController(TableViewStylePlain);
    push(s.nav, inbox);
    const auto avatarsShown = [&](int count) {
        if (inbox->messages().size() != count)
            return false;
        inbox->tableView()->layoutIfNeeded();
        const QList<TableViewCell*> cells = inbox->tableView()->visibleCells();
        return std::all_of(cells.begin(), cells.end(), [](TableViewCell* cell) {
            auto* row = qobject_cast<KRMessageCell*>(cell);
            return row && !row->messageAvatarView()->image().isSameAs(Image::named(QStringLiteral("Tarnwick23/tv42")));
        });
    };
    if (!waitFor([&] { return avatarsShown(3); })) {
        std::printf("FAILED to show the inbox\n");
        return false;
    }
    ok &= save(s, dir, device + QStringLiteral("-inbox-replies"));
    inbox->segment()->tapSegmentForTesting(1);
    if (!waitFor([&] { return avatarsShown(1); })) {
        std::printf("FAILED to show the mentions\n");
        return false;
    }
    ok &= save(s, dir, device + QStringLiteral("-inbox-mentions"));
    inbox->segment()->tapSegmentForTesting(0);
    if (!waitFor([&] { return avatarsShown(3); }))
        return false;
    inbox->tableView()->tapRowForTesting(IndexPath{0, 2});
    ok &= save(s, dir, device + QStringLiteral("-inbox-nowhere"));
    if (AlertView* alert = s.window->visibleAlert())
        alert->tapButtonForTesting(0);
    // Signed out elsewhere while the inbox stays on the stack: its rows go at once.
    KRSessionStore::sharedStore().clearSession();
    ok &= save(s, dir, device + QStringLiteral("-inbox-signed-out"));
    return ok;
}

// The following feed against the fake service: logged out, both segments with rows of
// pictures, a video and a repost, and an empty feed.
bool shootFollowing(const QDir& dir, const QString& device)
{
    QStringList hosts = KRServiceHosts::allServiceHosts();
    hosts << testsupport::ImageFixtures::hosts();
    testsupport::FakeService service(hosts);
    testsupport::ImageFixtures::serveImages(service);
    testsupport::AccountFixtures::routeRiskCookies(service);
    const auto plan = testsupport::DynamicFixtures::demoFeed();
    testsupport::DynamicFixtures::installFeedRoute(service, plan);

    bool ok = true;
    KRSessionStore::sharedStore().clearSession();
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("发现"), {}), 1);
        push(s.nav, new KRFollowingViewController(QStringLiteral("all")));
        ok &= save(s, dir, device + QStringLiteral("-following-loggedout"));
    }
    testsupport::AccountFixtures::logInWebOnly();
    const auto picturesShown = [](KRFollowingViewController* feed, int count) {
        if (feed->isLoading() || feed->dynamics().size() < count)
            return false;
        feed->tableView()->layoutIfNeeded();
        const QList<TableViewCell*> cells = feed->tableView()->visibleCells();
        return !cells.isEmpty() && std::all_of(cells.begin(), cells.end(), [](TableViewCell* cell) {
            auto* row = qobject_cast<KRDynamicCell*>(cell);
            if (!row || row->avatarView()->image().isNull())
                return false;
            if (!row->videoControl()->isHidden() && row->coverView()->image().isNull())
                return false;
            return std::all_of(row->pictureViews().begin(), row->pictureViews().end(),
                               [](ImageView* picture) { return picture->isHidden() || !picture->image().isNull(); });
        });
    };
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("发现"), {}), 1);
        auto* feed = new KRFollowingViewController(QStringLiteral("all"));
        push(s.nav, feed);
        if (!waitFor([&] { return picturesShown(feed, 5); })) {
            std::printf("FAILED to show the following feed\n");
            return false;
        }
        ok &= save(s, dir, device + QStringLiteral("-following-all"));
        TableView* table = feed->tableView();
        table->setContentOffset(QPointF(0, std::min(table->contentSize().height() - table->bounds().height(),
                                                     table->rectForRowAtIndexPath(IndexPath{0, 2}).top())));
        waitFor([&] { return !feed->isLoading() && picturesShown(feed, int(feed->dynamics().size())); });
        ok &= save(s, dir, device + QStringLiteral("-following-repost"));
        feed->segment()->tapSegmentForTesting(1);
        if (!waitFor([&] { return picturesShown(feed, 2); })) {
            std::printf("FAILED to show the video feed\n");
            return false;
        }
        ok &= save(s, dir, device + QStringLiteral("-following-video"));
    }
    plan->set(QStringLiteral("all"), {}, testsupport::DynamicFixtures::FeedPage{});
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("发现"), {}), 1);
        auto* feed = new KRFollowingViewController(QStringLiteral("all"));
        push(s.nav, feed);
        waitFor([&] { return !feed->isLoading(); });
        ok &= save(s, dir, device + QStringLiteral("-following-empty"));
    }
    KRSessionStore::sharedStore().clearSession();
    return ok;
}

// The offline player turned to its own landscape full screen under the application's root.
bool shootOfflineFullscreen(const QDir& dir, const QString& device, const std::shared_ptr<KRVideo>& video)
{
    Window window;
    auto* root = new KRRootViewController();
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    AnimationClock::finishAll();
    root->setSelectedIndex(3);
    auto* nav = qobject_cast<NavigationController*>(root->viewControllers().value(3));
    auto* list = new KRAccountVideoListViewController();
    push(nav, list);
    Application::shared().becomeActiveForTesting();
    if (!list->playVideo(video) || !waitFor([&] {
            AnimationClock::advance(0.05);
            return list->transport() && list->transport()->currentPlaybackTime() > 1.2;
        })) {
        std::printf("FAILED to play the offline download under the root\n");
        return false;
    }
    list->playerControlsDidRequestFullscreen(list->controlsView());
    const bool shown = waitFor([&] {
        AnimationClock::finishAll();
        return list->fullscreen()->isFullscreen() && list->fullscreen()->phase() == 3;
    });
    bool ok = shown;
    if (shown) {
        // The root's own tabs may have complained of their feeds meanwhile: not this shot's subject.
        for (int i = 0; i < 4 && window.visibleAlert(); ++i) {
            window.visibleAlert()->tapButtonForTesting(window.visibleAlert()->cancelButtonIndex());
            AnimationClock::finishAll();
        }
        list->controlsView()->setControlsVisible(true, false);
        ok &= save(window, dir, device + QStringLiteral("-offline-fullscreen"));
    } else {
        std::printf("FAILED to show the offline player in full screen\n");
    }
    list->stopPlayback();
    AnimationClock::finishAll();
    return ok;
}

// The profile tab signed out and in, the offline list with a running download above a complete
// one playing inline with its danmaku, and the favourite folder picker with its create alert.
bool shootLibrary(const QDir& dir, const QString& device)
{
    namespace media = testsupport::MediaFixtures;
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    QStringList hosts = KRServiceHosts::allServiceHosts();
    hosts << testsupport::ImageFixtures::hosts() << media::hosts();
    hosts.removeDuplicates();
    testsupport::FakeService service(hosts);
    testsupport::ImageFixtures::serveImages(service);
    testsupport::AccountFixtures::routeRiskCookies(service);
    testsupport::InteractionFixtures interactions(service);
    interactions.setFolders({{11, QStringLiteral("默认收藏夹"), 12, false, {170001}},
                             {12, QStringLiteral("骑行路线"), 4, false, {}},
                             {13, QStringLiteral("稍后再看的音乐"), 27, true, {170001}},
                             {14, QStringLiteral("做饭"), 0, false, {}}});
    KRSessionStore::sharedStore().clearSession();
    bool ok = true;
    {
        Shell s = makeShell(new KRProfileViewController(), 3);
        ok &= save(s, dir, device + QStringLiteral("-profile-signed-out"));
        testsupport::AccountFixtures::logInWebOnly();
        KRSessionStore::sharedStore().updateAccountProfile(
            QVariantMap{{QStringLiteral("uname"), QStringLiteral("演示账号")}, {QStringLiteral("mid"), 4242}});
        ok &= save(s, dir, device + QStringLiteral("-profile-signed-in"));
    }
    {
        Shell s = makeShell(new ListScreen(QStringLiteral("视频"), {}));
        auto* picker = new KRFavoriteFolderPickerViewController(170001, QStringLiteral("周末的城市骑行"), {});
        push(s.nav, picker);
        if (!waitFor([&] { return picker->folders().size() == 4 && !picker->isLoading(); })) {
            std::printf("FAILED to load the folders\n");
            ok = false;
        } else {
            picker->tableView()->tapRowForTesting(IndexPath{0, 1});
            ok &= save(s, dir, device + QStringLiteral("-folder-picker"));
            picker->tableView()->tapRowForTesting(IndexPath{1, 0});
            if (AlertView* alert = s.window->visibleAlert()) {
                alert->textFieldAtIndex(0)->typeForTesting(QStringLiteral("旅行"));
                ok &= save(s, dir, device + QStringLiteral("-folder-picker-create"));
                alert->tapButtonForTesting(0);
            }
        }
    }
    {
        // A complete DASH download of the generated clip, with a few danmaku saved beside it.
        const QString offline = platform::Directories::documents() + QStringLiteral("/KorvaneOffline");
        QDir().mkpath(offline + QStringLiteral("/Danmaku"));
        const QString base = QStringLiteral("gallery-1700000000");
        QFile::remove(offline + QLatin1Char('/') + base + QStringLiteral(".video.m4v"));
        QFile::remove(offline + QLatin1Char('/') + base + QStringLiteral(".audio.m4a"));
        QFile::copy(media::testMediaPath(QStringLiteral("video-720p.m4s")), offline + QLatin1Char('/') + base + QStringLiteral(".video.m4v"));
        QFile::copy(media::testMediaPath(QStringLiteral("audio-720p.m4s")), offline + QLatin1Char('/') + base + QStringLiteral(".audio.m4a"));
        const QVariantMap record{{QStringLiteral("key"), QStringLiteral("bv:BV17x411w7KC|cid:300")},
                                 {QStringLiteral("bvid"), QStringLiteral("BV17x411w7KC")},
                                 {QStringLiteral("aid"), 170001},
                                 {QStringLiteral("cid"), 300},
                                 {QStringLiteral("title"), QStringLiteral("周末的城市骑行")},
                                 {QStringLiteral("duration_text"), QStringLiteral("00:12")},
                                 {QStringLiteral("quality_title"), QStringLiteral("720P")},
                                 {QStringLiteral("quality_value"), 64},
                                 {QStringLiteral("media_kind"), QStringLiteral("dash")},
                                 {QStringLiteral("dash_video_file_name"), base + QStringLiteral(".video.m4v")},
                                 {QStringLiteral("dash_audio_file_name"), base + QStringLiteral(".audio.m4a")},
                                 {QStringLiteral("download_state"), QStringLiteral("complete")},
                                 {QStringLiteral("danmaku_state"), QStringLiteral("cached")}};
        platform::writeFileAtomically(offline + QStringLiteral("/index.plist"), platform::PropertyList::toXML(QVariantList{record}));
        QByteArray danmaku = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i>";
        const char* lines[] = {"好美的路线", "这段好治愈", "同款自行车", "前方高能", "BGM 求名字", "周末就去"};
        for (int i = 0; i < 6; ++i)
            danmaku += "<d p=\"" + QByteArray::number(0.1 + 0.15 * i) + ",1,25,16777215,1700000000,0,abc," + QByteArray::number(1000 + i)
                + "\">" + QByteArray(lines[i]) + "</d>";
        danmaku += "</i>";
        QFile file(offline + QStringLiteral("/Danmaku/300.xml"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(danmaku);
        file.close();
        KROfflineCacheManager::resetForTesting();

        // A running download held back by its server.
        media::Serving held;
        held.gate = std::make_shared<testsupport::BodyGate>();
        const QString running = media::writeGeneratedFile(QDir::tempPath() + QStringLiteral("/korvane-gallery-running.mp4"), 256 * 1024);
        media::serveFile(service, media::primaryHost(), QStringLiteral("/running.mp4"), running, held);
        auto video = std::make_shared<KRVideo>();
        video->setBvid(QStringLiteral("BV1Q541167Qg"));
        video->setAid(170002);
        video->setCid(400);
        video->setTitle(QStringLiteral("一锅好汤的做法"));
        QObject owner;
        KROfflineCacheManager::sharedManager()->cacheVideo(
            video, QStringList{QStringLiteral("https://%1/running.mp4").arg(media::primaryHost())}, QStringLiteral("720P"), QImage(),
            &owner, {}, {});

        Shell s = makeShell(new KRProfileViewController(), 3);
        auto* list = new KRAccountVideoListViewController();
        push(s.nav, list);
        if (!waitFor([&] { return list->videos().size() == 2; })) {
            std::printf("FAILED to list the offline downloads\n");
            ok = false;
        } else {
            ok &= save(s, dir, device + QStringLiteral("-offline-list"));
            list->playVideo(list->videos().value(1));
            const bool shown = waitFor([&] {
                AnimationClock::advance(0.05);
                return list->transport() && list->transport()->currentPlaybackTime() > 1.2 && list->danmakuRenderer()
                    && list->danmakuRenderer()->activeCount() > 0;
            });
            if (!shown) {
                std::printf("FAILED to play the offline download\n");
                ok = false;
            } else {
                ok &= save(s, dir, device + QStringLiteral("-offline-player"));
            }
            list->stopPlayback();
            if (device == QStringLiteral("16.7-style0"))
                ok &= shootOfflineFullscreen(dir, device, list->videos().value(1));
        }
        KROfflineCacheManager::sharedManager()->cancelCurrentDownload();
        held.gate->openTo(256 * 1024);
    }
    KROfflineCacheManager::resetForTesting();
    KRSessionStore::sharedStore().clearSession();
    return ok;
}

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : qEnvironmentVariable("KORVANE_SCREENSHOTS_DIR");
    if (out.isEmpty())
        out = QStringLiteral("screenshots");
    QDir dir(out);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(out));
        return 1;
    }
    AnimationClock::setManual(true);
    bool ok = true;
    const struct {
        const char* machine;
        const char* version;
        int style;
        const char* name;
    } devices[] = {
        {"iPhone10,1", "16.7", 0, "16.7-style0"}, {"iPhone10,1", "16.7", 1, "16.7-style1"},
        {"iPhone10,1", "16.7", 2, "16.7-style2"}, {"iPhone4,1", "6.1", 2, "6.1-style2"},
        {"iPad8,1", "16.7", 2, "iPad8,1-style2"},
    };
    for (const auto& d : devices) {
        platform::DeviceProfile::setMachineForTesting(QString::fromLatin1(d.machine));
        platform::DeviceProfile::setSystemVersionForTesting(QString::fromLatin1(d.version));
        Application::shared().resetForTesting();
        theme()->setStyle(d.style);
        ok &= shoot(dir, QString::fromLatin1(d.name));
        ok &= shootShell(dir, QString::fromLatin1(d.name));
        ok &= shootBrowsing(dir, QString::fromLatin1(d.name));
        ok &= shootInbox(dir, QString::fromLatin1(d.name));
        ok &= shootFollowing(dir, QString::fromLatin1(d.name));
        ok &= shootPictures(dir, QString::fromLatin1(d.name));
        ok &= shootComments(dir, QString::fromLatin1(d.name));
        ok &= shootDynamicDetail(dir, QString::fromLatin1(d.name));
        ok &= shootLibrary(dir, QString::fromLatin1(d.name));
        ok &= shootVideoPage(dir, QString::fromLatin1(d.name));
        // Landscape with everything on the first style; compact landscape on the small phone.
        const bool first = std::strcmp(d.name, "16.7-style0") == 0;
        if (first || std::strcmp(d.machine, "iPhone4,1") == 0)
            ok &= shootVideoFullscreen(dir, QString::fromLatin1(d.name), first);
        ok &= shootVideoCommentEditing(dir, QString::fromLatin1(d.name));
        ok &= shootOfflinePickers(dir, QString::fromLatin1(d.name));
        ok &= shootVideoAccount(dir, QString::fromLatin1(d.name));
    }
    platform::DeviceProfile::resetForTesting();
    ok &= shootPlayer(dir);
    KRShutDownServices();
    std::printf("%s\n", ok ? "1 passed, 0 failed" : "0 passed, 1 failed");
    return ok ? 0 : 1;
}
