#pragma once

#include <QString>

namespace testsupport {

// The words of the fake catalogue: titles, uploader names, section names and lengths that read
// like a real shelf, each a pure function of the ids so any test can name what it expects.
class CatalogueText {
public:
    CatalogueText() = delete;

    // The name a region's rows carry ("游戏" for rid 4); a region only an aggregate lists takes
    // a name of its own, and an unknown one the catalogue's generic "生活".
    static QString sectionName(qint64 rid);
    // Whether the catalogue has videos of its own in this region (regionFor gives it).
    static bool isRegion(qint64 rid);
    // A title of the region's own kind; the same archive and region always give the same one.
    static QString title(qint64 aid, qint64 rid);
    // A region for an archive no list placed (the home feeds, the view endpoint).
    static qint64 regionFor(qint64 aid);
    // Seconds, in the range the region's videos usually have (songs short, lessons long).
    static qint64 durationSeconds(qint64 aid, qint64 rid);
    // A nickname; the list owners (mids 3000 to 3499) all have different ones.
    static QString uploaderName(qint64 mid);
    // A search hit's title with the keyword marked as the service marks it.
    static QString searchTitle(const QString& keyword, qint64 index);
    // A PGC catalogue entry's title for its season type.
    static QString seasonTitle(qint64 seasonType, qint64 seasonID);
};

} // namespace testsupport
