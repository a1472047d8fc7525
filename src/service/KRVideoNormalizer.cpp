#include "service/KRVideoNormalizer.h"

#include "service/KRAPIReplyHelpers.h"
#include "service/KRTolerantValue.h"
#include "service/KRVideo.h"

#include <algorithm>

namespace {

// Every key list is built once; the normaliser runs for every list page.
#define KR_KEYS(name, ...) \
    const QStringList& name() { static const QStringList keys{__VA_ARGS__}; return keys; }

KR_KEYS(kPayloadArrayKeys, u"data"_qs, u"list"_qs, u"result"_qs, u"items"_qs, u"item"_qs, u"videos"_qs, u"vlist"_qs, u"archives"_qs)
KR_KEYS(kPlayURLObjectKeys, u"url"_qs, u"base_url"_qs, u"baseUrl"_qs, u"play_url"_qs, u"playurl"_qs, u"backup_url"_qs, u"backupUrl"_qs, u"durl"_qs)
KR_KEYS(kAidKeys, u"aid"_qs, u"avid"_qs, u"av"_qs, u"param"_qs)
KR_KEYS(kBvidKeys, u"bvid"_qs, u"bv"_qs)
KR_KEYS(kCidKeys, u"cid"_qs, u"page_id"_qs, u"first_cid"_qs)
KR_KEYS(kTidKeys, u"tid"_qs, u"typeid"_qs, u"partition_id"_qs)
KR_KEYS(kTidV2Keys, u"tid_v2"_qs, u"typeid_v2"_qs)
KR_KEYS(kAllTidKeys, u"tid"_qs, u"typeid"_qs, u"partition_id"_qs, u"tid_v2"_qs, u"typeid_v2"_qs)
KR_KEYS(kCopyrightKeys, u"copyright"_qs, u"copyright_type"_qs)
KR_KEYS(kTnameKeys, u"tname"_qs, u"tname_v2"_qs, u"typename"_qs, u"type_name"_qs, u"partition_name"_qs)
KR_KEYS(kTitleKeys, u"title"_qs, u"name"_qs)
KR_KEYS(kStateKeys, u"state"_qs, u"archive_state"_qs, u"status"_qs)
KR_KEYS(kAttributeKeys, u"attr"_qs, u"attribute"_qs)
KR_KEYS(kInvalidFlagKeys, u"is_invalid"_qs, u"invalid"_qs, u"is_unavailable"_qs)
KR_KEYS(kReasonKeys, u"invalid_reason"_qs, u"state_desc"_qs, u"status_text"_qs, u"badge"_qs)
KR_KEYS(kOwnerKeys, u"owner"_qs, u"up"_qs)
KR_KEYS(kOwnerMIDKeys, u"mid"_qs, u"uid"_qs, u"id"_qs)
KR_KEYS(kOwnerFaceKeys, u"face"_qs, u"avatar"_qs, u"avatar_url"_qs)
KR_KEYS(kOwnerNameKeys, u"name"_qs, u"uname"_qs, u"author"_qs)
KR_KEYS(kAuthorNameKeys, u"author"_qs, u"author_name"_qs, u"username"_qs)
KR_KEYS(kAuthorMIDKeys, u"mid"_qs, u"author_mid"_qs, u"up_id"_qs)
KR_KEYS(kAuthorFaceKeys, u"face"_qs, u"author_face"_qs, u"avatar"_qs)
KR_KEYS(kPublishKeys, u"pubdate"_qs, u"ctime"_qs, u"created"_qs, u"view_at"_qs)
KR_KEYS(kCoverKeys, u"cover"_qs, u"pic"_qs, u"pic_url"_qs, u"thumbnail"_qs)
KR_KEYS(kDurationKeys, u"duration"_qs, u"length"_qs, u"duration_text"_qs)
KR_KEYS(kStatObjectKeys, u"stat"_qs, u"stats"_qs, u"cnt_info"_qs)
KR_KEYS(kPlayStatKeys, u"view"_qs, u"play"_qs, u"play_count"_qs, u"view_count"_qs)
KR_KEYS(kDanmakuStatKeys, u"danmaku"_qs, u"dm"_qs, u"video_review"_qs, u"danmaku_count"_qs)
KR_KEYS(kReplyStatKeys, u"reply"_qs, u"comment"_qs, u"reply_count"_qs, u"comment_count"_qs)
KR_KEYS(kPlayOuterKeys, u"play"_qs, u"view"_qs, u"play_count"_qs)
KR_KEYS(kDanmakuOuterKeys, u"video_review"_qs, u"danmaku"_qs, u"danmaku_count"_qs)
KR_KEYS(kPageCountKeys, u"videos"_qs, u"page_count"_qs)
KR_KEYS(kSummaryKeys, u"desc"_qs, u"description"_qs, u"summary"_qs)
KR_KEYS(kPlayURLKeys, u"playurl"_qs, u"play_url"_qs, u"durl"_qs)
KR_KEYS(kBusinessKeys, u"business"_qs, u"business_type"_qs, u"goto"_qs, u"type"_qs)
KR_KEYS(kEpisodeKeys, u"ep_id"_qs, u"epid"_qs, u"episode_id"_qs)
KR_KEYS(kSeasonKeys, u"season_id"_qs, u"seasonid"_qs)
KR_KEYS(kRedirectKeys, u"redirect_url"_qs, u"redirectUrl"_qs)
KR_KEYS(kQualityKeys, u"quality"_qs, u"qn"_qs)
KR_KEYS(kViewAtKeys, u"view_at"_qs, u"history_view_at"_qs)
KR_KEYS(kProgressKeys, u"progress"_qs, u"last_play_time"_qs)
KR_KEYS(kHistoryDurationKeys, u"duration"_qs, u"video_duration"_qs)
KR_KEYS(kPartCidKeys, u"cid"_qs, u"page_id"_qs)
KR_KEYS(kPartPageKeys, u"page"_qs, u"p"_qs)
KR_KEYS(kPartTitleKeys, u"part"_qs, u"title"_qs, u"name"_qs)
KR_KEYS(kPartDurationKeys, u"duration"_qs, u"length"_qs)

#undef KR_KEYS

const QVariant& orMissing(const QVariant* value)
{
    static const QVariant missing;
    return value ? *value : missing;
}

// The object stored in a QVariant, without copying it; nullptr when it is not an object.
const QVariantMap* asDictionary(const QVariant* value)
{
    if (!value || !KRIsDictionary(*value))
        return nullptr;
    return static_cast<const QVariantMap*>(value->constData());
}

const QVariantList* asArray(const QVariant* value)
{
    if (!value || !KRIsArray(*value))
        return nullptr;
    return static_cast<const QVariantList*>(value->constData());
}

const QVariant* valueAt(const QVariantMap& dictionary, const QString& key)
{
    const auto it = dictionary.constFind(key);
    return it == dictionary.constEnd() ? nullptr : &it.value();
}

const QVariantMap* dictionaryAt(const QVariantMap& dictionary, const QString& key)
{
    return asDictionary(valueAt(dictionary, key));
}

const QVariantList* arrayAt(const QVariantMap& dictionary, const QString& key)
{
    return asArray(valueAt(dictionary, key));
}

const QVariantMap* firstLegacyPage(const QVariantMap& dictionary)
{
    const QVariantMap* list = dictionaryAt(dictionary, u"list"_qs);
    if (!list)
        return nullptr;
    for (auto it = list->constBegin(); it != list->constEnd(); ++it) {
        if (const QVariantMap* page = asDictionary(&it.value()))
            return page;
    }
    return nullptr;
}

QString withHTTPSScheme(const QString& address)
{
    return address.startsWith(u"//") ? u"https:"_qs + address : address;
}

const QVariantList* findPayloadArray(const QVariantMap& dictionary)
{
    for (const QString& key : kPayloadArrayKeys()) {
        const QVariant* value = valueAt(dictionary, key);
        if (const QVariantList* array = asArray(value))
            return array;
        if (const QVariantMap* nested = asDictionary(value)) {
            if (const QVariantList* found = findPayloadArray(*nested))
                return found;
        }
    }
    return nullptr;
}

QString durationFromSeconds(qint64 seconds)
{
    if (seconds >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return QString::asprintf("%02lld:%02lld", seconds / 60, seconds % 60);
}

// Reads the detail object S first and the outer object D second ("S, then D").
struct Source {
    const QVariantMap& S;
    const QVariantMap& D;
    bool separate; // S is D's "detail" object, so falling back to D can find something new

    const QVariant* inS(const QStringList& keys) const { return KRFirstValuePointer(S, keys); }
    // The first present value in S; when S has none, in D.
    const QVariant* inSThenD(const QStringList& keys) const
    {
        const QVariant* value = KRFirstValuePointer(S, keys);
        if (!value && separate)
            value = KRFirstValuePointer(D, keys);
        return value;
    }
    // KRFirstString in S; when that is nil, in D.
    QString stringInSThenD(const QStringList& keys) const
    {
        QString text = KRFirstString(S, keys);
        if (text.isNull() && separate)
            text = KRFirstString(D, keys);
        return text;
    }
    // KRLongLong of the first value in S; when that reads 0, of the first value in D.
    qint64 nonZeroInSThenD(const QStringList& keys) const
    {
        qint64 value = KRLongLong(orMissing(inS(keys)));
        if (value == 0 && separate)
            value = KRLongLong(orMissing(KRFirstValuePointer(D, keys)));
        return value;
    }
};

KRVideoPartInfo partFromDictionary(const QVariantMap& element, qsizetype partsSoFar)
{
    KRVideoPartInfo part;
    const qint64 cid = KRLongLong(orMissing(KRFirstValuePointer(element, kPartCidKeys())));
    if (cid >= 1)
        part.insert(u"cid"_qs, cid);
    qint64 page = KRLongLong(orMissing(KRFirstValuePointer(element, kPartPageKeys())));
    if (page < 1)
        page = partsSoFar + 1;
    part.insert(u"page"_qs, KRTruncatedInt32(page));
    const QString title = KRString(orMissing(KRFirstValuePointer(element, kPartTitleKeys())));
    if (!title.isNull())
        part.insert(u"part"_qs, title);
    const QString duration = KRDuration(orMissing(KRFirstValuePointer(element, kPartDurationKeys())));
    if (!duration.isNull())
        part.insert(u"duration"_qs, duration);
    const QVariantMap* dimension = dictionaryAt(element, u"dimension"_qs);
    const QVariantMap& sizes = dimension ? *dimension : element;
    const qint64 width = KRLongLong(orMissing(valueAt(sizes, u"width"_qs)));
    const qint64 height = KRLongLong(orMissing(valueAt(sizes, u"height"_qs)));
    const qint64 rotate = KRLongLong(orMissing(valueAt(sizes, u"rotate"_qs)));
    if (width >= 1)
        part.insert(u"width"_qs, width);
    if (height >= 1)
        part.insert(u"height"_qs, height);
    if (rotate != 0)
        part.insert(u"rotate"_qs, rotate);
    return part;
}

QList<KRVideoPartInfo> partsOf(const Source& source)
{
    QList<KRVideoPartInfo> parts;
    const QVariantList* array = arrayAt(source.S, u"pages"_qs);
    if (!array && source.separate)
        array = arrayAt(source.D, u"pages"_qs);
    if (array) {
        parts.reserve(array->size());
        for (const QVariant& element : *array) {
            if (const QVariantMap* dictionary = asDictionary(&element))
                parts.append(partFromDictionary(*dictionary, parts.size()));
        }
    }
    if (!parts.isEmpty())
        return parts;
    // The old API keys its parts "0", "1", … "10"; a QVariantMap iterates keys in plain
    // character-code order, so "10" comes before "2" as the old clients read them.
    const QVariantMap* list = dictionaryAt(source.S, u"list"_qs);
    if (!list && source.separate)
        list = dictionaryAt(source.D, u"list"_qs);
    if (list) {
        for (auto it = list->constBegin(); it != list->constEnd(); ++it) {
            if (const QVariantMap* dictionary = asDictionary(&it.value()))
                parts.append(partFromDictionary(*dictionary, parts.size()));
        }
    }
    return parts;
}

qint64 cidOf(const Source& source)
{
    const QVariantMap* part = nullptr;
    const QVariantList* pages = arrayAt(source.S, u"pages"_qs);
    if (!pages && source.separate)
        pages = arrayAt(source.D, u"pages"_qs);
    if (pages && !pages->isEmpty())
        part = asDictionary(&pages->first());
    if (!part) {
        part = firstLegacyPage(source.S);
        if (!part && source.separate)
            part = firstLegacyPage(source.D);
    }
    const QVariant* value = part ? KRFirstValuePointer(*part, kCidKeys()) : nullptr;
    if (!value)
        value = source.inSThenD(kCidKeys());
    return KRLongLong(orMissing(value));
}

void readUnavailability(KRVideo& video, const Source& source, const QVariant* stateValue)
{
    static const QStringList deadTitles{u"已失效视频"_qs, u"视频已失效"_qs, u"稿件已失效"_qs, u"已删除的视频"_qs, u"视频已删除"_qs};
    static const QStringList deadReasonWords{u"已失效"_qs, u"已删除"_qs, u"不可见"_qs, u"审核中"_qs};

    const QString reason = source.stringInSThenD(kReasonKeys());
    const QString trimmedReason = reason.trimmed();
    bool unavailable = video.archiveState() < 0;
    if (!unavailable && stateValue && KRIsBooleanValue(*stateValue))
        unavailable = stateValue->toBool();
    if (!unavailable)
        unavailable = KRBoolean(orMissing(source.inSThenD(kInvalidFlagKeys())));
    if (!unavailable) {
        const QString title = video.title().trimmed();
        unavailable = std::any_of(deadTitles.begin(), deadTitles.end(),
                                  [&](const QString& dead) { return title.compare(dead, Qt::CaseInsensitive) == 0; });
    }
    if (!unavailable) {
        unavailable = std::any_of(deadReasonWords.begin(), deadReasonWords.end(),
                                  [&](const QString& word) { return trimmedReason.contains(word); });
    }
    if (!unavailable)
        return;
    video.setUnavailable(true);
    // A reason of blanks only would show as an empty label: use the default text instead.
    video.setUnavailableReason(trimmedReason.isEmpty() ? u"视频已失效"_qs : reason);
}

void readOwner(KRVideo& video, const QVariantMap& S)
{
    const QVariant* owner = KRFirstValuePointer(S, kOwnerKeys());
    const QVariant* nameValue = owner;
    if (const QVariantMap* dictionary = asDictionary(owner)) {
        video.setOwnerMID(KRLongLong(orMissing(KRFirstValuePointer(*dictionary, kOwnerMIDKeys()))));
        video.setOwnerAvatarURL(KRString(orMissing(KRFirstValuePointer(*dictionary, kOwnerFaceKeys()))));
        nameValue = KRFirstValuePointer(*dictionary, kOwnerNameKeys());
    }
    if (!nameValue)
        nameValue = KRFirstValuePointer(S, kAuthorNameKeys());
    video.setOwnerName(KRString(orMissing(nameValue)));
    if (video.ownerMID() == 0)
        video.setOwnerMID(KRLongLong(orMissing(KRFirstValuePointer(S, kAuthorMIDKeys()))));
    if (video.ownerAvatarURL().isNull())
        video.setOwnerAvatarURL(KRString(orMissing(KRFirstValuePointer(S, kAuthorFaceKeys()))));
}

void readStatistics(KRVideo& video, const QVariantMap& S)
{
    const QVariantMap* statistics = asDictionary(KRFirstValuePointer(S, kStatObjectKeys()));
    const QVariantMap& T = statistics ? *statistics : S;
    const QVariant* play = KRFirstValuePointer(T, kPlayStatKeys());
    const QVariant* danmaku = KRFirstValuePointer(T, kDanmakuStatKeys());
    const QVariant* reply = KRFirstValuePointer(T, kReplyStatKeys());
    qint64 playCount = KRLongLong(orMissing(play));
    qint64 danmakuCount = KRLongLong(orMissing(danmaku));
    qint64 replyCount = KRLongLong(orMissing(reply));
    bool known = play || danmaku || reply;
    if (statistics) {
        // Some shapes put a zero placeholder in "stat" and the real count beside it.
        auto reread = [&](qint64& count, const QStringList& keys) {
            if (count != 0)
                return;
            if (const QVariant* value = KRFirstValuePointer(S, keys)) {
                count = KRLongLong(*value);
                known = true;
            }
        };
        reread(playCount, kPlayOuterKeys());
        reread(danmakuCount, kDanmakuOuterKeys());
        reread(replyCount, kReplyStatKeys());
    }
    video.setPlayCount(playCount);
    video.setDanmakuCount(danmakuCount);
    video.setReplyCount(replyCount);
    video.setStatisticsKnown(known);
}

const QVariantMap* historyObject(const Source& source)
{
    const QVariantMap* history = dictionaryAt(source.S, u"history"_qs);
    if (!history && source.separate)
        history = dictionaryAt(source.D, u"history"_qs);
    return history;
}

void readPGC(KRVideo& video, const Source& source, const QVariantMap* history)
{
    QString business = KRFirstString(source.S, kBusinessKeys()).toLower();
    if (business.isEmpty() && source.separate)
        business = KRFirstString(source.D, kBusinessKeys()).toLower();
    qint64 episode = KRLongLong(orMissing(source.inS(kEpisodeKeys())));
    qint64 season = KRLongLong(orMissing(source.inS(kSeasonKeys())));
    if (history) {
        if (episode <= 0)
            episode = KRLongLong(orMissing(KRFirstValuePointer(*history, kEpisodeKeys())));
        if (season <= 0)
            season = KRLongLong(orMissing(KRFirstValuePointer(*history, kSeasonKeys())));
    }
    QString redirect = KRFirstString(source.S, kRedirectKeys());
    if (redirect.isEmpty() && source.separate)
        redirect = KRFirstString(source.D, kRedirectKeys());
    if (episode <= 0)
        episode = KRPGCIdentifierFromRedirectURL(redirect, u"ep"_qs);
    if (season <= 0)
        season = KRPGCIdentifierFromRedirectURL(redirect, u"ss"_qs);
    if (episode >= 1 || business.contains(u"pgc") || business.contains(u"bangumi")) {
        video.setPgc(true);
        video.setEpisodeID(episode);
        video.setSeasonID(season);
    }
}

double positiveDouble(const QVariant& value)
{
    const double d = KRDouble(value);
    return d > 0 ? d : 0.0;
}

void readHistory(KRVideo& video, const QVariantMap& S, const QVariantMap* history)
{
    const QVariant* duration = nullptr;
    if (history) {
        video.setHistoryProgress(positiveDouble(orMissing(KRFirstValuePointer(*history, kProgressKeys()))));
        duration = KRFirstValuePointer(*history, kHistoryDurationKeys());
    } else {
        video.setHistoryProgress(positiveDouble(orMissing(valueAt(S, u"history_progress"_qs))));
        duration = valueAt(S, u"history_duration"_qs);
    }
    video.setHistoryDuration(positiveDouble(orMissing(duration)));
}

} // namespace

QString KRDuration(const QVariant& value)
{
    const QString text = KRString(value);
    if (text.contains(u':'))
        return text;
    const qint64 seconds = KRLongLong(value);
    if (seconds < 1)
        return text;
    return durationFromSeconds(seconds);
}

std::optional<QVariantMap> KRFirstLegacyPage(const QVariantMap& dictionary)
{
    if (const QVariantMap* page = firstLegacyPage(dictionary))
        return *page;
    return std::nullopt;
}

QString KRPlainTextFromHTMLFragment(const QString& text)
{
    if (text.isEmpty() || !text.contains(u'<'))
        return text;
    QString plain;
    plain.reserve(text.size());
    bool insideTag = false;
    for (const QChar c : text) {
        if (insideTag) {
            if (c == u'>')
                insideTag = false;
        } else if (c == u'<') {
            insideTag = true;
        } else {
            plain.append(c);
        }
    }
    plain.replace(u"&amp;"_qs, u"&"_qs);
    plain.replace(u"&lt;"_qs, u"<"_qs);
    plain.replace(u"&gt;"_qs, u">"_qs);
    plain.replace(u"&quot;"_qs, u"\""_qs);
    plain.replace(u"&#39;"_qs, u"'"_qs);
    plain.replace(u"&nbsp;"_qs, u" "_qs);
    return plain;
}

qint64 KRPGCIdentifierFromRedirectURL(const QString& address, const QString& marker)
{
    if (address.isEmpty() || marker.isEmpty() || !address.contains(u"/bangumi/play/", Qt::CaseInsensitive))
        return 0;
    return KRPGCIDAfterLastMarker(address, marker, Qt::CaseInsensitive);
}

void KRAppendPlayURLs(const QVariant& value, QStringList& list)
{
    if (KRIsString(value)) {
        const QString address = withHTTPSScheme(KRString(value));
        if (!address.isEmpty() && !list.contains(address))
            list.append(address);
    } else if (const QVariantList* array = asArray(&value)) {
        for (const QVariant& element : *array)
            KRAppendPlayURLs(element, list);
    } else if (const QVariantMap* dictionary = asDictionary(&value)) {
        for (const QString& key : kPlayURLObjectKeys())
            KRAppendPlayURLs(orMissing(valueAt(*dictionary, key)), list);
    }
}

std::optional<QVariantMap> KRVideoNormalizer::dictionaryFromPayload(const QVariant& payload)
{
    const QVariantMap* dictionary = asDictionary(&payload);
    if (!dictionary)
        return std::nullopt;
    if (const QVariantMap* data = dictionaryAt(*dictionary, u"data"_qs))
        return *data;
    if (const QVariantMap* result = dictionaryAt(*dictionary, u"result"_qs))
        return *result;
    return *dictionary;
}

std::optional<QVariantList> KRVideoNormalizer::arrayFromPayload(const QVariant& payload)
{
    if (const QVariantList* array = asArray(&payload))
        return *array;
    const QVariantMap* dictionary = asDictionary(&payload);
    if (!dictionary)
        return std::nullopt;
    if (const QVariantList* found = findPayloadArray(*dictionary))
        return *found;
    return std::nullopt;
}

std::shared_ptr<KRVideo> KRVideoNormalizer::videoFromDictionary(const QVariant& value)
{
    if (const QVariantMap* dictionary = asDictionary(&value))
        return videoFromDictionary(*dictionary);
    return nullptr;
}

std::shared_ptr<KRVideo> KRVideoNormalizer::videoFromDictionary(const QVariantMap& D)
{
    auto video = std::make_shared<KRVideo>();
    const QVariantMap* detail = dictionaryAt(D, u"detail"_qs);
    const Source source{detail ? *detail : D, D, detail != nullptr};
    const QVariantMap& S = source.S;

    video->setAid(KRLongLong(orMissing(source.inSThenD(kAidKeys()))));

    QString bvid = KRString(orMissing(source.inS(kBvidKeys())));
    if (bvid.isNull() && source.separate)
        bvid = KRString(orMissing(KRFirstValuePointer(D, kBvidKeys())));
    video->setBvid(bvid);

    video->setCid(cidOf(source));

    qint64 tid = KRLongLong(orMissing(source.inS(kTidKeys())));
    if (tid == 0)
        tid = KRLongLong(orMissing(source.inS(kTidV2Keys())));
    if (tid == 0 && source.separate)
        tid = KRLongLong(orMissing(KRFirstValuePointer(D, kAllTidKeys())));
    video->setTid(KRTruncatedInt32(tid));

    video->setCopyright(KRTruncatedInt32(source.nonZeroInSThenD(kCopyrightKeys())));
    video->setTname(source.stringInSThenD(kTnameKeys()));

    QString title = KRPlainTextFromHTMLFragment(KRString(orMissing(source.inS(kTitleKeys()))));
    if (title.isEmpty() && source.separate)
        title = KRPlainTextFromHTMLFragment(KRString(orMissing(KRFirstValuePointer(D, kTitleKeys()))));
    video->setTitle(title);

    const QVariant* stateValue = source.inSThenD(kStateKeys());
    video->setArchiveState(KRInt32(orMissing(stateValue)));
    video->setResourceAttribute(KRInt32(orMissing(source.inSThenD(kAttributeKeys()))));
    readUnavailability(*video, source, stateValue);

    readOwner(*video, S);

    video->setPublishTimestamp(double(KRLongLong(orMissing(source.inS(kPublishKeys())))));
    video->setCoverURL(withHTTPSScheme(source.stringInSThenD(kCoverKeys())));
    video->setDurationText(KRDuration(orMissing(source.inS(kDurationKeys()))));

    readStatistics(*video, S);

    const QList<KRVideoPartInfo> parts = partsOf(source);
    video->setPages(parts);
    const QVariant* declaredCount = source.inS(kPageCountKeys());
    if (!declaredCount) {
        const QVariant* pagesValue = valueAt(S, u"pages"_qs);
        if (!asArray(pagesValue))
            declaredCount = pagesValue;
    }
    qint64 pageCount = std::max<qint64>(parts.size(), KRLongLong(orMissing(declaredCount)));
    if (pageCount == 0 && video->cid() >= 1)
        pageCount = 1;
    video->setPageCount(KRTruncatedInt32(pageCount));

    video->setSummary(KRString(orMissing(source.inS(kSummaryKeys()))));

    QStringList candidates;
    KRAppendPlayURLs(orMissing(source.inS(kPlayURLKeys())), candidates);
    video->setPlayURLCandidates(candidates);
    video->setPlayURL(candidates.isEmpty() ? QString() : candidates.first());

    const QVariantMap* history = historyObject(source);
    readPGC(*video, source, history);

    const QVariantMap* dimension = dictionaryAt(S, u"dimension"_qs);
    const QVariantMap& sizes = dimension ? *dimension : S;
    video->setWidth(KRInt32(orMissing(valueAt(sizes, u"width"_qs))));
    video->setHeight(KRInt32(orMissing(valueAt(sizes, u"height"_qs))));

    qint64 quality = KRLongLong(orMissing(source.inS(kQualityKeys())));
    if (quality < 1 && source.separate)
        quality = KRLongLong(orMissing(KRFirstValuePointer(D, kQualityKeys())));
    video->setPlaybackQuality(KRTruncatedInt32(quality));

    video->setHistoryViewAt(double(KRLongLong(orMissing(source.inSThenD(kViewAtKeys())))));
    readHistory(*video, S, history);
    return video;
}

QList<std::shared_ptr<KRVideo>> KRVideoNormalizer::videosFromPayload(const QVariant& payload)
{
    QList<std::shared_ptr<KRVideo>> videos;
    std::optional<QVariantList> array = arrayFromPayload(payload);
    if (!array) {
        const std::optional<QVariantMap> dictionary = dictionaryFromPayload(payload);
        if (!dictionary || (!dictionary->contains(u"aid"_qs) && !dictionary->contains(u"bvid"_qs)))
            return videos;
        array = QVariantList{*dictionary};
    }
    videos.reserve(array->size());
    for (const QVariant& element : *array) {
        if (auto video = videoFromDictionary(element))
            videos.append(std::move(video));
    }
    return videos;
}
