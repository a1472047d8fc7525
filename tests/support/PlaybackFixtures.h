#pragma once

#include "support/BodyGate.h"
#include "support/FakeService.h"
#include "support/MediaFixtures.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

namespace testsupport {

// What the video page plays: the three play-information routes of the API host
// ("/x/tv/ugc/playurl", "/x/player/wbi/playurl", "/x/player/playurl"), the danmaku XML of
// every cid on the comment host, the resume record and the two heartbeat routes, each
// recording what arrived. Media are the generated clips, served on the media host:
//   360P and 720P progressive: clip-360p.mp4 and clip-720p.mp4, each with a backup address;
//   DASH: 1080P (code 80) as the 720p clip's halves, 360P as the 360p clip's, and an HEVC
//   1080P entry that must never be chosen (its address answers 404);
//   "accept_quality" [120, 80, 64, 32, 16] with the quality table's titles.
// Handlers run on the server's threads; the state is shared under a lock.
class PlaybackFixtures {
public:
    enum class Fault {
        None,
        ServerError,       // every play route answers 500
        Delay,             // every play route answers after delayMs
        PrimaryMediaMissing, // the first address of every stream answers 404, the backup plays
        AllMediaMissing,   // every address answers 404
        Throttled,         // media trickle out in small pieces
    };
    // Faults of one quality's play information (the "qn" a request asks for), for switches.
    enum class QualityFault {
        None,
        ServerError,  // every play route answers 500 for it
        Held,         // its replies wait until releaseHeldReplies() (standing for a very slow answer)
        TVRouteError, // the TV route answers a service error for it; the other two answer as usual
    };
    // Faults of one quality's media, decided when each request arrives: 16 (the 360p file and
    // the 360P DASH picture), 64 (the 720p file), 80 (the 1080P DASH picture). The shared
    // DASH sound is never touched.
    enum class MediaFault {
        None,
        Stall,     // `bytes` of each answer, then nothing until the player gives up
        Throttled, // small pieces with pauses between them
        Cut,       // each answer closes after `bytes`, so the player has to ask again
        Missing,   // 404 from now on: a stream gone after its commit, or an old source gone too
    };
    // Answers of one asked quality ("qn") on every play route, for caching.
    enum class CacheAnswer {
        None,
        NoFiles,      // the progressive answer has no "durl"
        LowerQuality, // the progressive answer is at 480P (32), the 360p file's addresses
        H264At120,    // the DASH answer is at 4K: an H.264 picture with id 120 (the 720p halves) heads the list
        HEVCOnly,     // the DASH answer's pictures are the HEVC entry alone
    };
    static constexpr qint32 kDASHQuality = 80;
    static constexpr qint32 k4KQuality = 120;
    static constexpr int kHEVCCodecID = 12;

    explicit PlaybackFixtures(FakeService& service);
    ~PlaybackFixtures();

    void setFault(Fault fault, int delayMs = 0);
    // Answers as the demo: only the qualities whose media really are at that quality are offered
    // (1080P as DASH halves of a 1080p clip, 720P and 360P as their clips' files or DASH halves;
    // no 4K or 480P; a file asked for at 1080P answers 720P, the best file there is), and each
    // cid has demoDanmakuLines of danmaku, as the demo's lists count them.
    void setDemo(bool on);
    // The series' play routes answer as the archives' do, so the demo's episodes play too.
    void serveSeriesPlayInfo();
    void setQualityFault(qint32 quality, QualityFault fault);
    void setCacheAnswer(qint32 quality, CacheAnswer answer);
    // Every play route answers a service error (-404) for this cid, whatever the quality.
    void setUnresolvableCID(qint64 cid);
    // Lets every held reply go; they then answer as without the fault. Replies still held
    // when the fixtures go are closed without an answer.
    void releaseHeldReplies();
    // Replies waiting for the release now.
    int heldReplyCount() const;
    void setMediaFault(qint32 quality, MediaFault fault, qint64 bytes = 256 * 1024);
    // Every answer of one quality's media from now on goes no further than the gate lets it
    // (counted from the start of each answer), so a test decides when the player runs dry.
    std::shared_ptr<BodyGate> gateMedia(qint32 quality);
    // Media requests of one quality so far (both addresses, any answer).
    int mediaRequestCount(qint32 quality) const;
    // The video with this cid plays the 6 s portrait clip (360×640) at every quality, from
    // each route, as a progressive stream with a backup.
    void setPortraitCID(qint64 cid);
    QUrl portraitURL() const;
    // As the demo: the video with this cid also offers 4K (code 120), a DASH picture of the
    // generated 4K clip (3840×2160) with the shared sound; a file asked for at 4K answers 720P.
    void setFourKCID(qint64 cid);
    // Media leave at about this many bytes a second (0, the default: as fast as they can), so
    // a download's progress can be watched.
    void setMediaRate(qint64 bytesPerSecond);
    // The server's resume record ("last_play_cid", "last_play_time" in seconds); none by default.
    void setResumeRecord(qint64 cid, int seconds);
    // Every heartbeat as it arrived: its path and its form and query values ("play_type" …).
    QList<QVariantMap> heartbeats() const;
    // The play types of the heartbeats that carried one, in order.
    QList<int> heartbeatPlayTypes() const;
    // Play-information requests (any of the three routes) and danmaku document requests so far.
    int playRequestCount() const;
    int danmakuRequestCount() const;

    // The addresses the replies hand out.
    QUrl progressiveURL(qint32 quality) const;
    QUrl progressiveBackupURL(qint32 quality) const;
    QUrl dashVideoURL(qint32 quality) const;
    QUrl dashAudioURL() const;
    QUrl hevcVideoURL() const;

    // The replies themselves, for tests that serve a variant.
    QVariantMap progressiveInfo(qint32 requested) const;
    QVariantMap dashInfo(qint32 requested) const;
    static QVariantList acceptQualities();    // [120, 80, 64, 32, 16]
    static QVariantList acceptDescriptions(); // ["4K", "1080P", "720P", "480P", "360P"]
    static QVariantList servedQualities();    // [80, 64, 16]: what setDemo offers
    static QVariantList servedDescriptions(); // ["1080P", "720P", "360P"]
    static QVariantList fourKQualities();     // [120, 80, 64, 16]: what setFourKCID's video offers
    static QVariantList fourKDescriptions();  // ["4K", "1080P", "720P", "360P"]
    // The danmaku document of a cid: `lines` lines spread over the clip's 12 s.
    static constexpr int kDanmakuLines = 12;
    static QByteArray danmakuXML(qint64 cid, int lines = kDanmakuLines);
    static int demoDanmakuLines(qint64 cid); // 6 to 18, by the cid


private:
    struct State;
    void serveMedia();
    void routePlayInfo(const QStringList& paths);
    static FakeReply playReply(State& state, const FakeRequest& request, bool dashRoute);
    static void applyCacheAnswer(QVariantMap& info, CacheAnswer answer, int port, bool dashRoute);
    static QVariantMap progressiveInfoOn(int port, qint32 requested, const QString& portraitName = {}, bool servedOnly = false,
                                         bool fourK = false);
    static QVariantMap dashInfoOn(int port, qint32 requested, bool servedOnly = false, bool fourK = false);

    FakeService& m_service;
    std::shared_ptr<State> m_state;
};

} // namespace testsupport
