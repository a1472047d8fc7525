#include "model/KRComment.h"

#include "model/KRTolerantValue.h"

#include <QDateTime>
#include <QSet>

namespace {

const QString kRpid = QStringLiteral("rpid");
const QString kRpidText = QStringLiteral("rpid_str");

QVariantMap dictionaryValue(const QVariantMap& object, const QString& key)
{
    const auto it = object.constFind(key);
    return it != object.constEnd() && KRIsDictionary(*it) ? it->toMap() : QVariantMap();
}

// Area types below 2 mean "video" (1); 0 is what a reply without a type reads as.
qint32 normalizedType(qint32 type)
{
    return type < 2 ? 1 : type;
}

KREmoteMap emotesFromContent(const QVariantMap& content)
{
    KREmoteMap emotes;
    const QVariantMap entries = dictionaryValue(content, QStringLiteral("emote"));
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        const QVariantMap entry = KRIsDictionary(it.value()) ? it.value().toMap() : QVariantMap();
        QString text = KRString(entry.value(QStringLiteral("text")));
        if (text.isEmpty())
            text = it.key();
        const QString url = KRFirstString(entry, {QStringLiteral("url"), QStringLiteral("gif_url")});
        if (text.isEmpty() || url.isEmpty())
            continue;
        const QVariantMap meta = dictionaryValue(entry, QStringLiteral("meta"));
        const int size = KRLongLong(meta.value(QStringLiteral("size"))) < 2 ? 1 : 2;
        emotes.insert(text, QVariantMap{{QStringLiteral("text"), text},
                                        {QStringLiteral("url"), url},
                                        {QStringLiteral("size"), size}});
    }
    return emotes;
}

QStringList picturesFromContent(const QVariantMap& content)
{
    QStringList pictures;
    const QVariant value = content.value(QStringLiteral("pictures"));
    if (!KRIsArray(value))
        return pictures;
    QSet<QString> seen;
    for (const QVariant& element : value.toList()) {
        QString url;
        if (KRIsString(element))
            url = element.toString();
        else if (KRIsDictionary(element))
            url = KRFirstString(element.toMap(),
                                {QStringLiteral("img_src"), QStringLiteral("img_url"), QStringLiteral("url")});
        // Anything else (a number, a list) names no picture.
        if (url.isEmpty() || seen.contains(url))
            continue;
        seen.insert(url);
        pictures.append(url);
        if (pictures.size() == KRComment::maximumPictures)
            break;
    }
    return pictures;
}

bool hasAnyCommentKey(const QVariantMap& object)
{
    for (const QString& key : {QStringLiteral("content"), kRpid, kRpidText}) {
        if (!KRIsMissing(object.value(key)))
            return true;
    }
    return false;
}

double currentUnixTime()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

} // namespace

qint64 KRCommentIdentifier(const QVariantMap& object, const QString& key, const QString& textKey)
{
    const qint64 fromText = KRLongLong(object.value(textKey));
    return fromText != 0 ? fromText : KRLongLong(object.value(key));
}

QString KRCommentString(const QVariant& value)
{
    return KRString(value);
}

KRCommentList KRCommentsFromArray(const QVariant& array, bool pinned)
{
    KRCommentList comments;
    if (!KRIsArray(array))
        return comments;
    for (const QVariant& element : array.toList()) {
        if (auto comment = KRComment::commentFromDictionary(element)) {
            comment->setPinned(pinned);
            comments.append(std::move(comment));
        }
    }
    return comments;
}

void KRAssignCommentType(const std::shared_ptr<KRComment>& comment, qint32 type)
{
    if (!comment)
        return;
    comment->setType(normalizedType(type));
    for (const auto& reply : comment->previewReplies())
        KRAssignCommentType(reply, comment->type());
}

std::shared_ptr<KRComment> KRComment::commentFromDictionary(const QVariant& dictionary)
{
    if (!KRIsDictionary(dictionary))
        return nullptr;
    const QVariantMap object = dictionary.toMap();
    auto comment = std::make_shared<KRComment>();
    comment->m_rpid = KRCommentIdentifier(object, kRpid, kRpidText);
    comment->m_oid = KRCommentIdentifier(object, QStringLiteral("oid"), QStringLiteral("oid_str"));
    comment->m_root = KRCommentIdentifier(object, QStringLiteral("root"), QStringLiteral("root_str"));
    comment->m_parent = KRCommentIdentifier(object, QStringLiteral("parent"), QStringLiteral("parent_str"));
    comment->m_type = normalizedType(KRInt32(object.value(QStringLiteral("type"))));

    const QVariantMap member = dictionaryValue(object, QStringLiteral("member"));
    const QVariantMap content = dictionaryValue(object, QStringLiteral("content"));
    comment->m_authorName = KRCommentString(member.value(QStringLiteral("uname")));
    comment->m_avatarURL = KRCommentString(member.value(QStringLiteral("avatar")));
    comment->m_message = KRCommentString(content.value(QStringLiteral("message")));
    comment->m_emotes = emotesFromContent(content);
    comment->m_pictureURLs = picturesFromContent(content);

    comment->m_likeCount = KRLongLong(object.value(QStringLiteral("like")));
    comment->m_replyCount = KRTruncatedInt32(
        std::max(KRLongLong(object.value(QStringLiteral("rcount"))), KRLongLong(object.value(QStringLiteral("count")))));
    comment->m_createdAt = double(KRLongLong(object.value(QStringLiteral("ctime"))));
    comment->m_previewReplies = KRCommentsFromArray(object.value(QStringLiteral("replies")), false);

    if (comment->m_rpid == 0 && comment->m_message.isEmpty())
        return nullptr;
    return comment;
}

std::shared_ptr<KRComment> KRComment::postedCommentFromResponseData(const QVariant& responseData,
                                                                   const QString& message,
                                                                   const QVariantMap& profile, qint64 oid,
                                                                   qint64 root, qint64 parent)
{
    const QVariantMap reply = KRIsDictionary(responseData) ? responseData.toMap() : QVariantMap();
    const QVariantMap data = dictionaryValue(reply, QStringLiteral("data"));

    QVariant object;
    if (KRIsDictionary(reply.value(QStringLiteral("reply"))))
        object = reply.value(QStringLiteral("reply"));
    else if (KRIsDictionary(data.value(QStringLiteral("reply"))))
        object = data.value(QStringLiteral("reply"));
    else if (hasAnyCommentKey(reply))
        object = reply;
    else if (hasAnyCommentKey(data))
        object = data;

    std::shared_ptr<KRComment> comment = commentFromDictionary(object);
    if (!comment)
        comment = std::make_shared<KRComment>();

    if (comment->m_rpid <= 0)
        comment->m_rpid = KRCommentIdentifier(reply, kRpid, kRpidText);
    if (comment->m_rpid <= 0)
        comment->m_rpid = KRCommentIdentifier(data, kRpid, kRpidText);
    if (comment->m_oid <= 0)
        comment->m_oid = oid;
    if (comment->m_root <= 0)
        comment->m_root = root;
    if (comment->m_parent <= 0)
        comment->m_parent = parent;
    if (comment->m_message.isEmpty())
        comment->m_message = message;
    if (comment->m_authorName.isEmpty()) {
        comment->m_authorName = KRFirstString(profile, {QStringLiteral("uname"), QStringLiteral("name")});
        if (comment->m_authorName.isEmpty())
            comment->m_authorName = QStringLiteral("我");
    }
    if (comment->m_avatarURL.isEmpty())
        comment->m_avatarURL = KRFirstString(profile, {QStringLiteral("face"), QStringLiteral("avatar")});
    if (comment->m_createdAt <= 0)
        comment->m_createdAt = currentUnixTime();
    return comment;
}

QString KRComment::displayTime() const
{
    return displayTime(currentUnixTime());
}

QString KRComment::displayTime(double now) const
{
    if (m_createdAt <= 0)
        return QStringLiteral("");
    const double elapsed = now - m_createdAt;
    if (elapsed >= 0 && elapsed < 60)
        return QStringLiteral("刚刚");
    if (elapsed >= 60 && elapsed < 3600)
        return QStringLiteral("%1分钟前").arg(qint64(elapsed / 60));
    if (elapsed >= 3600 && elapsed < 86400)
        return QStringLiteral("%1小时前").arg(qint64(elapsed / 3600));
    // Far beyond any calendar date; bounded so the conversion to whole seconds stays defined.
    const double seconds = std::min(m_createdAt, 1e15);
    return QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::LocalTime).toString(QStringLiteral("yyyy-MM-dd"));
}
