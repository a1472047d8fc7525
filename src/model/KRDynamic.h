#pragma once

#include "model/KREmoteMap.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class KRDynamic;
class KRVideo;
using KRDynamicList = QList<std::shared_ptr<KRDynamic>>;

// One post of the social feed: text, pictures, a shared video or a repost of another post,
// with its author and counts. Screens set liked, likeCount and commentCount when the user
// acts.
class KRDynamic {
public:
    QString dynamicID() const { return m_dynamicID; }
    void setDynamicID(const QString& dynamicID) { m_dynamicID = dynamicID; }
    // The service's kind of post, kept for reference only.
    QString dynamicType() const { return m_dynamicType; }
    void setDynamicType(const QString& dynamicType) { m_dynamicType = dynamicType; }
    QString authorName() const { return m_authorName; }
    void setAuthorName(const QString& authorName) { m_authorName = authorName; }
    QString authorAvatarURL() const { return m_authorAvatarURL; }
    void setAuthorAvatarURL(const QString& authorAvatarURL) { m_authorAvatarURL = authorAvatarURL; }
    qint64 authorMID() const { return m_authorMID; }
    void setAuthorMID(qint64 authorMID) { m_authorMID = authorMID; }
    // The best text the post's modules offer, with fall-backs; never empty for a parsed post.
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }
    // The publish time as the service words it, shown as is.
    QString publishText() const { return m_publishText; }
    void setPublishText(const QString& publishText) { m_publishText = publishText; }
    qint32 likeCount() const { return m_likeCount; }
    void setLikeCount(qint32 likeCount) { m_likeCount = likeCount; }
    qint32 commentCount() const { return m_commentCount; }
    void setCommentCount(qint32 commentCount) { m_commentCount = commentCount; }
    qint32 repostCount() const { return m_repostCount; }
    void setRepostCount(qint32 repostCount) { m_repostCount = repostCount; }
    bool liked() const { return m_liked; }
    void setLiked(bool liked) { m_liked = liked; }
    // The object id under which the post's comments live; 0 when unknown.
    qint64 commentOID() const { return m_commentOID; }
    void setCommentOID(qint64 commentOID) { m_commentOID = commentOID; }
    // The comment-area type of those comments; at least 1.
    qint32 commentType() const { return m_commentType; }
    void setCommentType(qint32 commentType) { m_commentType = commentType; }
    // The post's own video, or null.
    std::shared_ptr<KRVideo> video() const { return m_video; }
    void setVideo(const std::shared_ptr<KRVideo>& video) { m_video = video; }
    QStringList pictureURLs() const { return m_pictureURLs; }
    void setPictureURLs(const QStringList& pictureURLs) { m_pictureURLs = pictureURLs; }
    // Token → {"text", "url"}.
    const KREmoteMap& emotes() const { return m_emotes; }
    void setEmotes(const KREmoteMap& emotes) { m_emotes = emotes; }

    // The reposted post.
    QString originalAuthorName() const { return m_originalAuthorName; }
    void setOriginalAuthorName(const QString& originalAuthorName) { m_originalAuthorName = originalAuthorName; }
    QString originalText() const { return m_originalText; }
    void setOriginalText(const QString& originalText) { m_originalText = originalText; }
    // Its video's cover, else its first picture.
    QString originalCoverURL() const { return m_originalCoverURL; }
    void setOriginalCoverURL(const QString& originalCoverURL) { m_originalCoverURL = originalCoverURL; }
    QString originalTitle() const { return m_originalTitle; }
    void setOriginalTitle(const QString& originalTitle) { m_originalTitle = originalTitle; }
    QString originalDynamicID() const { return m_originalDynamicID; }
    void setOriginalDynamicID(const QString& originalDynamicID) { m_originalDynamicID = originalDynamicID; }
    std::shared_ptr<KRVideo> originalVideo() const { return m_originalVideo; }
    void setOriginalVideo(const std::shared_ptr<KRVideo>& originalVideo) { m_originalVideo = originalVideo; }

    // The posts of a dynamics reply's data object ("items", or the single "item" of a
    // detail reply), in reply order; posts without an id are left out. Never fails.
    static KRDynamicList dynamicsFromPayload(const QVariant& payload);

private:
    QString m_dynamicID;
    QString m_dynamicType;
    QString m_authorName;
    QString m_authorAvatarURL;
    qint64 m_authorMID = 0;
    QString m_text;
    QString m_publishText;
    qint32 m_likeCount = 0;
    qint32 m_commentCount = 0;
    qint32 m_repostCount = 0;
    bool m_liked = false;
    qint64 m_commentOID = 0;
    qint32 m_commentType = 0;
    std::shared_ptr<KRVideo> m_video;
    QStringList m_pictureURLs;
    KREmoteMap m_emotes;
    QString m_originalAuthorName;
    QString m_originalText;
    QString m_originalCoverURL;
    QString m_originalTitle;
    QString m_originalDynamicID;
    std::shared_ptr<KRVideo> m_originalVideo;
};

// Text of a value as the dynamics read it: text unchanged (even empty), a number's text,
// otherwise null.
QString KRDynamicString(const QVariant& value);
// A count of module_stat: an integer value when the value offers one (and is no object);
// for an object the largest of "count", "count_str", "num", "num_str", "total", "reply",
// at least 0; otherwise 0.
qint64 KRCountInStat(const QVariant& value);
// The joined texts of rich-text nodes ("text", else "orig_text", else the emoji's "text");
// null when there are none.
QString KRTextFromRichNodes(const QVariant& nodes);
// The emotes of rich-text nodes: token → {"text", "url"}.
KREmoteMap KREmotesFromRichNodes(const QVariant& nodes);
// Collects, depth first, every text of two or more characters that is no address, from the
// text-bearing keys of a nested module, to at most ten levels down.
void KRCollectLongText(const QVariant& value, QStringList& out, int depth);
// The best text of a module_dynamic: the description, or the opus text (title and the
// longest summary form) when longer; else the title or description of an article, common or
// live card; else "发布了图片动态" for a picture post; null when there is none.
QString KRDynamicTextFromModule(const QVariant& module);
// The picture addresses of a module_dynamic: the opus pictures, else the draw items.
QStringList KRDynamicPicturesFromModule(const QVariant& module);
