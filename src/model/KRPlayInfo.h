#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// One stream of a DASH play information, as listed under "dash" → "video" or "audio".
struct KRPlayStream {
    qint64 id = 0;
    qint64 codecID = 0;
    QString codecs;
    qint64 bandwidth = 0;
    // "base_url", else "baseUrl", else the first backup; empty when the stream names none.
    QString address;
    QStringList backupAddresses;
    // The stream as the service listed it: the pickers read its shape details.
    QVariantMap record;
};

// The play information the account and web-API clients answer with, or an offline copy's
// record, read once into types. Values not of the expected shape are skipped, never trusted:
// a stream that is no object is no stream, a quality that is no number is 0.
struct KRPlayInfo {
    // Where it came from: the route the client stamped on it ("_kr_auth_family"), or
    // "offline" for a record of the offline store.
    QString route;
    // The quality the service answered with ("quality"); 0 when it named none.
    int quality = 0;
    // "accept_quality" with the matching "accept_description", positive and each once.
    QList<int> acceptedQualities;
    QStringList acceptedTitles;
    QList<KRPlayStream> pictures;
    QList<KRPlayStream> sounds;
    // The first "durl" entry's "url", then its "backup_url" texts, each once.
    QStringList progressiveAddresses;
    // The information as it came, for the stream pickers and the offline store.
    QVariantMap source;

    bool hasDASH() const { return !pictures.isEmpty() && !sounds.isEmpty(); }

    // Null when `information` is no JSON object.
    static std::optional<KRPlayInfo> fromPlayInformation(const QVariant& information);
    // An offline store's record: the same reading, with the route "offline".
    static std::optional<KRPlayInfo> fromOfflineRecord(const QVariantMap& record);
};
