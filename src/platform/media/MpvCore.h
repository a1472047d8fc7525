#pragma once

#include "platform/foundation/Error.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

struct mpv_handle;
struct mpv_render_context;
struct mpv_event;

namespace platform::media {

struct TimeRange {
    double start;
    double duration;
};

// What the engine last said, as the drain on the main thread collected it. Reading it never
// waits on the engine.
struct MpvState {
    bool fileLoaded = false;
    bool failed = false;
    bool pause = true;
    bool pausedForCache = false;
    bool eofReached = false;
    bool seeking = false;
    bool mute = false;
    bool cacheUnderrun = false;
    bool cacheAtEnd = false;
    double timePos = -1;
    double duration = 0;
    double speed = 1;
    double cacheDuration = 0;
    double volume = 100;
    qint64 width = 0;
    qint64 height = 0;
    double rawInputRate = 0;
    double videoBitrate = 0;
    double audioBitrate = 0;
    // The engine's output driver ("null" when it fell back to none); empty while none is open.
    QString audioOutput;
    QList<TimeRange> seekableRanges;
};

// One engine core and its software renderer, fed by the engine's wakeup callback: any
// number of wakeups coalesce into one queued drain on the main thread, which empties the
// event queue into the state above and then reports once. Every request is asynchronous, so
// the main thread never blocks on the engine. Destroying the controller frees the renderer
// first and tears the core down on a worker thread.
class MpvCore : public QObject {
    Q_OBJECT
public:
    explicit MpvCore(QObject* parent = nullptr);
    ~MpvCore() override;

    bool isValid() const { return m_handle != nullptr; }
    const MpvState& state() const { return m_state; }

    // Replaces the current file (a null URL unloads); pending seeks complete unfinished.
    void load(const QString& url, const std::map<QString, QString>& fileOptions = {});
    void unload();
    void setProperty(const char* name, const QString& value);
    void setFlag(const char* name, bool value);
    void setDouble(const char* name, double value);
    // The engine's own current value, waiting for the engine to answer (the state above may
    // still trail requests in flight). For tests.
    bool flagFromEngineForTesting(const char* name) const;
    double doubleFromEngineForTesting(const char* name) const;
    // The engine's time as its last change event told it, taken for the position or not (-1
    // before any). For tests, which wait for the engine to have told its time.
    double engineTimeToldForTesting() const { return m_engineTimeTold; }
    // Seeks once the file is loaded; `done(finished)` runs once: true when the engine has
    // restarted playback at the target, false when the seek failed or was superseded.
    void seek(double seconds, bool exact, std::function<void(bool)> done);

    // Renders the current picture at `size` into the frame image when the engine has a new
    // one (or always, with `force`); returns whether the image changed.
    bool renderFrame(QSize size, bool force);
    QImage frameImage() const { return m_frame; }
    // Frames rendered since the last load or seek: the picture the engine holds as it restarts
    // at the new position is always one of them, and once a seek has landed any picture the
    // engine asks to have drawn.
    int framesSinceLoadOrSeek() const { return m_framesSinceReset; }
    void setRenderSize(QSize size);
    QSize renderSize() const { return m_renderSize; }

    // Makes the engine open its audio output again, as it does when the device it writes to
    // goes away. For tests, which take the device away first.
    void reopenAudioOutputForTesting();

    // Tears down every core still closing on workers; the test main and the app call it
    // before they exit.
    static void waitForClosingCores();
    // The workers closing cores that are not yet joined, and how many of them are still tearing
    // their core down. For tests.
    struct ClosingWorkers {
        int kept = 0;
        int running = 0;
    };
    static ClosingWorkers closingWorkersForTesting();

Q_SIGNALS:
    void stateChanged();
    void fileLoaded();
    void endOfFile();
    void loadFailed(const platform::Error& error);
    void cacheStallBegan();
    void frameRendered();
    // The output the sound went to is gone: the engine moved to another one, or to none (and
    // plays on, its clock running).
    void audioOutputLost();

private:
    static void onWakeup(void* context);
    static void onRenderUpdate(void* context);
    void drain();
    void handleEvent(const mpv_event& event, bool& report);
    void completeSeeks(bool finished);
    void issueSeek();
    // Draws the picture the engine holds as it restarts at a position, when it has one.
    bool drawRestartPicture();
    // `asked`: the engine's update asked for it.
    bool render(QSize size, bool force, bool asked);

    mpv_handle* m_handle = nullptr;
    mpv_render_context* m_render = nullptr;
    std::shared_ptr<std::atomic<bool>> m_drainQueued = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_renderQueued = std::make_shared<std::atomic<bool>>(false);
    MpvState m_state;
    QImage m_frame;
    QSize m_renderSize{16, 16};
    int m_framesSinceReset = 0;
    bool m_seekLandedSinceReset = false;
    quint64 m_loadGeneration = 0;
    // Seeks asked of the engine, and the last one it has taken (by their count).
    quint32 m_seeksAsked = 0;
    quint32 m_seeksTaken = 0;
    int m_probesPending = 0;
    QElapsedTimer m_sinceChattyReport;
    bool m_chattyPending = false;
    // The device output this core last played to; empty before one opened.
    QString m_deviceOutput;

    struct PendingSeek {
        double seconds;
        bool exact;
        std::function<void(bool)> done;
    };
    std::unique_ptr<PendingSeek> m_waitingSeek;            // issued once the file is loaded
    std::vector<std::function<void(bool)>> m_issuedSeeks;  // waiting for the engine's restart
    bool m_issuedSeekExact = false;
    // An exact seek landed while paused: the time stays where it landed until the engine plays.
    bool m_heldAtSeekLanding = false;
    double m_seekLanding = 0;
    double m_engineTimeTold = -1;
};

} // namespace platform::media
