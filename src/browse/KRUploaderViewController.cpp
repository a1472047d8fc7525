#include "browse/KRUploaderViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "shared/KRLoadMoreView.h"
#include "shared/KRPullRefreshView.h"
#include "browse/KRVideoCell.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "service/KRAPIClient.h"
#include "store/KRSessionStore.h"
#include "nav/KRRouter.h"

#include <QSet>

#include <algorithm>
#include <cstdio>

using namespace platform::uikit;

namespace {

const QString kTitle = QStringLiteral("UP 投稿");
const QString kCellIdentifier = QStringLiteral("KRUploaderVideoCell");
const QString kFollowTitle = QStringLiteral("＋关注");
const QString kFollowingTitle = QStringLiteral("已关注");
const QString kStatisticsLoading = QStringLiteral("投稿与粉丝 读取中");

// Page geometry, in points.
constexpr qreal kRowHeight = 94;
constexpr qreal kBottomInset = 8;
constexpr qreal kHeaderHeight = 80;
constexpr QRectF kAvatarFrame{10, 10, 48, 48};
constexpr qreal kTextX = 68;
constexpr qreal kNameTop = 8, kNameHeight = 23;
constexpr qreal kUIDTop = 31, kUIDHeight = 18;
constexpr qreal kStateTop = 50, kStateHeight = 20;
constexpr qreal kNameRightSpace = 164, kNameMinWidth = 80;
constexpr qreal kStateRightSpace = 78, kStateMinWidth = 120;
constexpr qreal kFollowRight = 84, kFollowTop = 13, kFollowWidth = 72, kFollowHeight = 34;
constexpr qreal kSpinnerCenterY = 128;
constexpr qreal kLoadMoreHeight = 44;
// The header's small lines shrink to this size before they are cut short.
constexpr qreal kMinimumFontSize = 8;
// How close to the end a scroll asks for the next page.
constexpr qreal kPrefetchDistance = 100;

// Relation attributes that mean "following" (plain and mutual).
bool isFollowingAttribute(qint64 attribute) { return attribute == 2 || attribute == 6; }

qint64 relationAttribute(const QVariant& reply)
{
    const QVariantMap map = reply.toMap();
    if (!KRIsMissing(map.value(QStringLiteral("attribute"))))
        return KRLongLong(map.value(QStringLiteral("attribute")));
    return KRLongLong(map.value(QStringLiteral("relation")).toMap().value(QStringLiteral("attribute")));
}

QString oneDecimal(double value)
{
    // The C library's rounding, so 1.25 reads 1.2 as the platform prints it.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return QString::fromLatin1(buffer);
}

void showAlert(const QString& title, const QString& message, const QString& button)
{
    (new AlertView(title, message, button, {}))->show();
}

} // namespace

QString KRUploaderCompactCount(qint64 count)
{
    if (count < 10000)
        return QString::number(count);
    if (count < 100000000)
        return oneDecimal(double(count) / 10000) + QStringLiteral("万");
    return oneDecimal(double(count) / 100000000) + QStringLiteral("亿");
}

KRUploaderViewController::KRUploaderViewController(qint64 mid, const QString& name, const QString& avatarURL, QObject* parent)
    : TableViewController(TableViewStylePlain, parent)
    , m_mid(mid)
    , m_name(name)
    , m_avatarURL(avatarURL)
{
    setHidesBottomBarWhenPushed(true);
}

KRUploaderViewController::~KRUploaderViewController() = default;

void KRUploaderViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(kTitle);
    TableView* table = tableView();
    const qreal w = view()->bounds().width();
    table->setRowHeight(kRowHeight);
    table->setContentInset(EdgeInsets{0, 0, kBottomInset, 0});
    table->setScrollIndicatorInsets(EdgeInsets{0, 0, kBottomInset, 0});

    m_headerView = new View(QRectF(0, 0, w, kHeaderHeight));
    m_avatarView = new ImageView(QRectF(kAvatarFrame), m_headerView);
    m_avatarView->setImage(Image::named(QStringLiteral("Tarnwick23/tv42")));
    m_avatarView->setContentMode(ContentModeScaleAspectFill);
    m_avatarView->setCornerRadius(kAvatarFrame.width() / 2);

    m_nameLabel = new Label(QRectF(kTextX, kNameTop, 158, kNameHeight), m_headerView);
    m_nameLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_nameLabel->setFont(Label::systemFont(16, true));
    m_nameLabel->setText(m_name.isEmpty() ? QStringLiteral("未知 UP 主") : m_name);

    m_uidLabel = new Label(QRectF(kTextX, kUIDTop, 158, kUIDHeight), m_headerView);
    m_uidLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_uidLabel->setFont(Label::systemFont(10));
    m_uidLabel->setMinimumFontSize(kMinimumFontSize);
    m_uidLabel->setText(m_mid >= 1 ? QStringLiteral("UID %1").arg(m_mid) : QStringLiteral("UID 待解析"));

    m_stateLabel = new Label(QRectF(kTextX, kStateTop, w - kStateRightSpace, kStateHeight), m_headerView);
    m_stateLabel->setAutoresizingMask(AutoresizingFlexibleWidth);
    m_stateLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_stateLabel->setFont(Label::systemFont(10));
    m_stateLabel->setMinimumFontSize(kMinimumFontSize);
    m_stateLabel->setText(kStatisticsLoading);

    m_followButton = new Button(ButtonTypeCustom, QRectF(w - kFollowRight, kFollowTop, kFollowWidth, kFollowHeight), m_headerView);
    m_followButton->setAutoresizingMask(AutoresizingFlexibleLeftMargin);
    m_followButton->titleLabel()->setFont(Label::systemFont(12, true));
    m_followButton->setTitle(kFollowTitle, ControlStateNormal);
    m_followButton->addTarget(ControlEventTouchUpInside, [this] { followTapped(); });
    table->setTableHeaderView(m_headerView);

    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray, view());
    m_spinner->setCenter(QPointF(w / 2, kSpinnerCenterY));
    m_pullRefreshView = new KRPullRefreshView(QRectF(0, -KRPullRefreshView::kPullDistance, w, KRPullRefreshView::kPullDistance), table);
    m_loadMoreView = new KRLoadMoreView(QRectF(0, 0, w, kLoadMoreHeight));
    m_loadMoreView->addTarget([this] { loadMoreTapped(); });
    table->setTableFooterView(m_loadMoreView);

    if (!m_avatarURL.isEmpty()) {
        const QString requested = m_avatarURL;
        KRImageLoader::sharedLoader()->loadImageForURLString(requested, this, [this, requested](const Image& image) {
            if (!image.isNull() && m_avatarURL == requested)
                m_avatarView->setImage(image);
        });
    }

    auto& center = platform::NotificationCenter::defaultCenter();
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { themeDidChange(); });
    m_sessionObserver =
        center.addObserver(KRSessionDidChangeNotification, nullptr, [this](const platform::Notification&) { sessionDidChange(); });
    applyTheme();
    loadPage(1, true);
    loadFollowerStatistics();
    loadFollowState();
}

void KRUploaderViewController::viewWillAppear(bool animated)
{
    TableViewController::viewWillAppear(animated);
    loadFollowState();
}

void KRUploaderViewController::viewDidLayoutSubviews()
{
    TableViewController::viewDidLayoutSubviews();
    const qreal w = view()->bounds().width();
    m_headerView->setFrame(QRectF(0, 0, w, kHeaderHeight));
    const qreal nameWidth = std::max(w - kNameRightSpace, kNameMinWidth);
    m_nameLabel->setFrame(QRectF(kTextX, kNameTop, nameWidth, kNameHeight));
    m_uidLabel->setFrame(QRectF(kTextX, kUIDTop, nameWidth, kUIDHeight));
    m_stateLabel->setFrame(QRectF(kTextX, kStateTop, std::max(w - kStateRightSpace, kStateMinWidth), kStateHeight));
    m_followButton->setFrame(QRectF(w - kFollowRight, kFollowTop, kFollowWidth, kFollowHeight));
}

void KRUploaderViewController::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(kTitle));
    tableView()->setBackgroundColor(theme->backgroundColor());
    tableView()->setSeparatorColor(theme->separatorColor());
    m_headerView->setBackgroundColor(theme->surfaceColor());
    m_nameLabel->setTextColor(theme->primaryTextColor());
    m_uidLabel->setTextColor(theme->secondaryTextColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
    m_followButton->setTitleColor(KRTarnwick23ButtonTitleColor(theme), ControlStateNormal);
    m_followButton->setTitleShadowColor(KRTarnwick23ButtonTitleShadowColor(theme), ControlStateNormal);
    m_followButton->titleLabel()->setShadowOffset(KRTarnwick23ButtonTitleShadowOffset(theme));
    m_followButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, false), ControlStateNormal);
    m_followButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, true), ControlStateHighlighted);
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    m_pullRefreshView->applyTheme();
    m_loadMoreView->applyTheme();
}

void KRUploaderViewController::themeDidChange()
{
    applyTheme();
    tableView()->reloadData();
}

void KRUploaderViewController::sessionDidChange()
{
    const KRSessionStore& session = KRSessionStore::sharedStore();
    // Another account's follow state is not this one's, even for the moment its own loads.
    if (!session.isLoggedIn() || (m_followUserID != 0 && session.userID() != m_followUserID)) {
        m_following = false;
        m_followUserID = 0;
        showFollowTitle();
    }
    if (session.isLoggedIn())
        loadFollowState();
}

void KRUploaderViewController::updateHeaderState()
{
    QStringList parts;
    if (m_submissionTotalKnown)
        parts << QStringLiteral("投稿 ") + KRUploaderCompactCount(m_totalSubmissions);
    if (m_followerCountKnown)
        parts << QStringLiteral("粉丝 ") + KRUploaderCompactCount(m_followerCount);
    if (!parts.isEmpty())
        m_stateLabel->setText(parts.join(QStringLiteral("  ·  ")));
    else if (m_submissionMetadataLoaded)
        m_stateLabel->setText(QStringLiteral("暂无可用统计"));
    else
        m_stateLabel->setText(m_submissionLoadFailed ? QStringLiteral("投稿读取失败，可下拉重试") : kStatisticsLoading);
}

void KRUploaderViewController::loadFollowerStatistics()
{
    if (m_mid < 1)
        return;
    KRAccountClient::sharedClient()->loadFollowerStatisticsForMID(m_mid, this, [this](const QVariant& result, const KROptionalError& error) {
        if (!error) {
            if (const std::optional<qint64> followers = KRIntegerValue(result.toMap().value(QStringLiteral("follower")))) {
                m_followerCount = *followers;
                m_followerCountKnown = true;
            }
        }
        updateHeaderState();
    });
}

bool KRUploaderViewController::isSameAccountLoggedIn(qint64 userID) const
{
    const KRSessionStore& session = KRSessionStore::sharedStore();
    return session.isLoggedIn() && session.userID() == userID;
}

void KRUploaderViewController::dropStaleFollowReply()
{
    // The reply speaks for an account that is no longer the one shown; the account now logged
    // in (if any) gets its own relation.
    m_followLoading = false;
    if (KRSessionStore::sharedStore().isLoggedIn())
        loadFollowState();
}

void KRUploaderViewController::loadFollowState()
{
    const KRSessionStore& session = KRSessionStore::sharedStore();
    if (!session.isLoggedIn() || m_mid < 1 || m_followLoading)
        return;
    m_followLoading = true;
    const qint64 userID = session.userID();
    KRAccountClient::sharedClient()->loadRelationForMID(m_mid, this, [this, userID](const QVariant& result, const KROptionalError& error) {
        if (!isSameAccountLoggedIn(userID)) {
            dropStaleFollowReply();
            return;
        }
        m_followLoading = false;
        if (error)
            return;
        m_following = isFollowingAttribute(relationAttribute(result));
        m_followUserID = userID;
        showFollowTitle();
    });
}

void KRUploaderViewController::showFollowTitle()
{
    m_followButton->setTitle(m_following ? kFollowingTitle : kFollowTitle, ControlStateNormal);
}

void KRUploaderViewController::followTapped()
{
    const KRSessionStore& session = KRSessionStore::sharedStore();
    if (!session.isLoggedIn()) {
        showAlert(QStringLiteral("登录后关注"),
                  QStringLiteral("投稿浏览不需要登录；关注状态需要扫码登录会话后才能读取和修改。"), QStringLiteral("知道了"));
        return;
    }
    if (m_followLoading || m_mid < 1)
        return;
    m_followLoading = true;
    const qint64 userID = session.userID();
    KRAccountClient::sharedClient()->setFollowing(!m_following, m_mid, this,
                                                  [this, userID](bool success, const QString& message, const QVariant&) {
        if (!isSameAccountLoggedIn(userID)) {
            dropStaleFollowReply();
            return;
        }
        m_followLoading = false;
        if (success) {
            m_following = !m_following;
            m_followUserID = userID;
            showFollowTitle();
        }
        showAlert(success ? QStringLiteral("操作成功") : QStringLiteral("操作失败"), message, QStringLiteral("好"));
    });
}

void KRUploaderViewController::loadMoreTapped()
{
    // A failed request is repeated as it was, even the first page, which left nothing to page on.
    if (m_loadMoreView->state() == KRLoadMoreStateFailed && m_failedRequest) {
        loadPage(m_failedRequest->first, m_failedRequest->second);
        return;
    }
    if (m_hasMore)
        loadPage(m_page + 1, false);
}

void KRUploaderViewController::loadPage(int page, bool reset)
{
    if (m_loading)
        return;
    m_loading = true;
    m_submissionLoadFailed = false;
    if (page == 1)
        m_spinner->startAnimating();
    else
        m_loadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    KRAPIClient::sharedClient()->loadUploaderPageForMID(
        m_mid, m_name, page, this, [this, page, reset](const KRAPIClient::KRVideoPageResult& result, const KROptionalError& error) {
            m_loading = false;
            m_spinner->stopAnimating();
            m_pullRefreshView->endRefreshingInScrollView(tableView());
            if (error && result.videos.isEmpty()) {
                // Kept as state, not only written to the label: the follower count may answer
                // after this and redraw the header, which must not go back to "loading".
                m_submissionLoadFailed = true;
                updateHeaderState();
                m_failedRequest = std::make_pair(page, reset);
                m_loadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
                return;
            }
            m_failedRequest.reset();
            if (reset)
                m_videos.clear();
            QSet<QString> shown;
            for (const auto& video : std::as_const(m_videos))
                if (const QString identity = video->feedIdentity(); !identity.isEmpty())
                    shown.insert(identity);
            int appended = 0;
            for (const auto& video : result.videos) {
                if (!video)
                    continue;
                const QString identity = video->feedIdentity();
                if (!identity.isEmpty()) {
                    if (shown.contains(identity))
                        continue;
                    shown.insert(identity);
                }
                m_videos.append(video);
                ++appended;
            }
            m_page = result.page >= 1 ? int(result.page) : page;
            if (result.total) {
                m_totalSubmissions = *result.total;
                m_submissionTotalKnown = true;
            }
            m_submissionMetadataLoaded = true;
            m_hasMore = result.hasMore && !(!result.total && appended == 0);
            updateHeaderState();
            m_loadMoreView->setLoadMoreState(m_hasMore ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
            tableView()->reloadData();
        });
}

int KRUploaderViewController::numberOfRowsInSection(TableView*, int) { return int(m_videos.size()); }

qreal KRUploaderViewController::heightForRowAtIndexPath(TableView*, const IndexPath&) { return kRowHeight; }

TableViewCell* KRUploaderViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    auto* cell = static_cast<KRVideoCell*>(table->dequeueReusableCellWithIdentifier(kCellIdentifier));
    if (!cell)
        cell = new KRVideoCell(TableViewCellStyleDefault, kCellIdentifier);
    const std::shared_ptr<KRVideo> video = m_videos.value(indexPath.row);
    cell->configureWithVideo(video);
    if (video && !video->isUnavailable())
        cell->loadCover();
    return cell;
}

void KRUploaderViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    const std::shared_ptr<KRVideo> video = m_videos.value(indexPath.row);
    if (!video || video->isUnavailable() || !navigationController())
        return;
    KRRouter::openVideoPage(navigationController(), video);
}

void KRUploaderViewController::scrollViewDidScroll(ScrollView* scrollView)
{
    m_pullRefreshView->updateForScrollView(scrollView);
    if (m_loading || !m_hasMore)
        return;
    if (scrollView->contentOffset().y() + scrollView->bounds().height() >= scrollView->contentSize().height() - kPrefetchDistance)
        loadPage(m_page + 1, false);
}

void KRUploaderViewController::scrollViewDidEndDragging(ScrollView* scrollView, bool)
{
    if (m_loading || !m_pullRefreshView->shouldBeginRefreshAfterDragging())
        return;
    m_pullRefreshView->beginRefreshingInScrollView(scrollView);
    m_submissionTotalKnown = false;
    m_followerCountKnown = false;
    m_submissionMetadataLoaded = false;
    m_submissionLoadFailed = false;
    updateHeaderState();
    loadFollowerStatistics();
    loadPage(1, true);
}
