#pragma once

#include "model/KREmoteMap.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class KRComment;
using KRCommentList = QList<std::shared_ptr<KRComment>>;

// One comment or reply with its author, text, emotes, pictures, counts and the replies the
// service ships inside it. A plain value object made per reply; screens change replyCount,
// type and the pictures of a comment the user has just posted.
class KRComment {
public:
    static constexpr int maximumPictures = 9;

    qint64 rpid() const { return m_rpid; }
    void setRpid(qint64 rpid) { m_rpid = rpid; }
    // The object commented on (a video's aid).
    qint64 oid() const { return m_oid; }
    void setOid(qint64 oid) { m_oid = oid; }
    // The top-level comment a reply belongs to; 0 for a top-level comment.
    qint64 root() const { return m_root; }
    void setRoot(qint64 root) { m_root = root; }
    // The comment replied to.
    qint64 parent() const { return m_parent; }
    void setParent(qint64 parent) { m_parent = parent; }
    // The service's comment-area type (1 for videos); never below 1 once parsed.
    qint32 type() const { return m_type; }
    void setType(qint32 type) { m_type = type; }
    QString authorName() const { return m_authorName; }
    void setAuthorName(const QString& authorName) { m_authorName = authorName; }
    QString avatarURL() const { return m_avatarURL; }
    void setAvatarURL(const QString& avatarURL) { m_avatarURL = avatarURL; }
    // The text, with emote tokens in it.
    QString message() const { return m_message; }
    void setMessage(const QString& message) { m_message = message; }
    const KREmoteMap& emotes() const { return m_emotes; }
    void setEmotes(const KREmoteMap& emotes) { m_emotes = emotes; }
    // Picture addresses in reply order, unique, at most nine when parsed.
    QStringList pictureURLs() const { return m_pictureURLs; }
    void setPictureURLs(const QStringList& pictureURLs) { m_pictureURLs = pictureURLs; }
    qint64 likeCount() const { return m_likeCount; }
    void setLikeCount(qint64 likeCount) { m_likeCount = likeCount; }
    qint32 replyCount() const { return m_replyCount; }
    void setReplyCount(qint32 replyCount) { m_replyCount = replyCount; }
    // Unix seconds; 0 when unknown.
    double createdAt() const { return m_createdAt; }
    void setCreatedAt(double createdAt) { m_createdAt = createdAt; }
    const KRCommentList& previewReplies() const { return m_previewReplies; }
    void setPreviewReplies(const KRCommentList& previewReplies) { m_previewReplies = previewReplies; }
    // One of its page's pinned comments.
    bool isPinned() const { return m_pinned; }
    void setPinned(bool pinned) { m_pinned = pinned; }

    // The creation time relative to now: "" when unknown, "刚刚", "N分钟前", "N小时前", else
    // the date ("yyyy-MM-dd", local time zone), also for a time in the future.
    QString displayTime() const;
    // The same relative to `now` (Unix seconds).
    QString displayTime(double now) const;

    // One comment object of a reply; null for a non-object, and for an object with neither
    // an id nor a message.
    static std::shared_ptr<KRComment> commentFromDictionary(const QVariant& dictionary);

    // The comment the user has just posted, from the post's reply data, completed from what
    // was sent: the ids when the reply lacks them, the message, the author from `profile`
    // ("uname", "name", else "我"; "face", "avatar"), the creation time now. Never null; its
    // type is left as the reply gave it (0 when it gave none) for the caller to set.
    static std::shared_ptr<KRComment> postedCommentFromResponseData(const QVariant& responseData,
                                                                    const QString& message,
                                                                    const QVariantMap& profile, qint64 oid,
                                                                    qint64 root, qint64 parent);

private:
    qint64 m_rpid = 0;
    qint64 m_oid = 0;
    qint64 m_root = 0;
    qint64 m_parent = 0;
    qint32 m_type = 0;
    QString m_authorName;
    QString m_avatarURL;
    QString m_message;
    KREmoteMap m_emotes;
    QStringList m_pictureURLs;
    qint64 m_likeCount = 0;
    qint32 m_replyCount = 0;
    double m_createdAt = 0;
    KRCommentList m_previewReplies;
    bool m_pinned = false;
};

// An id of a comment object: the value under `textKey` ("rpid_str") when it reads as a
// non-zero integer, else the value under `key` ("rpid"), else 0.
qint64 KRCommentIdentifier(const QVariantMap& object, const QString& key, const QString& textKey);
// A comment field's text: the value's text form (KRString), nil when there is none or it is empty.
QString KRCommentString(const QVariant& value);
// The comments of a reply array in order, each marked with `pinned`; elements that are not
// comment objects are dropped. Empty for anything but an array.
KRCommentList KRCommentsFromArray(const QVariant& array, bool pinned);
// Sets the comment's area type (below 2 becomes 1) and passes it down its preview replies.
void KRAssignCommentType(const std::shared_ptr<KRComment>& comment, qint32 type);
