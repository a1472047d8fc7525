#pragma once

#include <QString>
#include <QStringList>

// The explore tab's recent keywords in the user defaults: newest first, trimmed, without
// duplicates or empty entries, at most kMaximumCount. Whatever else the key holds (another
// type, numbers, empty strings) reads as if those entries were absent. Main thread only.
class KRSearchHistory {
public:
    static constexpr int kMaximumCount = 12;
    static const QString kDefaultsKey;

    KRSearchHistory() = delete;

    static QStringList read();
    // Puts the trimmed keyword first (dropping an equal older entry) and stores the list; an
    // empty keyword changes nothing. A keyword the defaults cannot hold (text with U+0000) is
    // refused with a warning, the list unchanged; *remembered tells whether the keyword is
    // now first. Answers the list as stored.
    static QStringList save(const QString& keyword, bool* remembered = nullptr);
    // Drops the entry at `index` (nothing outside the list) and answers the list as stored.
    static QStringList removeAt(int index);
    static void clear();

private:
    static void store(const QStringList& keywords);
};
