#pragma once

#include "model/KRDanmaku.h"
#include "model/KRError.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RepeatingTimer.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/ViewController.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlayerControlsView.h"
#include "service/KRRequestHandle.h"
#include "shared/KRCommentCellDelegate.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KRComment;
class KRCommentPage;
class KRDASHPlayback;
class KRInteractionButton;
class KRLoadMoreView;
class KRPlaybackMedia;
class KRPlaybackSession;
class KRPlaybackTransport;
struct KRPlayInfo;
class KRVideo;

namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class LongPressGestureRecognizer;
class ScrollView;
class SegmentedControl;
class TableView;
class TextField;
class Toolbar;
class View;
}

// The video page: the player on top, a tab row with the danmaku switch, and a two-page pager
// holding the information page ("简介") and the comments ("评论"). One class; its sources are
// split by concern (views and layout, theme, loading, playback, controls, sheets) and its
// state by the groups below.
class KRVideoDetailViewController : public platform::uikit::ViewController,
                                    public platform::uikit::TableViewDataSource,
                                    public platform::uikit::TableViewDelegate,
                                    public platform::uikit::ActionSheetDelegate,
                                    public KRCommentCellDelegate,
                                    public KRPlayerControlsViewDelegate {
    Q_OBJECT
public:
    explicit KRVideoDetailViewController(std::shared_ptr<KRVideo> video, QObject* parent = nullptr);
    ~KRVideoDetailViewController() override;

    // The offline copy when one was swapped in.
    std::shared_ptr<KRVideo> video() const { return m_part.video; }
    void playWhenPresented();

    // Entry requests, kept until the page shows its comments.
    void showCommentsWhenPresented();
    void showCommentsWhenPresentedAtRootRpid(qint64 root, qint64 target);
    void showCommentsWhenPresentedAtRpid(qint64 rpid);
    bool showsCommentsWhenPresented() const { return m_entry.showCommentsWhenPresented; }
    qint64 focusedCommentRpid() const { return m_entry.focusedCommentRpid; }
    qint64 focusedReplyRpid() const { return m_entry.focusedReplyRpid; }

    int selectedPageIndex() const { return m_part.selectedPageIndex; }
    int selectedDetailPage() const { return m_tabs.selectedDetailPage; }
    void setSelectedDetailPage(int page, bool animated);
    bool isPlaybackContinuingChildController(const platform::uikit::ViewController* controller) const;

    qint64 accountAID() const;
    int coinLimitForCurrentVideo() const;
    int remainingCoinCapacity() const;
    QString qualityTitleForValue(int quality) const;
    QString compactQualityTitleForValue(int quality) const;
    int activePlaybackQuality() const;

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
    KRPlayerControlsView* playerControls() const { return m_player.controls; }
    KRDanmakuRenderer* danmakuRenderer() const { return m_player.danmakuView; }

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
    void stopPlaybackForNavigation();
    void tearDownMoviePlayer();

    // The state a user sees, for the page's tests and the gallery.
    bool isPlaybackExpectedToPlay() const;
    bool isPlaybackEndedAwaitingReplay() const;
    bool isPlaybackFailedAwaitingRetry() const;
    bool hasStartedPlayback() const { return m_player.hasStartedPlayback; }
    QList<int> qualityValues() const { return m_quality.values; }
    const QList<std::shared_ptr<KRComment>>& comments() const { return m_comments.comments; }
    const QList<std::shared_ptr<KRVideo>>& relatedVideos() const { return m_related.videos; }
    int playbackStallCount() const;
    platform::uikit::ActionSheet* visibleActionSheet() const { return m_sheets.visible; }

    // Related videos and a comments page as their replies would bring them, and one tick of the
    // controls timer: for the benchmark, which measures the page without the network.
    void showContentForTesting(const QList<std::shared_ptr<KRVideo>>& related, const std::shared_ptr<KRCommentPage>& comments);
    void controlsTickForTesting();

    // Table, scroll, sheet and controls delegates.
    int numberOfRowsInSection(platform::uikit::TableView* table, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView* table,
                                                          const platform::uikit::IndexPath& indexPath) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void scrollViewDidEndDecelerating(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView* scrollView, bool willDecelerate) override;
    void actionSheetClickedButtonAtIndex(platform::uikit::ActionSheet* sheet, int buttonIndex) override;
    void actionSheetDidDismissWithButtonIndex(platform::uikit::ActionSheet* sheet, int buttonIndex) override;
    void commentCellDidTapPictureAtIndex(KRCommentCell* cell, unsigned index, const QStringList& urls) override;
    void commentCellDidTapThread(KRCommentCell* cell) override;
    void playerControlsDidTogglePlayback(KRPlayerControlsView* view) override;
    void playerControlsSeekToTime(KRPlayerControlsView* view, double time) override;
    void playerControlsDidRequestQuality(KRPlayerControlsView* view) override;
    void playerControlsDidRequestSpeed(KRPlayerControlsView* view) override;
    void playerControlsDidRequestFullscreen(KRPlayerControlsView*) override {}
    void playerControlsVisibilityDidChange(KRPlayerControlsView*, bool) override {}
    void playerControlsDidToggleDanmaku(KRPlayerControlsView* view) override;
    void playerControlsDidRequestMore(KRPlayerControlsView* view) override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    // ---- state, by group ----
    struct VideoAndPart {
        std::shared_ptr<KRVideo> video;
        int selectedPageIndex = 0;
        bool summaryExpanded = false;
        bool detailLoading = false;
    };
    struct EntryRequests {
        bool playWhenPresented = false;
        bool automaticPlaybackDecisionMade = false;
        bool showCommentsWhenPresented = false;
        qint64 focusedCommentRpid = 0;
        qint64 focusedReplyRpid = 0;
        bool detailFullscreenPending = false;
        bool continuationFullscreenPending = false;
    };
    struct PlayerArea {
        platform::uikit::View* playerContainer = nullptr;
        platform::uikit::ImageView* coverView = nullptr;
        platform::uikit::Button* playButton = nullptr;
        platform::uikit::View* loadingOverlay = nullptr;
        platform::uikit::ImageView* loadingTVView = nullptr;
        platform::uikit::Label* loadingStatusLabel = nullptr;
        QPointer<KRDanmakuRenderer> danmakuView;
        platform::uikit::Label* danmakuStatusLabel = nullptr;
        // The session's transport while its view is shown here.
        QPointer<KRPlaybackTransport> moviePlayer;
        QPointer<KRPlayerControlsView> controls;
        QPointer<QWidget> applicationVideoSurfaceView;
        QPointer<platform::uikit::LongPressGestureRecognizer> speedPressRecognizer;
        bool hasStartedPlayback = false;
    };
    struct TabRow {
        platform::uikit::View* detailTabBar = nullptr;
        platform::uikit::SegmentedControl* detailSegment = nullptr;
        int selectedDetailPage = 0;
        platform::uikit::Button* danmakuComposeButton = nullptr;
        platform::uikit::Button* danmakuButton = nullptr;
    };
    struct Danmaku {
        bool enabled = true;
        KRDanmakuList danmakus;
        qint64 loadedCID = 0;
        qint64 requestedCID = 0;
        platform::RepeatingTimer timer;
        bool loading = false;
        KRRequestHandle request;
        QString draft;
    };
    struct DanmakuComposer {
        platform::uikit::View* bar = nullptr;
        platform::uikit::View* separator = nullptr;
        platform::uikit::TextField* inputField = nullptr;
        platform::uikit::Toolbar* inputAccessory = nullptr;
    };
    struct Pager {
        platform::uikit::ScrollView* pager = nullptr;
        platform::uikit::ScrollView* infoScrollView = nullptr;
        platform::uikit::View* commentsView = nullptr;
    };
    struct InformationPage {
        platform::uikit::Label* titleLabel = nullptr;
        platform::uikit::View* ownerBar = nullptr;
        platform::uikit::ImageView* ownerAvatarView = nullptr;
        platform::uikit::Button* ownerButton = nullptr;
        platform::uikit::Button* followButton = nullptr;
        platform::uikit::Label* statsLabel = nullptr;
        platform::uikit::Label* identifierLabel = nullptr;
        platform::uikit::View* interactionBar = nullptr;
        KRInteractionButton* tripleButton = nullptr;
        KRInteractionButton* likeButton = nullptr;
        KRInteractionButton* coinButton = nullptr;
        KRInteractionButton* favoriteButton = nullptr;
        KRInteractionButton* moreButton = nullptr;
        platform::uikit::ScrollView* pageStrip = nullptr;
        platform::uikit::Label* pageTitleLabel = nullptr;
        platform::uikit::View* summaryCard = nullptr;
        platform::uikit::Button* summaryDisclosureButton = nullptr;
        platform::uikit::Label* summaryDisclosureGlyph = nullptr;
        platform::uikit::Label* summaryLabel = nullptr;
        platform::uikit::Label* tagsTitleLabel = nullptr;
        platform::uikit::View* tagsContainer = nullptr;
        platform::uikit::Label* relatedTitleLabel = nullptr;
        platform::uikit::TableView* relatedTableView = nullptr;
        platform::uikit::Label* relatedStateLabel = nullptr;
        KRLoadMoreView* relatedLoadMoreView = nullptr;
        platform::uikit::ActivityIndicatorView* detailSpinner = nullptr;
    };
    struct RelatedVideos {
        QStringList tags;
        QList<std::shared_ptr<KRVideo>> videos;
        QSet<QString> identities;
        bool loading = false;
        bool hasMore = true;
        bool requested = false;
    };
    struct CommentsPage {
        platform::uikit::TableView* commentsTableView = nullptr;
        platform::uikit::Label* commentsStateLabel = nullptr;
        KRLoadMoreView* commentsLoadMoreView = nullptr;
        platform::uikit::View* commentComposerBar = nullptr;
        platform::uikit::View* commentComposerSeparator = nullptr;
        platform::uikit::Button* commentComposerButton = nullptr;
        platform::uikit::TextField* commentInputField = nullptr;
        platform::uikit::Button* commentEmoteButton = nullptr;
        platform::uikit::Button* commentCancelButton = nullptr;
        platform::uikit::Button* commentSendButton = nullptr;
        platform::uikit::ImageView* commentSelectedImageBadge = nullptr;
        platform::uikit::View* commentEmotePanel = nullptr;
        platform::uikit::ScrollView* commentEmoteScrollView = nullptr;
        QList<std::shared_ptr<KRComment>> comments;
        int commentsPage = 0;
        int commentsTotal = 0;
        bool commentsLoading = false;
        bool commentsHasMore = true;
        bool commentsRequested = false;
        bool ancillaryRequested = false;
        quint64 commentsGeneration = 0;
    };
    struct AccountInteractions {
        bool liked = false;
        bool coined = false;
        int coinCount = 0;
        bool favorited = false;
        bool stateLoaded = false;
    };
    // What the page keeps of playback beside its session: the resume decision and what the
    // controls last showed.
    struct PlaybackEngine {
        quint64 resumeRequestGeneration = 0;
        bool resumeDecisionResolved = false;
        double pendingInitialPlaybackTime = 0;
        QSizeF mediaNaturalSize;
        // The session's DASH pair while shown here, for its surface's layout.
        QPointer<KRDASHPlayback> dash;
        double lastControlsVisualUpdate = -1;
        qint64 controlsTitledCID = -1;
        int controlsTitledQuality = -1;
    };
    struct Quality {
        QList<int> values;
        QStringList titles;
        int selectedQuality = 0;
        bool sheetPending = false;
        QPointer<platform::uikit::View> sourceView;
        bool optionsRequested = false;
    };
    struct PersistentSurface {
        QPointer<platform::uikit::View> backdrop;
        QPointer<platform::uikit::View> savedSuperview;
        QRectF savedFrame;
        QRectF embeddedFrame;
        int savedMask = 0;
        int savedIndex = 0;
    };
    struct Sheets {
        bool pendingPlayerLoopSheet = false;
        QPointer<platform::uikit::ActionSheet> visible;
    };

    // ---- shell ----
    void themeDidChange();
    void sessionDidChange();
    void didReceiveMemoryWarning();
    void detailSegmentChanged();
    void updateHomeShortcut();
    void homeShortcutTapped();
    bool isLeavingNavigationStack() const;

    // ---- views and layout ----
    void buildViewTree();
    void buildPlayerArea(qreal width);
    void buildTabRow(qreal width);
    void buildDanmakuComposer(qreal width);
    void buildPager(qreal width, qreal height);
    void buildCommentsPage(qreal width);
    void buildInformationPage(qreal width);
    platform::uikit::Label* detailLabelWithFont(const QFont& font);
    void updateDetailTabs();
    void layoutApplicationVideoSurface();

    // ---- theme ----
    void applyTheme();
    void applyOfficialInteractionImages();
    void applyCardShadow(platform::uikit::View* card);

    // ---- loading ----
    void loadDetail();
    void updateInfo();
    void updateInfoLayout();
    void loadCover();
    void applyUnavailableVideoState();
    void loadAncillaryContent();
    void loadRelatedVideos();
    void loadCommentsPage(int page, bool reset);
    void applyRelatedVideos(const QList<std::shared_ptr<KRVideo>>& videos, const KROptionalError& error);
    void applyCommentsPage(const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error, int page, bool reset);
    void openReplyThreadForComment(const std::shared_ptr<KRComment>& comment);
    void summaryDisclosureTapped();
    void ownerButtonTapped();
    void resetDanmakuForCurrentCID();
    void startDanmakuTimer();
    void stopDanmakuTimer();
    void danmakuTimerFired();
    void hideDanmakuStatus();
    void layoutDanmakuStatusLabelForText(const QString& text);
    void showLoadingStatus(const QString& text, bool animateTV);
    void hideLoadingStatus();

    // ---- playback ----
    void requestAutomaticDetailPlaybackIfNeeded();
    void startPendingPlaybackIfReady();
    void requestPlaybackAfterResumeCheck();
    void offerResumeAt(double seconds, quint64 generation);
    void resetPlaybackResumeState();
    void beginPlayback();
    void beginPlaybackAtQuality(int quality);
    KRPlaybackSession* session();
    void playbackMediaInstalled(KRPlaybackMedia* media);
    void playbackMediaRemoved();
    void playbackFailed(bool installed);
    void playbackEnded();
    void playbackStoppedElsewhere();
    bool installPersistentPlayerSurfaceIfNeeded();
    void layoutPersistentPlayerSurfaceEmbedded();
    void uninstallPersistentPlayerSurface();
    void refreshMediaOrientationFromSize(const QSizeF& size);
    std::shared_ptr<KRVideo> offlineVideoForPageIndex(int index) const;
    void loadQualityOptionsIfNeeded();
    void applyQualityOptions(const KRPlayInfo& info);
    void switchToQuality(int quality);

    // ---- controls ----
    void playbackProgressed(double time, double duration, bool playing, bool throttled);
    void updateControlsTitles();
    void retryPlaybackAfterTerminalFailure();
    void restartPlaybackFromBeginning();
    bool handleNaturalPlaybackContinuation();

    // ---- sheets and speed ----
    void presentPlaybackActionSheet(platform::uikit::ActionSheet* sheet, platform::uikit::View* source);
    void showPlayerLoopActionSheetFromView(platform::uikit::View* source);
    void presentPendingPlayerLoopActionSheet();

    VideoAndPart m_part;
    EntryRequests m_entry;
    PlayerArea m_player;
    TabRow m_tabs;
    Danmaku m_danmaku;
    DanmakuComposer m_danmakuComposer;
    Pager m_pager;
    InformationPage m_info;
    RelatedVideos m_related;
    CommentsPage m_comments;
    AccountInteractions m_interactions;
    PlaybackEngine m_engine;
    Quality m_quality;
    Sheets m_sheets;
    PersistentSurface m_surface;

    platform::DelayedCalls m_delayed;
    std::vector<platform::ObserverToken> m_observers;
    // The loaded view while it lives: a window torn down first takes the page's views with it.
    QPointer<platform::uikit::View> m_loadedView;
    // Made on the first start; destroyed (its teardown) before the members above.
    std::unique_ptr<KRPlaybackSession> m_session;
};
