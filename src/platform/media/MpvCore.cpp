#include "platform/media/MpvCore.h"

#include "platform/media/EngineMemory.h"
#include "platform/media/MediaSeams.h"
#include "platform/media/MpvLibrary.h"

#include <QMetaObject>
#include <QPointer>
#include <QStringList>

#include <mpv/client.h>
#include <mpv/render.h>

#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::media {
namespace {

// The player library, once a core has been made with it: every call below runs on a core
// that has its handle.
const MpvLibrary& mpv() { return *MpvLibrary::shared(); }

enum Observed : uint64_t {
    ObservePause = 1,
    ObservePausedForCache,
    ObserveEOF,
    ObserveSeeking,
    ObserveMute,
    ObserveTimePos,
    ObserveDuration,
    ObserveSpeed,
    ObserveCacheState,
    ObserveWidth,
    ObserveHeight,
    ObserveVolume,
    ObserveVideoBitrate,
    ObserveAudioBitrate,
    ObserveAudioOutput,
};

constexpr uint64_t ReplySeek = uint64_t(1) << 32;
constexpr uint64_t ReplyLoad = uint64_t(2) << 32;
constexpr uint64_t ReplyLoadedProbe = uint64_t(4) << 32;
// Read once a file is loaded, so that readiness comes with its figures.
const char* const LoadedProbes[] = {"duration", "width", "height"};

// Reports of these come with every frame; they are folded into one report per 100 ms.
bool isChatty(uint64_t id)
{
    return id == ObserveTimePos || id == ObserveCacheState || id == ObserveVideoBitrate || id == ObserveAudioBitrate;
}

// Cores close on workers; the last ones are joined before the process ends. A worker that has
// ended is joined when the next core closes, since an ended thread keeps its stack until then.
// Once no core is open or closing, the memory their threads freed goes back to the system.
class ClosingCores {
public:
    static ClosingCores& shared()
    {
        static ClosingCores closing;
        return closing;
    }
    void opened()
    {
        std::lock_guard lock(m_mutex);
        ++m_open;
    }
    void close(mpv_handle* handle)
    {
        std::lock_guard lock(m_mutex);
        --m_open;
        ++m_closing;
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->ended->load()) {
                it->thread.join();
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
        auto ended = std::make_shared<std::atomic<bool>>(false);
        m_workers.push_back({std::thread([this, handle, ended] {
                                 mpv().terminate_destroy(handle);
                                 if (closedLast())
                                     EngineMemory::returnFreedMemory();
                                 ended->store(true);
                             }),
                             ended});
    }
    void joinAll()
    {
        std::vector<Worker> workers;
        {
            std::lock_guard lock(m_mutex);
            workers.swap(m_workers);
        }
        for (Worker& worker : workers)
            worker.thread.join();
    }
    MpvCore::ClosingWorkers workers()
    {
        std::lock_guard lock(m_mutex);
        MpvCore::ClosingWorkers counts;
        counts.kept = int(m_workers.size());
        for (const Worker& worker : m_workers)
            counts.running += worker.ended->load() ? 0 : 1;
        return counts;
    }
    ~ClosingCores() { joinAll(); }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    bool closedLast()
    {
        std::lock_guard lock(m_mutex);
        return --m_closing == 0 && m_open == 0;
    }

    std::mutex m_mutex;
    std::vector<Worker> m_workers;
    int m_open = 0;
    int m_closing = 0;
};

double nodeDouble(const mpv_node* node, double fallback = 0)
{
    if (!node)
        return fallback;
    if (node->format == MPV_FORMAT_DOUBLE)
        return node->u.double_;
    if (node->format == MPV_FORMAT_INT64)
        return double(node->u.int64);
    return fallback;
}

bool nodeFlag(const mpv_node* node)
{
    return node && node->format == MPV_FORMAT_FLAG && node->u.flag;
}

// Negative or non-finite values count as 0.
double sane(double value)
{
    return std::isfinite(value) && value > 0 ? value : 0;
}

} // namespace

MpvCore::MpvCore(QObject* parent) : QObject(parent)
{
    if (!MpvLibrary::shared())
        return;
    m_handle = mpv().create();
    if (!m_handle)
        return;
    const QString audioOutput = MediaSeams::audioOutput();
    mpv().setBaseOptions(m_handle);
    const std::vector<std::pair<const char*, QByteArray>> options = {
        {"idle", "yes"},
        {"keep-open", "yes"},
        {"vo", "libmpv"},
        // The decoder's own choice is a frame thread per core and one more, each holding
        // pictures in flight: tens of MiB on a many-core machine, for no picture a phone-sized
        // player shows sooner. Four keep even the largest quality decoding ahead of time.
        {"vd-lavc-threads", "4"},
        {"audio-display", "no"},
        {"pause", "yes"},
        {"ao", audioOutput.toLocal8Bit()},
        {"ao-pcm-file", MediaSeams::audioOutputFileForTesting().toLocal8Bit()},
        // Without an output that opens, a file with sound alone would fail and one with a
        // picture would lose its audio clock. The null output keeps both playing; each core
        // tries the real output first, so a player made after a device appears uses it.
        {"audio-fallback-to-null", "yes"},
    };
    for (const auto& [name, value] : options) {
        if (!value.isEmpty())
            mpv().set_option_string(m_handle, name, value.constData());
    }
    if (mpv().initialize(m_handle) < 0) {
        mpv().terminate_destroy(m_handle);
        m_handle = nullptr;
        return;
    }
    ClosingCores::shared().opened();
    const std::vector<std::tuple<uint64_t, const char*, mpv_format>> observed = {
        {ObservePause, "pause", MPV_FORMAT_FLAG},
        {ObservePausedForCache, "paused-for-cache", MPV_FORMAT_FLAG},
        {ObserveEOF, "eof-reached", MPV_FORMAT_FLAG},
        {ObserveSeeking, "seeking", MPV_FORMAT_FLAG},
        {ObserveMute, "mute", MPV_FORMAT_FLAG},
        {ObserveTimePos, "time-pos", MPV_FORMAT_DOUBLE},
        {ObserveDuration, "duration", MPV_FORMAT_DOUBLE},
        {ObserveSpeed, "speed", MPV_FORMAT_DOUBLE},
        {ObserveCacheState, "demuxer-cache-state", MPV_FORMAT_NODE},
        {ObserveWidth, "width", MPV_FORMAT_INT64},
        {ObserveHeight, "height", MPV_FORMAT_INT64},
        {ObserveVolume, "volume", MPV_FORMAT_DOUBLE},
        {ObserveVideoBitrate, "video-bitrate", MPV_FORMAT_DOUBLE},
        {ObserveAudioBitrate, "audio-bitrate", MPV_FORMAT_DOUBLE},
        {ObserveAudioOutput, "current-ao", MPV_FORMAT_STRING},
    };
    for (const auto& [id, name, format] : observed)
        mpv().observe_property(m_handle, id, name, format);

    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv().render_context_create(&m_render, m_handle, params) < 0)
        m_render = nullptr;
    else
        mpv().render_context_set_update_callback(m_render, &MpvCore::onRenderUpdate, this);
    mpv().set_wakeup_callback(m_handle, &MpvCore::onWakeup, this);
    m_sinceChattyReport.start();
}

MpvCore::~MpvCore()
{
    if (!m_handle)
        return;
    // After these return the engine calls neither callback again, so nothing more is queued
    // at this object; what was queued dies with it.
    mpv().set_wakeup_callback(m_handle, nullptr, nullptr);
    if (m_render)
        mpv().render_context_free(m_render);
    m_render = nullptr;
    ClosingCores::shared().close(m_handle);
    m_handle = nullptr;
    completeSeeks(false);
}

void MpvCore::waitForClosingCores()
{
    ClosingCores::shared().joinAll();
}

MpvCore::ClosingWorkers MpvCore::closingWorkersForTesting()
{
    return ClosingCores::shared().workers();
}

void MpvCore::onWakeup(void* context)
{
    auto* core = static_cast<MpvCore*>(context);
    if (core->m_drainQueued->exchange(true))
        return;
    QMetaObject::invokeMethod(core, [core] { core->drain(); }, Qt::QueuedConnection);
}

// Every update is drawn, whether or not the engine still calls its picture new by then. An
// engine whose picture is not drawn within a fifth of a second takes it as shown and keeps it
// as its current one, without another update: a main thread busy that long (a large picture
// being scaled, a loaded machine) would otherwise keep the picture before it, which a paused
// player then shows for good.
void MpvCore::onRenderUpdate(void* context)
{
    auto* core = static_cast<MpvCore*>(context);
    if (core->m_renderQueued->exchange(true))
        return;
    QMetaObject::invokeMethod(core, [core] {
        core->m_renderQueued->store(false);
        if (core->render(core->m_renderSize, true, true))
            Q_EMIT core->frameRendered();
    }, Qt::QueuedConnection);
}

void MpvCore::drain()
{
    m_drainQueued->store(false);
    if (!m_handle)
        return;
    bool report = false;
    QPointer<MpvCore> alive(this);
    for (;;) {
        mpv_event* event = mpv().wait_event(m_handle, 0);
        if (!event || event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event, report);
        if (!alive)
            return; // a receiver destroyed us; the rest of the queue dies with the core
    }
    if (m_chattyPending && m_sinceChattyReport.elapsed() >= 100)
        report = true;
    if (report) {
        m_chattyPending = false;
        m_sinceChattyReport.restart();
        Q_EMIT stateChanged();
    }
}

void MpvCore::handleEvent(const mpv_event& event, bool& report)
{
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        const bool available = property->format != MPV_FORMAT_NONE && property->data;
        const auto flag = [&] { return available && *static_cast<const int*>(property->data) != 0; };
        const auto number = [&](double fallback) { return available ? *static_cast<const double*>(property->data) : fallback; };
        const auto integer = [&] { return available ? *static_cast<const int64_t*>(property->data) : int64_t(0); };
        const auto text = [&] { return available ? QString::fromUtf8(*static_cast<char* const*>(property->data)) : QString(); };
        bool outputLost = false;
        const bool wasStalled = m_state.pausedForCache;
        const bool wasAtEnd = m_state.eofReached;
        switch (event.reply_userdata) {
        case ObservePause:
            m_state.pause = flag();
            m_heldAtSeekLanding = m_heldAtSeekLanding && m_state.pause;
            break;
        case ObservePausedForCache: m_state.pausedForCache = flag(); break;
        case ObserveEOF:
            m_state.eofReached = flag();
            m_heldAtSeekLanding = m_heldAtSeekLanding && !m_state.eofReached;
            break;
        case ObserveSeeking: m_state.seeking = flag(); break;
        case ObserveMute: m_state.mute = flag(); break;
        case ObserveTimePos: {
            const double engineTime = number(-1);
            m_engineTimeTold = engineTime;
            // Paused after an exact seek, a sound-only file's clock reads short of where the
            // seek landed by what its paused output still holds (a fifth of a second on the
            // null output, up to a second on a device), though playing goes on from the
            // landing. Such readings are not the position, until the engine plays again.
            if (m_heldAtSeekLanding && engineTime < m_seekLanding)
                break;
            if (m_issuedSeeks.empty() && !m_waitingSeek)
                m_state.timePos = engineTime;
            break;
        }
        case ObserveDuration: m_state.duration = sane(number(0)); break;
        case ObserveSpeed: m_state.speed = number(1); break;
        case ObserveWidth: m_state.width = integer(); break;
        case ObserveHeight: m_state.height = integer(); break;
        case ObserveVolume: m_state.volume = number(100); break;
        case ObserveVideoBitrate: m_state.videoBitrate = sane(number(0)); break;
        case ObserveAudioBitrate: m_state.audioBitrate = sane(number(0)); break;
        case ObserveAudioOutput:
            // The output is closed for a moment whenever the engine reopens it; what it opens
            // next tells whether the device it played to is still there.
            m_state.audioOutput = text();
            if (m_state.audioOutput.isEmpty())
                break;
            outputLost = !m_deviceOutput.isEmpty() && m_state.audioOutput != m_deviceOutput;
            m_deviceOutput = m_state.audioOutput == QLatin1String("null") ? QString() : m_state.audioOutput;
            break;
        case ObserveCacheState: {
            m_state.seekableRanges.clear();
            m_state.cacheDuration = 0;
            m_state.cacheUnderrun = false;
            m_state.cacheAtEnd = false;
            if (!available)
                break;
            const mpv_node& node = *static_cast<const mpv_node*>(property->data);
            m_state.cacheDuration = sane(nodeDouble(MpvLibrary::mapValue(node, "cache-duration")));
            m_state.cacheUnderrun = nodeFlag(MpvLibrary::mapValue(node, "underrun"));
            m_state.cacheAtEnd = nodeFlag(MpvLibrary::mapValue(node, "eof"));
            m_state.rawInputRate = sane(nodeDouble(MpvLibrary::mapValue(node, "raw-input-rate")));
            if (const mpv_node* ranges = MpvLibrary::mapValue(node, "seekable-ranges"); ranges && ranges->format == MPV_FORMAT_NODE_ARRAY) {
                for (int i = 0; i < ranges->u.list->num; ++i) {
                    const mpv_node& range = ranges->u.list->values[i];
                    const double start = sane(nodeDouble(MpvLibrary::mapValue(range, "start")));
                    const double end = sane(nodeDouble(MpvLibrary::mapValue(range, "end")));
                    if (end > start)
                        m_state.seekableRanges.append({start, end - start});
                }
            }
            break;
        }
        default: break;
        }
        if (isChatty(event.reply_userdata))
            m_chattyPending = true;
        else
            report = true;
        const bool stallBegan = !wasStalled && m_state.pausedForCache && m_state.fileLoaded;
        const bool reachedEnd = !wasAtEnd && m_state.eofReached && m_state.fileLoaded && !m_state.failed;
        // A receiver may destroy this core: nothing of it is touched after an emit.
        QPointer<MpvCore> alive(this);
        if (stallBegan)
            Q_EMIT cacheStallBegan();
        if (alive && reachedEnd)
            Q_EMIT endOfFile();
        if (alive && outputLost)
            Q_EMIT audioOutputLost();
        break;
    }
    case MPV_EVENT_START_FILE:
        break;
    case MPV_EVENT_FILE_LOADED:
        if (m_state.failed)
            break;
        // Ready once the length and picture size are read back, in request order.
        m_probesPending = 3;
        for (const char* name : LoadedProbes)
            mpv().get_property_async(m_handle, ReplyLoadedProbe | m_loadGeneration,
                                   name, qstrcmp(name, "duration") == 0 ? MPV_FORMAT_DOUBLE : MPV_FORMAT_INT64);
        break;
    case MPV_EVENT_GET_PROPERTY_REPLY: {
        if (!(event.reply_userdata & ReplyLoadedProbe) || (event.reply_userdata & 0xffffffffu) != m_loadGeneration
            || m_probesPending <= 0 || m_state.failed)
            break;
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (event.error >= 0 && property->data) {
            if (property->format == MPV_FORMAT_DOUBLE && qstrcmp(property->name, "duration") == 0)
                m_state.duration = sane(*static_cast<const double*>(property->data));
            else if (property->format == MPV_FORMAT_INT64 && qstrcmp(property->name, "width") == 0)
                m_state.width = *static_cast<const int64_t*>(property->data);
            else if (property->format == MPV_FORMAT_INT64 && qstrcmp(property->name, "height") == 0)
                m_state.height = *static_cast<const int64_t*>(property->data);
        }
        if (--m_probesPending > 0)
            break;
        m_state.fileLoaded = true;
        report = true;
        issueSeek();
        Q_EMIT fileLoaded();
        break;
    }
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        if (end->reason != MPV_END_FILE_REASON_ERROR || m_state.failed)
            break;
        m_state.failed = true;
        report = true;
        const platform::Error error(QStringLiteral("MediaEngine"), end->error, QString::fromUtf8(mpv().error_string(end->error)));
        QPointer<MpvCore> alive(this);
        completeSeeks(false);
        if (alive)
            Q_EMIT loadFailed(error);
        break;
    }
    case MPV_EVENT_COMMAND_REPLY:
        if ((event.reply_userdata & ReplyLoad) && event.error < 0 && (event.reply_userdata & 0xffffffffu) == m_loadGeneration
            && !m_state.failed) {
            m_state.failed = true;
            report = true;
            const platform::Error error(QStringLiteral("MediaEngine"), event.error, QString::fromUtf8(mpv().error_string(event.error)));
            QPointer<MpvCore> alive(this);
            completeSeeks(false);
            if (alive)
                Q_EMIT loadFailed(error);
        } else if (event.reply_userdata & ReplySeek) {
            // Replies come in the order the seeks were asked.
            m_seeksTaken = quint32(event.reply_userdata & 0xffffffffu);
            if (event.error < 0)
                completeSeeks(false);
        }
        break;
    case MPV_EVENT_PLAYBACK_RESTART: {
        // The engine takes a seek before it restarts for it: a restart that comes first ends an
        // earlier seek, and tells nothing of the latest one.
        if (m_seeksTaken != m_seeksAsked)
            break;
        // Drawn before the seek completes, so its caller finds the picture at the new position.
        const bool drawn = m_framesSinceReset == 0 && drawRestartPicture();
        QPointer<MpvCore> alive(this);
        if (!m_issuedSeeks.empty()) {
            m_heldAtSeekLanding = m_issuedSeekExact && m_state.pause;
            m_seekLanding = m_state.timePos;
            m_seekLandedSinceReset = true;
            // The engine has handed over the landing's picture: it is drawn, and counted, even
            // when it was handed over while the main thread was busy and no update follows.
            // Once is enough: a picture drawn just above is that picture.
            if (!drawn)
                onRenderUpdate(this);
            completeSeeks(true);
            report = true;
        }
        if (alive && drawn)
            Q_EMIT frameRendered();
        break;
    }
    default:
        break;
    }
}

void MpvCore::load(const QString& url, const std::map<QString, QString>& fileOptions)
{
    if (!m_handle)
        return;
    completeSeeks(false);
    m_state.fileLoaded = false;
    m_state.failed = false;
    m_state.eofReached = false;
    m_state.pausedForCache = false;
    m_state.timePos = -1;
    m_state.duration = 0;
    m_state.width = m_state.height = 0;
    m_state.seekableRanges.clear();
    m_state.cacheDuration = 0;
    m_framesSinceReset = 0;
    m_seekLandedSinceReset = false;
    m_probesPending = 0;
    m_heldAtSeekLanding = false;
    m_engineTimeTold = -1;
    ++m_loadGeneration;
    if (url.isEmpty()) {
        unload();
        return;
    }
    QStringList pairs;
    for (const auto& [name, value] : fileOptions)
        pairs << name + QLatin1Char('=') + value;
    const QByteArray path = url.toUtf8();
    const QByteArray options = pairs.join(QLatin1Char(',')).toUtf8();
    const char* args[] = {"loadfile", path.constData(), "replace", options.constData(), nullptr};
    mpv().command_async(m_handle, ReplyLoad | m_loadGeneration, args);
}

void MpvCore::unload()
{
    if (!m_handle)
        return;
    const char* args[] = {"stop", nullptr};
    mpv().command_async(m_handle, 0, args);
}

void MpvCore::setProperty(const char* name, const QString& value)
{
    if (!m_handle)
        return;
    const QByteArray bytes = value.toUtf8();
    const char* data = bytes.constData();
    mpv().set_property_async(m_handle, 0, name, MPV_FORMAT_STRING, &data);
}

void MpvCore::setFlag(const char* name, bool value)
{
    if (!m_handle)
        return;
    int flag = value ? 1 : 0;
    // The cache sees the new value at once, so readers agree with what was just asked.
    if (qstrcmp(name, "pause") == 0)
        m_state.pause = value;
    else if (qstrcmp(name, "mute") == 0)
        m_state.mute = value;
    mpv().set_property_async(m_handle, 0, name, MPV_FORMAT_FLAG, &flag);
}

bool MpvCore::flagFromEngineForTesting(const char* name) const
{
    int flag = 0;
    return m_handle && mpv().get_property(m_handle, name, MPV_FORMAT_FLAG, &flag) >= 0 && flag != 0;
}

double MpvCore::doubleFromEngineForTesting(const char* name) const
{
    double value = 0;
    return m_handle && mpv().get_property(m_handle, name, MPV_FORMAT_DOUBLE, &value) >= 0 ? value : 0;
}

void MpvCore::setDouble(const char* name, double value)
{
    if (!m_handle)
        return;
    if (qstrcmp(name, "speed") == 0)
        m_state.speed = value;
    mpv().set_property_async(m_handle, 0, name, MPV_FORMAT_DOUBLE, &value);
}

void MpvCore::seek(double seconds, bool exact, std::function<void(bool)> done)
{
    if (!m_handle || m_state.failed) {
        if (done)
            done(false);
        return;
    }
    // A newer seek supersedes the ones not yet finished.
    completeSeeks(false);
    m_waitingSeek = std::make_unique<PendingSeek>(PendingSeek{std::max(seconds, 0.0), exact, std::move(done)});
    m_state.timePos = m_waitingSeek->seconds;
    m_state.eofReached = false;
    if (m_state.fileLoaded)
        issueSeek();
}

void MpvCore::issueSeek()
{
    if (!m_waitingSeek || !m_handle)
        return;
    std::unique_ptr<PendingSeek> seek = std::move(m_waitingSeek);
    m_framesSinceReset = 0;
    m_seekLandedSinceReset = false;
    m_issuedSeekExact = seek->exact;
    const QByteArray target = QByteArray::number(seek->seconds, 'f', 3);
    const char* args[] = {"seek", target.constData(), seek->exact ? "absolute+exact" : "absolute+keyframes", nullptr};
    m_issuedSeeks.push_back(std::move(seek->done));
    ++m_seeksAsked;
    // A seek the engine never got has no reply to wait for.
    if (mpv().command_async(m_handle, ReplySeek | m_seeksAsked, args) < 0)
        m_seeksTaken = m_seeksAsked;
}

void MpvCore::completeSeeks(bool finished)
{
    std::vector<std::function<void(bool)>> done;
    done.swap(m_issuedSeeks);
    if (m_waitingSeek && !finished) {
        done.push_back(std::move(m_waitingSeek->done));
        m_waitingSeek.reset();
    }
    for (auto& fn : done) {
        if (fn)
            fn(finished);
    }
}

void MpvCore::reopenAudioOutputForTesting()
{
    if (!m_handle)
        return;
    const char* args[] = {"ao-reload", nullptr};
    mpv().command_async(m_handle, 0, args);
}

bool MpvCore::drawRestartPicture()
{
    // As it restarts, the engine holds the picture at its new position, drawn or not: it waits
    // only so long for a picture to be drawn, and past that (a main thread busy for a moment)
    // keeps it undrawn and tells of no new frame for it, nor does a paused player afterwards.
    // Drawn here it counts as the restart's frame, which it is.
    if (!m_state.fileLoaded || m_state.width <= 0 || m_state.height <= 0 || !renderFrame(m_renderSize, true))
        return false;
    m_framesSinceReset = std::max(m_framesSinceReset, 1);
    return true;
}

void MpvCore::setRenderSize(QSize size)
{
    m_renderSize = size.isValid() && !size.isEmpty() ? size : QSize(16, 16);
}

bool MpvCore::renderFrame(QSize size, bool force)
{
    return render(size, force, false);
}

bool MpvCore::render(QSize size, bool force, bool asked)
{
    if (!m_render)
        return false;
    const uint64_t flags = mpv().render_context_update(m_render);
    const bool newFrame = flags & MPV_RENDER_UPDATE_FRAME;
    if (!newFrame && !force)
        return false;
    if (size.isEmpty())
        size = QSize(16, 16);
    if (m_frame.size() != size)
        m_frame = QImage(size, QImage::Format_RGB32);
    int swSize[2] = {size.width(), size.height()};
    size_t stride = size_t(m_frame.bytesPerLine());
    // "bgra" fills the fourth byte, which Qt's RGB32 needs to be 0xff; an engine that only
    // takes "bgr0" leaves it undefined, so it is set by hand then.
    const auto render = [&](const char* format) {
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_SW_SIZE, swSize},
            {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>(format)},
            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
            {MPV_RENDER_PARAM_SW_POINTER, m_frame.bits()},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        return mpv().render_context_render(m_render, params) >= 0;
    };
    if (!render("bgra")) {
        if (!render("bgr0"))
            return false;
        for (int y = 0; y < m_frame.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(m_frame.scanLine(y));
            for (int x = 0; x < m_frame.width(); ++x)
                line[x] |= 0xff000000u;
        }
    }
    // A picture the engine asked for once a seek has landed is the landing's, even when it was
    // handed over before this draw came (see onRenderUpdate).
    if (m_state.fileLoaded && (newFrame || (asked && m_seekLandedSinceReset)))
        ++m_framesSinceReset;
    return true;
}

} // namespace platform::media
