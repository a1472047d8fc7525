#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class KRVideo;

// The only place where a KRVideo is made from the service's JSON. The service answers in
// many shapes (web views, search results, rankings, uploader archives, PGC episodes, history
// entries, the old API's lists); each field is read from a fixed list of key names tried in
// order, first from a nested "detail" object and then from the object itself, through the
// tolerant readers of KRTolerantValue.h. Nothing here fails: malformed input yields default
// fields, and non-objects yield no video. Pure functions, no state; cheap enough to run on
// the main thread for every list page.
class KRVideoNormalizer {
public:
    KRVideoNormalizer() = delete;

    // The object to read one video from: the reply's "data" when it is an object, else its
    // "result" when it is an object, else the reply itself; nothing when the reply is not an
    // object.
    static std::optional<QVariantMap> dictionaryFromPayload(const QVariant& payload);
    // The array of video objects in a reply: the reply itself when it is an array; otherwise
    // the first array found depth-first under "data", "list", "result", "items", "item",
    // "videos", "vlist", "archives" (in that order, descending into objects); nothing when
    // none is found or the reply is not an object.
    static std::optional<QVariantList> arrayFromPayload(const QVariant& payload);
    // A new video read from one JSON object (every field rule, in order).
    static std::shared_ptr<KRVideo> videoFromDictionary(const QVariantMap& dictionary);
    // As above, reading `amendments` before the object's own members of the same names: the
    // object as a caller amended it, without copying it to insert them.
    static std::shared_ptr<KRVideo> videoFromDictionary(const QVariantMap& dictionary, const QVariantMap& amendments);
    // As above for any value: null unless the value is a JSON object.
    static std::shared_ptr<KRVideo> videoFromDictionary(const QVariant& value);
    // Every video of a reply, in reply order: the elements of arrayFromPayload, or the single
    // object of dictionaryFromPayload when that carries an "aid" or "bvid" key (even null);
    // non-object elements are skipped. Never fails; possibly empty.
    static QList<std::shared_ptr<KRVideo>> videosFromPayload(const QVariant& payload);
};

// Duration display text of a value: text containing ":" is kept as given; a count of seconds
// of at least 1 becomes "mm:ss" ("00:59") or, from one hour on, "h:mm:ss" ("1:00:00");
// otherwise the value's own text (null for missing, so a missing duration stays unknown).
QString KRDuration(const QVariant& value);
// Seconds of a duration as KRDuration writes it ("mm:ss", "h:mm:ss") or as a count of
// seconds; 0 when it gives none (negative, malformed or missing).
double KRDurationSeconds(const QVariant& value);

// The first object among the values of an old-API "list" object, in key order; nothing when
// "list" is not a non-empty object or holds no object.
std::optional<QVariantMap> KRFirstLegacyPage(const QVariantMap& dictionary);

// Plain text of a title that may carry search-result markup: tags ("<" up to the next ">")
// are dropped, then the entities &amp; &lt; &gt; &quot; &#39; &nbsp; are decoded in that
// order. Text without "<" is returned untouched (entities included); null stays null.
QString KRPlainTextFromHTMLFragment(const QString& text);

// The PGC id in a redirect address of a PGC page: 0 unless both texts are non-empty and the
// address contains "/bangumi/play/"; then the decimal digits right after the last "/" +
// marker ("ep" or "ss"), compared ignoring case; 0 when no digits follow it.
qint64 KRPGCIdentifierFromRedirectURL(const QString& address, const QString& marker);

// Collects play addresses from whatever shape the service used: a text (scheme-relative
// "//" addresses get "https:"), an array (each element in order) or an object (its "url",
// "base_url", "baseUrl", "play_url", "playurl", "backup_url", "backupUrl" and "durl", in that
// order), depth-first; an address already in `list` is not added again.
void KRAppendPlayURLs(const QVariant& value, QStringList& list);
