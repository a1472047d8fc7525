#include "library/KRAccountVideoListViewController.h"

#include "look/KRTheme.h"
#include "model/KRTolerantValue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "model/KRPlayInfo.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "service/KRDanmakuClient.h"
#include "shared/KRPlayerFullscreen.h"
#include "store/KRLocalHistoryStore.h"

#include <QUrl>

#include <cmath>

using namespace platform::uikit;

namespace {
constexpr qreal kRowHeight = 60;
const QString kCellID = QStringLiteral("KROfflineVideoCell");
} // namespace

KRAccountVideoListViewController::KRAccountVideoListViewController(QObject* parent) : ViewController(parent)
{
    m_fullscreen = makeFullscreen();
    setTitle(QStringLiteral("离线缓存"));
    setHidesBottomBarWhenPushed(true);
}

KRAccountVideoListViewController::~KRAccountVideoListViewController()
{
    m_danmakuLoad.cancel();
    // A screen taken down while playing still leaves its viewing in the history.
    if (m_playingVideo)
        stopPlayback();
    m_fullscreen.reset();
}

KRPlaybackTransport* KRAccountVideoListViewController::transport() const { return m_session ? m_session->transport() : nullptr; }

KRDASHPlayback* KRAccountVideoListViewController::dashPlayback() const { return m_session ? m_session->dash() : nullptr; }

int KRAccountVideoListViewController::supportedInterfaceOrientations()
{
    return kr_allowsPlaybackRotation() ? InterfaceOrientationMaskAllButUpsideDown : InterfaceOrientationMaskPortrait;
}

bool KRAccountVideoListViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait || (InterfaceOrientationIsLandscape(orientation) && kr_allowsPlaybackRotation());
}

void KRAccountVideoListViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    m_playerContainer = new View(QRectF(), view());
    m_playerContainer->setObjectName(QStringLiteral("playerContainer"));
    m_playerContainer->setBackgroundColor(QColor(Qt::black));
    m_playerContainer->setHidden(true);
    m_playbackStatusLabel = new Label(QRectF(), m_playerContainer);
    m_playbackStatusLabel->setObjectName(QStringLiteral("playbackStatusLabel"));
    m_playbackStatusLabel->setTextAlignment(TextAlignmentCenter);
    m_playbackStatusLabel->setNumberOfLines(0);
    m_playbackStatusLabel->setFont(Label::systemFont(14));
    m_playbackStatusLabel->setTextColor(QColor(Qt::white));
    m_playbackStatusLabel->setBackgroundColor(QColor(Qt::transparent));
    m_playbackStatusLabel->setUserInteractionEnabled(false);
    m_playbackStatusLabel->setHidden(true);
    m_table = new TableView(view()->bounds(), TableViewStylePlain, view());
    m_table->setObjectName(QStringLiteral("offlineTable"));
    m_table->setRowHeight(kRowHeight);
    m_table->setDataSource(this);
    m_table->setTableDelegate(this);
    m_stateLabel = new Label(QRectF(), view());
    m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
    m_stateLabel->setTextAlignment(TextAlignmentCenter);
    m_stateLabel->setNumberOfLines(0);
    m_stateLabel->setFont(Label::systemFont(14));
    m_stateLabel->setBackgroundColor(QColor(Qt::transparent));
    m_stateLabel->setUserInteractionEnabled(false);

    auto& center = platform::NotificationCenter::defaultCenter();
    m_cacheObserver = center.addObserver(KROfflineCacheDidChangeNotification, nullptr,
                                         [this](const platform::Notification&) { reloadVideos(); });
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    // The inline player plays on in the background: its sound keeps the audio session.
    m_backgroundObserver = center.addObserver(ApplicationDidEnterBackgroundNotification, nullptr, [this](const platform::Notification&) {
        if (m_session && m_session->playsNow())
            KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("offline-did-enter-background"));
    });
    applyTheme();
    reloadVideos();
}

void KRAccountVideoListViewController::viewWillAppear(bool animated)
{
    ViewController::viewWillAppear(animated);
    // The first appearance follows the view's loading, which read both just now.
    if (!m_appearedBefore) {
        m_appearedBefore = true;
        return;
    }
    applyTheme();
    reloadVideos();
}

void KRAccountVideoListViewController::viewWillDisappear(bool animated)
{
    ViewController::viewWillDisappear(animated);
    stopPlayback();
}

void KRAccountVideoListViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    const QRectF bounds = view()->bounds();
    qreal top = 0;
    if (!m_playerContainer->isHidden()) {
        const qreal height = std::floor(bounds.width() * 9 / 16);
        top = height;
        // A full screen shown or turning lays the player out itself.
        if (m_surface.isInstalled()) {
            m_surface.setEmbeddedFrame(QRectF(0, 0, bounds.width(), height));
            if (!m_surfaceHeld && m_surface.layoutEmbedded())
                layoutPlayerContent(false);
        } else {
            m_playerContainer->setFrame(QRectF(0, 0, bounds.width(), height));
            layoutPlayerContent(false);
        }
        m_playbackStatusLabel->setFrame(m_playerContainer->bounds().adjusted(16, 0, -16, 0));
    }
    m_table->setFrame(QRectF(0, top, bounds.width(), bounds.height() - top));
    m_stateLabel->setFrame(QRectF(24, top + 60, bounds.width() - 48, 80));
}

void KRAccountVideoListViewController::applyTheme()
{
    if (!isViewLoaded())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    theme->applyNavigationTitle(QStringLiteral("离线缓存"), navigationItem());
    view()->setBackgroundColor(theme->backgroundColor());
    m_table->setBackgroundColor(theme->backgroundColor());
    m_table->setSeparatorColor(theme->separatorColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
    m_table->reloadData();
}

void KRAccountVideoListViewController::reloadVideos()
{
    if (!isViewLoaded())
        return;
    m_videos = KROfflineCacheManager::sharedManager()->offlineVideos();
    m_stateLabel->setText(m_videos.isEmpty() ? QStringLiteral("还没有离线缓存的视频\n在视频页选择“缓存”即可离线观看") : QString());
    m_stateLabel->setHidden(!m_videos.isEmpty());
    m_table->reloadData();
}

bool KRAccountVideoListViewController::isRunningDownload(const KRVideo& video) const
{
    return KROfflineCacheManager::sharedManager()->isDownloadingVideo(video);
}

int KRAccountVideoListViewController::numberOfRowsInSection(TableView*, int) { return int(m_videos.size()); }

TableViewCell* KRAccountVideoListViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    TableViewCell* cell = table->dequeueReusableCellWithIdentifier(kCellID);
    if (!cell)
        cell = new TableViewCell(TableViewCellStyleSubtitle, kCellID);
    const std::shared_ptr<KRVideo> video = m_videos.value(indexPath.row);
    const KRTheme* theme = KRTheme::sharedTheme();
    cell->setBackgroundColor(theme->surfaceColor());
    cell->textLabel()->setFont(Label::systemFont(15, true));
    cell->textLabel()->setTextColor(theme->primaryTextColor());
    cell->detailTextLabel()->setTextColor(theme->secondaryTextColor());
    if (!video)
        return cell;
    cell->textLabel()->setText(video->title().isEmpty() ? QStringLiteral("未命名视频") : video->title());
    // The store names the quality and the state: "720P · 缓存中" or "720P · 离线".
    QString detail = video->tname();
    if (isRunningDownload(*video))
        detail += QStringLiteral(" %1%").arg(int(std::lround(KROfflineCacheManager::sharedManager()->currentDownloadProgress() * 100)));
    else if (!video->durationText().isEmpty())
        detail += QStringLiteral(" · ") + video->durationText();
    cell->detailTextLabel()->setText(detail);
    const bool playing = m_playingVideo && video->cid() == m_playingVideo->cid() && video->title() == m_playingVideo->title();
    cell->setAccessibilityValue(playing ? QStringLiteral("播放中") : QString());
    cell->textLabel()->setTextColor(playing ? theme->accentColor() : theme->primaryTextColor());
    return cell;
}

void KRAccountVideoListViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (const std::shared_ptr<KRVideo> video = m_videos.value(indexPath.row))
        playVideo(video);
}

bool KRAccountVideoListViewController::playVideo(const std::shared_ptr<KRVideo>& video)
{
    // Only a copy on this device plays here: a local file as it is, a DASH record as the pair
    // the stream pickers choose from it.
    if (!video || !isViewLoaded() || isRunningDownload(*video) || !KRPlaybackSession::playsFromDevice(*video))
        return false;
    if (video->playURL().isEmpty()) {
        const std::optional<KRPlayInfo> info =
            KRPlayInfo::fromOfflineRecord(KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(*video));
        if (!info || KRPlaybackSession::dashAddresses(*info, info->quality).isEmpty())
            return false;
    }
    stopPlayback();
    m_playingVideo = video;
    m_playerContainer->setHidden(false);
    m_session = std::make_unique<KRPlaybackSession>();
    m_session->setVideo(video, video->aid());
    // Offline viewings go to the local history only.
    m_session->setHeartbeatEnabled(false);
    m_session->setOfflinePlayer(true);
    // The tick feeds the danmaku too: it runs as often as the renderer is to be fed.
    m_session->setTickInterval(KRDanmakuRenderer::feedIntervalMilliseconds());
    connect(m_session.get(), &KRPlaybackSession::mediaInstalled, this, [this](KRPlaybackMedia* media) {
        QWidget* host = media->transport() ? media->transport()->view() : nullptr;
        if (auto* view = qobject_cast<View*>(host))
            m_playerContainer->addSubview(view);
        else if (host)
            host->setParent(m_playerContainer);
        if (host)
            host->show();
        if (m_danmaku)
            m_danmaku->raise();
        if (m_controls)
            m_controls->raise();
        view()->setNeedsLayout();
        view()->layoutIfNeeded();
    });
    connect(m_session.get(), &KRPlaybackSession::progressed, this, &KRAccountVideoListViewController::showProgress);
    // While the interface turns, the controls and the danmaku are left as they are and no
    // pause is watched.
    m_session->setRotating(m_fullscreen->isRotating());
    connect(m_fullscreen.get(), &KRPlayerFullscreen::rotatingChanged, m_session.get(), &KRPlaybackSession::setRotating);
    connect(m_session.get(), &KRPlaybackSession::stoppedByAnotherSession, this, [this] { stopPlayback(); });
    connect(m_session.get(), &KRPlaybackSession::failed, this, [this](const QString&, bool installed) { playbackFailed(installed); });

    // The danmaku switch is the user's, shared with the video page.
    const bool danmakuEnabled = platform::UserDefaults::standard().boolean(KRDanmakuEnabledDefaultsKey, true);
    m_danmaku = new KRDanmakuRenderer(m_playerContainer);
    m_danmaku->setObjectName(QStringLiteral("danmakuRenderer"));
    m_danmaku->setDanmakuEnabled(danmakuEnabled);
    m_danmaku->show();
    m_controls = new KRPlayerControlsView(QRectF(), m_playerContainer);
    m_controls->setDelegate(this);
    m_controls->setOfflineCompactMode(true);
    m_controls->setDanmakuEnabled(danmakuEnabled);
    m_controls->setVideoTitle(video->title());
    m_controls->setQualityTitle(video->tname().section(QStringLiteral(" · "), 0, 0));

    const qint64 cid = video->cid();
    QPointer<KRDanmakuRenderer> renderer(m_danmaku);
    m_danmakuLoad = KRDanmakuClient::sharedClient()->loadCachedDanmakusForCID(
        cid, this, [renderer](const KRDanmakuList& danmakus, const KROptionalError&) {
            // Without a saved copy the video plays without danmaku.
            if (renderer)
                renderer->setDanmakus(danmakus);
        });

    // The session plays the copy as the video page would: the DASH record, else the file.
    showPlaybackStatus(QString());
    m_session->startPart(0, 0);
    m_controls->setPlaying(true);
    m_table->reloadData();
    return true;
}

void KRAccountVideoListViewController::playbackFailed(bool installed)
{
    // Told upright in the list: a full screen over a player that is gone would show nothing.
    leaveFullscreenForStop();
    m_retryTime = installed ? m_session->interruptedAt() : 0.0;
    if (m_controls) {
        m_controls->setPlaying(false);
        m_controls->setControlsVisible(true, false);
    }
    showPlaybackStatus(installed ? QStringLiteral("播放中断，点播放重试") : QStringLiteral("播放失败，点播放重试"));
    if (isViewLoaded()) {
        view()->setNeedsLayout();
        view()->layoutIfNeeded();
    }
}

void KRAccountVideoListViewController::showPlaybackStatus(const QString& text)
{
    if (!m_playbackStatusLabel)
        return;
    m_playbackStatusLabel->setText(text);
    m_playbackStatusLabel->setHidden(text.isEmpty());
    if (!text.isEmpty())
        m_playbackStatusLabel->raise();
    // The controls stay on top: their play button is the retry.
    if (m_controls)
        m_controls->raise();
}

void KRAccountVideoListViewController::showProgress(double time, double duration, bool playing)
{
    if (!m_controls)
        return;
    m_controls->setPlaying(playing);
    m_controls->updateCurrentTime(time, duration);
    if (m_danmaku)
        m_danmaku->updateWithPlaybackTime(time, playing);
}

void KRAccountVideoListViewController::stopPlayback()
{
    // The full screen goes first, while its player still answers for the rotation back.
    leaveFullscreenForStop();
    m_danmakuLoad.cancel();
    // The session's teardown records the viewing in the local history, as offline.
    m_session.reset();
    m_playingVideo.reset();
    m_retryTime.reset();
    showPlaybackStatus(QString());
    delete m_controls.data();
    m_controls = nullptr;
    delete m_danmaku.data();
    m_danmaku = nullptr;
    if (isViewLoaded() && m_playerContainer) {
        m_playerContainer->setHidden(true);
        view()->setNeedsLayout();
        m_table->reloadData();
    }
}

void KRAccountVideoListViewController::playerControlsDidTogglePlayback(KRPlayerControlsView*)
{
    if (m_session && m_retryTime) {
        const double time = *m_retryTime;
        m_retryTime.reset();
        showPlaybackStatus(QString());
        m_session->startPart(0, time);
        m_controls->setPlaying(true);
        return;
    }
    if (!m_session || !m_session->media())
        return;
    m_session->togglePlayback();
    m_controls->setPlaying(m_session->isExpectedToPlay());
}

void KRAccountVideoListViewController::playerControlsSeekToTime(KRPlayerControlsView*, double time)
{
    if (!m_session || !m_session->media())
        return;
    m_session->seek(time);
    if (m_danmaku)
        m_danmaku->resetForPlaybackTime(time);
}

void KRAccountVideoListViewController::playerControlsDidToggleDanmaku(KRPlayerControlsView* controls)
{
    if (!m_danmaku)
        return;
    m_danmaku->setDanmakuEnabled(!m_danmaku->isDanmakuEnabled());
    platform::UserDefaults::standard().setObject(KRDanmakuEnabledDefaultsKey, m_danmaku->isDanmakuEnabled());
    controls->setDanmakuEnabled(m_danmaku->isDanmakuEnabled());
}
