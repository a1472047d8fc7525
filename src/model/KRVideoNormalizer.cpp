#include "model/KRVideoNormalizer.h"

#include "model/KRAPIReplyHelpers.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// A hash of a key name (FNV-1a over its UTF-16 units): keys are short, and a dictionary
// hashes each of its own keys once to be searched by the hashes of the names it is asked for.
quint32 keyHash(QStringView key)
{
    quint32 hash = 2166136261u;
    for (const QChar c : key) {
        hash ^= c.unicode();
        hash *= 16777619u;
    }
    return hash;
}

// Whether two keys are the same text, unit for unit: a key found by its hash is almost always
// the one asked for, and this costs less than QString's comparison call.
bool sameText(const QString& a, const QString& b)
{
    return a.size() == b.size() && std::memcmp(a.constData(), b.constData(), size_t(a.size()) * sizeof(QChar)) == 0;
}

// A key list with the hash of each key computed once.
class Keys {
public:
    Keys(std::initializer_list<QString> names) : m_names(names)
    {
        m_hashes.reserve(m_names.size());
        for (const QString& name : m_names)
            m_hashes.push_back(keyHash(name));
    }
    const QStringList& names() const { return m_names; }
    qsizetype size() const { return m_names.size(); }
    const QString& name(qsizetype i) const { return m_names.at(i); }
    quint32 hash(qsizetype i) const { return m_hashes[size_t(i)]; }

private:
    QStringList m_names;
    std::vector<quint32> m_hashes;
};

// A JSON object indexed by the hashes of its keys: the same answers as KRFirstValue and
// KRFirstString on the map, found without searching the map. Most names asked for are absent
// from any one reply shape, and the map's search (string comparisons down its tree) was the
// larger part of normalising; one pass over the keys when the dictionary is made replaces it.
class Dictionary {
public:
    // `amendments`, when given, are read before the map's own members of the same names.
    explicit Dictionary(const QVariantMap& map, const QVariantMap* amendments = nullptr) : m_map(&map)
    {
        const bool amended = amendments && !amendments->isEmpty();
        // The few amendments of a list item fit in its own table, which then answers for both
        // with one search per name.
        if (amended && Index::canHold(map.size() + amendments->size())) {
            m_own.build(map, amendments);
            return;
        }
        m_own.build(map);
        if (amended) {
            m_amendments = amendments;
            m_amended.build(*m_amendments);
        }
    }
    // An object not read yet, where one may be (read() reads it); it finds nothing until then.
    // Used instead of an empty std::optional, which clears its whole storage (the two tables)
    // when it is made.
    Dictionary() = default;
    void read(const QVariantMap& map)
    {
        m_map = &map;
        m_own.build(map);
    }

    // The value under the key, present or null; nullptr when absent.
    const QVariant* raw(const Keys& keys, qsizetype i) const
    {
        if (m_amendments) {
            if (const QVariant* value = m_amended.find(*m_amendments, keys.name(i), keys.hash(i)))
                return value;
        }
        return m_map ? m_own.find(*m_map, keys.name(i), keys.hash(i)) : nullptr;
    }
    // KRFirstValue: the first present, non-null value.
    const QVariant* first(const Keys& keys) const
    {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            const QVariant* value = raw(keys, i);
            if (value && !KRIsMissing(*value))
                return value;
        }
        return nullptr;
    }
    // KRFirstString: the first key whose text is non-nil.
    QString firstString(const Keys& keys) const
    {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (const QVariant* value = raw(keys, i)) {
                QString text = KRString(*value);
                if (!text.isNull())
                    return text;
            }
        }
        return QString();
    }
    // The value under a single key (null included); nullptr when absent.
    const QVariant* at(const Keys& key) const { return raw(key, 0); }

private:
    // An open-addressed table of a map's members by key hash, at most half full. A map too
    // large for it is searched as a map.
    class Index {
    public:
        // Only the slots a map uses are ever written: an index is made for every object read,
        // and clearing the whole table each time cost more than the lookups it saves.
        Index() { m_slots[0].value = nullptr; }

        static bool canHold(qsizetype members) { return members <= kSlots / 2; }

        // `overlay`'s members (which the caller made sure fit beside the map's) replace the
        // map's of the same names, or join them.
        void build(const QVariantMap& map, const QVariantMap* overlay = nullptr)
        {
            const qsizetype members = map.size() + (overlay ? overlay->size() : 0);
            if (!canHold(members)) {
                m_searchMap = true;
                return;
            }
            m_mask = kSlots - 1;
            while (m_mask > 15 && qsizetype(m_mask + 1) / 4 >= members)
                m_mask >>= 1;
            std::fill_n(m_slots, m_mask + 1, Slot{0, nullptr, nullptr});
            for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
                const quint32 hash = keyHash(it.key());
                quint32 at = hash & m_mask;
                while (m_slots[at].value)
                    at = (at + 1) & m_mask;
                m_slots[at] = Slot{hash, &it.key(), &it.value()};
            }
            if (!overlay)
                return;
            for (auto it = overlay->constBegin(); it != overlay->constEnd(); ++it) {
                const quint32 hash = keyHash(it.key());
                quint32 at = hash & m_mask;
                while (m_slots[at].value && !(m_slots[at].hash == hash && sameText(*m_slots[at].key, it.key())))
                    at = (at + 1) & m_mask;
                m_slots[at] = Slot{hash, &it.key(), &it.value()};
            }
        }
        const QVariant* find(const QVariantMap& map, const QString& name, quint32 hash) const
        {
            if (m_searchMap) {
                const auto it = map.constFind(name);
                return it == map.constEnd() ? nullptr : &it.value();
            }
            for (quint32 at = hash & m_mask; m_slots[at].value; at = (at + 1) & m_mask) {
                if (m_slots[at].hash == hash && sameText(*m_slots[at].key, name))
                    return m_slots[at].value;
            }
            return nullptr;
        }

    private:
        static constexpr quint32 kSlots = 128;
        struct Slot {
            quint32 hash;
            const QString* key;
            const QVariant* value; // null: the slot is free
        };
        Slot m_slots[kSlots];
        quint32 m_mask = 0;
        bool m_searchMap = false;
    };

    const QVariantMap* m_map = nullptr;
    const QVariantMap* m_amendments = nullptr;
    Index m_own;
    Index m_amended;
};

// Every key list is built once; the normaliser runs for every list page.
#define KR_KEYS(name, ...) \
    const Keys& name() { static const Keys keys{__VA_ARGS__}; return keys; }

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
KR_KEYS(kDetailKey, u"detail"_qs)
KR_KEYS(kPagesKey, u"pages"_qs)
KR_KEYS(kListKey, u"list"_qs)
KR_KEYS(kHistoryKey, u"history"_qs)
KR_KEYS(kDimensionKey, u"dimension"_qs)
KR_KEYS(kWidthKey, u"width"_qs)
KR_KEYS(kHeightKey, u"height"_qs)
KR_KEYS(kRotateKey, u"rotate"_qs)
KR_KEYS(kHistoryProgressKey, u"history_progress"_qs)
KR_KEYS(kHistoryDurationKey, u"history_duration"_qs)

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

const QVariantMap* firstLegacyPage(const Dictionary& dictionary)
{
    const QVariantMap* list = asDictionary(dictionary.at(kListKey()));
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
    for (const QString& key : kPayloadArrayKeys().names()) {
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

// "mm:ss", or "h:mm:ss" from one hour on, for a count of at least 1 second. Written digit by
// digit: through printf it was a tenth of normalising a list.
QString durationFromSeconds(qint64 seconds)
{
    char text[32];
    char* const end = text + sizeof text;
    char* p = end;
    const auto twoDigits = [&p](qint64 value) {
        *--p = char('0' + value % 10);
        *--p = char('0' + value / 10);
    };
    twoDigits(seconds % 60);
    *--p = ':';
    if (seconds < 3600) {
        twoDigits(seconds / 60);
    } else {
        twoDigits((seconds / 60) % 60);
        *--p = ':';
        for (qint64 hours = seconds / 3600; hours > 0; hours /= 10)
            *--p = char('0' + hours % 10);
    }
    return QString::fromLatin1(p, end - p);
}

// Reads the detail object S first and the outer object D second ("S, then D").
struct Source {
    const Dictionary& S;
    const Dictionary& D;
    bool separate; // S is D's "detail" object, so falling back to D can find something new

    // The first present value in S; when S has none, in D.
    const QVariant* inSThenD(const Keys& keys) const
    {
        const QVariant* value = S.first(keys);
        if (!value && separate)
            value = D.first(keys);
        return value;
    }
    // KRFirstString in S; when that is nil, in D.
    QString stringInSThenD(const Keys& keys) const
    {
        QString text = S.firstString(keys);
        if (text.isNull() && separate)
            text = D.firstString(keys);
        return text;
    }
    // KRLongLong of the first value in S; when that reads 0, of the first value in D.
    qint64 nonZeroInSThenD(const Keys& keys) const
    {
        qint64 value = KRLongLong(orMissing(S.first(keys)));
        if (value == 0 && separate)
            value = KRLongLong(orMissing(D.first(keys)));
        return value;
    }
    // An object under the key in S; when S has none, in D.
    const QVariantMap* dictionaryInSThenD(const Keys& key) const
    {
        const QVariantMap* value = asDictionary(S.at(key));
        if (!value && separate)
            value = asDictionary(D.at(key));
        return value;
    }
    // An array under the key in S; when S has none, in D.
    const QVariantList* arrayInSThenD(const Keys& key) const
    {
        const QVariantList* value = asArray(S.at(key));
        if (!value && separate)
            value = asArray(D.at(key));
        return value;
    }
};

KRVideoPartInfo partFromDictionary(const QVariantMap& map, qsizetype partsSoFar)
{
    const Dictionary element(map);
    KRVideoPartInfo part;
    const qint64 cid = KRLongLong(orMissing(element.first(kPartCidKeys())));
    if (cid >= 1)
        part.insert(u"cid"_qs, cid);
    qint64 page = KRLongLong(orMissing(element.first(kPartPageKeys())));
    if (page < 1)
        page = partsSoFar + 1;
    part.insert(u"page"_qs, KRTruncatedInt32(page));
    const QString title = KRString(orMissing(element.first(kPartTitleKeys())));
    if (!title.isNull())
        part.insert(u"part"_qs, title);
    const QString duration = KRDuration(orMissing(element.first(kPartDurationKeys())));
    if (!duration.isNull())
        part.insert(u"duration"_qs, duration);
    const QVariantMap* dimension = asDictionary(element.at(kDimensionKey()));
    const Dictionary sizes(dimension ? *dimension : map);
    const qint64 width = KRLongLong(orMissing(sizes.at(kWidthKey())));
    const qint64 height = KRLongLong(orMissing(sizes.at(kHeightKey())));
    const qint64 rotate = KRLongLong(orMissing(sizes.at(kRotateKey())));
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
    if (const QVariantList* array = source.arrayInSThenD(kPagesKey())) {
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
    if (const QVariantMap* list = source.dictionaryInSThenD(kListKey())) {
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
    const QVariantList* pages = source.arrayInSThenD(kPagesKey());
    if (pages && !pages->isEmpty())
        part = asDictionary(&pages->first());
    if (!part) {
        part = firstLegacyPage(source.S);
        if (!part && source.separate)
            part = firstLegacyPage(source.D);
    }
    const QVariant* value = part ? Dictionary(*part).first(kCidKeys()) : nullptr;
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
        // Folding case keeps the length of these titles (none of their characters has a case), so
        // a title of another length is none of them: most titles are not compared at all.
        unavailable = std::any_of(deadTitles.begin(), deadTitles.end(), [&](const QString& dead) {
            return title.size() == dead.size() && title.compare(dead, Qt::CaseInsensitive) == 0;
        });
    }
    if (!unavailable && !trimmedReason.isEmpty()) {
        unavailable = std::any_of(deadReasonWords.begin(), deadReasonWords.end(),
                                  [&](const QString& word) { return trimmedReason.contains(word); });
    }
    if (!unavailable)
        return;
    video.setUnavailable(true);
    // A reason of blanks only would show as an empty label: use the default text instead.
    video.setUnavailableReason(trimmedReason.isEmpty() ? u"视频已失效"_qs : reason);
}

void readOwner(KRVideo& video, const Dictionary& S)
{
    const QVariant* owner = S.first(kOwnerKeys());
    const QVariant* nameValue = owner;
    if (const QVariantMap* map = asDictionary(owner)) {
        const Dictionary dictionary(*map);
        video.setOwnerMID(KRLongLong(orMissing(dictionary.first(kOwnerMIDKeys()))));
        video.setOwnerAvatarURL(KRString(orMissing(dictionary.first(kOwnerFaceKeys()))));
        nameValue = dictionary.first(kOwnerNameKeys());
    }
    if (!nameValue)
        nameValue = S.first(kAuthorNameKeys());
    video.setOwnerName(KRString(orMissing(nameValue)));
    if (video.ownerMID() == 0)
        video.setOwnerMID(KRLongLong(orMissing(S.first(kAuthorMIDKeys()))));
    if (video.ownerAvatarURL().isNull())
        video.setOwnerAvatarURL(KRString(orMissing(S.first(kAuthorFaceKeys()))));
}

void readStatistics(KRVideo& video, const Dictionary& S)
{
    const QVariantMap* statistics = asDictionary(S.first(kStatObjectKeys()));
    Dictionary separateT;
    if (statistics)
        separateT.read(*statistics);
    const Dictionary& T = statistics ? separateT : S;
    const QVariant* play = T.first(kPlayStatKeys());
    const QVariant* danmaku = T.first(kDanmakuStatKeys());
    const QVariant* reply = T.first(kReplyStatKeys());
    qint64 playCount = KRLongLong(orMissing(play));
    qint64 danmakuCount = KRLongLong(orMissing(danmaku));
    qint64 replyCount = KRLongLong(orMissing(reply));
    bool known = play || danmaku || reply;
    if (statistics) {
        // Some shapes put a zero placeholder in "stat" and the real count beside it.
        auto reread = [&](qint64& count, const Keys& keys) {
            if (count != 0)
                return;
            if (const QVariant* value = S.first(keys)) {
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

void readPGC(KRVideo& video, const Source& source, const Dictionary* history)
{
    QString business = source.S.firstString(kBusinessKeys()).toLower();
    if (business.isEmpty() && source.separate)
        business = source.D.firstString(kBusinessKeys()).toLower();
    qint64 episode = KRLongLong(orMissing(source.S.first(kEpisodeKeys())));
    qint64 season = KRLongLong(orMissing(source.S.first(kSeasonKeys())));
    if (history) {
        if (episode <= 0)
            episode = KRLongLong(orMissing(history->first(kEpisodeKeys())));
        if (season <= 0)
            season = KRLongLong(orMissing(history->first(kSeasonKeys())));
    }
    QString redirect = source.S.firstString(kRedirectKeys());
    if (redirect.isEmpty() && source.separate)
        redirect = source.D.firstString(kRedirectKeys());
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

void readHistory(KRVideo& video, const Dictionary& S, const Dictionary* history)
{
    const QVariant* duration = nullptr;
    if (history) {
        video.setHistoryProgress(positiveDouble(orMissing(history->first(kProgressKeys()))));
        duration = history->first(kHistoryDurationKeys());
    } else {
        video.setHistoryProgress(positiveDouble(orMissing(S.at(kHistoryProgressKey()))));
        duration = S.at(kHistoryDurationKey());
    }
    video.setHistoryDuration(positiveDouble(orMissing(duration)));
}

} // namespace

QString KRDuration(const QVariant& value)
{
    if (!KRIsString(value)) {
        // The text of anything but text never holds ':', and it is the answer only when the
        // value gives no count of seconds: it is not written for the counts every list carries.
        const qint64 seconds = KRLongLong(value);
        return seconds >= 1 ? durationFromSeconds(seconds) : KRString(value);
    }
    const QString text = KRString(value);
    if (text.contains(u':'))
        return text;
    const qint64 seconds = KRLongLong(value);
    if (seconds < 1)
        return text;
    return durationFromSeconds(seconds);
}

double KRDurationSeconds(const QVariant& value)
{
    const QString text = KRString(value);
    if (!text.contains(u':')) {
        const double seconds = KRDouble(value);
        return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    }
    const QStringList fields = text.trimmed().split(u':');
    if (fields.size() > 3)
        return 0;
    double total = 0;
    for (const QString& field : fields) {
        bool ok = false;
        const int number = field.toInt(&ok);
        if (!ok || number < 0)
            return 0;
        total = total * 60 + number;
    }
    return total;
}

std::optional<QVariantMap> KRFirstLegacyPage(const QVariantMap& dictionary)
{
    if (const QVariantMap* page = firstLegacyPage(Dictionary(dictionary)))
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
        for (const QString& key : kPlayURLObjectKeys().names())
            KRAppendPlayURLs(orMissing(valueAt(*dictionary, key)), list);
    }
}

std::optional<QVariantMap> KRVideoNormalizer::dictionaryFromPayload(const QVariant& payload)
{
    const QVariantMap* dictionary = asDictionary(&payload);
    if (!dictionary)
        return std::nullopt;
    if (const QVariantMap* data = asDictionary(valueAt(*dictionary, u"data"_qs)))
        return *data;
    if (const QVariantMap* result = asDictionary(valueAt(*dictionary, u"result"_qs)))
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

std::shared_ptr<KRVideo> KRVideoNormalizer::videoFromDictionary(const QVariantMap& dictionary)
{
    return videoFromDictionary(dictionary, QVariantMap());
}

std::shared_ptr<KRVideo> KRVideoNormalizer::videoFromDictionary(const QVariantMap& dictionary, const QVariantMap& amendments)
{
    auto video = std::make_shared<KRVideo>();
    const Dictionary D(dictionary, &amendments);
    const QVariantMap* detail = asDictionary(D.at(kDetailKey()));
    Dictionary detailDictionary;
    if (detail)
        detailDictionary.read(*detail);
    const Source source{detail ? detailDictionary : D, D, detail != nullptr};
    const Dictionary& S = source.S;

    video->setAid(KRLongLong(orMissing(source.inSThenD(kAidKeys()))));

    QString bvid = KRString(orMissing(S.first(kBvidKeys())));
    if (bvid.isNull() && source.separate)
        bvid = KRString(orMissing(D.first(kBvidKeys())));
    video->setBvid(bvid);

    video->setCid(cidOf(source));

    qint64 tid = KRLongLong(orMissing(S.first(kTidKeys())));
    if (tid == 0)
        tid = KRLongLong(orMissing(S.first(kTidV2Keys())));
    if (tid == 0 && source.separate)
        tid = KRLongLong(orMissing(D.first(kAllTidKeys())));
    video->setTid(KRTruncatedInt32(tid));

    video->setCopyright(KRTruncatedInt32(source.nonZeroInSThenD(kCopyrightKeys())));
    video->setTname(source.stringInSThenD(kTnameKeys()));

    QString title = KRPlainTextFromHTMLFragment(KRString(orMissing(S.first(kTitleKeys()))));
    if (title.isEmpty() && source.separate)
        title = KRPlainTextFromHTMLFragment(KRString(orMissing(D.first(kTitleKeys()))));
    video->setTitle(title);

    const QVariant* stateValue = source.inSThenD(kStateKeys());
    video->setArchiveState(KRInt32(orMissing(stateValue)));
    video->setResourceAttribute(KRInt32(orMissing(source.inSThenD(kAttributeKeys()))));
    readUnavailability(*video, source, stateValue);

    readOwner(*video, S);

    video->setPublishTimestamp(double(KRLongLong(orMissing(S.first(kPublishKeys())))));
    video->setCoverURL(withHTTPSScheme(source.stringInSThenD(kCoverKeys())));
    video->setDurationText(KRDuration(orMissing(S.first(kDurationKeys()))));

    readStatistics(*video, S);

    const QList<KRVideoPartInfo> parts = partsOf(source);
    video->setPages(parts);
    const QVariant* declaredCount = S.first(kPageCountKeys());
    if (!declaredCount) {
        const QVariant* pagesValue = S.at(kPagesKey());
        if (!asArray(pagesValue))
            declaredCount = pagesValue;
    }
    qint64 pageCount = std::max<qint64>(parts.size(), KRLongLong(orMissing(declaredCount)));
    if (pageCount == 0 && video->cid() >= 1)
        pageCount = 1;
    video->setPageCount(KRTruncatedInt32(pageCount));

    video->setSummary(KRString(orMissing(S.first(kSummaryKeys()))));

    QStringList candidates;
    KRAppendPlayURLs(orMissing(S.first(kPlayURLKeys())), candidates);
    video->setPlayURLCandidates(candidates);
    video->setPlayURL(candidates.isEmpty() ? QString() : candidates.first());

    const QVariantMap* historyMap = source.dictionaryInSThenD(kHistoryKey());
    Dictionary historyDictionary;
    if (historyMap)
        historyDictionary.read(*historyMap);
    const Dictionary* history = historyMap ? &historyDictionary : nullptr;
    readPGC(*video, source, history);

    const QVariantMap* dimension = asDictionary(S.at(kDimensionKey()));
    Dictionary dimensionDictionary;
    if (dimension)
        dimensionDictionary.read(*dimension);
    const Dictionary& sizes = dimension ? dimensionDictionary : S;
    video->setWidth(KRInt32(orMissing(sizes.at(kWidthKey()))));
    video->setHeight(KRInt32(orMissing(sizes.at(kHeightKey()))));

    qint64 quality = KRLongLong(orMissing(S.first(kQualityKeys())));
    if (quality < 1 && source.separate)
        quality = KRLongLong(orMissing(D.first(kQualityKeys())));
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
