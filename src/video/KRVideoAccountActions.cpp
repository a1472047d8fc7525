#include "video/KRVideoAccountActions.h"

#include "account/KRAccountClient.h"
#include "account/KRAccountRiskChallenge.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "nav/KRRouter.h"
#include "platform/uikit/ActivityViewController.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "shared/KRDynamicComposerView.h"
#include "store/KRSessionStore.h"
#include "video/KRFavoriteFolderPickerViewController.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoPlayerSheets.h"

#include <QDebug>
#include <QUrl>

#include <QStringList>

#include <algorithm>
#include <utility>

using namespace platform::uikit;

namespace {

constexpr int kMoreSheetTag = 7300;
constexpr int kTripleSheetTag = 7303;
constexpr int kCoinSheetTag = 7304;
constexpr int kShareSheetTag = 7305;
// A sheet's choice runs once the sheet has gone: armed on the click, armed again just after
// the dismissal.
constexpr int kDeferredAfterClickMs = 550;
constexpr int kDeferredAfterDismissalMs = 50;

const QString kDeferredShare = QStringLiteral("presentDeferredShareAfterMore");
const QString kDeferredOffline = QStringLiteral("presentDeferredOfflineQualityAfterMore");
const QString kDeferredShareAction = QStringLiteral("performDeferredShareAction");

bool loggedIn() { return KRSessionStore::sharedStore().isLoggedIn(); }

// Relation attributes that mean "following" (plain and mutual).
bool followingFromRelation(const QVariant& reply)
{
    const QVariantMap map = reply.toMap();
    const QVariant attribute = KRIsMissing(map.value(QStringLiteral("attribute")))
                                   ? map.value(QStringLiteral("relation")).toMap().value(QStringLiteral("attribute"))
                                   : map.value(QStringLiteral("attribute"));
    const qint64 value = KRLongLong(attribute);
    return value == 2 || value == 6;
}

// What a refused like or coin tells when the captcha screen gave no token.
QString unverifiedText(int action, bool cancelled)
{
    if (action == KRVideoAccountActions::Like)
        return cancelled ? QStringLiteral("已取消安全验证，点赞状态未改变") : QStringLiteral("安全验证未完成，点赞状态未改变");
    return cancelled ? QStringLiteral("已取消安全验证，本次没有消耗硬币") : QStringLiteral("安全验证未完成，本次没有消耗硬币");
}

// What a triple's answer leaves: liked, the coins the video now holds, and the default folder
// when its step went through.
void writeTriple(KRVideoInfoPage::Interactions& state, const KRVideoInfoPage::Interactions& asked, const QVariantMap& result)
{
    state.liked = true;
    state.coinCount = std::max(asked.coinCount, KRInt32(result.value(QStringLiteral("coin"))));
    state.coined = state.coinCount > 0;
    state.favorited = asked.favorited || KRInt32(result.value(QStringLiteral("favorite"))) == 1;
}

} // namespace

KRVideoAccountActions::KRVideoAccountActions(ViewController* page, ActionSheetDelegate* sheetDelegate, KRVideoInfoPage* info,
                                             Host host, QObject* parent)
    : QObject(parent)
    , m_page(page)
    , m_sheetDelegate(sheetDelegate)
    , m_info(info)
    , m_host(std::move(host))
{
}

KRVideoAccountActions::~KRVideoAccountActions()
{
    m_delayed.cancelAll();
    // The composer lives in the navigation controller's view, which outlives the page: it
    // goes with the page, telling it nothing more.
    if (m_shareComposer) {
        m_shareComposer->setDelegate(nullptr);
        m_shareComposer->deleteLater();
    }
}

void KRVideoAccountActions::attachToView(View* view)
{
    m_requests.setView(view);
    m_followRequests.setView(view);
}

qint64 KRVideoAccountActions::ownerMID() const
{
    const std::shared_ptr<KRVideo> video = m_host.video();
    return video ? video->ownerMID() : 0;
}

// ---- the buttons ----

void KRVideoAccountActions::interactionButtonTapped(int tag)
{
    tag = std::clamp(tag, 7600, 7604);
    View* button = m_info->interactionButton(tag - 7600);
    if (tag == 7604) {
        showMoreActionSheetFromView(button);
        return;
    }
    if (!loggedIn()) {
        static const char* const titles[] = {"", "点赞", "投币", "收藏"};
        const QString message = tag == 7600
                                    ? QStringLiteral("一键三连需要登录后同时完成点赞、投币和收藏。当前未登录，不会伪造操作结果。")
                                    : QStringLiteral("%1需要登录后提交。当前未登录，不会伪造操作结果。").arg(QString::fromUtf8(titles[tag - 7600]));
        m_host.loginGate(QStringLiteral("登录后可操作"), message);
        return;
    }
    if (m_loading)
        return;
    if (tag == 7603) {
        presentFavoriteFolderPicker();
        return;
    }
    if (tag == 7601) {
        performAccountAction(Like);
        return;
    }
    if (!m_state.stateLoaded) {
        m_host.result(QStringLiteral("正在读取投币状态，请稍后再点"), false);
        loadAccountInteractionState();
        return;
    }
    if (tag == 7600 && m_state.liked && m_state.favorited && remainingCoinCapacity() < 1) {
        m_pendingCoinCount = 0;
        performAccountAction(Triple);
        return;
    }
    showCoinActionSheetFromButton(button, tag == 7600);
}

void KRVideoAccountActions::followButtonTapped()
{
    if (!loggedIn()) {
        m_host.loginGate(QStringLiteral("登录后可操作"),
                         QStringLiteral("关注需要登录后提交。当前未登录，不会伪造操作结果。"));
        return;
    }
    performAccountAction(Follow);
}

void KRVideoAccountActions::fullscreenWatchLaterTapped()
{
    if (!loggedIn()) {
        m_host.loginGate(QStringLiteral("登录后稍后观看"), QStringLiteral("稍后观看会同步到账号；当前未登录，不会伪造添加成功。"));
        return;
    }
    performAccountAction(WatchLater);
}

void KRVideoAccountActions::presentFavoriteFolderPicker()
{
    const qint64 aid = m_host.accountAID();
    NavigationController* navigation = m_page->navigationController();
    if (aid < 1 || !navigation) {
        m_host.result(QStringLiteral("视频信息尚未读取完成，暂时无法收藏"), false);
        return;
    }
    const std::shared_ptr<KRVideo> video = m_host.video();
    QPointer<KRVideoAccountActions> self(this);
    auto* picker = new KRFavoriteFolderPickerViewController(
        aid, video ? video->title() : QString(), [self](bool favorited, const QString& message) {
            if (!self)
                return;
            self->archiveStateWritten();
            self->m_state.favorited = favorited;
            self->showInteractions();
            if (!message.isNull())
                self->m_host.result(message, true);
        });
    picker->setHidesBottomBarWhenPushed(true);
    navigation->pushViewController(picker, true);
}

// ---- state ----

int KRVideoAccountActions::coinLimitForCurrentVideo() const
{
    const std::shared_ptr<KRVideo> video = m_host.video();
    return KRCoinLimitForCopyright(video ? video->copyright() : 0);
}

int KRVideoAccountActions::remainingCoinCapacity() const
{
    return std::max(coinLimitForCurrentVideo() - std::max(m_state.coinCount, 0), 0);
}

void KRVideoAccountActions::showInteractions() { m_info->setInteractions(m_state); }

void KRVideoAccountActions::loadAccountInteractionState()
{
    const KRSessionStore& store = KRSessionStore::sharedStore();
    m_sessionAccount = store.isLoggedIn() ? std::max<qint64>(store.userID(), 1) : 0;
    const qint64 aid = m_host.accountAID();
    if (!loggedIn() || aid < 1) {
        showInteractions();
        return;
    }
    if (m_loading) {
        // Read while an action runs, the state could be the one before or after it.
        m_readAfterAction = true;
        return;
    }
    loadFollowState();
    if (m_relationLoading) {
        // Asked again while a read is on its way: should that one fail, it is read once more.
        m_relationReadAgain = true;
        return;
    }
    QObject* owner = m_requests.owner();
    if (!owner)
        return;
    m_relationLoading = true;
    const quint64 generation = m_relationRequestGeneration;
    KRAccountClient::sharedClient()->loadArchiveRelationForAID(aid, owner, [this, generation](const QVariant& result,
                                                                                              const KROptionalError& error) {
        m_relationLoading = false;
        const bool askedAgain = std::exchange(m_relationReadAgain, false);
        // Asked before the last like, coin or favourite, the reply may not know of it.
        const bool superseded = generation != m_relationRequestGeneration;
        // A failed read keeps the state unknown: the coin buttons ask again when tapped.
        if (superseded || error || !KRIsDictionary(result)) {
            if (askedAgain || (superseded && !m_state.stateLoaded))
                loadAccountInteractionState();
            return;
        }
        const QVariantMap relation = result.toMap();
        m_state.liked = KRBoolean(relation.value(QStringLiteral("like")));
        m_state.favorited = KRBoolean(relation.value(QStringLiteral("favorite")));
        m_state.coinCount = std::max(0, KRInt32(relation.value(QStringLiteral("coin"))));
        m_state.coined = m_state.coinCount > 0;
        m_state.stateLoaded = true;
        showInteractions();
    });
}

void KRVideoAccountActions::loadFollowState()
{
    const qint64 mid = ownerMID();
    if (!loggedIn() || mid < 1 || (m_followStateLoading && m_followStateMID == mid))
        return;
    if (m_loading) {
        m_readAfterAction = true;
        return;
    }
    QObject* owner = m_followRequests.begin();
    if (!owner)
        return;
    const quint64 generation = ++m_followStateRequestGeneration;
    m_followStateLoading = true;
    m_followStateMID = mid;
    KRAccountClient::sharedClient()->loadRelationForMID(mid, owner, [this, generation, mid](const QVariant& result, const KROptionalError& error) {
        if (generation != m_followStateRequestGeneration)
            return;
        m_followStateLoading = false;
        if (error || mid != ownerMID())
            return;
        m_state.following = followingFromRelation(result);
        showInteractions();
    });
}

void KRVideoAccountActions::detailDidLoad()
{
    if (!loggedIn())
        return;
    if (!m_state.stateLoaded)
        loadAccountInteractionState();
    else if (ownerMID() != m_followStateMID)
        loadFollowState();
}

void KRVideoAccountActions::sessionDidChange()
{
    // The store tells of every change to its cookies (the risk-control ones an action fetches
    // among them): only another account, or none, makes the state the previous one's.
    const KRSessionStore& store = KRSessionStore::sharedStore();
    const qint64 account = store.isLoggedIn() ? std::max<qint64>(store.userID(), 1) : 0;
    if (account == m_sessionAccount) {
        if (account && !m_state.stateLoaded)
            loadAccountInteractionState();
        return;
    }
    m_sessionAccount = account;
    // Replies on their way belong to the previous account.
    m_requests.end();
    m_followRequests.end();
    ++m_followStateRequestGeneration;
    ++m_relationRequestGeneration;
    m_relationLoading = false;
    m_relationReadAgain = false;
    m_readAfterAction = false;
    m_followStateLoading = false;
    m_followStateMID = 0;
    m_loading = false;
    m_gaiaRetryToken.clear();
    m_gaiaRetryInFlight = false;
    // A share on its way went with the requests: the composer can send again.
    if (std::exchange(m_shareSubmitting, false) && m_shareComposer)
        m_shareComposer->textField()->setEnabled(true);
    m_state = KRVideoInfoPage::Interactions();
    showInteractions();
    loadAccountInteractionState();
}

bool KRVideoAccountActions::performAccountAction(int action)
{
    const qint64 aid = m_host.accountAID();
    if (m_loading || action < Triple || action > WatchLater)
        return false;
    if (!loggedIn()) {
        m_host.loginGate(QStringLiteral("登录后可操作"), QStringLiteral("当前未登录，不会伪造操作结果。"));
        return false;
    }
    if (aid < 1 || (action == Follow && ownerMID() < 1)) {
        m_host.result(action == Follow ? QStringLiteral("UP 主信息尚未读取完成") : QStringLiteral("视频信息尚未读取完成"), false);
        return false;
    }
    QObject* owner = m_requests.owner();
    if (!owner)
        return false;
    m_loading = true;
    const std::shared_ptr<KRVideo> video = m_host.video();
    const QString bvid = video ? video->canonicalBVID() : QString();
    // The token of a passed captcha goes with this one repeat only.
    const QString token = std::exchange(m_gaiaRetryToken, QString());
    const int coins = std::max(m_pendingCoinCount, 1);
    KRVideoInfoPage::Interactions asked = m_state;
    switch (action) {
    case Like:
        asked.liked = !m_state.liked;
        break;
    case Coin:
        asked.coinCount = std::min(std::max(m_state.coinCount, 0) + coins, coinLimitForCurrentVideo());
        asked.coined = true;
        break;
    case Favorite:
        asked.favorited = !m_state.favorited;
        break;
    case Follow:
        asked.following = !m_state.following;
        break;
    default:
        break;
    }
    if (action == Follow) {
        // A follow state on its way was read before this change.
        if (std::exchange(m_followStateLoading, false))
            m_readAfterAction = true;
        ++m_followStateRequestGeneration;
    } else if (action != WatchLater) {
        archiveStateWritten();
    }
    auto done = [this, action, asked](bool success, const QString& message, const QVariant& data) {
        finishAccountAction(action, asked, success, message, data);
    };
    KRAccountClient* client = KRAccountClient::sharedClient();
    switch (action) {
    case Triple:
        client->tripleForAID(aid, bvid, ownerMID(), m_pendingCoinCount, m_state.liked, m_state.coinCount, coinLimitForCurrentVideo(),
                             m_state.favorited, token, owner, done);
        break;
    case Like:
        client->setLike(asked.liked, aid, token, owner, done);
        break;
    case Coin:
        client->addCoinForAID(aid, bvid, coins, false, token, owner, done);
        break;
    case Favorite:
        client->setFavorite(asked.favorited, aid, ownerMID(), owner, done);
        break;
    case Follow:
        client->setFollowing(asked.following, ownerMID(), owner, done);
        break;
    case WatchLater:
        client->addWatchLaterForAID(aid, owner, done);
        break;
    }
    return true;
}

void KRVideoAccountActions::archiveStateWritten()
{
    ++m_relationRequestGeneration;
}

void KRVideoAccountActions::finishAccountAction(int action, const KRVideoInfoPage::Interactions& asked, bool success,
                                                const QString& message, const QVariant& data)
{
    m_loading = false;
    // What was wanted meanwhile is read now, after the action.
    if (std::exchange(m_readAfterAction, false))
        loadAccountInteractionState();
    const bool repeated = std::exchange(m_gaiaRetryInFlight, false);
    if (!success) {
        // A like or coin the risk control stopped is verified and repeated, once.
        if ((action == Like || action == Coin) && !repeated && verifyAndRepeat(action, data))
            return;
        // A triple whose favourite step failed has liked and given its coins all the same.
        if (action == Triple && data.toMap().contains(QStringLiteral("favorite"))) {
            writeTriple(m_state, asked, data.toMap());
            showInteractions();
        }
        m_host.result(message, false);
        return;
    }
    KRVideoInfoPage::Interactions& state = m_state;
    switch (action) {
    case Triple:
        writeTriple(state, asked, data.toMap());
        break;
    case Like:
        state.liked = asked.liked;
        break;
    case Coin:
        state.coinCount = asked.coinCount;
        state.coined = asked.coined;
        break;
    case Favorite:
        state.favorited = asked.favorited;
        break;
    case Follow:
        state.following = asked.following;
        break;
    default:
        break;
    }
    showInteractions();
    m_host.result(action == WatchLater ? QStringLiteral("已加入稍后观看") : message, true);
}

std::optional<QVariantMap> KRVideoAccountActions::riskOptionsFromFailureData(const QVariant& data)
{
    const QVariant risk = KRAccountJSONObjectFromMaybeString(
        KRAccountFindNamedValue(data, {QStringLiteral("gaia_options"), QStringLiteral("gaia_risk_params"), QStringLiteral("ga_data"),
                                       QStringLiteral("risk_params")},
                                0));
    QVariantMap options = risk.toMap();
    if (!options.contains(QStringLiteral("v_voucher"))) {
        const QVariant voucher = data.toMap().value(QStringLiteral("v_voucher"));
        if (KRIsString(voucher) && !voucher.toString().isEmpty())
            options.insert(QStringLiteral("v_voucher"), voucher);
    }
    if (options.isEmpty())
        return std::nullopt;
    return options;
}

bool KRVideoAccountActions::verifyAndRepeat(int action, const QVariant& data)
{
    const std::optional<QVariantMap> options = riskOptionsFromFailureData(data);
    if (!options)
        return false;
    const int coins = m_pendingCoinCount;
    const bool opened = KRRouter::openGaiaVerification(
        m_page->navigationController(), *options, this, [this, action, coins](const QString& token, const KROptionalError& error) {
            if (token.isEmpty()) {
                m_host.result(unverifiedText(action, error && error->code() == 1), false);
                return;
            }
            KRSessionStore::sharedStore().installEphemeralGaiaToken(token);
            if (m_loading) {
                // Another action runs meanwhile: this one is not repeated behind the user's back.
                m_host.result(unverifiedText(action, false), false);
                return;
            }
            m_gaiaRetryToken = token;
            m_gaiaRetryInFlight = true;
            m_pendingCoinCount = coins;
            if (!performAccountAction(action)) {
                m_gaiaRetryToken.clear();
                m_gaiaRetryInFlight = false;
            }
        });
    if (!opened)
        m_host.result(unverifiedText(action, false), false);
    return true;
}

// ---- sheets ----

ActionSheet* KRVideoAccountActions::makeSheet(const QString& title, int tag, const QStringList& buttons) const
{
    auto* sheet = new ActionSheet(title, m_sheetDelegate, m_page);
    sheet->setTag(tag);
    for (const QString& text : buttons)
        sheet->addButtonWithTitle(text);
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    return sheet;
}

void KRVideoAccountActions::presentSheet(ActionSheet* sheet, View* source)
{
    m_visibleSheet = sheet;
    KRVideoPlayerSheets::presentPlaybackActionSheet(sheet, source ? source : m_page->view(), m_page);
}

void KRVideoAccountActions::showCoinActionSheetFromButton(View* button, bool triple)
{
    const int limit = coinLimitForCurrentVideo(), remaining = remainingCoinCapacity(), count = m_state.coinCount;
    if (!triple && remaining <= 0) {
        m_host.result(QStringLiteral("该视频已达投币上限（%1/%2）").arg(count).arg(limit), false);
        return;
    }
    QString title;
    QStringList buttons;
    if (remaining <= 0) {
        title = QStringLiteral("该视频硬币已投满（%1/%2），将只补齐点赞和收藏").arg(count).arg(limit);
        buttons = {QStringLiteral("补齐一键三连")};
    } else if (remaining >= 2) {
        title = QStringLiteral("可投 1 或 2 枚硬币（投币后不可撤销）");
        buttons = triple ? QStringList{QStringLiteral("三连并投 1 枚硬币"), QStringLiteral("三连并投 2 枚硬币")}
                         : QStringList{QStringLiteral("投 1 枚硬币"), QStringLiteral("投 2 枚硬币")};
    } else if (count < 1) {
        title = QStringLiteral("该视频最多可投 %1 枚硬币（投币后不可撤销）").arg(limit);
        buttons = {triple ? QStringLiteral("三连并投 1 枚硬币") : QStringLiteral("投 1 枚硬币")};
    } else {
        title = QStringLiteral("已投 %1 枚，还可再投 1 枚（投币后不可撤销）").arg(count);
        buttons = {triple ? QStringLiteral("三连并再投 1 枚硬币") : QStringLiteral("再投 1 枚硬币（补齐 2 枚）")};
    }
    presentSheet(makeSheet(title, triple ? kTripleSheetTag : kCoinSheetTag, buttons), button);
}

void KRVideoAccountActions::showMoreActionSheetFromView(View* source)
{
    m_delayed.cancel(kDeferredOffline);
    m_delayed.cancel(kDeferredShare);
    m_shareAfterMoreDismiss = false;
    m_offlineQualityAfterMoreDismiss = false;
    presentSheet(makeSheet(QStringLiteral("更多"), kMoreSheetTag,
                           {QStringLiteral("分享"), QStringLiteral("稍后观看"), QStringLiteral("离线缓存")}),
                 source);
}

void KRVideoAccountActions::armDeferred(const QString& name, int milliseconds)
{
    m_delayed.cancel(name);
    m_delayed.schedule(name, milliseconds, [this, name] {
        if (name == kDeferredShare)
            presentDeferredShareAfterMore();
        else if (name == kDeferredOffline)
            presentDeferredOfflineQualityAfterMore();
        else
            performDeferredShareAction();
    });
}

bool KRVideoAccountActions::sheetClicked(ActionSheet* sheet, int index)
{
    const int tag = sheet->tag();
    if (tag != kMoreSheetTag && tag != kTripleSheetTag && tag != kCoinSheetTag && tag != kShareSheetTag)
        return false;
    if (index < 0 || index == sheet->cancelButtonIndex())
        return true;
    switch (tag) {
    case kTripleSheetTag:
        if (index <= 1) {
            m_pendingCoinCount = remainingCoinCapacity() < 1 ? 0 : index + 1;
            performAccountAction(Triple);
        }
        break;
    case kCoinSheetTag:
        m_pendingCoinCount = std::min(index + 1, remainingCoinCapacity());
        if (m_pendingCoinCount >= 1)
            performAccountAction(Coin);
        break;
    case kMoreSheetTag:
        if (index == 0) {
            m_shareAfterMoreDismiss = true;
            armDeferred(kDeferredShare, kDeferredAfterClickMs);
        } else if (index == 1) {
            fullscreenWatchLaterTapped();
        } else if (index == 2) {
            m_offlineQualityAfterMoreDismiss = true;
            m_host.result(QStringLiteral("正在打开缓存清晰度…"), true);
            qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] selected from More; deferring until dismissal");
            armDeferred(kDeferredOffline, kDeferredAfterClickMs);
        }
        break;
    case kShareSheetTag:
        if (index <= 2) {
            m_pendingShareActionAfterDismiss = index + 1;
            armDeferred(kDeferredShareAction, kDeferredAfterClickMs);
        }
        break;
    }
    return true;
}

bool KRVideoAccountActions::sheetDismissed(ActionSheet* sheet, int)
{
    const int tag = sheet->tag();
    if (tag != kMoreSheetTag && tag != kTripleSheetTag && tag != kCoinSheetTag && tag != kShareSheetTag)
        return false;
    if (sheet == m_visibleSheet)
        m_visibleSheet = nullptr;
    if (tag == kMoreSheetTag) {
        if (m_shareAfterMoreDismiss)
            armDeferred(kDeferredShare, kDeferredAfterDismissalMs);
        if (m_offlineQualityAfterMoreDismiss)
            armDeferred(kDeferredOffline, kDeferredAfterDismissalMs);
    } else if (tag == kShareSheetTag && m_pendingShareActionAfterDismiss != ShareNone) {
        armDeferred(kDeferredShareAction, kDeferredAfterDismissalMs);
    }
    return true;
}

void KRVideoAccountActions::presentDeferredShareAfterMore()
{
    if (!m_shareAfterMoreDismiss || !m_page->isViewLoaded() || !m_page->view()->window())
        return;
    m_shareAfterMoreDismiss = false;
    m_pendingShareActionAfterDismiss = ShareNone;
    ActionSheet* sheet = makeSheet(QStringLiteral("分享视频"), kShareSheetTag,
                                   {QStringLiteral("系统分享"), QStringLiteral("分享到动态"), QStringLiteral("复制链接")});
    NavigationController* navigation = m_page->navigationController();
    m_visibleSheet = sheet;
    sheet->showInView(navigation ? navigation->view() : m_page->view());
}

void KRVideoAccountActions::presentDeferredOfflineQualityAfterMore()
{
    if (!m_offlineQualityAfterMoreDismiss)
        return;
    m_offlineQualityAfterMoreDismiss = false;
    if (m_host.cacheEntry)
        m_host.cacheEntry();
}

QString KRVideoAccountActions::shareURLString() const
{
    const std::shared_ptr<KRVideo> video = m_host.video();
    const QString bvid = video ? video->canonicalBVID() : QString();
    const QString root = QStringLiteral("https://") + KRServiceHosts::webHost();
    return bvid.isEmpty() ? root + QLatin1Char('/') : root + QStringLiteral("/video/") + bvid;
}

void KRVideoAccountActions::performDeferredShareAction()
{
    const int choice = std::exchange(m_pendingShareActionAfterDismiss, int(ShareNone));
    const QString link = shareURLString();
    switch (choice) {
    case ShareCopyLink:
        Pasteboard::general().setString(link);
        m_host.result(QStringLiteral("分享链接已复制"), true);
        break;
    case ShareToDynamics:
        presentVideoDynamicComposer();
        break;
    case ShareSystem: {
        if (!ActivityViewController::isAvailable()) {
            Pasteboard::general().setString(link);
            m_host.result(QStringLiteral("iOS 5 已复制分享链接"), true);
            break;
        }
        const std::shared_ptr<KRVideo> video = m_host.video();
        const QString title = video && !video->title().isEmpty() ? video->title() : QStringLiteral("岚帆影院视频");
        m_page->presentViewController(new ActivityViewController({title, QUrl(link)}), true);
        break;
    }
    default:
        break;
    }
}

KRDynamicComposerView* KRVideoAccountActions::shareComposer() const { return m_shareComposer.data(); }

void KRVideoAccountActions::presentVideoDynamicComposer()
{
    if (!m_shareComposer) {
        m_shareComposer = new KRDynamicComposerView(QRectF());
        m_shareComposer->setObjectName(QStringLiteral("videoShareComposer"));
        m_shareComposer->setDelegate(this);
    }
    NavigationController* navigation = m_page->navigationController();
    m_shareComposer->setAllowsImage(false);
    m_shareComposer->presentInView(navigation ? navigation->view() : m_page->view(), QStringLiteral("分享视频到动态…"), QString());
}

void KRVideoAccountActions::dynamicComposerViewDidSubmitText(KRDynamicComposerView* composer, const QString& text)
{
    if (composer != m_shareComposer || text.isEmpty() || m_shareSubmitting)
        return;
    QObject* owner = m_requests.owner();
    if (!owner)
        return;
    const std::shared_ptr<KRVideo> video = m_host.video();
    m_shareSubmitting = true;
    composer->textField()->setEnabled(false);
    KRAccountClient::sharedClient()->shareVideoAID(
        m_host.accountAID(), video ? video->canonicalBVID() : QString(), text, owner,
        [this](bool success, const QString& message, const QVariant&) {
            m_shareSubmitting = false;
            if (!m_shareComposer)
                return;
            m_shareComposer->textField()->setEnabled(true);
            if (!success) {
                // The typed text stays, ready to be sent again.
                m_host.result(QStringLiteral("分享失败：%1").arg(message.isEmpty() ? QStringLiteral("请稍后再试") : message), false);
                return;
            }
            m_shareComposer->dismiss();
            m_host.result(QStringLiteral("已分享到动态"), true);
        });
}
