#pragma once

#include "model/KRError.h"

#include <QString>
#include <QStringList>

#include <functional>

class KRVideo;
class QObject;

// What a play-information reply offers for caching one part at one quality: below 1080P the
// progressive files and the quality they are at, from 1080P on the H.264 picture and AAC sound
// of the DASH answer. The answer decides, not an error beside it: a route that failed before a
// fallback answered well still hands its error on, so the error is told only when no answer came.
struct KROfflineResolution {
    // From this quality on a part is cached as its DASH picture and sound.
    static constexpr int kDASHQuality = 80;

    bool answered = false;   // play information came
    QStringList candidates;  // progressive files, best first
    int actualQuality = 0;   // the quality the files are at
    QString pictureURL;      // the DASH pair
    QString soundURL;
    KROptionalError error;

    bool usable(int quality) const;
    // The error when no answer came, else `unusable`.
    QString failureText(const QString& unusable) const;
    // The error's description for a console line, "(null)" without one.
    QString errorDescription() const;

    // Asks the account client for `video`'s play information at `quality` (its resolved aid
    // when positive, else its aid); `done` is called once on the main thread while `owner` lives.
    static void resolve(const KRVideo& video, int quality, QObject* owner, std::function<void(const KROfflineResolution&)> done);
};
