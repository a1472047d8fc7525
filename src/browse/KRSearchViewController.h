#pragma once

#include "model/KRError.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/TableViewController.h"
#include "platform/uikit/View.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class KRLoadMoreView;
class KRPullRefreshView;
class KRThemedSearchTextField;
class KRVideo;

namespace platform {
class DelayedCalls;
}
namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class Label;
}

// The "探索" tab: a search field in the navigation bar, the recent keywords while the field is
// edited, a sort bar above the results and a paged list of videos; with no keyword, the
// service's popular list as a hot ranking. Every switch of what the list shows (a keyword, an
// order, the hot ranking) abandons the request in flight, so only the latest reply changes
// the list. Portrait only.
class KRSearchViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    bool keepsPresenterPlayback() const override { return true; }
    // Sort buttons carry these tags, history keyword and delete buttons the base plus the index.
    static constexpr int kSortTagComprehensive = 9010;
    static constexpr int kSortTagClick = 9011;
    static constexpr int kSortTagPubdate = 9012;
    static constexpr int kSortTagDanmaku = 9013;
    static constexpr int kHistoryKeywordTagBase = 8810;
    static constexpr int kHistoryDeleteTagBase = 8910;
    static constexpr int kMagnifierTag = 701;

    explicit KRSearchViewController(QObject* parent = nullptr);
    // A screen that searches for the keyword when it first appears (a video's tag).
    explicit KRSearchViewController(const QString& keyword, QObject* parent = nullptr);
    ~KRSearchViewController() override;

    // Searches for the trimmed keyword at once (nothing for an empty one) and remembers it.
    void beginSearchForKeyword(const QString& keyword);
    bool showsSearchSortBar() const;
    qreal preferredSearchNavigationWidth();

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // What the screen holds (null views until it has loaded).
    platform::uikit::View* searchContainer() const { return m_searchContainer; }
    KRThemedSearchTextField* searchField() const { return m_searchField; }
    platform::uikit::Button* searchCancelButton() const { return m_searchCancelButton; }
    const QList<std::shared_ptr<KRVideo>>& videos() const { return m_videos; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    KRPullRefreshView* pullRefreshView() const { return m_pullRefreshView; }
    KRLoadMoreView* loadMoreView() const { return m_loadMoreView; }
    QString lastKeyword() const { return m_lastKeyword; }
    QString searchOrder() const { return m_searchOrder; }
    bool isLoading() const { return m_loading; }
    bool hasMorePages() const { return m_hasMorePages; }
    int page() const { return m_page; }
    // Whether the list asked itself for its next page (a short page that does not fill it).
    bool isNextPageScheduled() const;
    bool isShowingHot() const { return m_showingHot; }
    bool isSearchFieldEditing() const { return m_searchFieldEditing; }
    QStringList searchHistory() const { return m_searchHistory; }
    platform::uikit::View* searchHistoryView() const { return m_searchHistoryView; }
    platform::uikit::Label* searchHistoryTitleLabel() const { return m_searchHistoryTitleLabel; }
    platform::uikit::Button* searchHistoryClearButton() const { return m_searchHistoryClearButton; }
    QList<platform::uikit::Button*> searchHistoryButtons() const;
    QList<platform::uikit::Button*> searchHistoryDeleteButtons() const;
    platform::uikit::View* searchSortBar() const { return m_searchSortBar; }
    QList<platform::uikit::Button*> searchSortButtons() const { return m_searchSortButtons; }

    // Ends the request outstanding with this failure in place of the client's reply, which is
    // then dropped: a test's way to failures no reply of today's client carries.
    void failOutstandingRequestForTesting(int page, bool reset, const KROptionalError& error);

    // Table data and events.
    int numberOfRowsInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath& indexPath) override;
    qreal heightForHeaderInSection(platform::uikit::TableView*, int section) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath& indexPath) override;
    void scrollViewDidScroll(platform::uikit::ScrollView*) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView*, bool willDecelerate) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    void buildSearchChrome();
    void buildSearchHistoryView();
    void buildSearchSortBar();
    void applyTheme();
    platform::uikit::Image magnifierImage() const;

    void layoutSearchNavigationChrome(bool animated);
    void rebuildSearchSortBarForWidth(qreal width);
    void placeSearchSortBar();
    void reloadTable();

    void reloadSearchHistory();
    void saveSearchKeywordToHistory(const QString& keyword);
    void rebuildSearchHistoryView();
    void searchHistoryTapped(int tag);
    void deleteSearchHistoryTapped(int tag);
    void clearSearchHistoryTapped();

    void performSearchWithKeyword(const QString& keyword, bool remember);
    void showHotRanking();
    void abandonOutstandingRequest();
    void beginNewMode();
    void loadSearchPage(int page, bool reset, bool showTopSpinner);
    void receivePage(int page, bool reset, bool hot, const QList<std::shared_ptr<KRVideo>>& videos, const KROptionalError& error);
    void loadNextSearchPage();
    void loadMoreButtonTapped();
    void searchSortButtonTapped(int tag);

    void textFieldDidBeginEditing();
    void textFieldDidEndEditing();
    void searchTextChanged();
    bool textFieldShouldClear();
    bool textFieldShouldReturn();
    void searchCancelButtonTapped();
    void endEditing();

    platform::uikit::View* m_searchContainer = nullptr;
    KRThemedSearchTextField* m_searchField = nullptr;
    platform::uikit::Button* m_searchCancelButton = nullptr;
    QList<std::shared_ptr<KRVideo>> m_videos;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    KRPullRefreshView* m_pullRefreshView = nullptr;
    KRLoadMoreView* m_loadMoreView = nullptr;
    QString m_lastKeyword;
    bool m_loading = false;
    bool m_hasMorePages = false;
    int m_page = 0;
    int m_autoFillRequests = 0;
    QString m_initialKeyword;
    bool m_didStartInitialSearch = false;
    bool m_showingHot = false;
    quint32 m_requestGeneration = 0;
    // Whether a first page of what the list now shows has arrived: until then the rows are
    // another mode's (or none), so no later page may be appended to them.
    bool m_currentModeLoaded = false;
    platform::uikit::View* m_searchHistoryView = nullptr;
    platform::uikit::Label* m_searchHistoryTitleLabel = nullptr;
    platform::uikit::Button* m_searchHistoryClearButton = nullptr;
    QList<QPointer<platform::uikit::Button>> m_searchHistoryButtons;
    QList<QPointer<platform::uikit::Button>> m_searchHistoryDeleteButtons;
    QStringList m_searchHistory;
    bool m_searchFieldEditing = false;
    // The clear button allowed a clear whose edit is still to come.
    bool m_clearingSearchField = false;
    platform::uikit::View* m_searchSortBar = nullptr;
    QList<platform::uikit::Button*> m_searchSortButtons;
    QString m_searchOrder;
    qreal m_sortBarWidth = -1;
    std::unique_ptr<platform::DelayedCalls> m_delayed;
    platform::ObserverToken m_themeObserver;
};
