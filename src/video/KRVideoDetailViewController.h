#pragma once

#include "model/KRDanmaku.h"
#include "model/KRError.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RepeatingTimer.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ViewController.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlayerControlsView.h"
#include "playback/KRPlaybackResume.h"
#include "video/KRVideoAccountActions.h"
#include "video/KRVideoCommentsPage.h"
#include "video/KRVideoComposerKeyboard.h"
#include "video/KRVideoDetailTabs.h"
#include "video/KRVideoFullscreen.h"
#include "video/KRVideoInfoPage.h"
#include "video/KRVideoPageEntry.h"
#include "video/KRVideoPlayerArea.h"
#include "video/KRVideoPlayerSheets.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KRComment;
class KRCommentPage;
class KRDASHPlayback;
class KRPlaybackMedia;
class KRPlaybackSession;
class KRPlaybackTransport;
class KRVideo;
class KRVideoOfflineCaching;
struct KRPlayInfo;

namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class AlertView;
class LongPressGestureRecognizer;
class ScrollView;
class SegmentedControl;
class TableView;
class TextField;
class Toolbar;
class View;
}

// The video page: a coordinator of its parts. The player area on top (with the danmaku entry
// of the tab row), the tab row and pager (`KRVideoDetailTabs`) holding the information page
// ("简介") and the comments page ("评论"). The page keeps the operations other screens and
// the parts call, forwarding each to the part that does the work; playback runs through a
// `KRPlaybackSession`, whose policy the page shows in the player area (its sources split by
// concern: playback, controls, sheets).
class KRVideoDetailViewController : public platform::uikit::ViewController,
                                    public platform::uikit::ActionSheetDelegate,
                                    public KRPlayerControlsViewDelegate {
    Q_OBJECT
public:
    explicit KRVideoDetailViewController(std::shared_ptr<KRVideo> video, QObject* parent = nullptr);
    ~KRVideoDetailViewController() override;

    // The offline copy when one was swapped in.
    std::shared_ptr<KRVideo> video() const { return m_part.video(); }
    void playWhenPresented();

    // Entry requests, kept until the page shows its comments.
    void showCommentsWhenPresented();
    void showCommentsWhenPresentedAtRootRpid(qint64 root, qint64 target);
    void showCommentsWhenPresentedAtRpid(qint64 rpid);
    bool showsCommentsWhenPresented() const { return m_part.showsCommentsWhenPresented(); }
    qint64 focusedCommentRpid() const { return m_part.focusedCommentRpid(); }
    qint64 focusedReplyRpid() const { return m_part.focusedReplyRpid(); }

    int selectedPageIndex() const { return m_part.selectedPageIndex(); }
    int selectedDetailPage() const { return m_tabs->selectedPage(); }
    void setSelectedDetailPage(int page, bool animated);
    bool isPlaybackContinuingChildController(const platform::uikit::ViewController* controller) const;

    // The shell's rotation hooks, sent by name: while a player runs (not a portrait video shown
    // in the portrait full screen) the page follows the device into its landscape full screen.
    Q_INVOKABLE bool kr_allowsPlaybackRotation();
    Q_INVOKABLE void kr_enterFullscreenForLandscapeIfNeeded();
    Q_INVOKABLE void kr_restoreFullscreenAfterLandscapeIfNeeded();
    Q_INVOKABLE void kr_raisePlaybackSurfaceAfterRotationPreparation();
    Q_INVOKABLE void kr_layoutPlaybackDuringRotation();
    Q_INVOKABLE void kr_completePlaybackRotationLayout();
    Q_INVOKABLE void kr_preparePlaybackTransitionToSizeValue(QSizeF size);

    // ---- full screen and rotation (KRVideoFullscreen) ----
    void requestLandscapeForCustomFullscreen();
    void enterDetailFullscreenIfPending();
    void exitCustomPlayerFullscreenAnimated(bool animated);
    void fullscreenDoneTapped();
    void fullscreenAddDanmakuTapped();
    void showFullscreenDanmakuSettingMode(int mode);
    void setDetailFullscreenPending(bool pending) { m_fullscreen->setDetailPending(pending); }
    void setContinuationFullscreenPending(bool pending) { m_fullscreen->setContinuationPending(pending); }
    // Before system 7 the bar is tested and put back; from 7 it is only laid out again.
    void repairNavigationChromeIfMalformed();
    KRVideoFullscreen* fullscreen() const { return m_fullscreen.get(); }

    qint64 accountAID() const;
    int coinLimitForCurrentVideo() const;
    int remainingCoinCapacity() const;
    QString qualityTitleForValue(int quality) const;
    QString compactQualityTitleForValue(int quality) const;
    int activePlaybackQuality() const;
    // The titles of the quality that plays: the full one, and the one the controls show.
    QString currentQualityTitle() const { return qualityTitleForValue(activePlaybackQuality()); }
    QString compactQualityTitle() const { return compactQualityTitleForValue(activePlaybackQuality()); }

    bool currentVideoIsPortrait() const;
    bool hasKnownMediaOrientation() const;
    bool shouldUsePortraitFullscreenForCurrentVideo() const;

    void setPlaybackRateValue(float rate, bool announce);
    float playbackRate() const;
    void showDanmakuStatus(const QString& text);
    KRPlaybackTransport* moviePlayer() const;
    KRDASHPlayback* dashPlayback() const;
    // The part's playback: its source, failover, stalls, the pause retry, history and speed.
    KRPlaybackSession* playbackSession() const { return m_session.get(); }
    KRPlayerControlsView* playerControls() const { return m_area ? m_area->controls() : nullptr; }
    KRDanmakuRenderer* danmakuRenderer() const { return m_area ? m_area->danmakuRenderer() : nullptr; }

    // Actions of the page's controls, as the controls call them.
    void playButtonTapped();
    void danmakuButtonTapped();
    void commentsLoadMoreTapped();
    void speedButtonTapped(platform::uikit::View* sender);
    void showPlayerMoreActionSheetFromView(platform::uikit::View* source);
    void showQualityActionSheetFromView(platform::uikit::View* source);
    // The 2.0x hold of a long press on the picture: 1 began, 2 changed, 3 ended, 4 cancelled, 5 failed.
    void speedPressChanged(int state);
    void activatePageAtIndex(int index, bool autoplay);
    // ---- quality switch and life cycle ----
    // Switches to the quality at `index` of the quality list without a visible restart.
    void switchToQualityAtIndex(int index);
    void fallbackTo360PAfterRepeatedStalls();
    // The compatibility picture player is never needed here (its system test answers no):
    // these do nothing, so the steps that call them read as they would elsewhere.
    void suspendIOS50CompatSynchronizationForLifecycle() {}
    void startIOS50CompatVideoForURL(const QUrl&, double) {}
    void stopIOS50CompatVideo() {}
    void stopPlaybackForNavigation();
    void tearDownMoviePlayer();

    // ---- account gate and results ----
    // The login gate: "知道了" and "前往“我的”"; nothing is sent behind it.
    void showLoginGateWithTitle(const QString& title, const QString& message, int tag);
    // The toast over the player; an empty text says only whether it worked.
    void showAccountResult(const QString& text, bool success);
    // Leaves for the "我的" tab with the page's stack back at its root.
    void navigateToProfile();
    // The page's alerts: the login gate (7200) and the danmaku login alert (7101).
    void alertViewClickedButtonAtIndex(platform::uikit::AlertView* alert, int buttonIndex);

    // The state a user sees, for the page's tests and the gallery.
    bool isPlaybackExpectedToPlay() const;
    bool isPlaybackEndedAwaitingReplay() const;
    bool isPlaybackFailedAwaitingRetry() const;
    bool hasStartedPlayback() const { return m_part.hasStartedPlayback(); }
    QList<int> qualityValues() const { return m_sheets->qualityValues(); }
    const QList<std::shared_ptr<KRComment>>& comments() const { return m_comments->comments(); }
    const QList<std::shared_ptr<KRVideo>>& relatedVideos() const { return m_info->relatedVideos(); }
    int playbackStallCount() const;
    platform::uikit::ActionSheet* visibleActionSheet() const
    {
        return m_account->visibleSheet() ? m_account->visibleSheet() : m_sheets->visibleSheet();
    }

    // Related videos and a comments page as their replies would bring them, and one tick of the
    // controls timer: for the benchmark, which measures the page without the network.
    void showContentForTesting(const QList<std::shared_ptr<KRVideo>>& related, const std::shared_ptr<KRCommentPage>& comments);
    void controlsTickForTesting();

    // ---- writing comments, the comment focus, the keyboard and the danmaku entry ----
    void commentComposerTapped();
    void commentEmoteTapped();
    void cancelCommentComposer();
    void finishCommentComposerCancellation();
    void updateCommentPictureButton();
    void commentTrailingButtonTapped();
    void hideCommentEmotePanel();
    void openFocusedCommentThreadIfPossible();
    void applyFocusedRootCommentIfPossible();
    void clearFocusedRootCommentHighlight();
    void keyboardWillShow(const platform::Notification& notification);
    void keyboardWillHide(const platform::Notification& notification);
    void embeddedAddDanmakuTapped();
    void textFieldDidBeginEditing(platform::uikit::TextField* field);
    void danmakuInputChanged(platform::uikit::TextField* field);
    void cancelDanmakuComposer();
    void sendDanmakuTapped();
    void resumeAfterDanmakuComposerIfNeeded();
    void updateDanmakuControls();
    KRVideoCommentComposer* commentComposer() const { return m_comments->composer(); }
    KRVideoDanmakuComposer* danmakuComposer() const { return m_area->danmakuComposer(); }

    // Sheet and controls delegates.
    void actionSheetClickedButtonAtIndex(platform::uikit::ActionSheet* sheet, int buttonIndex) override;
    void actionSheetDidDismissWithButtonIndex(platform::uikit::ActionSheet* sheet, int buttonIndex) override;
    void playerControlsDidTogglePlayback(KRPlayerControlsView* view) override;
    void playerControlsSeekToTime(KRPlayerControlsView* view, double time) override;
    void playerControlsDidRequestQuality(KRPlayerControlsView* view) override;
    void playerControlsDidRequestSpeed(KRPlayerControlsView* view) override;
    void playerControlsDidRequestFullscreen(KRPlayerControlsView*) override { m_fullscreen->playerControlsDidRequestFullscreen(); }
    void playerControlsVisibilityDidChange(KRPlayerControlsView*, bool visible) override
    {
        m_fullscreen->playerControlsVisibilityDidChange(visible);
    }
    void playerControlsDidToggleDanmaku(KRPlayerControlsView* view) override;
    void playerControlsDidRequestMore(KRPlayerControlsView* view) override;

    // ---- account: likes, coins, favourites, follow, watch later, sharing (KRVideoAccountActions) ----
    void interactionButtonTapped(int tag) { m_account->interactionButtonTapped(tag); }
    void followButtonTapped() { m_account->followButtonTapped(); }
    void loadAccountInteractionState() { m_account->loadAccountInteractionState(); }
    void performAccountAction(int action) { m_account->performAccountAction(action); }
    void presentFavoriteFolderPicker() { m_account->presentFavoriteFolderPicker(); }
    void fullscreenWatchLaterTapped() { m_account->fullscreenWatchLaterTapped(); }
    QString shareURLString() const { return m_account->shareURLString(); }
    KRVideoAccountActions* accountActions() const { return m_account.get(); }

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // ---- offline caching (KRVideoOfflineCaching does the work) ----
    // The cache entry of the More sheet and the full-screen rail.
    void fullscreenCacheTapped();
    void cacheQualityAtIndex(int index);
    void startOfflineBatchAtQualityIndex(int index);
    void showOfflineQualityActionSheetFromView(platform::uikit::View* source);
    void showOfflinePagePicker();
    void dismissOfflineQualityPicker();
    void dismissOfflinePagePicker();
    void layoutOfflineQualityPicker();
    void layoutOfflinePagePicker();
    // The video as part `index` plays it; null for a part there is not.
    std::shared_ptr<KRVideo> offlineVideoForPageIndex(int index) const;
    KRVideoOfflineCaching* offlineCaching() const { return m_offline.get(); }

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    // ---- shell ----
    void themeDidChange();
    void sessionDidChange();
    void didReceiveMemoryWarning();
    void updateHomeShortcut();
    void homeShortcutTapped();
    bool isLeavingNavigationStack() const;

    // ---- views and layout ----
    void buildViewTree();
    void updateDetailTabs();
    void layoutApplicationVideoSurface();
    void detailPageShown(int page);

    // ---- theme ----
    void applyTheme();
    void applyOfficialInteractionImages();

    // ---- loading ----
    void loadDetail();
    void updateInfo();
    void updateInfoLayout();
    void loadCover();
    void applyUnavailableVideoState();
    void loadAncillaryContent();
    void loadCommentsPage(int page, bool reset);
    void openReplyThreadForComment(const std::shared_ptr<KRComment>& comment);
    void openCommentPicture(const QStringList& urls, unsigned index);
    void ownerButtonTapped();
    void partButtonTapped(int index);
    void resetDanmakuForCurrentCID();
    void startDanmakuTimer();
    void stopDanmakuTimer();
    void hideDanmakuStatus();
    void layoutDanmakuStatusLabelForText(const QString& text);
    void showLoadingStatus(const QString& text, bool animateTV);
    void hideLoadingStatus();

    // ---- playback ----
    void requestAutomaticDetailPlaybackIfNeeded();
    void startPendingPlaybackIfReady();
    void requestPlaybackAfterResumeCheck();
    void offerResumeAt(double seconds, quint64 generation);
    void beginPlayback();
    void beginPlaybackAtQuality(int quality);
    KRPlaybackSession* session();
    void playbackMediaInstalled(KRPlaybackMedia* media);
    void playbackMediaRemoved();
    void playbackFailed(bool installed);
    // Lets go of the background task a request still resolving in the background holds.
    void endBackgroundContinuationTask(const QString& reason);
    // Whether a failure came in the full screen or with one pending: its retry goes back into it.
    void rememberFullscreenForRetry();
    void playbackEnded();
    // Ended awaiting replay: the play icons, the stream's end, no lines moving.
    void showPlaybackEnded();
    bool installPersistentPlayerSurfaceIfNeeded();
    void layoutPersistentPlayerSurfaceEmbedded();
    void uninstallPersistentPlayerSurface();
    void loadQualityOptionsIfNeeded();
    void applyQualityOptions(const KRPlayInfo& info);
    // ---- quality switch and life cycle ----
    void connectQualitySwitch(KRPlaybackSession* playback);
    void observePlaybackLifecycle();
    void qualitySwitchRollbackFailed(double time);

    // ---- controls ----
    void playbackProgressed(double time, double duration, bool playing, bool throttled);
    // One tick of the controls at once, shown even while they are hidden.
    void refreshControlsNow();
    void updateControlsTitles();
    void retryPlaybackAfterTerminalFailure();
    void restartPlaybackFromBeginning();
    bool handleNaturalPlaybackContinuation();
    // The life cycle's background, or the application's state says so.
    bool isInBackgroundForPlayback();
    // The continuation's part change: a start in the background keeps its background task.
    void activatePageAtIndexContinuing(int index);

    // ---- sheets ----
    std::unique_ptr<KRVideoPlayerSheets> makePlayerSheets();
    std::unique_ptr<KRVideoAccountActions> makeAccountActions();

    // ---- full screen ----
    std::unique_ptr<KRVideoFullscreen> makeFullscreen();

    // ---- offline caching ----
    std::unique_ptr<KRVideoOfflineCaching> makeOfflineCaching();

    // ---- writing comments, the comment focus, the keyboard and the danmaku entry ----
    KRVideoDanmakuComposer::Actions makeDanmakuComposerActions();
    KRVideoCommentComposer::Actions makeCommentComposerActions();
    void installComposerKeyboard();
    void danmakuLoginAlertAnswered(platform::uikit::AlertView* alert, int buttonIndex);

    // What the page shows: the video and part, the detail, and what it was asked to do.
    KRVideoPageEntry m_part;
    // The parts, made with the page; their views with the page's view.
    std::unique_ptr<KRVideoDetailTabs> m_tabs;
    std::unique_ptr<KRVideoPlayerArea> m_area;
    std::unique_ptr<KRVideoInfoPage> m_info;
    std::unique_ptr<KRVideoCommentsPage> m_comments;
    std::unique_ptr<KRVideoPlayerSheets> m_sheets;
    // The full screen drawn over the window, with its rail and composer.
    std::unique_ptr<KRVideoFullscreen> m_fullscreen;
    std::unique_ptr<KRVideoAccountActions> m_account;
    // Caching from the page and its pickers.
    std::unique_ptr<KRVideoOfflineCaching> m_offline;
    // Whether a start offers the saved position, and where it begins.
    KRPlaybackResume m_resume;
    // Lifts the composer being edited above the keyboard; made with the views.
    std::unique_ptr<KRVideoComposerKeyboard> m_keyboard;

    platform::DelayedCalls m_delayed;
    std::vector<platform::ObserverToken> m_observers;
    // The loaded view while it lives: a window torn down first takes the page's views with it.
    QPointer<platform::uikit::View> m_loadedView;
    // Made on the first start; its destruction is playback's teardown.
    std::unique_ptr<KRPlaybackSession> m_session;
    // The quality a switch the user chose goes to (0: none runs), and, from the first of the
    // switches picked one over another, the choice it replaced and the quality then playing.
    int m_qualitySwitchTarget = 0;
    int m_qualitySelectionBeforeSwitch = 0;
    int m_qualityPlayingBeforeSwitch = 0;
    // The full screen a terminal failure came in, for the retry the play button makes.
    bool m_retryIntoFullscreen = false;
};
