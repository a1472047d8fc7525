#pragma once

#include "browse/KRPGCGridCellDelegate.h"
#include "browse/KRVideoGridCellDelegate.h"
#include "model/KRError.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/TableViewController.h"

#include <QColor>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariantList>

#include <memory>

class KRLoadMoreView;
class KRPullRefreshView;
class KRVideo;
namespace platform::uikit {
class ActivityIndicatorView;
class BarButtonItem;
class Button;
}

// What one list shows (2 is not used).
enum KRVideoListMode : int {
    KRVideoListModeHome = 0,      // the recommended home feed
    KRVideoListModeSection = 1,   // one region by tid
    KRVideoListModePGC = 3,       // a PGC season catalogue as a poster grid
    KRVideoListModeAggregate = 4, // several regions merged
};

// The height of one two-card row for a table width; a width of 0 or less means the main
// screen's width.
qreal KRDoubleColumnRowHeightForWidth(qreal width);
// A stretchable 24×44 rounded button background: a vertical gradient with a 1-point border.
platform::uikit::Image KRRoundedImage(const QColor& top, const QColor& bottom, const QColor& border);

// The paged video list of the browsing side: the home feed, one region, a PGC catalogue or an
// aggregate of regions. One page request at a time; the videos shown stay unique by feed
// identity, a failed page never empties the list, and a short screen fills itself with at
// most two more pages per reset load. Main thread only.
class KRVideoListViewController : public platform::uikit::TableViewController,
                                  public KRVideoGridCellDelegate,
                                  public KRPGCGridCellDelegate {
    Q_OBJECT
public:
    KRVideoListViewController(int mode, qint64 tid, const QString& title, QObject* parent = nullptr);
    ~KRVideoListViewController() override;

    // A PGC catalogue of one season type (mode 3).
    static KRVideoListViewController* createWithPGCSeasonType(qint64 seasonType, const QString& title,
                                                              QObject* parent = nullptr);
    // Several regions merged page by page (mode 4).
    static KRVideoListViewController* createWithAggregateRIDs(const QVariantList& rids, const QString& title,
                                                              QObject* parent = nullptr);

    int mode() const { return m_mode; }
    qint64 tid() const { return m_tid; }
    qint64 seasonType() const { return m_seasonType; }
    QVariantList aggregateRIDs() const { return m_aggregateRIDs; }
    QString listTitle() const { return m_listTitle; }

    // Refused while a page loads. Pages count from 1; a reset load replaces the list on success.
    void loadPage(qint64 page, bool reset, bool showTopSpinner);
    void reloadVideos();
    void loadNextPage();
    void loadMoreButtonTapped();
    // Pushes the video page; nothing for a null or unavailable video.
    void openVideo(const std::shared_ptr<KRVideo>& video);

    bool usesDoubleColumnLayout() const;
    bool usesPGCGridLayout() const;

    void configureExperimentalMessageButton();
    void messageButtonTapped();
    void applyTheme();

    const QList<std::shared_ptr<KRVideo>>& videos() const { return m_videos; }
    qint64 page() const { return m_page; }
    bool isLoading() const { return m_loading; }
    bool hasMorePages() const { return m_hasMorePages; }
    // Whether a fill-up request for a short screen waits for its moment.
    bool isAutoFillPending() const;
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    KRPullRefreshView* pullRefreshView() const { return m_pullRefreshView; }
    KRLoadMoreView* loadMoreView() const { return m_loadMoreView; }

    int numberOfRowsInSection(platform::uikit::TableView* tableView, int section) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView* tableView, const platform::uikit::IndexPath& indexPath) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView* tableView,
                                                          const platform::uikit::IndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView* tableView, const platform::uikit::IndexPath& indexPath) override;
    void scrollViewDidScroll(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView* scrollView, bool willDecelerate) override;

    void videoGridCellDidSelectVideo(KRVideoGridCell* cell, const std::shared_ptr<KRVideo>& video) override;
    void pgcGridCellDidSelectVideo(KRPGCGridCell* cell, const std::shared_ptr<KRVideo>& video) override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;
    void viewWillLayoutSubviews() override;

private:
    void finishPage(qint64 page, bool reset, const QList<std::shared_ptr<KRVideo>>& received, const KROptionalError& error);
    void logPage(qint64 page, bool reset, int appended) const;
    void themeDidChange();
    void preferencesDidChange();
    qreal tableWidth();
    qreal layoutRowHeight();
    platform::uikit::BarButtonItem* messageItem();

    int m_mode;
    qint64 m_tid;
    qint64 m_seasonType = 0;
    QVariantList m_aggregateRIDs;
    QString m_listTitle;
    QList<std::shared_ptr<KRVideo>> m_videos;
    QSet<QString> m_videoIdentities;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    KRPullRefreshView* m_pullRefreshView = nullptr;
    KRLoadMoreView* m_loadMoreView = nullptr;
    qint64 m_page = 0;
    bool m_loading = false;
    bool m_hasMorePages = true;
    int m_autoFillRequests = 0;
    // The table width the rows were last counted for; the grids' columns and heights follow it.
    qreal m_rowsWidth = -1;
    // Made once: the bar keeps a custom view it has shown, so a new one per change would pile up.
    QPointer<platform::uikit::Button> m_messageButton;
    QPointer<platform::uikit::BarButtonItem> m_messageItem;
    platform::DelayedCalls m_delayed;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_preferencesObserver;
};
