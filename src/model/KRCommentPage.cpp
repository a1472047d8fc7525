#include "model/KRCommentPage.h"

#include "model/KRTolerantValue.h"

#include <QSet>

std::shared_ptr<KRCommentPage> KRCommentPage::commentPageFromPayload(const QVariant& payload, bool includePinned)
{
    QVariantMap data;
    if (KRIsDictionary(payload)) {
        data = payload.toMap();
        const QVariant inner = data.value(QStringLiteral("data"));
        if (KRIsDictionary(inner))
            data = inner.toMap();
    }
    const QVariant replies = data.value(QStringLiteral("replies"));
    return pageFromData(data, KRIsArray(replies) ? replies.toList() : QVariantList(), includePinned);
}

std::shared_ptr<KRCommentPage> KRCommentPage::replyPageFromPayload(const QVariant& payload)
{
    return commentPageFromPayload(payload, false);
}

std::shared_ptr<KRCommentPage> KRCommentPage::pageFromData(const QVariantMap& data, const QVariantList& rawComments,
                                                           bool includePinned)
{
    auto result = std::make_shared<KRCommentPage>();
    const QVariant pageValue = data.value(QStringLiteral("page"));
    if (KRIsDictionary(pageValue)) {
        const QVariantMap page = pageValue.toMap();
        result->m_page = KRInt32(page.value(QStringLiteral("num")));
        result->m_pageSize = KRInt32(page.value(QStringLiteral("size")));
        result->m_totalCount = KRInt32(page.value(QStringLiteral("count")));
    }

    QSet<qint64> shown;
    if (includePinned) {
        for (const auto& comment : KRCommentsFromArray(data.value(QStringLiteral("top_replies")), true)) {
            if (comment->rpid() != 0)
                shown.insert(comment->rpid());
            result->m_comments.append(comment);
        }
    }
    for (const QVariant& raw : rawComments) {
        auto comment = KRComment::commentFromDictionary(raw);
        if (!comment)
            continue;
        const qint64 rpid = comment->rpid();
        if (rpid != 0) {
            if (shown.contains(rpid))
                continue;
            shown.insert(rpid);
        }
        result->m_comments.append(std::move(comment));
    }

    // Page-number form; 64-bit so that absurd page numbers cannot overflow into a "more".
    const qint64 rawCount = rawComments.size();
    const qint64 before = qint64(std::max(result->m_pageSize, 1)) * (qint64(std::max(result->m_page, 1)) - 1);
    result->m_hasMore = rawCount > 0 && qint64(result->m_totalCount) > rawCount + before;

    const QVariant cursorValue = data.value(QStringLiteral("cursor"));
    if (KRIsDictionary(cursorValue)) {
        const QVariantMap cursor = cursorValue.toMap();
        const qint64 next = KRLongLong(cursor.value(QStringLiteral("next")));
        result->m_nextCursor = next;
        result->m_page = next > 2 ? KRTruncatedInt32(next - 1) : 1;
        result->m_pageSize = KRTruncatedInt32(rawCount);
        const qint64 allCount = KRLongLong(cursor.value(QStringLiteral("all_count")));
        if (allCount >= 1)
            result->m_totalCount = KRTruncatedInt32(allCount);
        const QVariant isEnd = cursor.value(QStringLiteral("is_end"));
        const bool notEnd = KRIsMissing(isEnd) ? true : !KRBoolean(isEnd);
        result->m_hasMore = rawCount > 0 && (notEnd || (result->m_totalCount > rawCount && next > 0));
    }
    return result;
}

void KRAssignCommentPageType(const std::shared_ptr<KRCommentPage>& page, qint32 type)
{
    if (!page)
        return;
    for (const auto& comment : page->comments())
        KRAssignCommentType(comment, type);
}

void KRAppendCommentsSkippingRepeats(KRCommentList& listed, const KRCommentList& page)
{
    QSet<qint64> held;
    for (const auto& comment : std::as_const(listed))
        if (comment && comment->rpid() >= 1)
            held.insert(comment->rpid());
    for (const auto& comment : page) {
        if (!comment)
            continue;
        if (comment->rpid() >= 1) {
            if (held.contains(comment->rpid()))
                continue;
            held.insert(comment->rpid());
        }
        listed << comment;
    }
}
