#pragma once

#include "platform/foundation/RepeatingTimer.h"

#include <QObject>

#include <functional>
#include <memory>

class KRVideo;

// One viewing of a part, for the history: its start, the periodic heartbeat, a pause and a
// resume, and its end, each written to the local resume record and (when enabled) told to the
// service. A viewing lasts as long as a player shows the part; whatever takes the player away
// ends it, so no heartbeat outlives the player it reads.
class KRPlaybackViewing {
public:
    static constexpr int kHeartbeatIntervalMs = 15000;
    enum PlayType { Periodic = 0, Start = 1, Pause = 2, Resume = 3, End = 4 };

    struct Source {
        std::shared_ptr<KRVideo> video;
        qint64 aid = 0;
        int quality = 0;
        bool offline = false;
        double time = 0;
        double duration = 0;
    };
    // What the viewing reads when it reports: the part and where its player stands.
    using SourceReader = std::function<Source()>;
    // Told after each report, with its play type.
    using Reported = std::function<void(int playType)>;

    KRPlaybackViewing(SourceReader source, Reported reported, QObject* owner);
    ~KRPlaybackViewing();
    KRPlaybackViewing(const KRPlaybackViewing&) = delete;
    KRPlaybackViewing& operator=(const KRPlaybackViewing&) = delete;

    // The service is told only when enabled; the local record is written either way.
    void setServiceReportsEnabled(bool enabled) { m_serviceReports = enabled; }
    bool isActive() const { return m_active; }

    // Starts a viewing (its start report and the heartbeat) unless one runs.
    void startHistoryTrackingIfNeeded();
    // A pause (2) or a resume (3) of the viewing that runs.
    void report(int playType);
    // Ends the viewing that runs: its end report, `completed` when the part played to its end.
    void finishHistoryTrackingCompleted(bool completed);

private:
    // Harmless when it does not run.
    void stopHistoryHeartbeatTimer();
    void send(int playType, bool completed);

    SourceReader m_source;
    Reported m_reported;
    QObject* m_owner = nullptr;
    bool m_serviceReports = true;
    bool m_active = false;
    qint64 m_startTS = 0;
    platform::RepeatingTimer m_heartbeatTimer;
};
