#include "video/KRVideoDetailViewController.h"

#include "look/KRShellHelpers.h"
#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDASHStreams.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "images/KRImageLoader.h"
#include "nav/KRRouter.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoOfflineCaching.h"

#include <QDebug>

using namespace platform::uikit;

namespace {

const QString kHomeTitle = QStringLiteral("首页");
constexpr int kLoginGateAlertTag = 7200;
constexpr int kDanmakuLoginAlertTag = 7101;

} // namespace

KRVideoDetailViewController::KRVideoDetailViewController(std::shared_ptr<KRVideo> video, QObject* parent)
    : ViewController(parent)
    , m_part(std::move(video))
    , m_tabs(std::make_unique<KRVideoDetailTabs>(KRVideoDetailTabs::Actions{[this](int page) { detailPageShown(page); }}))
    , m_area(std::make_unique<KRVideoPlayerArea>(KRVideoPlayerArea::Actions{[this] { playButtonTapped(); },
                                                                                 [this](int state) { speedPressChanged(state); },
                                                                                 makeDanmakuComposerActions(),
                                                                                 [this](const QWidget* touched, const QWidget* view) {
                                                                                     return !m_fullscreen || m_fullscreen->holdAllowsTouch(touched, view);
                                                                                 }}))
    , m_info(std::make_unique<KRVideoInfoPage>(KRVideoInfoPage::Actions{
          [this] { ownerButtonTapped(); }, [this](int index) { partButtonTapped(index); },
          [this](const std::shared_ptr<KRVideo>& video) { KRRouter::openVideoPage(navigationController(), video); },
          [this](int tag) { interactionButtonTapped(tag); }, [this] { followButtonTapped(); },
          [this](const QString& tag) { KRRouter::openTagSearch(navigationController(), tag); }}))
    , m_comments(std::make_unique<KRVideoCommentsPage>(KRVideoCommentsPage::Actions{
          [this](const std::shared_ptr<KRComment>& comment) { openReplyThreadForComment(comment); },
          [this](const QStringList& urls, unsigned index) { openCommentPicture(urls, index); },
          [this] { return isViewLoaded() && view()->window() && m_tabs->selectedPage() == 1; }, makeCommentComposerActions()}))
    , m_sheets(makePlayerSheets())
    , m_fullscreen(makeFullscreen())
    , m_account(makeAccountActions())
    , m_offline(makeOfflineCaching())
{
    setHidesBottomBarWhenPushed(true);
}

KRVideoDetailViewController::~KRVideoDetailViewController()
{
    // A request still resolving in the background goes with the page.
    endBackgroundContinuationTask(QStringLiteral("dealloc"));
    // The view outlives the page's members (the base class deletes it): its going must not
    // reach back into them.
    if (QObject* loaded = m_loadedView.data())
        disconnect(loaded, nullptr, this, nullptr);
    m_delayed.cancelAll();
    m_observers.clear();
    if (KRPlayerControlsView* controls = m_area->controls())
        controls->setDelegate(nullptr);
    if (m_loadedView) {
        tearDownMoviePlayer();
        uninstallPersistentPlayerSurface();
    } else {
        // The views went first: only the player and timers are left to stop.
        m_area->stopDanmakuTimer();
    }
    // The session's teardown, told to nobody.
    if (m_session)
        disconnect(m_session.get(), nullptr, this, nullptr);
    m_session.reset();
    // The parts go before the views they fill, which the base class deletes.
    m_fullscreen.reset();
    m_account.reset();
    m_keyboard.reset();
    m_offline.reset();
    m_comments.reset();
    m_info.reset();
    m_area.reset();
    m_tabs.reset();
}

int KRVideoDetailViewController::supportedInterfaceOrientations()
{
    return kr_allowsPlaybackRotation() ? InterfaceOrientationMaskAllButUpsideDown : InterfaceOrientationMaskPortrait;
}

bool KRVideoDetailViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait || (InterfaceOrientationIsLandscape(orientation) && kr_allowsPlaybackRotation());
}

void KRVideoDetailViewController::viewDidLoad()
{
    setTitle(QStringLiteral("视频"));
    m_loadedView = view();
    // Views that go before the page (their window torn down first) take playback with them.
    connect(view(), &QObject::destroyed, this, [this] {
        m_delayed.cancelAll();
        m_observers.clear();
        m_keyboard.reset();
        // The page goes right after its views.
        endBackgroundContinuationTask(QStringLiteral("dealloc"));
        if (m_session) {
            disconnect(m_session.get(), nullptr, this, nullptr);
            m_session->stop();
        }
        m_area->stopDanmakuTimer();
        m_area->dropDanmakus();
    });
    buildViewTree();
    m_account->attachToView(view());
    installComposerKeyboard();

    auto& centre = platform::NotificationCenter::defaultCenter();
    // A page whose window went first has no views left to answer with.
    m_observers.push_back(centre.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) {
        if (m_loadedView)
            themeDidChange();
    }));
    m_observers.push_back(centre.addObserver(KRSessionDidChangeNotification, nullptr, [this](const platform::Notification&) {
        if (m_loadedView)
            sessionDidChange();
    }));
    m_observers.push_back(centre.addObserver(KeyboardWillShowNotification, nullptr, [this](const platform::Notification& n) {
        if (m_loadedView)
            keyboardWillShow(n);
    }));
    m_observers.push_back(centre.addObserver(KeyboardWillHideNotification, nullptr, [this](const platform::Notification& n) {
        if (m_loadedView)
            keyboardWillHide(n);
    }));
    m_observers.push_back(centre.addObserver(ApplicationDidReceiveMemoryWarningNotification, nullptr,
                                             [this](const platform::Notification&) {
                                                 if (m_loadedView)
                                                     didReceiveMemoryWarning();
                                             }));
    observePlaybackLifecycle();

    applyTheme();
    updateInfo();
    if (m_part.video() && !m_part.video()->isUnavailable()) {
        loadCover();
        loadDetail();
        if (!KRPreferences::sharedPreferences().isA4OrEarlierDevice())
            resetDanmakuForCurrentCID();
        loadAccountInteractionState();
    } else {
        applyUnavailableVideoState();
    }
}

void KRVideoDetailViewController::themeDidChange()
{
    applyTheme();
    updateInfoLayout();
    m_offline->themeDidChange();
}

void KRVideoDetailViewController::sessionDidChange()
{
    // Signed in or out: the account state belonged to the previous account; it shows as not
    // loaded until it is read for the new one.
    m_account->sessionDidChange();
}

void KRVideoDetailViewController::viewWillAppear(bool animated)
{
    ViewController::viewWillAppear(animated);
    m_comments->refreshShownComments();
}

void KRVideoDetailViewController::viewDidAppear(bool animated)
{
    ViewController::viewDidAppear(animated);
    m_area->setSurfaceCovered(false);
    if (!m_area->isSurfaceHeldByFullscreen())
        layoutApplicationVideoSurface();
    repairNavigationChromeIfMalformed();
    updateHomeShortcut();
    if (m_part.showsCommentsWhenPresented()) {
        m_part.setShowsCommentsWhenPresented(false);
        setSelectedDetailPage(1, false);
    }
    openFocusedCommentThreadIfPossible();
    if (!m_part.playsWhenPresented())
        requestAutomaticDetailPlaybackIfNeeded();
    startPendingPlaybackIfReady();
}

bool KRVideoDetailViewController::isLeavingNavigationStack() const
{
    NavigationController* navigation = navigationController();
    return navigation == nullptr || !navigation->viewControllers().contains(const_cast<KRVideoDetailViewController*>(this));
}

void KRVideoDetailViewController::viewWillDisappear(bool animated)
{
    ViewController::viewWillDisappear(animated);
    // A full screen keeps its surface shown over whatever the root shows.
    if (!m_area->isSurfaceHeldByFullscreen())
        m_area->setSurfaceCovered(true);
    m_offline->pageWillDisappear();
    NavigationController* navigation = navigationController();
    ViewController* top = navigation ? navigation->viewControllers().value(navigation->viewControllers().size() - 1) : nullptr;
    const bool leaving = isLeavingNavigationStack();
    if (leaving || (top && top != this && !isPlaybackContinuingChildController(top))) {
        stopPlaybackForNavigation();
    } else if (top && top != this) {
        qInfo().noquote() << QStringLiteral("[KorvanePlaybackLifecycle] retained reason=child-push destination=%1")
                                 .arg(QString::fromLatin1(top->metaObject()->className()));
    }
}

void KRVideoDetailViewController::viewDidDisappear(bool animated)
{
    ViewController::viewDidDisappear(animated);
    NavigationController* navigation = navigationController();
    ViewController* top = navigation ? navigation->viewControllers().value(navigation->viewControllers().size() - 1) : nullptr;
    const bool leaving = isLeavingNavigationStack();
    if (leaving)
        m_offline->pageDidLeaveStack();
    if ((leaving || (top && top != this && !isPlaybackContinuingChildController(top)))
        && (moviePlayer() || m_part.hasStartedPlayback()))
        stopPlaybackForNavigation();
}

void KRVideoDetailViewController::didReceiveMemoryWarning()
{
    m_comments->composer()->dropEmotes();
    KRImageLoader::sharedLoader()->clearMemoryCache();
    if (m_part.hasStartedPlayback())
        m_area->coverView()->setImage(Image());
    if (m_tabs->selectedPage() != 1)
        m_comments->dropComments();
    // An old device keeps a few related rows; the footer can bring the rest back.
    if (KRPreferences::sharedPreferences().isA4OrEarlierDevice())
        m_info->trimRelatedForMemoryWarning();
    if (!m_area->isDanmakuEnabled())
        m_area->dropDanmakus(true);
    // A new quality being readied off screen is let go; the one playing stays.
    if (m_session)
        m_session->qualitySwitch()->relieveMemoryPressure();
}

void KRVideoDetailViewController::playWhenPresented()
{
    m_part.setPlaysWhenPresented(true);
    startPendingPlaybackIfReady();
}

void KRVideoDetailViewController::showCommentsWhenPresented()
{
    m_part.setShowsCommentsWhenPresented(true);
    if (isViewLoaded() && view()->window() && isAppeared()) {
        m_part.setShowsCommentsWhenPresented(false);
        setSelectedDetailPage(1, false);
    }
}

void KRVideoDetailViewController::showCommentsWhenPresentedAtRootRpid(qint64 root, qint64 target)
{
    m_part.focusComment(root, target);
    m_comments->forgetFocusedComment();
    showCommentsWhenPresented();
}

void KRVideoDetailViewController::showCommentsWhenPresentedAtRpid(qint64 rpid)
{
    showCommentsWhenPresentedAtRootRpid(rpid, rpid);
}

void KRVideoDetailViewController::setSelectedDetailPage(int page, bool animated) { m_tabs->setSelectedPage(page, animated); }

void KRVideoDetailViewController::detailPageShown(int page)
{
    if (page != 1)
        return;
    if (m_comments->hasRequestedAncillary() && !m_comments->hasRequestedComments())
        loadCommentsPage(1, true);
    else if (!m_comments->hasRequestedAncillary())
        loadAncillaryContent();
    openFocusedCommentThreadIfPossible();
}

void KRVideoDetailViewController::updateHomeShortcut()
{
    NavigationController* navigation = navigationController();
    if (!navigation)
        return;
    const QList<ViewController*> stack = navigation->viewControllers();
    const int index = int(stack.indexOf(this));
    const bool overVideoPage = index >= 1 && qobject_cast<KRVideoDetailViewController*>(stack.at(index - 1));
    BarButtonItem* current = navigationItem()->rightBarButtonItem();
    if (overVideoPage) {
        if (!current || current->title() != kHomeTitle)
            navigationItem()->setRightBarButtonItem(
                new BarButtonItem(kHomeTitle, BarButtonItemStyleBordered, [this] { homeShortcutTapped(); }, this));
    } else if (current && current->title() == kHomeTitle) {
        navigationItem()->setRightBarButtonItem(nullptr);
    }
}

void KRVideoDetailViewController::homeShortcutTapped()
{
    stopPlaybackForNavigation();
    KRTarnwick23NavigateToHome(this);
}

bool KRVideoDetailViewController::isPlaybackContinuingChildController(const ViewController* controller) const
{
    return controller && controller->keepsPresenterPlayback();
}

qint64 KRVideoDetailViewController::accountAID() const { return m_part.accountAID(); }

int KRVideoDetailViewController::coinLimitForCurrentVideo() const { return m_account->coinLimitForCurrentVideo(); }

int KRVideoDetailViewController::remainingCoinCapacity() const { return m_account->remainingCoinCapacity(); }

bool KRVideoDetailViewController::currentVideoIsPortrait() const { return m_part.isPortrait(); }

bool KRVideoDetailViewController::hasKnownMediaOrientation() const { return m_part.hasKnownOrientation(); }

bool KRVideoDetailViewController::shouldUsePortraitFullscreenForCurrentVideo() const
{
    return currentVideoIsPortrait() && KRPreferences::sharedPreferences().portraitVideoFullscreenEnabled();
}

// ---- account gate and results

void KRVideoDetailViewController::showLoginGateWithTitle(const QString& title, const QString& message, int tag)
{
    // The answer is told the alert it came from, which lives until its callback returns.
    auto shown = std::make_shared<QPointer<AlertView>>();
    auto* alert = new AlertView(title, message, QStringLiteral("知道了"), {QStringLiteral("前往“我的”")}, this,
                                [this, shown](int index) { alertViewClickedButtonAtIndex(shown->data(), index); });
    *shown = alert;
    alert->setTag(tag);
    alert->show();
}

void KRVideoDetailViewController::showAccountResult(const QString& text, bool success)
{
    if (!text.isEmpty())
        showDanmakuStatus(text);
    else
        showDanmakuStatus(success ? QStringLiteral("操作成功") : QStringLiteral("操作失败，请稍后重试"));
}

void KRVideoDetailViewController::navigateToProfile() { KRNavigateToProfileTab(this); }

void KRVideoDetailViewController::alertViewClickedButtonAtIndex(AlertView* alert, int buttonIndex)
{
    if (!alert || buttonIndex == alert->cancelButtonIndex())
        return;
    if (alert->tag() != kLoginGateAlertTag && alert->tag() != kDanmakuLoginAlertTag)
        return;
    // From the full screen, the profile opens once it has gone.
    if (m_fullscreen->isShown()) {
        m_fullscreen->navigateToProfileAfterExit();
        fullscreenDoneTapped();
        return;
    }
    navigateToProfile();
}
