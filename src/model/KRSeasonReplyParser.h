#pragma once

#include <QVariant>

#include <memory>

class KRVideo;

// The season reply of the PGC detail endpoints read into the video of one episode.
class KRSeasonReplyParser {
public:
    struct Episode {
        // Null when no episode can stand for the given video: it names an episode (by id,
        // BV, cid or archive id) the season does not have, or the season has no playable
        // episode at all. Without any hint the first playable episode stands for the season.
        std::shared_ptr<KRVideo> video;
        // The chosen episode carries statistics, and all of its counts are zero.
        bool episodeStatisticsZero = false;
    };

    // `given` is the video asked about; `givenSeasonID` its season id when asked (used when
    // the reply names none). Episodes are looked for at the top, in the modules and in the
    // (nested) sections, each once.
    static Episode episodeFromPayload(const QVariant& payload, const KRVideo& given, qint64 givenSeasonID);
};
