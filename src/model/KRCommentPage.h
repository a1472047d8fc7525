#pragma once

#include "model/KRComment.h"

#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

// One page of comments or replies with its paging state, in both of the service's forms:
// page numbers ("page": "num", "size", "count") and cursors ("cursor": "next", "all_count",
// "is_end"), the cursor form winning when present.
class KRCommentPage {
public:
    const KRCommentList& comments() const { return m_comments; }
    void setComments(const KRCommentList& comments) { m_comments = comments; }
    // The page number this page stands for.
    qint32 page() const { return m_page; }
    void setPage(qint32 page) { m_page = page; }
    qint32 pageSize() const { return m_pageSize; }
    void setPageSize(qint32 pageSize) { m_pageSize = pageSize; }
    // Comments in all.
    qint32 totalCount() const { return m_totalCount; }
    void setTotalCount(qint32 totalCount) { m_totalCount = totalCount; }
    bool hasMore() const { return m_hasMore; }
    void setHasMore(bool hasMore) { m_hasMore = hasMore; }
    // The cursor of the next page; 0 when the reply had none.
    qint64 nextCursor() const { return m_nextCursor; }
    void setNextCursor(qint64 nextCursor) { m_nextCursor = nextCursor; }

    // The page of a comment reply: its "data" object when there is one, else the reply
    // itself, with the comments of its "replies"; the pinned ones ("top_replies") first when
    // `includePinned`. Never null (an empty page for a reply that is no object).
    static std::shared_ptr<KRCommentPage> commentPageFromPayload(const QVariant& payload, bool includePinned);
    // A page of replies under one comment: no pinned comments.
    static std::shared_ptr<KRCommentPage> replyPageFromPayload(const QVariant& payload);
    // The page of one reply object and its raw comment objects: pinned ones first (marked,
    // and shown once even when also among the regular ones), then the others, each id once.
    static std::shared_ptr<KRCommentPage> pageFromData(const QVariantMap& data, const QVariantList& rawComments,
                                                       bool includePinned);

private:
    KRCommentList m_comments;
    qint32 m_page = 0;
    qint32 m_pageSize = 0;
    qint32 m_totalCount = 0;
    bool m_hasMore = false;
    qint64 m_nextCursor = 0;
};

// Gives every comment of the page (and their preview replies) the area type it was fetched
// with; below 2 becomes 1.
void KRAssignCommentPageType(const std::shared_ptr<KRCommentPage>& page, qint32 type);

// Appends the page's comments to a listed run, leaving out each whose id (at least 1) is listed
// already or came earlier in the page; comments without an id are never repeats.
void KRAppendCommentsSkippingRepeats(KRCommentList& listed, const KRCommentList& page);
