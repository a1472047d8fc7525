#include "playback/KROfflineResolution.h"

#include "account/KRAccountClient.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "playback/KRDASHStreams.h"

bool KROfflineResolution::usable(int quality) const
{
    if (quality < kDASHQuality)
        return !candidates.isEmpty() && actualQuality == quality;
    return !pictureURL.isEmpty() && !soundURL.isEmpty();
}

QString KROfflineResolution::failureText(const QString& unusable) const
{
    return !answered && error ? error->localizedDescription() : unusable;
}

QString KROfflineResolution::errorDescription() const { return error ? error->description() : QStringLiteral("(null)"); }

void KROfflineResolution::resolve(const KRVideo& video, int quality, QObject* owner, std::function<void(const KROfflineResolution&)> done)
{
    auto read = [quality, done = std::move(done)](const std::optional<KRPlaybackInfo>& info, const KROptionalError& error) {
        KROfflineResolution resolution;
        resolution.answered = info.has_value();
        resolution.error = error;
        if (info && quality < kDASHQuality) {
            const QVariantList files = info->value(QStringLiteral("durl")).toList();
            if (!files.isEmpty())
                resolution.candidates = KROfflineProgressiveCandidateURLStrings(files.first());
            resolution.actualQuality = int(KRLongLong(info->value(QStringLiteral("quality"))));
        } else if (info) {
            if (const std::optional<QVariantMap> picture = KRDASHH264VideoStream(*info, quality))
                resolution.pictureURL = KRDASHStreamURLString(*picture);
            if (const std::optional<QVariantMap> sound = KRDASHBestAACStream(*info))
                resolution.soundURL = KRDASHStreamURLString(*sound);
        }
        done(resolution);
    };
    const qint64 aid = video.resolvedAid() > 0 ? video.resolvedAid() : video.aid();
    KRAccountClient* client = KRAccountClient::sharedClient();
    if (quality < kDASHQuality)
        client->loadPlaybackInfoForAID(aid, video.canonicalBVID(), video.cid(), quality, owner, std::move(read));
    else if (video.episodeID() < 1)
        client->loadDASHPlaybackInfoForAID(aid, video.canonicalBVID(), video.cid(), quality, owner, std::move(read));
    else
        client->loadPGCDASHPlaybackInfoForEpisodeID(video.episodeID(), aid, video.canonicalBVID(), video.cid(), quality, owner,
                                                    std::move(read));
}
