#pragma once

#include "model/KRError.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "video/KRVideoRequestScope.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

class QFont;
class KRInteractionButton;
class KRLoadMoreView;
class KRVideo;

namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class ScrollView;
class TableView;
class View;
}

// The information page ("简介") of the video page: title, uploader, statistics, interaction
// bar, part strip (the current part's title, then one button per part), folding summary with
// tags, and the related rows with their covers, loaded again by pulling past the end while
// more may come. It shows the video the page hands it and tells the page what the user asked.
class KRVideoInfoPage : public QObject,
                        public platform::uikit::TableViewDataSource,
                        public platform::uikit::TableViewDelegate {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> ownerTapped;
        std::function<void(int index)> partTapped;
        std::function<void(const std::shared_ptr<KRVideo>&)> relatedTapped;
        // One of the five interaction buttons (its tag, 7600 to 7604), and "＋关注".
        std::function<void(int tag)> interactionTapped;
        std::function<void()> followTapped;
        // A tag: a search for it.
        std::function<void(const QString& tag)> tagTapped;
    };
    struct Interactions {
        bool liked = false;
        bool coined = false;
        int coinCount = 0;
        bool favorited = false;
        bool stateLoaded = false;
        bool following = false;
    };
    explicit KRVideoInfoPage(Actions actions, QObject* parent = nullptr);
    ~KRVideoInfoPage() override;

    // The parts every video shows; the part strip, the tags, the related rows and their state are
    // made when there is something to put in them.
    void build(platform::uikit::ScrollView* page);
    void applyTheme();
    // The video (and part) shown: fills every text and lays the page out.
    void showVideo(const std::shared_ptr<KRVideo>& video, int selectedPageIndex);
    void updateInfoLayout();
    void setDetailLoading(bool loading);

    // ---- tags and related videos ----
    void loadTags();
    void loadRelatedVideos();
    void applyRelatedVideos(const QList<std::shared_ptr<KRVideo>>& videos, const KROptionalError& error);
    const QList<std::shared_ptr<KRVideo>>& relatedVideos() const { return m_related.videos; }
    // An old device keeps the first four rows; the footer or a pull brings the rest back.
    void trimRelatedForMemoryWarning();

    // ---- account state ----
    const Interactions& interactions() const { return m_interactions; }
    // The account's state as the buttons show it.
    void setInteractions(const Interactions& interactions);
    int coinLimit() const;
    // Icons, title colours and the state below.
    void applyOfficialInteractionImages();
    // The buttons' selection, the coin title and its accessibility value, the follow title.
    void applyInteractionState();
    // 0 triple … 4 more; null before the page is built.
    platform::uikit::View* interactionButton(int index) const;
    platform::uikit::View* followButton() const;

    // Table delegates, and the scroll delegate of the page itself (the table delegate is one).
    int numberOfRowsInSection(platform::uikit::TableView* table, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView* table,
                                                          const platform::uikit::IndexPath& indexPath) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void scrollViewWillBeginDragging(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidScroll(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidEndDragging(platform::uikit::ScrollView* scrollView, bool willDecelerate) override;

private:
    struct Views {
        QPointer<platform::uikit::ScrollView> page;
        platform::uikit::Label* titleLabel = nullptr;
        platform::uikit::View* ownerBar = nullptr;
        platform::uikit::ImageView* ownerAvatarView = nullptr;
        platform::uikit::Button* ownerButton = nullptr;
        platform::uikit::Button* followButton = nullptr;
        platform::uikit::Label* statsLabel = nullptr;
        platform::uikit::Label* identifierLabel = nullptr;
        platform::uikit::View* interactionBar = nullptr;
        QList<KRInteractionButton*> interactionButtons; // triple, like, coin, favourite, more
        platform::uikit::ScrollView* pageStrip = nullptr;
        platform::uikit::Label* pageTitleLabel = nullptr;
        QList<platform::uikit::Button*> partButtons;
        platform::uikit::View* summaryCard = nullptr;
        platform::uikit::Button* summaryDisclosureButton = nullptr;
        platform::uikit::Label* summaryDisclosureGlyph = nullptr;
        platform::uikit::Label* summaryLabel = nullptr;
        platform::uikit::Label* tagsTitleLabel = nullptr;
        platform::uikit::View* tagsContainer = nullptr;
        platform::uikit::Label* relatedTitleLabel = nullptr;
        QPointer<platform::uikit::TableView> relatedTableView;
        platform::uikit::Label* relatedStateLabel = nullptr;
        KRLoadMoreView* relatedLoadMoreView = nullptr;
        platform::uikit::ActivityIndicatorView* detailSpinner = nullptr;
    };
    struct Related {
        QStringList tags;
        QList<std::shared_ptr<KRVideo>> videos;
        QSet<QString> identities;
        bool loading = false;
        bool hasMore = true;
        bool pullArmed = false;
        bool loadTriggeredForDrag = false;
    };
    void buildInteractionBar();
    void buildSummaryCard();
    void buildPartStrip();
    void buildTags();
    void buildRelatedStateLabel();
    void buildRelatedTable();
    void applyRelatedTableTheme();
    void applyPartStripTheme();
    void showParts();
    // A label's height for its text at a width, kept while both stay the same.
    struct MeasuredHeight {
        QString text;
        qreal width = -1;
        int lines = -1;
        qreal height = 0;
    };
    static qreal fittedHeight(platform::uikit::Label* label, qreal width, MeasuredHeight& measured);
    // A new label with no frame, a clear background and the font: every text of the page is made by it.
    static platform::uikit::Label* detailLabelWithFont(const QFont& font);
    void layoutPartStrip(qreal inner);
    qreal layoutSummaryCard(qreal inner);
    void summaryDisclosureTapped();

    Actions m_actions;
    Views m_views;
    Related m_related;
    Interactions m_interactions;
    std::shared_ptr<KRVideo> m_video;
    int m_selectedPageIndex = 0;
    bool m_summaryExpanded = false;
    MeasuredHeight m_titleHeight;
    MeasuredHeight m_summaryHeight;
    KRVideoRequestScope m_requests;
    KRVideoRequestScope m_relatedRequests;
};
