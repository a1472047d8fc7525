#pragma once

#include "model/KRError.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "shared/KRCommentCellDelegate.h"
#include "shared/KRCommentThreadTap.h"
#include "platform/foundation/DelayedCall.h"
#include "video/KRVideoCommentComposer.h"
#include "video/KRVideoRequestScope.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class KRComment;
class KRCommentPage;
class KRLoadMoreView;
class KRVideo;

namespace platform::uikit {
class Button;
class ImageView;
class Label;
class ScrollView;
class TableView;
class TextField;
class View;
}

// The comments page ("评论") of the video page: the comment rows paged from the service, the
// state text of an empty or failed list, and the composer bar along its bottom
// (`KRVideoCommentComposer`). A row with replies opens its thread once however it is tapped;
// any other row opens a reply to it; a picture opens the viewer. A comment a message points at
// is pinned first, selected for a moment. The page hands it the video; the owner of the page
// pushes and presents what it asks for.
class KRVideoCommentsPage : public QObject,
                            public platform::uikit::TableViewDataSource,
                            public platform::uikit::TableViewDelegate,
                            public KRCommentCellDelegate {
    Q_OBJECT
public:
    struct Actions {
        std::function<void(const std::shared_ptr<KRComment>&)> openThread;
        std::function<void(const QStringList& urls, unsigned index)> openPicture;
        // Whether the page shows its comments now (selected, in a window).
        std::function<bool()> isShowing;
        // The composer's: the login gate, the photo picker and the page's layout.
        KRVideoCommentComposer::Actions composer;
    };
    explicit KRVideoCommentsPage(Actions actions, QObject* parent = nullptr);
    ~KRVideoCommentsPage() override;

    // The rows and the composer bar in `page`; the emote panel on `root`.
    void build(platform::uikit::View* page, platform::uikit::View* root, qreal width);
    void layout(qreal width, qreal pageHeight, qreal rootHeight);
    void applyTheme();
    void setVideo(const std::shared_ptr<KRVideo>& video);
    KRVideoCommentComposer* composer() const { return m_composer.get(); }

    void loadCommentsPage(int page, bool reset);
    // The footer's tap: the first page again after a failure, else the next page.
    void loadMoreTapped();
    void applyCommentsPage(const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error, int page, bool reset);
    void showUnavailable();
    // Lets the loaded comments go; the next showing of the page loads them again.
    void dropComments();
    // Shows the held comments again: a reply thread opened from a row raises its root's count
    // and previews while the page is covered.
    void refreshShownComments();

    const QList<std::shared_ptr<KRComment>>& comments() const { return m_comments; }
    bool hasRequestedComments() const { return m_requested; }
    bool hasRequestedAncillary() const { return m_ancillaryRequested; }
    void markAncillaryRequested() { m_ancillaryRequested = true; }

    // ---- a comment a message points at ----
    // Fetches the thread of `root` of this video (aid `oid`); the answer goes to `done`, with
    // the page's views alive, unless another fetch replaced it.
    void loadFocusedComment(qint64 oid, qint64 root,
                            std::function<void(const std::shared_ptr<KRComment>&, const KROptionalError&)> done);
    bool isFocusedCommentLoading() const { return m_focus.loading; }
    // Pins `comment` first once a page is in and the table stands (now, when it can).
    void setFocusedComment(const std::shared_ptr<KRComment>& comment);
    // A newer focus asked for: a comment fetched for the old one and still waiting for the list
    // is not pinned.
    void forgetFocusedComment() { m_focus.comment.reset(); }
    void applyFocusedRootCommentIfPossible();
    void clearFocusedRootCommentHighlight();

    int numberOfRowsInSection(platform::uikit::TableView* table, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView* table,
                                                          const platform::uikit::IndexPath& indexPath) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView* table, const platform::uikit::IndexPath& indexPath) override;
    void commentCellDidTapPictureAtIndex(KRCommentCell* cell, unsigned index, const QStringList& urls) override;
    void commentCellDidTapThread(KRCommentCell* cell) override;

private:
    struct Views {
        QPointer<platform::uikit::TableView> commentsTableView;
        platform::uikit::Label* commentsStateLabel = nullptr;
        KRLoadMoreView* commentsLoadMoreView = nullptr;
    };
    struct Focus {
        bool loading = false;
        std::shared_ptr<KRComment> comment;
        // Its own: reloading the list does not drop the focused comment's reply.
        KRVideoRequestScope request;
    };
    void openThread(const std::shared_ptr<KRComment>& comment);
    void commentPosted(const std::shared_ptr<KRComment>& comment, qint64 root);

    Actions m_actions;
    Views m_views;
    QPointer<platform::uikit::View> m_root;
    std::shared_ptr<KRVideo> m_video;
    QList<std::shared_ptr<KRComment>> m_comments;
    int m_page = 0;
    int m_total = 0;
    bool m_loading = false;
    bool m_hasMore = true;
    bool m_requested = false;
    bool m_ancillaryRequested = false;
    quint64 m_generation = 0;
    KRCommentThreadTap m_threadTap;
    KRVideoRequestScope m_requests;
    Focus m_focus;
    std::unique_ptr<KRVideoCommentComposer> m_composer;
    platform::DelayedCalls m_delayed;
};
