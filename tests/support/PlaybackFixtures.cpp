#include "support/PlaybackFixtures.h"

#include "model/KRServiceHosts.h"
#include "support/ServiceFixtures.h"

#include <QMap>
#include <QSet>
#include <QPair>
#include <QRegularExpression>
#include <QUrlQuery>

#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace testsupport {

namespace {

const QString kProgressive360 = QStringLiteral("clip-360p.mp4");
const QString kProgressive720 = QStringLiteral("clip-720p.mp4");

const QString kPortrait = QStringLiteral("clip-portrait.mp4");
// The picture offered as 1080P when only what is served is offered: it is 1920 × 1080.
const QString kDASH1080 = QStringLiteral("video-1080p.m4s");
// The 4K picture of the video that offers it: 3840 × 2160.
const QString kDASH2160 = QStringLiteral("video-2160p.m4s");

QString mediaName(qint32 quality) { return quality >= 64 ? kProgressive720 : kProgressive360; }

// The quality whose media faults a served file follows; 0 for the shared sound and the portrait clip.
qint32 faultQualityOf(const QString& name)
{
    if (name == kProgressive360 || name == QLatin1String("video.m4s"))
        return 16;
    if (name == kProgressive720)
        return 64;
    if (name == QLatin1String("video-720p.m4s") || name == kDASH1080)
        return PlaybackFixtures::kDASHQuality;
    return 0;
}

bool asksForDASH(const FakeRequest& request) { return (request.queryValue(QStringLiteral("fnval")).toInt() & 16) != 0; }

QUrl playMediaURL(int port, const QString& step, const QString& name)
{
    return QUrl(QStringLiteral("https://%1:%2/play/%3/%4").arg(MediaFixtures::mediaHost()).arg(port).arg(step, name));
}

// A stream route, since the media routes are stream routes and those are looked up first.
void routeMissing(FakeService& service, const QString& path)
{
    service.routeStream(MediaFixtures::mediaHost(), path, [](const FakeRequest&, httplib::Response& response, const FakeService::Pause&) {
        response.status = 404;
        response.set_content("not found", "text/plain");
    });
}

QVariantMap valuesOf(const FakeRequest& request)
{
    QVariantMap values;
    for (const auto& item : request.queryItems)
        values.insert(item.first, item.second);
    const QUrlQuery form(QString::fromUtf8(request.body));
    for (const auto& item : form.queryItems(QUrl::FullyDecoded))
        values.insert(item.first, item.second);
    values.insert(QStringLiteral("path"), request.path);
    return values;
}

} // namespace

struct PlaybackFixtures::State {
    mutable std::mutex lock;
    std::condition_variable released;
    quint64 releaseCount = 0;  // held replies wait for it to move on
    int held = 0;
    bool closing = false;
    QMap<qint32, QualityFault> qualityFaults;
    QMap<qint32, CacheAnswer> cacheAnswers;
    QSet<qint64> unresolvableCIDs;
    QMap<qint32, QPair<MediaFault, qint64>> mediaFaults;
    QMap<qint32, int> mediaRequests;
    QMap<qint32, std::shared_ptr<BodyGate>> mediaGates;
    qint64 portraitCID = 0;
    qint64 fourKCID = 0;
    qint64 mediaBytesPerSecond = 0;
    Fault fault = Fault::None;
    int delayMs = 0;
    bool demo = false;
    qint64 resumeCID = 0;
    int resumeSeconds = 0;
    QList<QVariantMap> heartbeats;
    int playRequests = 0;
    int danmakuRequests = 0;
    int port = 0;
};

PlaybackFixtures::PlaybackFixtures(FakeService& service) : m_service(service), m_state(std::make_shared<State>())
{
    m_state->port = service.httpsPort();
    serveMedia();
    const QString api = KRServiceHosts::apiHost();
    routePlayInfo({QStringLiteral("/x/tv/ugc/playurl"), QStringLiteral("/x/player/wbi/playurl"), QStringLiteral("/x/player/playurl")});
    service.route(KRServiceHosts::commentHost(), QStringLiteral("*"), [state = m_state](const FakeRequest& request) {
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^/(\\d+)\\.xml$")).match(request.path);
        if (!match.hasMatch())
            return FakeReply::withStatus(404);
        std::lock_guard guard(state->lock);
        ++state->danmakuRequests;
        const qint64 cid = match.captured(1).toLongLong();
        return FakeReply::text(danmakuXML(cid, state->demo ? demoDanmakuLines(cid) : kDanmakuLines), QStringLiteral("text/xml"));
    });
    const auto resume = [state = m_state](const FakeRequest&) {
        std::lock_guard guard(state->lock);
        QVariantMap data{{QStringLiteral("aid"), ServiceFixtures::kDetailAID}};
        if (state->resumeCID > 0) {
            data.insert(QStringLiteral("last_play_cid"), state->resumeCID);
            data.insert(QStringLiteral("last_play_time"), state->resumeSeconds);
        }
        return FakeReply::json(ServiceFixtures::envelope(data));
    };
    service.route(api, QStringLiteral("/x/player/wbi/v2"), resume);
    service.route(api, QStringLiteral("/x/player/v2"), resume);
    const auto heartbeat = [state = m_state](const FakeRequest& request) {
        std::lock_guard guard(state->lock);
        state->heartbeats.append(valuesOf(request));
        return FakeReply::json(ServiceFixtures::envelope(QVariant()));
    };
    service.route(api, QStringLiteral("/x/v2/history/report"), heartbeat);
    service.route(api, QStringLiteral("/x/click-interface/web/heartbeat"), heartbeat);
}

void PlaybackFixtures::routePlayInfo(const QStringList& paths)
{
    for (const QString& path : paths) {
        m_service.route(KRServiceHosts::apiHost(), path, [state = m_state](const FakeRequest& request) {
            {
                std::lock_guard guard(state->lock);
                ++state->playRequests;
            }
            return playReply(*state, request, asksForDASH(request));
        });
    }
}

void PlaybackFixtures::serveSeriesPlayInfo()
{
    routePlayInfo({QStringLiteral("/pgc/player/api/playurl"), QStringLiteral("/pgc/player/web/v2/playurl"),
                   QStringLiteral("/pgc/player/web/playurl")});
}

PlaybackFixtures::~PlaybackFixtures()
{
    // A held reply must not keep a server thread waiting for a release that can no longer come.
    std::lock_guard guard(m_state->lock);
    m_state->closing = true;
    m_state->released.notify_all();
}

void PlaybackFixtures::serveMedia()
{
    // The primary addresses carry a "/p/" step, the backups a "/b/" one, so a fault can take
    // one of them away alone. Each request reads the faults in force when it arrives.
    for (const QString& name : {kProgressive360, kProgressive720, QStringLiteral("video-720p.m4s"), QStringLiteral("audio-720p.m4s"),
                                QStringLiteral("video.m4s"), QStringLiteral("audio.m4s"), kPortrait, kDASH1080, kDASH2160}) {
        for (const QString& step : {QStringLiteral("p"), QStringLiteral("b")}) {
            const bool primary = step == QLatin1String("p");
            const QString file = MediaFixtures::testMediaPath(name);
            const qint32 quality = faultQualityOf(name);
            m_service.routeStream(MediaFixtures::mediaHost(), QStringLiteral("/play/%1/%2").arg(step, name),
                                  [state = m_state, primary, file, quality](const FakeRequest& request, httplib::Response& response,
                                                                            const FakeService::Pause& pause) {
                                      Fault fault;
                                      QPair<MediaFault, qint64> own{MediaFault::None, 0};
                                      std::shared_ptr<BodyGate> gate;
                                      qint64 rate;
                                      {
                                          std::lock_guard guard(state->lock);
                                          fault = state->fault;
                                          rate = state->mediaBytesPerSecond;
                                          if (quality > 0) {
                                              own = state->mediaFaults.value(quality, own);
                                              gate = state->mediaGates.value(quality);
                                              ++state->mediaRequests[quality];
                                          }
                                      }
                                      if (fault == Fault::AllMediaMissing || (fault == Fault::PrimaryMediaMissing && primary) ||
                                          own.first == MediaFault::Missing) {
                                          response.status = 404;
                                          response.set_content("not found", "text/plain");
                                          return;
                                      }
                                      MediaFixtures::Serving serving;
                                      serving.gate = gate;
                                      if (fault == Fault::Throttled || own.first == MediaFault::Throttled) {
                                          serving.throttleChunkBytes = 16 * 1024;
                                          serving.throttleMs = 40;
                                      } else if (rate > 0) {
                                          // Pieces of 64 KiB, each followed by the pause that
                                          // keeps the answer at the rate.
                                          serving.throttleChunkBytes = 64 * 1024;
                                          serving.throttleMs = int(std::max<qint64>(1, qint64(serving.throttleChunkBytes) * 1000 / rate));
                                      }
                                      if (own.first == MediaFault::Stall)
                                          serving.stallAfter = own.second;
                                      if (own.first == MediaFault::Cut)
                                          serving.cutAfter = own.second;
                                      MediaFixtures::fileHandler(file, serving)(request, response, pause);
                                  });
        }
    }
    routeMissing(m_service, QStringLiteral("/play/p/video-hevc.m4s"));
}

void PlaybackFixtures::setQualityFault(qint32 quality, QualityFault fault)
{
    std::lock_guard guard(m_state->lock);
    m_state->qualityFaults.insert(quality, fault);
}

void PlaybackFixtures::setCacheAnswer(qint32 quality, CacheAnswer answer)
{
    std::lock_guard guard(m_state->lock);
    m_state->cacheAnswers.insert(quality, answer);
}

void PlaybackFixtures::setUnresolvableCID(qint64 cid)
{
    std::lock_guard guard(m_state->lock);
    m_state->unresolvableCIDs.insert(cid);
}

void PlaybackFixtures::releaseHeldReplies()
{
    std::lock_guard guard(m_state->lock);
    ++m_state->releaseCount;
    m_state->released.notify_all();
}

int PlaybackFixtures::heldReplyCount() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->held;
}

void PlaybackFixtures::setMediaFault(qint32 quality, MediaFault fault, qint64 bytes)
{
    std::lock_guard guard(m_state->lock);
    m_state->mediaFaults.insert(quality, {fault, std::max<qint64>(bytes, 0)});
}

std::shared_ptr<BodyGate> PlaybackFixtures::gateMedia(qint32 quality)
{
    auto gate = std::make_shared<BodyGate>();
    std::lock_guard guard(m_state->lock);
    m_state->mediaGates.insert(quality, gate);
    return gate;
}

int PlaybackFixtures::mediaRequestCount(qint32 quality) const
{
    std::lock_guard guard(m_state->lock);
    return m_state->mediaRequests.value(quality);
}

void PlaybackFixtures::setPortraitCID(qint64 cid)
{
    std::lock_guard guard(m_state->lock);
    m_state->portraitCID = cid;
}

void PlaybackFixtures::setFourKCID(qint64 cid)
{
    std::lock_guard guard(m_state->lock);
    m_state->fourKCID = cid;
}

void PlaybackFixtures::setMediaRate(qint64 bytesPerSecond)
{
    std::lock_guard guard(m_state->lock);
    m_state->mediaBytesPerSecond = std::max<qint64>(0, bytesPerSecond);
}

QUrl PlaybackFixtures::portraitURL() const { return playMediaURL(m_state->port, QStringLiteral("p"), kPortrait); }

void PlaybackFixtures::setFault(Fault fault, int delayMs)
{
    {
        std::lock_guard guard(m_state->lock);
        m_state->fault = fault;
        m_state->delayMs = delayMs;
    }
    serveMedia();
}

void PlaybackFixtures::setDemo(bool on)
{
    std::lock_guard guard(m_state->lock);
    m_state->demo = on;
}

void PlaybackFixtures::setResumeRecord(qint64 cid, int seconds)
{
    std::lock_guard guard(m_state->lock);
    m_state->resumeCID = cid;
    m_state->resumeSeconds = seconds;
}

QList<QVariantMap> PlaybackFixtures::heartbeats() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->heartbeats;
}

QList<int> PlaybackFixtures::heartbeatPlayTypes() const
{
    QList<int> types;
    for (const QVariantMap& beat : heartbeats()) {
        if (beat.contains(QStringLiteral("play_type")))
            types.append(beat.value(QStringLiteral("play_type")).toInt());
    }
    return types;
}

int PlaybackFixtures::playRequestCount() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->playRequests;
}

int PlaybackFixtures::danmakuRequestCount() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->danmakuRequests;
}


QUrl PlaybackFixtures::progressiveURL(qint32 quality) const { return playMediaURL(m_state->port, QStringLiteral("p"), mediaName(quality)); }
QUrl PlaybackFixtures::progressiveBackupURL(qint32 quality) const { return playMediaURL(m_state->port, QStringLiteral("b"), mediaName(quality)); }
QUrl PlaybackFixtures::dashVideoURL(qint32 quality) const
{
    return playMediaURL(m_state->port, QStringLiteral("p"), quality >= kDASHQuality ? QStringLiteral("video-720p.m4s") : QStringLiteral("video.m4s"));
}
QUrl PlaybackFixtures::dashAudioURL() const { return playMediaURL(m_state->port, QStringLiteral("p"), QStringLiteral("audio-720p.m4s")); }
QUrl PlaybackFixtures::hevcVideoURL() const { return playMediaURL(m_state->port, QStringLiteral("p"), QStringLiteral("video-hevc.m4s")); }

QVariantList PlaybackFixtures::acceptQualities() { return {120, 80, 64, 32, 16}; }
QVariantList PlaybackFixtures::acceptDescriptions()
{
    return {QStringLiteral("4K"), QStringLiteral("1080P"), QStringLiteral("720P"), QStringLiteral("480P"), QStringLiteral("360P")};
}

QVariantMap PlaybackFixtures::progressiveInfo(qint32 requested) const { return progressiveInfoOn(m_state->port, requested); }
QVariantMap PlaybackFixtures::dashInfo(qint32 requested) const { return dashInfoOn(m_state->port, requested); }

QVariantList PlaybackFixtures::servedQualities() { return {kDASHQuality, 64, 16}; }
QVariantList PlaybackFixtures::servedDescriptions() { return {QStringLiteral("1080P"), QStringLiteral("720P"), QStringLiteral("360P")}; }
QVariantList PlaybackFixtures::fourKQualities() { return QVariantList{k4KQuality} + servedQualities(); }
QVariantList PlaybackFixtures::fourKDescriptions() { return QVariantList{QStringLiteral("4K")} + servedDescriptions(); }

QVariantMap PlaybackFixtures::progressiveInfoOn(int port, qint32 requested, const QString& portraitName, bool servedOnly, bool fourK)
{
    // Offering only what is served, the portrait clip is the one quality it is: 360P.
    const bool portraitOnly = servedOnly && !portraitName.isEmpty();
    const qint32 quality = requested >= 64 && !portraitOnly ? 64 : 16;
    const QString name = portraitName.isEmpty() ? mediaName(quality) : portraitName;
    const int length = portraitName.isEmpty() ? 12000 : 6000;
    QVariantList qualities = servedOnly ? (fourK ? fourKQualities() : servedQualities()) : acceptQualities();
    QVariantList descriptions = servedOnly ? (fourK ? fourKDescriptions() : servedDescriptions()) : acceptDescriptions();
    if (portraitOnly) {
        qualities = {16};
        descriptions = {QStringLiteral("360P")};
    }
    const QVariantMap entry{{QStringLiteral("order"), 1},
                            {QStringLiteral("length"), length},
                            {QStringLiteral("url"), playMediaURL(port, QStringLiteral("p"), name).toString()},
                            {QStringLiteral("backup_url"), QVariantList{playMediaURL(port, QStringLiteral("b"), name).toString()}}};
    return {{QStringLiteral("quality"), quality},
            {QStringLiteral("format"), QStringLiteral("mp4")},
            {QStringLiteral("timelength"), length},
            {QStringLiteral("accept_quality"), qualities},
            {QStringLiteral("accept_description"), descriptions},
            {QStringLiteral("durl"), QVariantList{entry}}};
}

namespace {

QVariantList audioStreams(int port)
{
    return {QVariantMap{{QStringLiteral("id"), 30280},
                        {QStringLiteral("codecs"), QStringLiteral("mp4a.40.2")},
                        {QStringLiteral("bandwidth"), 64000},
                        {QStringLiteral("base_url"), playMediaURL(port, QStringLiteral("p"), QStringLiteral("audio-720p.m4s")).toString()},
                        {QStringLiteral("backup_url"), QVariantList{playMediaURL(port, QStringLiteral("b"), QStringLiteral("audio-720p.m4s")).toString()}}}};
}

} // namespace

QVariantMap PlaybackFixtures::dashInfoOn(int port, qint32 requested, bool servedOnly, bool fourK)
{
    auto picture = [port](qint32 id, int codecID, const QString& codecs, int width, int height, qint64 bandwidth, const QUrl& url,
                          const QString& backupName) {
        QVariantList backups;
        if (!backupName.isEmpty())
            backups.append(playMediaURL(port, QStringLiteral("b"), backupName).toString());
        return QVariantMap{{QStringLiteral("id"), id},
                           {QStringLiteral("codecid"), codecID},
                           {QStringLiteral("codecs"), codecs},
                           {QStringLiteral("bandwidth"), bandwidth},
                           {QStringLiteral("width"), width},
                           {QStringLiteral("height"), height},
                           {QStringLiteral("frame_rate"), QStringLiteral("25.000")},
                           {QStringLiteral("base_url"), url.toString()},
                           {QStringLiteral("backup_url"), backups}};
    };
    // Offering only what is served, each picture is at the quality it is listed as: the 1080p
    // halves as 1080P, the 720p ones as 720P, beside the 360P ones.
    if (servedOnly) {
        const auto served = [&](qint32 id, const QString& codecs, int width, int height, qint64 bandwidth, const QString& name) {
            return picture(id, 7, codecs, width, height, bandwidth, playMediaURL(port, QStringLiteral("p"), name), name);
        };
        QVariantList video{served(kDASHQuality, QStringLiteral("avc1.640032"), 1920, 1080, 1800000, kDASH1080),
                           served(64, QStringLiteral("avc1.640028"), 1280, 720, 900000, QStringLiteral("video-720p.m4s")),
                           served(16, QStringLiteral("avc1.64001E"), 640, 360, 400000, QStringLiteral("video.m4s"))};
        if (fourK)
            video.prepend(served(k4KQuality, QStringLiteral("avc1.640033"), 3840, 2160, 2800000, kDASH2160));
        const qint32 best = fourK && requested >= k4KQuality ? k4KQuality : kDASHQuality;
        return {{QStringLiteral("quality"), requested >= kDASHQuality ? best : requested >= 64 ? 64 : 16},
                {QStringLiteral("format"), QStringLiteral("dash")},
                {QStringLiteral("timelength"), 12000},
                {QStringLiteral("accept_quality"), fourK ? fourKQualities() : servedQualities()},
                {QStringLiteral("accept_description"), fourK ? fourKDescriptions() : servedDescriptions()},
                {QStringLiteral("dash"), QVariantMap{{QStringLiteral("duration"), 12}, {QStringLiteral("video"), video}, {QStringLiteral("audio"), audioStreams(port)}}}};
    }
    // The HEVC entry comes first, with the lowest bandwidth: a picker that looked at codecs
    // carelessly would take it.
    const QVariantList video{picture(kDASHQuality, kHEVCCodecID, QStringLiteral("hev1.1.6.L120.90"), 1280, 720, 300000, playMediaURL(port, QStringLiteral("p"), QStringLiteral("video-hevc.m4s")), {}),
                             picture(kDASHQuality, 7, QStringLiteral("avc1.640028"), 1280, 720, 900000, playMediaURL(port, QStringLiteral("p"), QStringLiteral("video-720p.m4s")),
                                     QStringLiteral("video-720p.m4s")),
                             picture(16, 7, QStringLiteral("avc1.64001E"), 640, 360, 400000, playMediaURL(port, QStringLiteral("p"), QStringLiteral("video.m4s")),
                                     QStringLiteral("video.m4s"))};
    const QVariantList audio = audioStreams(port);
    return {{QStringLiteral("quality"), requested >= kDASHQuality ? kDASHQuality : 16},
            {QStringLiteral("format"), QStringLiteral("dash")},
            {QStringLiteral("timelength"), 12000},
            {QStringLiteral("accept_quality"), acceptQualities()},
            {QStringLiteral("accept_description"), acceptDescriptions()},
            {QStringLiteral("dash"), QVariantMap{{QStringLiteral("duration"), 12}, {QStringLiteral("video"), video}, {QStringLiteral("audio"), audio}}}};
}

FakeReply PlaybackFixtures::playReply(State& state, const FakeRequest& request, bool dashRoute)
{
    const qint32 requested = request.queryValue(QStringLiteral("qn")).toInt();
    Fault fault;
    QualityFault own;
    CacheAnswer cacheAnswer;
    int delay;
    int port;
    bool portrait;
    bool fourK;
    bool servedOnly;
    bool unresolvable;
    {
        std::unique_lock guard(state.lock);
        fault = state.fault;
        own = state.qualityFaults.value(requested, QualityFault::None);
        cacheAnswer = state.cacheAnswers.value(requested, CacheAnswer::None);
        if (fault != Fault::ServerError && own == QualityFault::Held) {
            const quint64 releases = state.releaseCount;
            ++state.held;
            state.released.wait(guard, [&] { return state.releaseCount != releases || state.closing; });
            --state.held;
            if (state.closing) {
                FakeReply gone;
                gone.closeWithoutReply = true;
                return gone;
            }
        }
        delay = state.delayMs;
        port = state.port;
        servedOnly = state.demo;
        portrait = state.portraitCID > 0 && request.queryValue(QStringLiteral("cid")).toLongLong() == state.portraitCID;
        fourK = state.fourKCID > 0 && request.queryValue(QStringLiteral("cid")).toLongLong() == state.fourKCID;
        unresolvable = state.unresolvableCIDs.contains(request.queryValue(QStringLiteral("cid")).toLongLong());
    }
    if (fault == Fault::ServerError || own == QualityFault::ServerError)
        return ServiceFixtures::serverFailure(500);
    if (unresolvable)
        return ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有"));
    if (own == QualityFault::TVRouteError && request.path == QLatin1String("/x/tv/ugc/playurl"))
        return ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有"));
    QVariantMap info;
    if (portrait)  // no DASH halves of the portrait clip: every route hands out the file
        info = progressiveInfoOn(port, requested, kPortrait, servedOnly);
    else
        info = dashRoute ? dashInfoOn(port, requested, servedOnly, fourK) : progressiveInfoOn(port, requested, {}, servedOnly, fourK);
    applyCacheAnswer(info, cacheAnswer, port, dashRoute);
    FakeReply reply = FakeReply::json(ServiceFixtures::envelope(info));
    if (fault == Fault::Delay)
        reply.delayMs = delay;
    return reply;
}

void PlaybackFixtures::applyCacheAnswer(QVariantMap& info, CacheAnswer answer, int port, bool dashRoute)
{
    switch (answer) {
    case CacheAnswer::None:
        return;
    case CacheAnswer::NoFiles:
        info.remove(QStringLiteral("durl"));
        return;
    case CacheAnswer::LowerQuality:
        if (dashRoute)
            return;
        info = progressiveInfoOn(port, 16);
        info.insert(QStringLiteral("quality"), 32);
        return;
    case CacheAnswer::H264At120: {
        if (!dashRoute)
            return;
        QVariantMap dash = info.value(QStringLiteral("dash")).toMap();
        QVariantList pictures = dash.value(QStringLiteral("video")).toList();
        const QString name = QStringLiteral("video-720p.m4s");
        pictures.prepend(QVariantMap{{QStringLiteral("id"), k4KQuality},
                                     {QStringLiteral("codecid"), 7},
                                     {QStringLiteral("codecs"), QStringLiteral("avc1.640033")},
                                     {QStringLiteral("bandwidth"), 8000000},
                                     {QStringLiteral("width"), 3840},
                                     {QStringLiteral("height"), 2160},
                                     {QStringLiteral("frame_rate"), QStringLiteral("25.000")},
                                     {QStringLiteral("base_url"), playMediaURL(port, QStringLiteral("p"), name).toString()},
                                     {QStringLiteral("backup_url"), QVariantList{playMediaURL(port, QStringLiteral("b"), name).toString()}}});
        dash.insert(QStringLiteral("video"), pictures);
        info.insert(QStringLiteral("dash"), dash);
        info.insert(QStringLiteral("quality"), k4KQuality);
        return;
    }
    case CacheAnswer::HEVCOnly: {
        if (!dashRoute)
            return;
        QVariantMap dash = info.value(QStringLiteral("dash")).toMap();
        QVariantList pictures;
        for (const QVariant& picture : dash.value(QStringLiteral("video")).toList())
            if (picture.toMap().value(QStringLiteral("codecid")).toInt() == kHEVCCodecID)
                pictures.append(picture);
        dash.insert(QStringLiteral("video"), pictures);
        info.insert(QStringLiteral("dash"), dash);
        return;
    }
    }
}

int PlaybackFixtures::demoDanmakuLines(qint64 cid) { return int(6 + cid % 13); }

QByteArray PlaybackFixtures::danmakuXML(qint64 cid, int lines)
{
    QByteArray document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.test</chatserver><chatid>" +
                          QByteArray::number(cid) + "</chatid>";
    static const char* const texts[] = {"第一条弹幕", "前方高能", "好耶", "这里好看", "再来一遍", "字幕君辛苦了"};
    for (int i = 0; i < lines; ++i) {
        const int mode = i % 4 == 3 ? 5 : 1;
        document += "<d p=\"" + QByteArray::number(i * 10.8 / lines + 0.2, 'f', 3) + "," + QByteArray::number(mode) + ",25," +
                    QByteArray::number(0xFFFFFF - i % 15 * 0x111111) + ",1700000000,0,abc" + QByteArray::number(i) + "," +
                    QByteArray::number(cid * 100 + i) + "\">" + QByteArray(texts[i % 6]) + "</d>";
    }
    return document + "</i>";
}

} // namespace testsupport
