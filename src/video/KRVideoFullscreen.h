#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/RepeatingTimer.h"
#include "video/KRVideoFullscreenComposer.h"
#include "video/KRVideoFullscreenRail.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class KRPlayerControlsView;
class KRPlayerFullscreen;
class KRVideoPlayerArea;

namespace platform::uikit {
class ActionSheet;
class ActionSheetDelegate;
class View;
class ViewController;
}

// The video page's full screen drawn by the application: the player area's surface grown
// over the window (KRPlayerFullscreen keeps the phases and answers the rotation hooks), with
// the danmaku and the controls laid over the whole picture, the right-hand rail and the
// danmaku composer, kept in step by a synchronisation timer. It also opens the danmaku setting
// sheets from the rail, places the page's sheets over the full screen, lifts the composer above
// the keyboard, and enters by itself once playback runs when the page asked it to.
class KRVideoFullscreen : public QObject {
    Q_OBJECT
public:
    struct Page {
        // A player exists and playback has started.
        std::function<bool()> playing;
        // The video is shown in the portrait full screen.
        std::function<bool()> portraitVideo;
        // Ended awaiting replay, or failed awaiting retry.
        std::function<bool()> idle;
        // The application is active and playback is neither in the background nor interrupted.
        std::function<bool()> foreground;
        // Playback is expected to play, or a quality switch runs.
        std::function<bool()> expectedToPlay;
        std::function<bool()> orientationKnown;
        // The video is portrait, by its picture once known, else by the part's dimensions.
        std::function<bool()> videoPortrait;
        std::function<QString()> identity;
        std::function<QSizeF()> mediaSize;
        std::function<float()> rate;
        std::function<bool()> holdActive;
        // The page's own layout at once, and the navigation bar's repair after a rotation.
        std::function<void()> layoutPage;
        std::function<void()> repairNavigation;
        std::function<void()> commitPortraitRootGeometry;
        std::function<void()> navigateToProfile;
        std::function<void(const QString&)> showStatus;
        // The rail's actions that belong to the page.
        std::function<void()> watchLater;
        std::function<void()> toggleDanmaku;
        std::function<void()> cache;
        std::function<void()> sendDanmaku;
        // The offline pickers over the root, laid out again (and kept above the surface).
        std::function<void()> layoutPickers;
    };
    KRVideoFullscreen(KRVideoPlayerArea* area, platform::uikit::ViewController* page, platform::uikit::ActionSheetDelegate* sheets,
                      Page actions, QObject* parent = nullptr);
    ~KRVideoFullscreen() override;

    KRPlayerFullscreen* player() const { return m_player.get(); }
    bool isShown() const;
    KRVideoFullscreenComposer& composer() { return m_composer; }

    // ---- entering and leaving ----
    void requestLandscapeForCustomFullscreen();
    void setDetailPending(bool pending) { m_detailPending = pending; }
    void setContinuationPending(bool pending) { m_continuationPending = pending; }
    bool isDetailPending() const { return m_detailPending; }
    bool isContinuationPending() const { return m_continuationPending; }
    void enterDetailFullscreenIfPending();
    void playerControlsDidRequestFullscreen();
    void fullscreenDoneTapped();
    // The profile is opened once the full screen has gone.
    void navigateToProfileAfterExit() { m_navigateToProfileAfterExit = true; }
    // The surface went with the player: whatever full screen there was is over.
    void surfaceRemoved();

    // ---- what lies over the picture ----
    void playerControlsVisibilityDidChange(bool visible);
    void attachDanmakuToFullscreen();
    void layoutFullscreenControls();
    void syncFullscreenControls(bool fromTimer);
    // The background stops the synchronisation timer; the restore starts it again when the
    // full screen's controls are on screen and playback is meant to go on.
    void stopFullscreenSyncTimer() { m_syncTimer.stop(); }
    void startFullscreenSyncTimerIfNeeded();
    bool isFullscreenSyncTimerRunning() const { return m_syncTimer.isActive(); }
    void showFullscreenRail();
    void hideFullscreenRail();
    void applyLegacyFullscreenImages();
    void applyTheme();

    // ---- the rail's own actions and the setting sheets ----
    void fullscreenAddDanmakuTapped();
    void showFullscreenDanmakuSettings();
    void showFullscreenDanmakuSettingMode(int mode);
    // True when the sheet was one of the danmaku setting sheets.
    bool sheetClicked(platform::uikit::ActionSheet* sheet, int index);
    bool sheetDismissed(platform::uikit::ActionSheet* sheet);
    // The setting sheet on screen, or null.
    platform::uikit::ActionSheet* visibleSheet() const;
    // Over the full screen on a phone; false when the page places it as usual.
    bool presentSheet(platform::uikit::ActionSheet* sheet);
    // ---- the composer and the keyboard ----
    // The keyboard shows (its frame in the window): while the composer's field edits, the
    // composer's place is right above it, and the composer's view, to be moved there by
    // `layoutFullscreenControls` over the keyboard's duration, is answered; else null.
    platform::uikit::View* composerKeyboardWillShow(const QRectF& keyboardInWindow);
    // The keyboard hides: the composer goes back at once. False without a composer.
    bool composerKeyboardWillHide();

    // The page's recognisers take no touch on the rail or the composer.
    bool shouldReceiveTouch(const platform::uikit::View* touched) const;
    // The hold on the picture takes no press on a control (up to the picture `view`); any other
    // press, or a press on nothing, is the picture's.
    bool holdAllowsTouch(const QWidget* touched, const QWidget* view) const;

private:
    // What a layout of the chrome depends on, and what it leaves: a synchronisation pass lays
    // the chrome out again only when one of these has changed since the last layout.
    struct LayoutInputs {
        const platform::uikit::View* host = nullptr;
        QSizeF size;
        platform::uikit::EdgeInsets insets;
        bool portraitVideo = false;
        bool composerShown = false;
        bool keyboardVisible = false;
        qreal keyboardY = 0;
        KRPlayerControlsView* controls = nullptr;
        QRectF controlsFrame;
        QRectF railFrame;
        bool operator==(const LayoutInputs&) const = default;
    };
    LayoutInputs layoutInputs() const;
    void buildFullscreenControlsInView(platform::uikit::View* host);
    void removeFullscreenControls();
    void restoreDanmakuToEmbeddedPlayer();
    // The rail shown beside visible controls (unless the composer is), hidden with them.
    void railFollowsControls();
    void layoutContent(bool fullscreen);
    void prepareForRotation();
    // The danmaku on screen laid again 0.04 s after a turn into the landscape full screen, and
    // after the return to the embedded player; each only while it still applies.
    void scheduleDanmakuReflowAfterRotation();
    void finishDanmakuReflowAfterRotation();
    void finishEmbeddedDanmakuReflowAfterPortraitReturn();
    void reloadVisibleDanmaku();
    void exited();

    KRVideoPlayerArea* m_area;
    QPointer<platform::uikit::ViewController> m_page;
    platform::uikit::ActionSheetDelegate* m_sheets;
    Page m_actions;
    std::unique_ptr<KRPlayerFullscreen> m_player;
    KRVideoFullscreenRail m_rail;
    KRVideoFullscreenComposer m_composer;
    // The picture the danmaku and the controls lie on, and the surface's container the rail and
    // the composer lie on.
    QPointer<platform::uikit::View> m_danmakuHost;
    QPointer<platform::uikit::View> m_controlsHost;
    QPointer<platform::uikit::ActionSheet> m_sheet;
    platform::RepeatingTimer m_syncTimer;
    double m_lastHeavySync = -1;
    std::optional<LayoutInputs> m_laidOutFor;
    bool m_nativeControlsVisible = false;
    bool m_repopulateDanmakuAfterExit = false;
    bool m_detailPending = false;
    bool m_continuationPending = false;
    bool m_navigateToProfileAfterExit = false;
    int m_portraitRetryCount = 0;
    int m_pendingSettingMode = 0;
    platform::DelayedCalls m_delayed;
};
