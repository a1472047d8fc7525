#pragma once

#include "playback/KRPlaybackTransport.h"

#include <QElapsedTimer>
#include <QPointer>

// The second player of a staged swap, private to the transport.
struct KRPlaybackTransport::Staged {
    platform::media::MediaPlayer* player = nullptr;
    QPointer<platform::media::PlayerSurface> surface;
    QUrl url;
    std::function<void(bool, const KROptionalError&)> completion;
    QElapsedTimer startedAt;
    // When the staged player was last seeked into line, on the main clock; < 0 before the first.
    double lastAlignmentAt = -1;
    double minimumBuffer = 0;
    double rate = 1;
    bool seeking = false;
    bool ready = false;
    quint64 generation = 0;
};
