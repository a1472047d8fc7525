#include "social/KRMessageJump.h"

#include "model/KRDynamic.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"

#include <QVariantList>

#include <initializer_list>

namespace {

// Nested records are searched this deep at most, so a hostile record cannot recurse without end.
constexpr int kMaxDepth = 8;


// The parts of a record a video marker or a video id may sit in, in the order they are tried.
const QStringList& nestedParts()
{
    static const QStringList parts{QStringLiteral("item"),   QStringLiteral("subject"), QStringLiteral("source"),
                                   QStringLiteral("detail"), QStringLiteral("context"), QStringLiteral("origin"),
                                   QStringLiteral("target"), QStringLiteral("reply")};
    return parts;
}

qint64 positiveInteger(const QVariant& value)
{
    const std::optional<qint64> integer = KRIntegerValue(value);
    return integer && *integer > 0 ? *integer : 0;
}

// The first of `keys` in `dictionary` whose integer value is above 0.
qint64 firstPositive(const QVariantMap& dictionary, const QStringList& keys)
{
    for (const QString& key : keys) {
        const auto it = dictionary.constFind(key);
        if (it != dictionary.constEnd())
            if (const qint64 found = positiveInteger(*it))
                return found;
    }
    return 0;
}

// The run of ASCII digits starting at `from`.
QString digitsFrom(const QString& text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && text.at(end) >= QLatin1Char('0') && text.at(end) <= QLatin1Char('9'))
        ++end;
    return text.mid(from, end - from);
}

// The first hit of `find` over a dictionary's values (in its own order) or an array's elements.
template <typename Result, typename Find>
Result firstInChildren(const QVariant& value, Find find)
{
    if (KRIsDictionary(value)) {
        const QVariantMap dictionary = value.toMap();
        for (auto it = dictionary.constBegin(); it != dictionary.constEnd(); ++it)
            if (Result found = find(*it); !(found == Result()))
                return found;
    } else if (KRIsArray(value)) {
        for (const QVariant& element : value.toList())
            if (Result found = find(element); !(found == Result()))
                return found;
    }
    return Result();
}

} // namespace

QString KRMessageString(const QVariant& value) { return KRDynamicString(value); }

qint64 KRMessageFindLongLongForKeys(const QVariant& value, const QStringList& keys, int depth)
{
    if (!value.isValid() || depth > kMaxDepth)
        return 0;
    if (KRIsDictionary(value)) {
        const QVariantMap dictionary = value.toMap();
        if (const qint64 found = firstPositive(dictionary, keys))
            return found;
        for (auto it = dictionary.constBegin(); it != dictionary.constEnd(); ++it)
            if (KRIsDictionary(*it) || KRIsArray(*it))
                if (const qint64 found = KRMessageFindLongLongForKeys(*it, keys, depth + 1))
                    return found;
        return 0;
    }
    if (KRIsArray(value))
        for (const QVariant& element : value.toList())
            if (const qint64 found = KRMessageFindLongLongForKeys(element, keys, depth + 1))
                return found;
    return 0;
}

bool KRMessageDictionaryHasArchiveMarker(const QVariantMap& dictionary)
{
    if (KRIntegerValue(dictionary.value(QStringLiteral("business_id"))) == 1)
        return true;
    static const QStringList markerKeys{QStringLiteral("business"), QStringLiteral("business_type"), QStringLiteral("type"),
                                        QStringLiteral("uri"),      QStringLiteral("native_uri"),    QStringLiteral("jump_url"),
                                        QStringLiteral("jump_uri")};
    for (const QString& key : markerKeys) {
        const QVariant value = dictionary.value(key);
        if (!KRIsString(value))
            continue;
        const QString lower = value.toString().toLower();
        if (lower == QLatin1String("archive") || lower == QLatin1String("video") || lower.contains(QLatin1String("archive"))
            || lower.contains(QLatin1String("/video/")) || lower.contains(QLatin1String("/av"))
            || lower.contains(QLatin1String("/bv")))
            return true;
    }
    return false;
}

bool KRMessageContainsArchiveBusiness(const QVariant& value)
{
    if (KRIsDictionary(value)) {
        const QVariantMap dictionary = value.toMap();
        if (KRMessageDictionaryHasArchiveMarker(dictionary))
            return true;
        for (const QString& part : nestedParts())
            if (dictionary.contains(part) && KRMessageContainsArchiveBusiness(dictionary.value(part)))
                return true;
        return false;
    }
    if (KRIsArray(value))
        for (const QVariant& element : value.toList())
            if (KRMessageContainsArchiveBusiness(element))
                return true;
    return false;
}

qint64 KRMessageArchiveAIDInObject(const QVariant& value, bool inheritedMarker, int depth)
{
    if (!value.isValid() || depth > kMaxDepth)
        return 0;
    if (KRIsArray(value)) {
        for (const QVariant& element : value.toList())
            if (const qint64 found = KRMessageArchiveAIDInObject(element, inheritedMarker, depth + 1))
                return found;
        return 0;
    }
    if (!KRIsDictionary(value))
        return 0;
    const QVariantMap dictionary = value.toMap();
    const bool marked = inheritedMarker || KRMessageDictionaryHasArchiveMarker(dictionary);
    if (marked)
        if (const qint64 found = firstPositive(dictionary, {QStringLiteral("subject_id"), QStringLiteral("aid"),
                                                            QStringLiteral("av_id"), QStringLiteral("oid")}))
            return found;
    for (const QString& part : nestedParts())
        if (dictionary.contains(part))
            if (const qint64 found = KRMessageArchiveAIDInObject(dictionary.value(part), marked, depth + 1))
                return found;
    return 0;
}

QString KRMessageFindDynamicID(const QVariant& value)
{
    if (KRIsString(value)) {
        const QString text = value.toString();
        for (const QString& marker : {KRServiceHosts::dynamicsWebHost() + QLatin1Char('/'), QStringLiteral("/opus/"),
                                      QStringLiteral("dynamic_id=")}) {
            const qsizetype at = text.indexOf(marker, 0, Qt::CaseSensitive);
            if (at < 0)
                continue;
            const QString digits = digitsFrom(text, at + marker.size());
            if (!digits.isEmpty())
                return digits;
        }
        return {};
    }
    if (KRIsDictionary(value)) {
        const QVariant dynamicID = value.toMap().value(QStringLiteral("dynamic_id"));
        if (positiveInteger(dynamicID) > 0)
            return KRMessageString(dynamicID);
    }
    return firstInChildren<QString>(value, [](const QVariant& child) { return KRMessageFindDynamicID(child); });
}

QString KRMessageFindBVID(const QVariant& value)
{
    if (KRIsString(value)) {
        const QString text = value.toString();
        const qsizetype at = text.indexOf(QLatin1String("BV1"));
        if (at < 0 || text.size() - at < 12)
            return {};
        return text.mid(at, 12);
    }
    return firstInChildren<QString>(value, [](const QVariant& child) { return KRMessageFindBVID(child); });
}

qint64 KRMessageFindAID(const QVariant& value)
{
    if (KRIsString(value)) {
        const QString text = value.toString();
        for (const QLatin1String marker : {QLatin1String("/video/av"), QLatin1String("av"), QLatin1String("aid=")}) {
            const qsizetype at = text.indexOf(marker, 0, Qt::CaseInsensitive);
            if (at < 0)
                continue;
            const qint64 found = KRLongLongFromText(digitsFrom(text, at + marker.size()));
            if (found > 0)
                return found;
        }
        return 0;
    }
    if (KRIsDictionary(value))
        if (const qint64 found = firstPositive(value.toMap(), {QStringLiteral("aid"), QStringLiteral("av_id")}))
            return found;
    return firstInChildren<qint64>(value, [](const QVariant& child) { return KRMessageFindAID(child); });
}

QString KRMessageIdentity(const QVariantMap& record)
{
    const QString messageID = KRMessageString(record.value(QStringLiteral("id")));
    if (!messageID.isEmpty())
        return QStringLiteral("id:") + messageID;
    const QVariantMap item = record.value(QStringLiteral("item")).toMap();
    const QVariantMap user = record.value(QStringLiteral("user")).toMap();
    qint64 time = KRLongLong(record.value(QStringLiteral("reply_time")));
    if (time <= 0)
        time = KRLongLong(record.value(QStringLiteral("timestamp")));
    return QStringLiteral("fallback:%1:%2:%3:%4:%5")
        .arg(KRLongLong(item.value(QStringLiteral("source_id"))))
        .arg(KRLongLong(item.value(QStringLiteral("root_id"))))
        .arg(KRLongLong(item.value(QStringLiteral("subject_id"))))
        .arg(KRLongLong(user.value(QStringLiteral("mid"))))
        .arg(time);
}

KRMessageJump KRMessageResolveJump(const QVariantMap& record)
{
    const QVariant itemValue = record.value(QStringLiteral("item"));
    // An item that is no dictionary is read as an empty one.
    const QVariantMap item = KRIsDictionary(itemValue) ? itemValue.toMap() : QVariantMap();

    KRMessageJump jump;
    const QStringList rootKeys{QStringLiteral("root_id"), QStringLiteral("parent_id"), QStringLiteral("parent"),
                               QStringLiteral("rpid")};
    jump.root = firstPositive(item, rootKeys);
    if (!jump.root)
        jump.root = firstPositive(record, rootKeys);
    if (!jump.root)
        jump.root = KRMessageFindLongLongForKeys(record, {QStringLiteral("root_id")}, 0);
    if (!jump.root)
        jump.root = KRMessageFindLongLongForKeys(record, {QStringLiteral("parent_id"), QStringLiteral("parent")}, 0);
    if (!jump.root)
        jump.root = KRMessageFindLongLongForKeys(record, {QStringLiteral("rpid"), QStringLiteral("reply_id")}, 0);

    const QStringList targetKeys{QStringLiteral("source_id"), QStringLiteral("target_id"), QStringLiteral("rpid"),
                                 QStringLiteral("reply_id")};
    jump.target = firstPositive(item, targetKeys);
    if (!jump.target)
        jump.target = firstPositive(record, targetKeys);
    if (!jump.target)
        jump.target = KRMessageFindLongLongForKeys(record, targetKeys, 0);
    if (!jump.target)
        jump.target = jump.root;

    jump.title = KRIsDictionary(itemValue) ? KRMessageString(item.value(QStringLiteral("title"))) : QString();

    const QString dynamicID = KRMessageFindDynamicID(record);
    const bool videoMarked = KRMessageContainsArchiveBusiness(record);
    const qint64 archiveAID = KRMessageArchiveAIDInObject(record, false, 0);
    if (videoMarked && archiveAID != 0) {
        jump.route = KRMessageJump::Route::Archive;
        jump.aid = archiveAID;
        return jump;
    }
    if (dynamicID.isEmpty() || videoMarked) {
        const QString bvid = KRMessageFindBVID(record);
        if (!bvid.isEmpty()) {
            jump.route = KRMessageJump::Route::BVID;
            jump.bvid = bvid;
            return jump;
        }
    }
    if (!dynamicID.isEmpty()) {
        jump.route = KRMessageJump::Route::Dynamic;
        jump.dynamicID = dynamicID;
        return jump;
    }
    const qint64 aid = KRMessageFindAID(record);
    if (aid >= 1) {
        jump.route = KRMessageJump::Route::AID;
        jump.aid = aid;
    }
    return jump;
}
