// Loading what the page shows: the detail (kept on the part the page was opened on), the
// cover, danmaku, and the ancillary content the parts load; each forwarded to its part.

#include "video/KRVideoDetailViewController.h"

#include "model/KRComment.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/NavigationController.h"
#include "playback/KRPlaybackSession.h"
#include "service/KRAPIClient.h"
#include "shared/KRCommentImageViewController.h"
#include "nav/KRRouter.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoOfflineCaching.h"

using namespace platform::uikit;

void KRVideoDetailViewController::loadDetail()
{
    if (!m_part.video() || m_part.isDetailLoading())
        return;
    m_part.setDetailLoading(true);
    m_info->setDetailLoading(true);
    // The detail request belongs to the information page's view: it goes with it.
    KRAPIClient::sharedClient()->loadDetailForVideo(
        m_part.video(), m_tabs->infoScrollView(), [this](const std::shared_ptr<KRVideo>& detail, const KROptionalError& error) {
            m_part.setDetailLoading(false);
            m_info->setDetailLoading(false);
            if (detail && !error) {
                m_part.applyDetail(detail);
                updateInfo();
                resetDanmakuForCurrentCID();
                // A list entry may have come without its cover.
                if (m_area->coverView()->image().isNull())
                    loadCover();
                if (m_part.video()->isUnavailable())
                    applyUnavailableVideoState();
            }
            // A failure still enables the button: an offline copy plays without the detail,
            // and a network one tries again when tapped.
            if (!m_part.video()->isUnavailable())
                m_area->setPlayButtonEnabled(true);
            startPendingPlaybackIfReady();
            loadAncillaryContent();
            m_account->detailDidLoad();
            // A cache entry that waited for the part's identity runs again.
            m_offline->detailDidArrive(detail && !error);
            openFocusedCommentThreadIfPossible();
        });
}

void KRVideoDetailViewController::updateInfo()
{
    if (isViewLoaded())
        m_info->showVideo(m_part.video(), m_part.selectedPageIndex());
    m_comments->setVideo(m_part.video());
}

void KRVideoDetailViewController::updateInfoLayout()
{
    if (isViewLoaded())
        m_info->updateInfoLayout();
}

void KRVideoDetailViewController::ownerButtonTapped()
{
    if (m_part.video() && m_part.video()->ownerMID() > 0)
        KRRouter::openUploaderPage(navigationController(), m_part.video()->ownerMID(), m_part.video()->ownerName(),
                                   m_part.video()->ownerAvatarURL());
}

void KRVideoDetailViewController::partButtonTapped(int index)
{
    if (index == m_part.selectedPageIndex())
        return;
    // Playing goes on with the chosen part; before playback the tap only chooses it.
    activatePageAtIndex(index, m_part.hasStartedPlayback());
}

void KRVideoDetailViewController::loadCover()
{
    if (!m_part.video())
        return;
    const QString address = m_part.video()->coverURL();
    m_area->loadCover(address, [this, address] {
        return m_part.video() && m_part.video()->coverURL() == address && !m_part.hasStartedPlayback();
    });
}

void KRVideoDetailViewController::applyUnavailableVideoState()
{
    m_area->setPlayButtonEnabled(false);
    m_area->showPlayButton(false);
    const QString reason = m_part.video() && !m_part.video()->unavailableReason().isEmpty() ? m_part.video()->unavailableReason()
                                                                                        : QStringLiteral("视频不可用");
    showLoadingStatus(reason, false);
    m_comments->showUnavailable();
}

void KRVideoDetailViewController::loadAncillaryContent()
{
    if (m_comments->hasRequestedAncillary() || !m_part.video() || m_part.video()->isUnavailable())
        return;
    m_comments->markAncillaryRequested();
    m_info->loadTags();
    m_info->loadRelatedVideos();
    loadCommentsPage(1, true);
}

void KRVideoDetailViewController::loadCommentsPage(int page, bool reset)
{
    m_comments->setVideo(m_part.video());
    m_comments->loadCommentsPage(page, reset);
}

void KRVideoDetailViewController::showContentForTesting(const KRVideoList& related, const std::shared_ptr<KRCommentPage>& comments)
{
    m_comments->markAncillaryRequested();
    m_info->applyRelatedVideos(related, std::nullopt);
    m_comments->applyCommentsPage(comments, std::nullopt, 1, true);
}

void KRVideoDetailViewController::commentsLoadMoreTapped() { m_comments->loadMoreTapped(); }

void KRVideoDetailViewController::openReplyThreadForComment(const std::shared_ptr<KRComment>& comment)
{
    if (!comment || comment->replyCount() < 1)
        return;
    m_comments->composer()->close();
    KRRouter::openReplyThread(navigationController(), comment);
}

void KRVideoDetailViewController::openCommentPicture(const QStringList& urls, unsigned index)
{
    if (NavigationController* navigation = navigationController())
        navigation->pushViewController(new KRCommentImageViewController(urls, index), true);
}

// ---- danmaku ----

void KRVideoDetailViewController::resetDanmakuForCurrentCID()
{
    if (m_part.video())
        m_area->loadDanmakusForCID(m_part.video()->cid(), KRPlaybackSession::playsFromDevice(*m_part.video()));
}

void KRVideoDetailViewController::startDanmakuTimer() { m_area->startDanmakuTimer(); }

void KRVideoDetailViewController::stopDanmakuTimer() { m_area->stopDanmakuTimer(); }

void KRVideoDetailViewController::danmakuButtonTapped()
{
    m_area->toggleDanmakuEnabled();
    m_fullscreen->applyLegacyFullscreenImages();
}

void KRVideoDetailViewController::playerControlsDidToggleDanmaku(KRPlayerControlsView*) { danmakuButtonTapped(); }

// ---- status lines ----

void KRVideoDetailViewController::showDanmakuStatus(const QString& text)
{
    if (isViewLoaded())
        m_area->showDanmakuStatus(text);
}

void KRVideoDetailViewController::hideDanmakuStatus() { m_area->hideDanmakuStatus(); }

void KRVideoDetailViewController::layoutDanmakuStatusLabelForText(const QString& text) { m_area->layoutDanmakuStatusLabelForText(text); }

void KRVideoDetailViewController::showLoadingStatus(const QString& text, bool animateTV) { m_area->showLoadingStatus(text, animateTV); }

void KRVideoDetailViewController::hideLoadingStatus() { m_area->hideLoadingStatus(); }

// ---- the persistent surface ----

bool KRVideoDetailViewController::installPersistentPlayerSurfaceIfNeeded() { return m_area->installPersistentPlayerSurfaceIfNeeded(); }

void KRVideoDetailViewController::layoutPersistentPlayerSurfaceEmbedded()
{
    m_area->layoutPersistentPlayerSurfaceEmbedded();
    layoutApplicationVideoSurface();
}

void KRVideoDetailViewController::uninstallPersistentPlayerSurface()
{
    m_fullscreen->surfaceRemoved();
    m_area->uninstallPersistentPlayerSurface();
}
