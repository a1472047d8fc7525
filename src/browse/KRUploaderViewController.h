#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/TableViewController.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class KRLoadMoreView;
class KRPullRefreshView;
class KRVideo;

namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class View;
}

// A count for the uploader header: the plain number below 10000, else one decimal of 万 or 亿
// ("1.2万", "1.0亿").
QString KRUploaderCompactCount(qint64 count);

// One uploader's page: avatar, name, UID, submissions and followers, a follow button, and the
// uploader's videos in pages with pull-to-refresh. Browsing needs no login; the follow state
// and its button need the session.
class KRUploaderViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    bool keepsPresenterPlayback() const override { return true; }
    KRUploaderViewController(qint64 mid, const QString& name, const QString& avatarURL, QObject* parent = nullptr);
    ~KRUploaderViewController() override;

    qint64 mid() const { return m_mid; }
    const QList<std::shared_ptr<KRVideo>>& videos() const { return m_videos; }
    bool isFollowing() const { return m_following; }
    // A relation read or follow change is on its way.
    bool isFollowLoading() const { return m_followLoading; }
    bool hasMore() const { return m_hasMore; }
    bool isLoading() const { return m_loading; }
    int page() const { return m_page; }

    platform::uikit::View* headerView() const { return m_headerView; }
    platform::uikit::ImageView* avatarView() const { return m_avatarView; }
    platform::uikit::Label* nameLabel() const { return m_nameLabel; }
    platform::uikit::Label* uidLabel() const { return m_uidLabel; }
    platform::uikit::Label* stateLabel() const { return m_stateLabel; }
    platform::uikit::Button* followButton() const { return m_followButton; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    KRPullRefreshView* pullRefreshView() const { return m_pullRefreshView; }
    KRLoadMoreView* loadMoreView() const { return m_loadMoreView; }

    int numberOfRowsInSection(platform::uikit::TableView* table, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView* table,
                                                          const platform::uikit::IndexPath& indexPath) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void scrollViewDidScroll(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView* scrollView, bool willDecelerate) override;

    void followTapped();
    void loadMoreTapped();

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    void applyTheme();
    void themeDidChange();
    void sessionDidChange();
    void updateHeaderState();
    void loadFollowerStatistics();
    void loadFollowState();
    void loadPage(int page, bool reset);
    void showFollowTitle();
    // The account a follow reply belongs to; the reply is applied only while it is still the one
    // logged in.
    bool isSameAccountLoggedIn(qint64 userID) const;
    void dropStaleFollowReply();

    qint64 m_mid;
    QString m_name;
    QString m_avatarURL;
    QList<std::shared_ptr<KRVideo>> m_videos;
    platform::uikit::View* m_headerView = nullptr;
    platform::uikit::ImageView* m_avatarView = nullptr;
    platform::uikit::Label* m_nameLabel = nullptr;
    platform::uikit::Label* m_uidLabel = nullptr;
    platform::uikit::Label* m_stateLabel = nullptr;
    platform::uikit::Button* m_followButton = nullptr;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    KRPullRefreshView* m_pullRefreshView = nullptr;
    KRLoadMoreView* m_loadMoreView = nullptr;
    int m_page = 0;
    qint64 m_totalSubmissions = 0;
    qint64 m_followerCount = 0;
    bool m_submissionTotalKnown = false;
    bool m_submissionMetadataLoaded = false;
    // The last load of the first page failed: with nothing else known the header says so,
    // not "loading".
    bool m_submissionLoadFailed = false;
    bool m_followerCountKnown = false;
    bool m_loading = false;
    bool m_hasMore = false;
    bool m_following = false;
    bool m_followLoading = false;
    // The account the follow state shown belongs to (0: none yet).
    qint64 m_followUserID = 0;
    // The request a tap on the failed footer repeats: its page and whether it reset the list.
    std::optional<std::pair<int, bool>> m_failedRequest;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_sessionObserver;
};
