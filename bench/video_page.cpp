// The video page's costs beside bare baselines in the same run:
// - opening the page (construct, load, lay out and render 375×603 with 20 related rows and a
//   page of comments from memory) vs. the widgets the page shows placed by hand on a plain
//   screen in the same kinds of views (its two pages in a paging scroll view, so each table
//   makes only the rows shown), pushed, rendered and popped in the same window;
// - one tick of the controls timer vs. the transport reads and the controls update it makes.
// Aim: within 1.5× each; printed at the end beside the aim.
//
// Between rounds the posted events are delivered, untimed, as the application's event loop
// would: piled up, they make every widget deletion scan a longer queue and inflate both sides.

#include "BenchSupport.h"
#include "BenchWidgets.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideo.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaSeams.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "service/KRServiceShutdown.h"
#include "support/FakeService.h"
#include "support/MediaFixtures.h"
#include "support/ServiceFixtures.h"
#include "video/KRVideoDetailViewController.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <functional>

#include <benchmark/benchmark.h>

using namespace platform::uikit;

namespace {

constexpr int kRows = 20;
double g_openingRatio = 0;
double g_tickRatio = 0;

QList<std::shared_ptr<KRVideo>> relatedVideos()
{
    QList<std::shared_ptr<KRVideo>> videos;
    for (int i = 0; i < kRows; ++i) {
        auto video = std::make_shared<KRVideo>();
        video->setAid(700000 + i);
        video->setBvid(QStringLiteral("BV1bench%1").arg(i));
        video->setTitle(QStringLiteral("相关视频 %1：一段不短的标题，好让它换行").arg(i));
        video->setOwnerName(QStringLiteral("UP 主 %1").arg(i));
        videos << video;
    }
    return videos;
}

std::shared_ptr<KRCommentPage> commentPage()
{
    KRCommentList comments;
    for (int i = 0; i < kRows; ++i) {
        auto comment = std::make_shared<KRComment>();
        comment->setRpid(9100000 + i);
        comment->setAuthorName(QStringLiteral("评论者 %1").arg(i));
        comment->setMessage(QStringLiteral("第 %1 条评论，说了些什么，长到两行也无妨。").arg(i));
        comments << comment;
    }
    auto page = std::make_shared<KRCommentPage>();
    page->setComments(comments);
    page->setTotalCount(kRows);
    return page;
}

std::shared_ptr<KRVideo> benchVideo()
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(testsupport::ServiceFixtures::kDetailAID);
    video->setBvid(testsupport::ServiceFixtures::detailBVID());
    video->setCid(testsupport::ServiceFixtures::kDetailCID);
    video->setTitle(QStringLiteral("在家做的猫爬架"));
    video->setSummary(QStringLiteral("一段简介。"));
    return video;
}

// The baseline: what the page shows, by hand.

// The page's ground: a small tile repeated, as a by-hand screen would give its background.
QBrush handGround()
{
    static const QImage tile = [] {
        QImage picture(QSize(8, 8), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&picture);
        painter.fillRect(QRectF(0, 0, 8, 8), QColor(243, 244, 247));
        painter.fillRect(QRectF(0, 7, 8, 1), QColor(236, 237, 240));
        painter.fillRect(QRectF(2, 2, 1, 1), QColor(255, 255, 255, 140));
        painter.fillRect(QRectF(6, 5, 1, 1), QColor(255, 255, 255, 140));
        return picture;
    }();
    return QBrush(tile);
}

class PlainRows : public TableViewDataSource {
public:
    int numberOfRowsInSection(TableView*, int) override { return kRows; }
    TableViewCell* cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath) override
    {
        TableViewCell* cell = table->dequeueReusableCellWithIdentifier(QStringLiteral("plain"));
        if (!cell) {
            cell = new TableViewCell(TableViewCellStyleSubtitle, QStringLiteral("plain"));
            cell->setBackgroundColor(handGround());
        }
        cell->textLabel()->setText(QStringLiteral("行 %1：一段不短的标题，好让它换行").arg(indexPath.row));
        cell->detailTextLabel()->setText(QStringLiteral("说明 %1").arg(indexPath.row));
        return cell;
    }
};

// The skin a by-hand screen would give its raised buttons: one stretchable picture, made once.
const Image& handSkin()
{
    static const Image skin = [] {
        QImage picture(QSize(21, 31), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient fill(0, 0, 0, 31);
        fill.setColorAt(0, QColor(250, 250, 250));
        fill.setColorAt(1, QColor(214, 214, 214));
        painter.setBrush(fill);
        painter.setPen(QColor(160, 160, 160));
        painter.drawRoundedRect(QRectF(0.5, 0.5, 20, 30), 6, 6);
        painter.end();
        return Image(picture).stretchable(10, 15);
    }();
    return skin;
}

Button* handButton(View* parent, const QRectF& frame, const QString& title, bool skinned)
{
    auto* button = new Button(ButtonTypeCustom, frame, parent);
    if (!title.isEmpty())
        button->setTitle(title, ControlStateNormal);
    if (skinned)
        button->setBackgroundImage(handSkin(), ControlStateNormal);
    return button;
}

// A card as the page draws its cards: rounded, bordered, with a faint shadow.
View* handCard(View* parent, const QRectF& frame)
{
    auto* card = new View(frame, parent);
    card->setBackgroundColor(QColor(Qt::white));
    card->setCornerRadius(7);
    card->setBorderWidth(1);
    card->setBorderColor(QColor(220, 220, 220));
    card->setShadowColor(Qt::black);
    card->setShadowOffset(QSizeF(0, 1));
    card->setShadowRadius(0.8);
    card->setShadowOpacity(0.16);
    return card;
}

// The widgets the page shows at opening, placed by hand into `root` in the same kinds of
// views and showing what the page's show (titles, icons, the cards' corners, borders and
// shadows, the raised buttons' skin, the patterned ground): the player, the tab row, and the two pages side by side
// in a paging scroll view, the information page scrolling on its own. Tables inside scroll
// views make only the rows those show (the related rows start below the fold, the comments
// are off to the right), as the page's own do.
void buildByHand(View* root, PlainRows& rows)
{
    root->setBackgroundColor(handGround());
    auto* player = new View(QRectF(0, 0, 375, 210), root);
    player->setBackgroundColor(QColor(Qt::black));
    new ImageView(QRectF(0, 0, 375, 210), player);
    handButton(player, QRectF(159, 77, 56, 56), {}, false)->setImage(Image::named(QStringLiteral("Davirivu961/play_tv")), ControlStateNormal);
    auto* status = new Label(QRectF(10, 180, 355, 20), player);
    status->setText(QStringLiteral("状态"));
    auto* tabs = new View(QRectF(8, 213, 359, 32), root);
    new SegmentedControl({QStringLiteral("简介"), QStringLiteral("评论")}, tabs);
    handButton(tabs, QRectF(237, 0, 78, 32), QStringLiteral("发弹幕"), true);
    handButton(tabs, QRectF(317, 0, 42, 32), {}, true)->setImage(Image::named(QStringLiteral("Davirivu961/danmaku_settings")), ControlStateNormal);
    auto* pager = new ScrollView(QRectF(0, 247, 375, 356), root);
    pager->setContentSize(QSizeF(750, 356));
    auto* info = new ScrollView(QRectF(0, 0, 375, 356), pager);
    info->setContentSize(QSizeF(375, 340 + kRows * 86));
    auto label = [](View* parent, const QRectF& frame, const QString& text) {
        auto* made = new Label(frame, parent);
        made->setText(text);
        return made;
    };
    label(info, QRectF(10, 8, 355, 44), QStringLiteral("标题：一段不短的标题，好让它换行"));
    View* owner = handCard(info, QRectF(10, 58, 355, 46));
    auto* avatar = new ImageView(QRectF(6, 6, 34, 34), owner);
    avatar->setImage(Image::named(QStringLiteral("Tarnwick23/tv42")));
    avatar->setCornerRadius(17);
    handButton(owner, QRectF(46, 6, 220, 34), QStringLiteral("UP 主的名字"), false);
    handButton(owner, QRectF(280, 9, 66, 28), QStringLiteral("+关注"), true);
    label(info, QRectF(10, 110, 355, 16), QStringLiteral("播放 · 弹幕 · 日期"));
    label(info, QRectF(10, 128, 355, 14), QStringLiteral("BV1bench"));
    View* interactions = handCard(info, QRectF(10, 146, 355, 50));
    const QStringList titles{QStringLiteral("一键三连"), QStringLiteral("点赞"), QStringLiteral("投币"), QStringLiteral("收藏"), QStringLiteral("更多")};
    const QStringList icons{QStringLiteral("triple"), QStringLiteral("like"), QStringLiteral("coin"), QStringLiteral("favorite"), QStringLiteral("share")};
    for (int i = 0; i < 5; ++i)
        handButton(interactions, QRectF(i * 71, 0, 71, 50), titles.at(i), false)
            ->setImage(Image::named(QStringLiteral("Davirivu961/") + icons.at(i)), ControlStateNormal);
    auto* strip = new ScrollView(QRectF(10, 200, 355, 60), info);
    label(strip, QRectF(0, 0, 355, 20), QStringLiteral("P1 第一部分"));
    for (int i = 0; i < 3; ++i)
        handButton(strip, QRectF(i * 110, 24, 104, 32), QStringLiteral("P%1 一部分").arg(i + 1), true);
    View* summary = handCard(info, QRectF(10, 264, 355, 50));
    handButton(summary, QRectF(0, 0, 355, 24), QStringLiteral("简介"), false);
    label(summary, QRectF(320, 4, 30, 16), QStringLiteral("展开"));
    label(summary, QRectF(10, 26, 335, 20), QStringLiteral("一段简介。"));
    label(info, QRectF(10, 318, 355, 18), QStringLiteral("相关视频"));
    auto* related = new TableView(QRectF(0, 340, 375, kRows * 86), TableViewStylePlain, info);
    related->setBackgroundColor(handGround());
    related->setDataSource(&rows);
    related->reloadData();
    auto* commentsPage = new View(QRectF(375, 0, 375, 356), pager);
    auto* comments = new TableView(QRectF(0, 0, 375, 314), TableViewStylePlain, commentsPage);
    comments->setBackgroundColor(handGround());
    comments->setDataSource(&rows);
    comments->reloadData();
    handButton(commentsPage, QRectF(0, 314, 375, 42), QStringLiteral("说点什么…"), false);
}

// The baseline's screen: the widgets by hand in a plain screen with the page's title in the
// bar, pushed and popped in the same window as the page is, so that both sides pay for
// showing their widgets on screen and for the navigation alike.
class HandBuiltScreen : public ViewController {
public:
    explicit HandBuiltScreen(PlainRows& rows) : m_rows(rows) {}

protected:
    void viewDidLoad() override
    {
        // The page's title in the bar, as a label of its own.
        auto* title = new Label(QRectF(0, 0, 170, 34));
        title->setTextAlignment(TextAlignmentCenter);
        title->setFont(Label::systemFont(18, true));
        title->setText(QStringLiteral("视频"));
        navigationItem()->setTitleView(title);
        buildByHand(view(), m_rows);
    }

private:
    PlainRows& m_rows;
};

// One opening: pushed without animation (which completes at once), laid out, rendered,
// popped and deleted. The page's detail spinner runs on while it loads, so the animation clock
// is not run to an end that never comes.
void openAndClose(NavigationController* nav, ViewController* screen, const std::function<void()>& filled = {})
{
    nav->pushViewController(screen, false);
    if (filled)
        filled();
    screen->view()->layoutIfNeeded();
    benchsupport::renderOffscreen(screen->view());
    nav->popViewControllerAnimated(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_OpeningThePageVersusWidgetsByHand(benchmark::State& state)
{
    testsupport::FakeService service(KRServiceHosts::allServiceHosts());
    testsupport::ServiceFixtures::installReadRoutes(service);
    Window window;
    auto* nav = new NavigationController(new ViewController());
    window.setRootViewController(nav);
    window.makeKeyAndVisible();
    const auto related = relatedVideos();
    const auto comments = commentPage();
    PlainRows rows;
    std::vector<double> ratios, bares, pages;
    for (auto _ : state) {
        const double bare = benchsupport::microsecondsPerDrainedCall([&] { openAndClose(nav, new HandBuiltScreen(rows)); }, 5);
        const double page = benchsupport::microsecondsPerDrainedCall(
            [&] {
                auto* screen = new KRVideoDetailViewController(benchVideo());
                openAndClose(nav, screen, [&] { screen->showContentForTesting(related, comments); });
            },
            5);
        ratios.push_back(page / bare);
        bares.push_back(bare / 1000);
        pages.push_back(page / 1000);
    }
    g_openingRatio = benchsupport::median(ratios);
    state.counters["ratio"] = g_openingRatio;
    state.counters["bare_ms"] = benchsupport::median(bares);
    state.counters["page_ms"] = benchsupport::median(pages);
}
BENCHMARK(BM_OpeningThePageVersusWidgetsByHand)->Unit(benchmark::kMillisecond)->Iterations(7);

void BM_ControlsTickVersusBareReads(benchmark::State& state)
{
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    Window window;
    auto* nav = new NavigationController(new ViewController());
    window.setRootViewController(nav);
    window.makeKeyAndVisible();
    std::shared_ptr<KRVideo> video = benchVideo();
    video->setPlayURL(testsupport::MediaFixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")).toString());
    auto* page = new KRVideoDetailViewController(video);
    nav->pushViewController(page, false);
    AnimationClock::finishAll();
    page->playButtonTapped();
    // A local file needs no resume record from the service: the player comes at once or after
    // the offer-free check.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(page->moviePlayer() && page->moviePlayer()->playbackState() == 1) && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    KRPlaybackTransport* player = page->moviePlayer();
    if (!player) {
        state.SkipWithError("the page did not play");
        return;
    }
    KRPlayerControlsView bareControls(QRectF(0, 0, 375, 210));
    constexpr int kTicks = 2000;
    std::vector<double> ratios;
    for (auto _ : state) {
        const double bare = benchsupport::microsecondsPerCall(
            [&] {
                const double duration = player->duration();
                const double current = std::max(0.0, player->currentPlaybackTime());
                bareControls.updateCurrentTime(current, duration);
                bareControls.setPlaying(player->playbackState() == 1);
                benchmark::DoNotOptimize(player->loadState());
            },
            kTicks);
        const double tick = benchsupport::microsecondsPerCall([&] { page->controlsTickForTesting(); }, kTicks);
        ratios.push_back(tick / bare);
    }
    g_tickRatio = benchsupport::median(ratios);
    state.counters["ratio"] = g_tickRatio;
    nav->popViewControllerAnimated(false);
}
BENCHMARK(BM_ControlsTickVersusBareReads)->Unit(benchmark::kMicrosecond)->Iterations(7);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().prepare(benchsupport::onPhoneWithManualAnimations).report([] {
        if (g_openingRatio > 0)
            std::printf("opening the page / widgets by hand: %.2fx (aim: within 1.5x)\n", g_openingRatio);
        if (g_tickRatio > 0)
            std::printf("controls tick / bare reads: %.2fx (aim: within 1.5x)\n", g_tickRatio);
        KRShutDownServices();
    }).processCost());
}
