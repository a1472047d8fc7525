// Comment loaders: top-level comments through the signed cursor endpoint (the page-numbered
// endpoint behind it), replies under one comment, and one comment by id.

#include "service/KRAPIClient.h"

#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRConsole.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPISigning.h"

#include <QHash>

namespace {

// The cursor each later page of a comment area is asked with, learnt from the page before it
// in this run; read and written under the class lock.
QHash<QString, qint64> KRCommentPageCursors;

constexpr qint32 KRVideoCommentType = 1;

QString commentCursorKey(qint64 oid, qint32 type, qint64 page)
{
    return QStringLiteral("%1:%2:%3").arg(oid).arg(type).arg(page);
}

qint32 commentAreaType(qint32 type) { return type < 2 ? KRVideoCommentType : type; }

qint32 commentPageNumber(qint32 page) { return page < 2 ? 1 : page; }

} // namespace

void KRAPIClient::forgetCommentPageCursors()
{
    std::lock_guard<std::recursive_mutex> lock(classLock());
    KRCommentPageCursors.clear();
}

void KRAPIClient::loadCommentsForVideo(const std::shared_ptr<KRVideo>& video, qint32 page, QObject* owner, KRCommentPageCompletion completion)
{
    // Comments hang on the real archive id, never on a synthetic one.
    const qint64 oid = !video ? 0 : (video->resolvedAid() > 0 ? video->resolvedAid() : video->aid());
    if (oid <= 0)
        return fail(completion, KRAPIError(-4, QStringLiteral("缺少真实 AID，无法读取评论")));
    loadCommentsForOID(oid, KRVideoCommentType, page, owner, std::move(completion));
}

void KRAPIClient::loadCommentsForOID(qint64 oid, qint32 type, qint32 page, QObject* owner, KRCommentPageCompletion completion)
{
    if (oid <= 0)
        return fail(completion, KRAPIError(-4, QStringLiteral("缺少评论标识")));
    type = commentAreaType(type);
    page = commentPageNumber(page);
    auto shared = std::make_shared<KRCommentPageCompletion>(std::move(completion));
    // The page-numbered endpoint answers when the signed one cannot; its own failure is the
    // one reported, else the one that sent us there.
    auto legacy = [this, owner, oid, type, page, shared](const KROptionalError& remembered) {
        loadLegacyCommentsForOID(oid, type, page, owner, [owner, remembered, shared](const std::shared_ptr<KRCommentPage>& legacyPage,
                                                                       const KROptionalError& legacyError) {
            if (!*shared)
                return;
            if (legacyPage && !legacyError)
                (*shared)(legacyPage, std::nullopt);
            else
                (*shared)(nullptr, legacyError ? legacyError : remembered.value_or(KRAPIMalformedReplyError()));
        });
    };
    loadWBIMixinKeyForceRefresh(false, owner, [this, owner, oid, type, page, shared, legacy](const QString& key, const KROptionalError& keyError) {
        if (key.size() != 32) {
            KRConsole::log(loaderText(QStringLiteral("[KorvaneCommentsWBI] key unavailable, falling back error=%1"), keyError));
            legacy(keyError);
            return;
        }
        loadWBICommentsForOID(oid, type, page, key, owner, [owner, shared, legacy](const std::shared_ptr<KRCommentPage>& signedPage,
                                                                     const KROptionalError& signedError) {
            if (signedPage && !signedError) {
                if (*shared)
                    (*shared)(signedPage, std::nullopt);
                return;
            }
            legacy(signedError);
        });
    });
}

void KRAPIClient::loadWBICommentsForOID(qint64 oid, qint32 type, qint32 page, const QString& mixinKey,
                                        QObject* owner, KRCommentPageCompletion completion)
{
    type = commentAreaType(type);
    page = commentPageNumber(page);
    qint64 cursor = 0;
    if (page > 1) {
        std::lock_guard<std::recursive_mutex> lock(classLock());
        const qint64 stored = KRCommentPageCursors.value(commentCursorKey(oid, type, page), 0);
        // Without the page before it in this run, the page number stands in for the cursor.
        cursor = stored > 0 ? stored : page;
    }
    const QVariantMap parameters{{QStringLiteral("oid"), QString::number(oid)},
                                 {QStringLiteral("type"), QString::number(type)},
                                 {QStringLiteral("mode"), QStringLiteral("3")},
                                 {QStringLiteral("next"), QString::number(cursor)},
                                 {QStringLiteral("ps"), QStringLiteral("20")},
                                 {QStringLiteral("plat"), QStringLiteral("1")},
                                 {QStringLiteral("web_location"), QStringLiteral("1315875")}};
    const QString url = KRWBISignedURLString(loaderAPIURL(QStringLiteral("/x/v2/reply/wbi/main")), parameters, mixinKey);
    performJSONURL(url, owner, [owner, oid, type, page, cursor, completion = std::move(completion)](const QVariant& payload,
                                                                                     const KROptionalError& error) {
        std::shared_ptr<KRCommentPage> result;
        if (!error) {
            result = KRCommentPage::commentPageFromPayload(payload, page == 1);
            KRAssignCommentPageType(result, type);
            if (result && result->nextCursor() >= 1) {
                std::lock_guard<std::recursive_mutex> lock(classLock());
                KRCommentPageCursors.insert(commentCursorKey(oid, type, qint64(page) + 1), result->nextCursor());
            }
        }
        KRConsole::log(loaderText(QStringLiteral("[KorvaneCommentsWBI] oid=%1 page=%2 cursor=%3 count=%4 total=%5 more=%6 error=%7"), oid,
                                  page, cursor, result ? result->comments().size() : 0, result ? result->totalCount() : 0,
                                  result ? result->hasMore() : false, error));
        if (completion)
            completion(result, error);
    });
}

void KRAPIClient::loadLegacyCommentsForOID(qint64 oid, qint32 type, qint32 page, QObject* owner, KRCommentPageCompletion completion)
{
    type = commentAreaType(type);
    page = commentPageNumber(page);
    const QString url = loaderAPIURL(QStringLiteral("/x/v2/reply?type=%1&oid=%2&pn=%3&ps=12&sort=2")
                                         .arg(QString::number(type), QString::number(oid), QString::number(page)));
    performJSONURL(url, owner, [owner, oid, type, page, completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        std::shared_ptr<KRCommentPage> result;
        if (!error) {
            result = KRCommentPage::commentPageFromPayload(payload, page == 1);
            KRAssignCommentPageType(result, type);
        }
        KRConsole::log(loaderText(QStringLiteral("[KorvaneCommentsLegacyFallback] oid=%1 page=%2 count=%3 total=%4 error=%5"), oid,
                                  page, result ? result->comments().size() : 0, result ? result->totalCount() : 0, error));
        if (completion)
            completion(result, error);
    });
}

void KRAPIClient::loadRepliesForComment(const std::shared_ptr<KRComment>& comment, qint32 page,
                                        QObject* owner, KRCommentPageCompletion completion)
{
    if (!comment || comment->oid() < 1 || comment->rpid() <= 0)
        return fail(completion, KRAPIError(-5, QStringLiteral("评论标识不完整")));
    const qint32 type = commentAreaType(comment->type());
    page = commentPageNumber(page);
    const qint64 root = comment->rpid();
    const QString url = loaderAPIURL(QStringLiteral("/x/v2/reply/reply?type=%1&oid=%2&root=%3&pn=%4&ps=20")
                                         .arg(QString::number(type), QString::number(comment->oid()), QString::number(root),
                                              QString::number(page)));
    performJSONURL(url, owner, [owner, type, page, root, completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        std::shared_ptr<KRCommentPage> result;
        if (!error) {
            result = KRCommentPage::replyPageFromPayload(payload);
            KRAssignCommentPageType(result, type);
        }
        KRConsole::log(loaderText(QStringLiteral("[KorvaneReplies] root=%1 page=%2 count=%3 total=%4 error=%5"), root, page,
                                  result ? result->comments().size() : 0, result ? result->totalCount() : 0, error));
        if (completion)
            completion(result, error);
    });
}

void KRAPIClient::loadCommentDetailForOID(qint64 oid, qint32 type, qint64 root, QObject* owner, KRCommentCompletion completion)
{
    if (oid < 1 || root <= 0)
        return fail(completion, KRAPIError(-5, QStringLiteral("评论定位信息不完整")));
    type = type < 1 ? KRVideoCommentType : type;
    const QString url = loaderAPIURL(QStringLiteral("/x/v2/reply/detail?type=%1&oid=%2&root=%3")
                                         .arg(QString::number(type), QString::number(oid), QString::number(root)));
    performJSONURL(url, owner, [owner, oid, type, root, completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        std::shared_ptr<KRComment> comment;
        KROptionalError result = error;
        if (!error) {
            const QVariant data = payload.toMap().value(QStringLiteral("data"));
            const QVariant rootObject = KRIsDictionary(data) ? data.toMap().value(QStringLiteral("root")) : QVariant();
            if (KRIsDictionary(rootObject))
                comment = KRComment::commentFromDictionary(rootObject);
            if (comment)
                KRAssignCommentType(comment, type);
            else
                result = KRAPIError(-8, QStringLiteral("对应评论已删除或不可见"));
        }
        KRConsole::log(loaderText(QStringLiteral("[KorvaneCommentDetail] oid=%1 root=%2 resolved=%3 error=%4"), oid, root,
                                  comment ? comment->rpid() : 0, result));
        if (completion)
            completion(comment, result);
    });
}
