#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/uikit/ActionSheet.h"
#include "shared/KRDynamicComposerViewDelegate.h"
#include "video/KRVideoInfoPage.h"
#include "video/KRVideoRequestScope.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class KRDynamicComposerView;
class KRVideo;

namespace platform::uikit {
class View;
class ViewController;
}

// The account layer of the video page: what a signed-in user does to the video and its uploader
// (like, coins, the one-tap triple, favourite folders, follow, watch later, sharing) and the
// state those show (read from the service, cleared with the session). It answers the five
// interaction buttons and "＋关注" of the information page, owns the coin, More and share sheets
// and the share composer, and repeats a like or coin once after a passed captcha. The page stays
// the sheets' delegate and owner and hands their answers here; what is not the account's (the
// login gate, the toast, the caching entry) goes back to the page through the host.
class KRVideoAccountActions : public QObject, public KRDynamicComposerViewDelegate {
    Q_OBJECT
public:
    struct Host {
        std::function<std::shared_ptr<KRVideo>()> video;
        // The resolved aid when positive, else the video's aid.
        std::function<qint64()> accountAID;
        // The login gate (alert 7200): title and message.
        std::function<void(const QString& title, const QString& message)> loginGate;
        // The toast over the player; an empty text reads as the outcome.
        std::function<void(const QString& text, bool success)> result;
        // More's "离线缓存", once the sheet has gone.
        std::function<void()> cacheEntry;
    };
    enum Action { Triple = 0, Like = 1, Coin = 2, Favorite = 3, Follow = 4, WatchLater = 5 };
    // What a share-sheet choice waits to do once the sheet has gone.
    enum ShareChoice { ShareNone = 0, ShareSystem = 1, ShareToDynamics = 2, ShareCopyLink = 3 };

    KRVideoAccountActions(platform::uikit::ViewController* page, platform::uikit::ActionSheetDelegate* sheetDelegate,
                          KRVideoInfoPage* info, Host host, QObject* parent = nullptr);
    ~KRVideoAccountActions() override;

    // With the page's view: replies arrive only while it lives.
    void attachToView(platform::uikit::View* view);

    // ---- the buttons ----
    // Tags 7600 triple, 7601 like, 7602 coin, 7603 favourite, 7604 more (clamped).
    void interactionButtonTapped(int tag);
    void followButtonTapped();
    void fullscreenWatchLaterTapped();
    void presentFavoriteFolderPicker();

    // ---- state ----
    void loadAccountInteractionState();
    // The detail brought the uploader (and perhaps the aid): reads what is still unknown.
    void detailDidLoad();
    // Signed in or out: what belonged to the previous account goes; a signed-in one is read.
    void sessionDidChange();
    const KRVideoInfoPage::Interactions& interactions() const { return m_state; }
    bool isInteractionLoading() const { return m_loading; }
    bool isFollowStateLoading() const { return m_followStateLoading; }
    int coinLimitForCurrentVideo() const;
    int remainingCoinCapacity() const;
    // False when nothing went out (another action runs, signed out, the video not yet known).
    bool performAccountAction(int action);

    // ---- sheets and sharing ----
    void showCoinActionSheetFromButton(platform::uikit::View* button, bool triple);
    void showMoreActionSheetFromView(platform::uikit::View* source);
    // The page's sheet answers; true when the sheet was one of these.
    bool sheetClicked(platform::uikit::ActionSheet* sheet, int index);
    bool sheetDismissed(platform::uikit::ActionSheet* sheet, int index);
    QString shareURLString() const;
    KRDynamicComposerView* shareComposer() const;
    platform::uikit::ActionSheet* visibleSheet() const { return m_visibleSheet; }

    void dynamicComposerViewDidCancel(KRDynamicComposerView*) override {}
    void dynamicComposerViewDidSubmitText(KRDynamicComposerView* composer, const QString& text) override;

    // The risk options a refused like or coin carried for the captcha screen; none when the
    // refusal held no challenge.
    static std::optional<QVariantMap> riskOptionsFromFailureData(const QVariant& data);

private:
    void loadFollowState();
    void showInteractions();
    // `asked` is the state the action set out to reach: its answer writes that, not a toggle of
    // whatever the state has become meanwhile.
    void finishAccountAction(int action, const KRVideoInfoPage::Interactions& asked, bool success, const QString& message,
                             const QVariant& data);
    // The like, coin and favourite state was just written: a read asked before tells of the
    // state before it, and is dropped.
    void archiveStateWritten();
    bool verifyAndRepeat(int action, const QVariant& data);
    // A sheet with the page as its delegate and owner, the buttons, then "取消".
    platform::uikit::ActionSheet* makeSheet(const QString& title, int tag, const QStringList& buttons) const;
    void presentSheet(platform::uikit::ActionSheet* sheet, platform::uikit::View* source);
    void armDeferred(const QString& name, int milliseconds);
    void presentDeferredShareAfterMore();
    void presentDeferredOfflineQualityAfterMore();
    void performDeferredShareAction();
    void presentVideoDynamicComposer();
    qint64 ownerMID() const;

    platform::uikit::ViewController* m_page;
    platform::uikit::ActionSheetDelegate* m_sheetDelegate;
    KRVideoInfoPage* m_info;
    Host m_host;
    KRVideoInfoPage::Interactions m_state;
    // The account the state belongs to (0 signed out).
    qint64 m_sessionAccount = 0;
    bool m_loading = false;
    bool m_relationLoading = false;
    bool m_relationReadAgain = false;
    // Grows with every write of the like, coin and favourite state; a relation reply asked
    // under an older value is dropped.
    quint64 m_relationRequestGeneration = 0;
    // A read wanted while an action ran: it is asked once the action has its answer.
    bool m_readAfterAction = false;
    bool m_followStateLoading = false;
    qint64 m_followStateMID = 0;
    // Grows with every read of the follow state and every follow or unfollow sent.
    quint64 m_followStateRequestGeneration = 0;
    int m_pendingCoinCount = 0;
    // A passed captcha's token, sent once with the repeated like or coin.
    QString m_gaiaRetryToken;
    bool m_gaiaRetryInFlight = false;
    bool m_shareAfterMoreDismiss = false;
    bool m_offlineQualityAfterMoreDismiss = false;
    int m_pendingShareActionAfterDismiss = ShareNone;
    bool m_shareSubmitting = false;
    QPointer<KRDynamicComposerView> m_shareComposer;
    QPointer<platform::uikit::ActionSheet> m_visibleSheet;
    platform::DelayedCalls m_delayed;
    // The relation and the actions; the follow state reads with its own generation.
    KRVideoRequestScope m_requests;
    KRVideoRequestScope m_followRequests;
};
