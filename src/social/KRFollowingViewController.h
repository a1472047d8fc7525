#pragma once

#include "model/KRError.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableViewController.h"
#include "shared/KRDynamicComposerView.h"
#include "shared/KRDynamicComposerViewDelegate.h"
#include "shared/KRPhotoPickerViewController.h"
#include "social/KRDynamicCell.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

class KRDynamic;
class KRPullRefreshView;

namespace platform::uikit {
class ActivityIndicatorView;
class SegmentedControl;
} // namespace platform::uikit

// The following feed ("关注"): the dynamics of the users the account follows, all of them or
// their videos alone, paged by the service's offset, refreshed by pulling; each row likes in
// place, opens the video, the author or the dynamic, and offers its more sheet (watch later,
// repost through the docked composer, share, copy the link, delete one's own).
class KRFollowingViewController : public platform::uikit::TableViewController,
                                  public KRDynamicCellDelegate,
                                  public KRDynamicComposerViewDelegate,
                                  public platform::uikit::ActionSheetDelegate,
                                  public KRPhotoPickerViewControllerDelegate {
    Q_OBJECT

public:
    static constexpr int kMoreSheetTag = 9301;

    // "video" for the videos of followed users alone, anything else for the whole feed ("all").
    explicit KRFollowingViewController(const QString& feedType = QStringLiteral("all"), QObject* parent = nullptr);
    ~KRFollowingViewController() override;
    QString feedType() const { return m_feedType; }

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    int numberOfRowsInSection(platform::uikit::TableView*, int) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    void scrollViewDidScroll(platform::uikit::ScrollView*) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView*, bool willDecelerate) override;

    void filterChanged();
    void reloadFeed();
    void loadNextPage();
    void showComposerForDynamic(const std::shared_ptr<KRDynamic>& dynamic, int action);

    // KRDynamicCellDelegate
    void dynamicCellDidSelectVideo(KRDynamicCell*) override;
    void dynamicCellDidSelectAuthor(KRDynamicCell*) override;
    void dynamicCellDidSelectBody(KRDynamicCell*) override;
    void dynamicCellDidSelectLike(KRDynamicCell*) override;
    void dynamicCellDidSelectComment(KRDynamicCell*) override;
    void dynamicCellDidSelectRepost(KRDynamicCell*) override;
    void dynamicCellDidSelectOriginal(KRDynamicCell*) override;
    // KRDynamicComposerViewDelegate
    void dynamicComposerViewDidCancel(KRDynamicComposerView*) override;
    void dynamicComposerViewDidSubmitText(KRDynamicComposerView*, const QString& text) override;
    void dynamicComposerViewDidRequestImage(KRDynamicComposerView*) override;
    // ActionSheetDelegate
    void actionSheetDidDismissWithButtonIndex(platform::uikit::ActionSheet*, int buttonIndex) override;
    // KRPhotoPickerViewControllerDelegate
    void photoPickerViewControllerDidCancel(KRPhotoPickerViewController*) override;
    void photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController*, const QList<KRPhotoPickerItem>&) override;

    // What the screen shows and holds, for tests and the gallery.
    platform::uikit::SegmentedControl* segment() const { return m_segment; }
    platform::uikit::Label* stateLabel() const { return m_stateLabel; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    KRPullRefreshView* pullRefreshView() const { return m_pullRefreshView; }
    KRDynamicComposerView* composer() const { return m_composer; }
    const QList<std::shared_ptr<KRDynamic>>& dynamics() const { return m_feed.dynamics; }
    QString offset() const { return m_feed.offset; }
    bool isLoading() const { return m_feed.loading; }
    bool hasMore() const { return m_feed.hasMore; }
    // Replies that arrived for a list already replaced, and were dropped.
    int staleRepliesDropped() const { return m_feed.staleReplies; }
    std::shared_ptr<KRDynamic> pendingDynamic() const { return m_repost.pendingDynamic; }
    int pendingAction() const { return m_repost.pendingAction; }
    QStringList pendingMoreActions() const { return m_pendingMoreActions; }
    // The more sheet while it is up.
    platform::uikit::ActionSheet* moreSheet() const { return m_moreSheet.data(); }
    QString shareURLStringForDynamic(const KRDynamic&) const;

protected:
    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;

private:
    // The list and its paging; a reply is for the generation it was asked in.
    struct FeedState {
        QList<std::shared_ptr<KRDynamic>> dynamics;
        QString offset;
        bool loading = false;
        bool hasMore = true;
        quint64 generation = 0;
        int staleReplies = 0;
    };
    // The repost the composer writes: kept until it succeeds, is cancelled or the screen is left,
    // so a refused one can be sent again.
    struct RepostState {
        std::shared_ptr<KRDynamic> pendingDynamic;
        int pendingAction = 0;
        QList<KRPhotoPickerItem> pickedItems;
        bool posting = false;
        // Counts the accounts that have written in the composer: a repost's answer speaks, and
        // frees the composer, only while the account that sent it still writes there.
        quint64 writer = 0;
    };

    void applyTheme();
    void showState(const QString& text);
    void receivePage(const QVariant& data, const KROptionalError& error);
    void dynamicCommentCountChanged(const platform::Notification&);
    void sessionDidChange();
    void reloadFeedFromItsTop();
    void reloadRowsShowing(const KRDynamic* dynamic);
    platform::uikit::View* sheetHostView();
    void performMoreAction(const QString& key, const std::shared_ptr<KRDynamic>& dynamic);
    void sendRepost(const std::shared_ptr<KRDynamic>& dynamic, const QString& text, const QVariantList& pictureInfos);
    void clearRepost();
    // The composer put away and the repost it wrote forgotten.
    void endRepost();
    // The more sheet put away, as if cancelled.
    void dropMoreSheet();
    static void showAlert(const QString& title, const QString& message, const QString& button);

    QString m_feedType;
    FeedState m_feed;
    RepostState m_repost;
    QSet<const KRDynamic*> m_likesInFlight;
    QStringList m_pendingMoreActions;
    // The more sheet's dynamic, kept apart from the repost composer's: the sheet of another
    // row can open while the composer is open, and with one shared dynamic, answering that
    // sheet would take the composer's away, so that its send then did nothing.
    std::shared_ptr<KRDynamic> m_sheetDynamic;
    QPointer<platform::uikit::ActionSheet> m_moreSheet;
    platform::uikit::SegmentedControl* m_segment = nullptr;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    QPointer<platform::uikit::Label> m_stateLabel;
    QPointer<KRDynamicComposerView> m_composer;
    KRPullRefreshView* m_pullRefreshView = nullptr;
    // The account the list was loaded for (none when signed out). A session change that keeps
    // it (cookies or a token refreshed) keeps the list; any other reloads it, so one account's
    // feed is never shown to the next, or to nobody.
    std::optional<qint64> m_feedAccount;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_countObserver;
    platform::ObserverToken m_sessionObserver;
};
