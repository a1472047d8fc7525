#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

// Where an inbox message points. Message records come in many shapes, so the reading is a
// family of tolerant finders over the record's property-list tree; none has side effects.
struct KRMessageJump {
    enum class Route { None, Archive, BVID, Dynamic, AID } route = Route::None;
    qint64 aid = 0;
    QString bvid, dynamicID, title;   // title null when none
    qint64 root = 0, target = 0;
};

// Where tapping the record leads: a video by its numeric id found inside a video-marked part,
// a video by its BV id, a dynamic, a video by a numeric id found anywhere, or nowhere (None).
KRMessageJump KRMessageResolveJump(const QVariantMap& record);
// "id:<id>" when the record has an id, else a fall-back built from the item, the user and the
// reply time; two records with one identity are one message.
QString KRMessageIdentity(const QVariantMap& record);

QString KRMessageString(const QVariant& value);   // null for nil
qint64 KRMessageFindLongLongForKeys(const QVariant& value, const QStringList& keys, int depth);
bool KRMessageDictionaryHasArchiveMarker(const QVariantMap& dictionary);
bool KRMessageContainsArchiveBusiness(const QVariant& value);
qint64 KRMessageArchiveAIDInObject(const QVariant& value, bool inheritedMarker, int depth);
QString KRMessageFindDynamicID(const QVariant& value);   // null for none
QString KRMessageFindBVID(const QVariant& value);        // null for none
qint64 KRMessageFindAID(const QVariant& value);
