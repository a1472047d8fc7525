#include "model/KRDynamic.h"

#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"

#include <initializer_list>

namespace {

constexpr int kMaximumCollectDepth = 10;

// The value under a path of object keys; invalid as soon as a step is no object.
QVariant valueAt(const QVariant& root, std::initializer_list<const char*> path)
{
    QVariant value = root;
    for (const char* key : path) {
        if (!KRIsDictionary(value))
            return QVariant();
        value = value.toMap().value(QLatin1StringView(key));
    }
    return value;
}

QVariantMap mapAt(const QVariant& root, std::initializer_list<const char*> path)
{
    const QVariant value = valueAt(root, path);
    return KRIsDictionary(value) ? value.toMap() : QVariantMap();
}

QString stringAt(const QVariant& root, std::initializer_list<const char*> path)
{
    return KRDynamicString(valueAt(root, path));
}

// The first non-empty text among several paths, in order: the service spells one text
// differently from node to node.
QString firstTextAt(const QVariant& root, std::initializer_list<std::initializer_list<const char*>> paths)
{
    for (const auto& path : paths) {
        QString text = stringAt(root, path);
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

// "Strictly longer, else the current one": later candidates win only by length.
const QString& longer(const QString& candidate, const QString& current)
{
    return candidate.size() > current.size() ? candidate : current;
}

QString paragraphsText(const QVariant& paragraphs)
{
    if (!KRIsArray(paragraphs))
        return QString();
    QStringList texts;
    for (const QVariant& paragraph : paragraphs.toList()) {
        const QVariant nodes = valueAt(paragraph, {"text", "nodes"});
        if (!KRIsArray(nodes))
            continue;
        QString text;
        for (const QVariant& node : nodes.toList())
            text += firstTextAt(node, {{"word", "words"}, {"rich", "text"}});
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts.isEmpty() ? QString() : texts.join(QLatin1Char('\n'));
}

QString opusText(const QVariant& opus)
{
    const QString title = stringAt(opus, {"title"});
    const QVariant summary = valueAt(opus, {"summary"});
    const QString paragraphs = paragraphsText(valueAt(summary, {"paragraphs"}));
    const QString summaryText = stringAt(summary, {"text"});
    const QString& a = longer(summaryText, paragraphs);
    const QString richText = KRTextFromRichNodes(valueAt(summary, {"rich_text_nodes"}));
    const QString& b = longer(richText, a);
    QStringList collected;
    KRCollectLongText(opus, collected, 0);
    QString longest;
    for (const QString& text : collected)
        longest = longer(text, longest);
    const QString& body = longer(longest, b);

    if (title.isEmpty())
        return body;
    if (body.isEmpty() || body == title)
        return title;
    return title + QLatin1Char('\n') + body;
}

std::shared_ptr<KRVideo> archiveVideo(const QVariantMap& archive)
{
    auto video = std::make_shared<KRVideo>();
    const qint64 aid = KRLongLong(archive.value(QStringLiteral("aid")));
    video->setAid(aid);
    video->setResolvedAid(aid);
    video->setBvid(KRDynamicString(archive.value(QStringLiteral("bvid"))));
    video->setTitle(KRDynamicString(archive.value(QStringLiteral("title"))));
    video->setCoverURL(KRDynamicString(archive.value(QStringLiteral("cover"))));
    video->setDurationText(KRDynamicString(archive.value(QStringLiteral("duration_text"))));
    return video;
}

// Counts of an archive's "stat": the integer value of each value's text form.
qint64 archiveCount(const QVariantMap& stat, const char* key)
{
    return KRLongLongFromText(KRDynamicString(stat.value(QLatin1StringView(key))));
}

} // namespace

QString KRDynamicString(const QVariant& value)
{
    if (KRIsString(value))
        return value.toString();
    return KRString(value);
}

qint64 KRCountInStat(const QVariant& value)
{
    if (KRIsString(value) || KRIsNumber(value))
        return KRLongLong(value);
    if (!KRIsDictionary(value))
        return 0;
    const QVariantMap stat = value.toMap();
    qint64 largest = 0;
    for (const char* key : {"count", "count_str", "num", "num_str", "total", "reply"}) {
        if (const auto count = KRIntegerValue(stat.value(QLatin1StringView(key))))
            largest = std::max(largest, *count);
    }
    return largest;
}

QString KRTextFromRichNodes(const QVariant& nodes)
{
    if (!KRIsArray(nodes))
        return QString();
    QString text;
    for (const QVariant& node : nodes.toList()) {
        if (KRIsDictionary(node))
            text += firstTextAt(node, {{"text"}, {"orig_text"}, {"emoji", "text"}});
    }
    return text.isEmpty() ? QString() : text;
}

KREmoteMap KREmotesFromRichNodes(const QVariant& nodes)
{
    KREmoteMap emotes;
    if (!KRIsArray(nodes))
        return emotes;
    for (const QVariant& node : nodes.toList()) {
        if (!KRIsDictionary(node))
            continue;
        const QString token = firstTextAt(node, {{"orig_text"}, {"text"}, {"emoji", "text"}});
        const QString url = firstTextAt(node, {{"emoji", "icon_url"}, {"emoji", "url"}});
        if (!token.isEmpty() && !url.isEmpty())
            emotes.insert(token, QVariantMap{{QStringLiteral("text"), token}, {QStringLiteral("url"), url}});
    }
    return emotes;
}

void KRCollectLongText(const QVariant& value, QStringList& out, int depth)
{
    if (KRIsMissing(value) || depth > kMaximumCollectDepth)
        return;
    if (KRIsString(value)) {
        const QString text = value.toString();
        if (text.size() >= 2 && !text.startsWith(QLatin1StringView("http")))
            out.append(text);
    } else if (KRIsArray(value)) {
        for (const QVariant& element : value.toList())
            KRCollectLongText(element, out, depth + 1);
    } else if (KRIsDictionary(value)) {
        const QVariantMap object = value.toMap();
        for (const char* key : {"text", "words", "orig_text", "raw_text", "desc", "title", "paragraphs", "nodes",
                                "rich_text_nodes", "content", "contents", "summary", "opus", "article"})
            KRCollectLongText(object.value(QLatin1StringView(key)), out, depth + 1);
    }
}

QString KRDynamicTextFromModule(const QVariant& module)
{
    QString text = stringAt(module, {"desc", "text"});
    if (text.isEmpty())
        text = KRTextFromRichNodes(valueAt(module, {"desc", "rich_text_nodes"}));

    const QVariant opus = valueAt(module, {"major", "opus"});
    if (KRIsDictionary(opus))
        text = longer(opusText(opus), text);

    if (text.isEmpty()) {
        for (const char* kind : {"article", "common", "live_rcmd"}) {
            const QVariant card = valueAt(module, {"major", kind});
            text = firstTextAt(card, {{"title"}, {"desc"}});
            if (!text.isEmpty())
                break;
        }
    }
    if (text.isEmpty() && KRIsDictionary(valueAt(module, {"major", "draw"})))
        text = QStringLiteral("发布了图片动态");
    return text;
}

QStringList KRDynamicPicturesFromModule(const QVariant& module)
{
    QVariant pictures = valueAt(module, {"major", "opus", "pics"});
    if (!KRIsArray(pictures))
        pictures = valueAt(module, {"major", "draw", "items"});
    QStringList urls;
    if (!KRIsArray(pictures))
        return urls;
    for (const QVariant& picture : pictures.toList()) {
        if (!KRIsDictionary(picture))
            continue;
        const QString url = KRFirstString(picture.toMap(), {QStringLiteral("url"), QStringLiteral("src"),
                                                             QStringLiteral("img_src")});
        if (!url.isEmpty())
            urls.append(url);
    }
    return urls;
}

KRDynamicList KRDynamic::dynamicsFromPayload(const QVariant& payload)
{
    QVariantList posts;
    const QVariant items = valueAt(payload, {"items"});
    const QVariant item = valueAt(payload, {"item"});
    if (KRIsArray(items))
        posts = items.toList();
    else if (KRIsDictionary(item))
        posts.append(item);

    KRDynamicList dynamics;
    for (const QVariant& post : posts) {
        if (!KRIsDictionary(post))
            continue;
        const QVariantMap author = mapAt(post, {"modules", "module_author"});
        const QVariant dyn = valueAt(post, {"modules", "module_dynamic"});
        const QVariantMap stat = mapAt(post, {"modules", "module_stat"});
        const QVariantMap basic = mapAt(post, {"basic"});

        auto dynamic = std::make_shared<KRDynamic>();
        dynamic->m_dynamicID = stringAt(post, {"id_str"});
        dynamic->m_dynamicType = stringAt(post, {"type"});
        dynamic->m_authorName = KRDynamicString(author.value(QStringLiteral("name")));
        dynamic->m_authorAvatarURL = KRDynamicString(author.value(QStringLiteral("face")));
        dynamic->m_authorMID = KRLongLong(author.value(QStringLiteral("mid")));
        dynamic->m_publishText = KRDynamicString(author.value(QStringLiteral("pub_time")));

        dynamic->m_text = KRDynamicTextFromModule(dyn);
        dynamic->m_pictureURLs = KRDynamicPicturesFromModule(dyn);
        dynamic->m_emotes = KREmotesFromRichNodes(valueAt(dyn, {"desc", "rich_text_nodes"}));
        const KREmoteMap summaryEmotes =
            KREmotesFromRichNodes(valueAt(dyn, {"major", "opus", "summary", "rich_text_nodes"}));
        for (auto it = summaryEmotes.constBegin(); it != summaryEmotes.constEnd(); ++it)
            dynamic->m_emotes.insert(it.key(), it.value());

        const QVariant like = stat.value(QStringLiteral("like"));
        dynamic->m_likeCount = KRTruncatedInt32(KRCountInStat(like));
        dynamic->m_commentCount = KRTruncatedInt32(KRCountInStat(stat.value(QStringLiteral("comment"))));
        dynamic->m_repostCount = KRTruncatedInt32(KRCountInStat(stat.value(QStringLiteral("forward"))));
        dynamic->m_liked = KRBoolean(valueAt(like, {"status"}));

        dynamic->m_commentOID = KRLongLong(basic.value(QStringLiteral("comment_id_str")));
        const qint32 commentType = KRInt32(basic.value(QStringLiteral("comment_type")));
        dynamic->m_commentType = commentType < 2 ? 1 : commentType;

        const QVariant archive = valueAt(dyn, {"major", "archive"});
        if (KRIsDictionary(archive)) {
            auto video = archiveVideo(archive.toMap());
            const QVariant statValue = valueAt(archive, {"stat"});
            const QVariantMap archiveStat = KRIsDictionary(statValue) ? statValue.toMap() : QVariantMap();
            video->setPlayCount(archiveCount(archiveStat, "play"));
            video->setDanmakuCount(archiveCount(archiveStat, "danmaku"));
            video->setReplyCount(archiveCount(archiveStat, "reply"));
            video->setStatisticsKnown(KRIsDictionary(statValue));
            video->setOwnerName(dynamic->m_authorName);
            video->setOwnerMID(dynamic->m_authorMID);
            video->setOwnerAvatarURL(dynamic->m_authorAvatarURL);
            dynamic->m_video = std::move(video);
        }

        const QVariant orig = valueAt(post, {"orig"});
        const QVariant origDyn = valueAt(orig, {"modules", "module_dynamic"});
        if (dynamic->m_text.isEmpty()) {
            const QString repostedText = KRDynamicTextFromModule(origDyn);
            if (!repostedText.isEmpty())
                dynamic->m_text = QStringLiteral("转发：%1").arg(repostedText);
        }
        if (KRIsDictionary(origDyn)) {
            dynamic->m_originalDynamicID = stringAt(orig, {"id_str"});
            dynamic->m_originalAuthorName = stringAt(orig, {"modules", "module_author", "name"});
            dynamic->m_originalText = KRDynamicTextFromModule(origDyn);
            const QVariant origArchive = valueAt(origDyn, {"major", "archive"});
            dynamic->m_originalTitle = stringAt(origArchive, {"title"});
            dynamic->m_originalCoverURL = stringAt(origArchive, {"cover"});
            if (KRIsDictionary(origArchive)) {
                auto video = archiveVideo(origArchive.toMap());
                video->setOwnerName(dynamic->m_originalAuthorName);
                dynamic->m_originalVideo = std::move(video);
            }
            if (dynamic->m_originalCoverURL.isEmpty()) {
                const QStringList pictures = KRDynamicPicturesFromModule(origDyn);
                if (!pictures.isEmpty())
                    dynamic->m_originalCoverURL = pictures.first();
            }
        }

        if (dynamic->m_text.isEmpty())
            dynamic->m_text = dynamic->m_video ? QStringLiteral("分享了视频") : QStringLiteral("发布了新动态");
        if (dynamic->m_dynamicID.isEmpty())
            continue;
        dynamics.append(std::move(dynamic));
    }
    return dynamics;
}
