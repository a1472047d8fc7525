#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

// Keys of one section entry (a QVariantMap).
inline const QString KRSectionNameKey = QStringLiteral("name");              // display name
inline const QString KRSectionRouteKey = QStringLiteral("route");            // KRSectionRoute
inline const QString KRSectionRIDKey = QStringLiteral("rid");                // region id, route 0 only
inline const QString KRSectionSeasonTypeKey = QStringLiteral("season_type"); // season type, route 1 only
inline const QString KRSectionSourceRIDsKey = QStringLiteral("source_rids"); // region ids, route 2 only

// How a section's list is loaded.
enum KRSectionRoute : int {
    KRSectionRouteRegion = 0,      // one UGC region (ranking, new list as fall-back)
    KRSectionRouteSeasonIndex = 1, // a PGC catalogue by season type
    KRSectionRouteAggregate = 2,   // several UGC regions merged round-robin
};

// A PGC catalogue entry (route 1).
QVariantMap KRPGCSection(const QString& name, int seasonType);
// A UGC region entry (route 0).
QVariantMap KRUGCSection(const QString& name, int rid);

// The fixed table of the browsable sections the discover tab shows, in display order.
class KRSectionRegistry {
public:
    KRSectionRegistry() = delete;

    // Built on first use and never changed afterwards; safe to call from any thread.
    static QVariantList allSections();
};
