// The play-address chain: from a video to a single-file address, through the account route,
// the app series route, the web play-address endpoints with their retries and the old play
// host, quality tier by quality tier.

#include "service/KRAPIClient.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/ReplyOwner.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "service/KRAPIErrors.h"
#include "service/KRCompatibilityAIDMap.h"
#include "service/KRPlaybackInfoProvider.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"

#include <QUrl>

namespace {

using VideoRef = std::shared_ptr<KRVideo>;

KRPlaybackInfoProvider*& installedProvider()
{
    static KRPlaybackInfoProvider* provider = nullptr;
    return provider;
}

QString yesNo(bool value) { return KRConsole::boolean(value); }
QString described(const KROptionalError& error) { return error ? error->description() : QStringLiteral("(null)"); }
QString domainOf(const KROptionalError& error) { return error ? error->domain() : QStringLiteral("(null)"); }
qint64 codeOf(const KROptionalError& error) { return error ? error->code() : 0; }
qint64 referenceAid(const KRVideo& video) { return video.resolvedAid() > 0 ? video.resolvedAid() : video.aid(); }
bool usable(const VideoRef& video) { return video && !video->playURL().isEmpty(); }
qint32 qualityOrDefault(qint32 quality) { return quality < 1 ? 16 : quality; }
qint32 fourk(qint32 quality) { return quality > 119 ? 1 : 0; }
QString hostOf(const VideoRef& video) { return video ? QUrl(video->playURL()).host() : QString(); }
void event(const QString& name, const QString& detail) { KRDiagnostics::recordEvent(name, detail); }

bool KRLegacyPlaybackBridgeAvailable() { return KRCompatibilityAIDMap::installed() != nullptr; }

// 5.0 and 5.0.x: the old system whose player wants the old play host's files first.
bool KRNeedsIOS50CompatibleVideoTrack()
{
    const QStringList parts = platform::DeviceProfile::systemVersion().split(QLatin1Char('.'));
    return parts.value(0) == QLatin1String("5") && (parts.size() < 2 || KRLongLongFromText(parts.at(1)) == 0);
}

void complete(const KRVideoCompletion& completion, const VideoRef& video, const KROptionalError& error)
{
    if (completion)
        completion(video, error);
}

// Every route's result keeps the identity of the video it was asked for.
VideoRef identityCopy(VideoRef result, const KRVideo& given, bool pgc, bool withSeries)
{
    if (!result)
        return result;
    result->setAid(given.aid());
    result->setResolvedAid(referenceAid(given));
    result->setBvid(given.canonicalBVID());
    result->setCid(given.cid());
    if (withSeries) {
        result->setSeasonID(given.seasonID());
        result->setEpisodeID(given.episodeID());
    }
    result->setPgc(pgc);
    return result;
}

VideoRef videoFromPayload(const QVariant& payload)
{
    const std::optional<QVariantMap> dictionary = KRVideoNormalizer::dictionaryFromPayload(payload);
    return dictionary ? KRVideoNormalizer::videoFromDictionary(*dictionary) : nullptr;
}

QString apiURL(const QString& pathAndQuery) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + pathAndQuery; }

} // namespace

KRPlaybackInfoProvider* KRPlaybackInfoProvider::installed() { return installedProvider(); }
void KRPlaybackInfoProvider::install(KRPlaybackInfoProvider* provider) { installedProvider() = provider; }

void KRAPIClient::loadLegacyPlayURLForVideo(const VideoRef& video, QObject* owner, KRVideoCompletion completion)
{
    qint64 page = 1;
    for (const KRVideoPartInfo& part : video->pages()) {
        if (KRLongLong(part.value(QStringLiteral("cid"))) == video->cid()) {
            page = std::max<qint64>(1, KRLongLong(part.value(QStringLiteral("page"))));
            break;
        }
    }
    QString url = QStringLiteral("http://%1/playurl?aid=%2&page=%3&type=json").arg(KRServiceHosts::oldPlayHost()).arg(video->aid()).arg(page);
    if (video->cid() > 0)
        url += QStringLiteral("&cid=%1").arg(video->cid());
    performURL(url, owner, {}, std::move(completion));
}

void KRAPIClient::loadCurrentWebPlayURLForVideo(const VideoRef& video, qint32 requested, bool includeSession, QObject* owner,
                                                KRVideoCompletion completion)
{
    const qint32 quality = qualityOrDefault(requested);
    const bool pgcRoad = KRVideoShouldUsePGC(video) && video->episodeID() > 0;
    const qint64 aid = referenceAid(*video);
    const QString bvid = video->canonicalBVID();
    QString url;
    if (pgcRoad) {
        url = apiURL(QStringLiteral("/pgc/player/web/playurl?ep_id=%1&cid=%2&qn=%3&fnver=0&fnval=0&fourk=%4&platform=html5&high_quality=1")
                         .arg(video->episodeID())
                         .arg(video->cid())
                         .arg(quality)
                         .arg(fourk(quality)));
        if (aid > 0)
            url += QStringLiteral("&avid=%1").arg(aid);
        if (!bvid.isEmpty())
            url += QStringLiteral("&bvid=") + bvid;
    } else {
        url = apiURL(QStringLiteral("/x/player/playurl?bvid=%1&cid=%2&qn=%3&fnver=0&fnval=0&fourk=%4&platform=html5&high_quality=1")
                         .arg(bvid)
                         .arg(video->cid())
                         .arg(quality)
                         .arg(fourk(quality)));
    }
    performJSONURL(url, includeSession, owner, [=, this](const QVariant& payload, const KROptionalError& error) {
        const VideoRef first = error ? nullptr : identityCopy(videoFromPayload(payload), *video, pgcRoad, true);
        if (usable(first)) {
            KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] current playurl bvid=%1 cid=%2 qn=%3 urlHost=%4")
                               .arg(bvid)
                               .arg(video->cid())
                               .arg(quality)
                               .arg(hostOf(first)));
            return complete(completion, first, std::nullopt);
        }
        if (pgcRoad) {
            KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] pgc retry=minimal ep=%1 cid=%2 qn=%3 primaryError=%4")
                               .arg(video->episodeID())
                               .arg(video->cid())
                               .arg(quality)
                               .arg(described(error)));
            const QString minimal = apiURL(QStringLiteral("/pgc/player/web/playurl?ep_id=%1&cid=%2&qn=%3&fnver=0&fnval=0&fourk=%4&platform=html5")
                                               .arg(video->episodeID())
                                               .arg(video->cid())
                                               .arg(quality)
                                               .arg(fourk(quality)));
            performJSONURL(minimal, includeSession, owner, [=](const QVariant& retryPayload, const KROptionalError& retryError) {
                const VideoRef retried = retryError ? nullptr : identityCopy(videoFromPayload(retryPayload), *video, true, true);
                KROptionalError outcome = retryError;
                if (!outcome && !usable(retried))
                    outcome = KRAPIError(-34, QStringLiteral("该剧集暂未返回兼容播放地址"));
                KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] pgc minimal ep=%1 cid=%2 success=%3 error=%4")
                                   .arg(video->episodeID())
                                   .arg(video->cid())
                                   .arg(yesNo(usable(retried)), described(outcome)));
                complete(completion, retried, usable(retried) ? std::nullopt : outcome);
            });
            return;
        }
        if (aid > 0 && video->cid() > 0) {
            event(QStringLiteral("archive-pgc-playurl-fallback"),
                  QStringLiteral("phase=start aid=%1 cid=%2 qn=%3 primaryCode=%4").arg(aid).arg(video->cid()).arg(quality).arg(codeOf(error)));
            const QString fallback = apiURL(QStringLiteral("/pgc/player/web/playurl?avid=%1&cid=%2&qn=%3&fnver=0&fnval=0&fourk=%4&platform=html5&high_quality=1")
                                                .arg(aid)
                                                .arg(video->cid())
                                                .arg(quality)
                                                .arg(fourk(quality)));
            performJSONURL(fallback, includeSession, owner, [=](const QVariant& fallbackPayload, const KROptionalError& fallbackError) {
                const VideoRef found = fallbackError ? nullptr : identityCopy(videoFromPayload(fallbackPayload), *video, true, false);
                event(QStringLiteral("archive-pgc-playurl-fallback"),
                      QStringLiteral("phase=result success=%1 aid=%2 cid=%3 qn=%4 fallbackCode=%5 host=%6")
                          .arg(yesNo(usable(found)))
                          .arg(aid)
                          .arg(video->cid())
                          .arg(quality)
                          .arg(codeOf(fallbackError))
                          .arg(hostOf(found)));
                if (usable(found))
                    return complete(completion, found, std::nullopt);
                // Neither answer named an error: the chain's own, so no caller takes an
                // address-less video for a success.
                const KROptionalError outcome = fallbackError ? fallbackError
                    : error ? error
                            : KROptionalError(KRAPIError(-34, QStringLiteral("视频暂未返回兼容播放地址")));
                complete(completion, found, outcome);
            });
            return;
        }
        complete(completion, first, error ? error : KRAPIError(-34, QStringLiteral("视频暂未返回兼容播放地址")));
    });
}

void KRAPIClient::loadAppPGCPlayURLForVideo(const VideoRef& video, qint32 quality, QObject* owner, KRVideoCompletion completion)
{
    KRPlaybackInfoProvider* provider = installedProvider();
    if (video->episodeID() < 1 || video->cid() < 1 || !provider)
        return complete(completion, nullptr, KRAPIError(-101, QStringLiteral("番剧 App 授权或播放标识不完整")));
    event(QStringLiteral("pgc-playurl-app-attempt"), QStringLiteral("ep=%1 cid=%2 qn=%3").arg(video->episodeID()).arg(video->cid()).arg(quality));
    provider->loadPGCProgressivePlaybackInfoForEpisodeID(
        video->episodeID(), referenceAid(*video), video->canonicalBVID(), video->cid(), qualityOrDefault(quality), owner,
        [=, this](const std::optional<KRPlaybackInfo>& info, const KROptionalError& error) {
            const VideoRef found = info ? identityCopy(KRVideoNormalizer::videoFromDictionary(*info), *video, true, true) : nullptr;
            KROptionalError appError = error;
            if (!appError && !usable(found))
                appError = KRAPIError(-34, QStringLiteral("App 番剧链路未返回兼容播放地址"));
            if (usable(found)) {
                event(QStringLiteral("pgc-playurl-app-result"), QStringLiteral("success=YES ep=%1 cid=%2 qn=%3 host=%4")
                                                                    .arg(video->episodeID())
                                                                    .arg(video->cid())
                                                                    .arg(found->playbackQuality())
                                                                    .arg(hostOf(found)));
                return complete(completion, found, std::nullopt);
            }
            event(QStringLiteral("pgc-playurl-app-result"), QStringLiteral("success=NO ep=%1 cid=%2 qn=%3 domain=%4 code=%5 fallback=web")
                                                                .arg(video->episodeID())
                                                                .arg(video->cid())
                                                                .arg(quality)
                                                                .arg(domainOf(appError))
                                                                .arg(codeOf(appError)));
            loadCurrentWebPlayURLForVideo(video, quality, true, owner, [=](const VideoRef& webVideo, const KROptionalError& webError) {
                complete(completion, webVideo, usable(webVideo) ? std::nullopt : (webError ? webError : appError));
            });
        });
}

void KRAPIClient::loadCurrentPlayURLForVideo(const VideoRef& video, qint32 quality, bool includeSession, QObject* owner,
                                             KRVideoCompletion completion)
{
    KRSessionStore& store = KRSessionStore::sharedStore();
    KRPlaybackInfoProvider* provider = installedProvider();
    if (video->isPGC() || video->episodeID() > 0) {
        const bool appToken = store.appAccessTokenUsable() || (store.hasAppAccessToken() && store.hasAppRefreshToken());
        if (includeSession && video->episodeID() > 0 && video->cid() > 0 && appToken && provider)
            return loadAppPGCPlayURLForVideo(video, quality, owner, std::move(completion));
        return loadCurrentWebPlayURLForVideo(video, quality, includeSession, owner, std::move(completion));
    }
    const qint64 aid = referenceAid(*video);
    if (includeSession && video->seasonID() < 1 && aid > 0 && video->cid() > 0 && !video->canonicalBVID().isEmpty() && provider) {
        provider->loadPlaybackInfoForAID(aid, video->canonicalBVID(), video->cid(), quality, owner,
                                         [=](const std::optional<KRPlaybackInfo>& info, const KROptionalError& error) {
                                             const VideoRef found = info
                                                 ? identityCopy(KRVideoNormalizer::videoFromDictionary(*info), *video, false, true)
                                                 : nullptr;
                                             KROptionalError outcome = error;
                                             if (!outcome && !usable(found))
                                                 outcome = KRAPIError(-34, QStringLiteral("播放身份路由未返回兼容单文件地址"));
                                             const QString family = info ? KRString(info->value(QStringLiteral("_kr_auth_family"))) : QString();
                                             event(QStringLiteral("play-url-auth-router-result"),
                                                   QStringLiteral("success=%1 authFamily=%2 aid=%3 cid=%4 requested=%5 actual=%6")
                                                       .arg(yesNo(usable(found)), family.isEmpty() ? QStringLiteral("unknown") : family)
                                                       .arg(aid)
                                                       .arg(video->cid())
                                                       .arg(quality)
                                                       .arg(info ? KRLongLong(info->value(QStringLiteral("quality"))) : 0));
                                             complete(completion, found, usable(found) ? std::nullopt : outcome);
                                         });
        return;
    }
    loadCurrentWebPlayURLForVideo(video, quality, includeSession, owner, std::move(completion));
}

void KRAPIClient::loadCurrentPlayURLForVideo(const VideoRef& video, qint32 quality, QObject* owner, KRVideoCompletion completion)
{
    const bool loggedIn = KRSessionStore::sharedStore().isLoggedIn();
    loadCurrentPlayURLForVideo(video, quality, true, owner, [=, this](const VideoRef& first, const KROptionalError& error) {
        const bool retry = !usable(first) && error && error->domain() == KRAPIErrorDomain
            && !KRAPIClient::errorRepresentsUnavailableArchive(error) && loggedIn;
        if (!retry)
            return complete(completion, first, error);
        const QString bvid = video->canonicalBVID();
        event(QStringLiteral("play-url-anonymous-retry"), QStringLiteral("phase=start bvid=%1 cid=%2 qn=%3 primaryDomain=%4 primaryCode=%5")
                                                              .arg(bvid)
                                                              .arg(video->cid())
                                                              .arg(quality)
                                                              .arg(domainOf(error))
                                                              .arg(codeOf(error)));
        loadCurrentPlayURLForVideo(video, quality, false, owner, [=](const VideoRef& second, const KROptionalError& secondError) {
            event(QStringLiteral("play-url-anonymous-retry"), QStringLiteral("phase=result success=%1 bvid=%2 cid=%3 qn=%4 domain=%5 code=%6")
                                                                  .arg(yesNo(usable(second)), bvid)
                                                                  .arg(video->cid())
                                                                  .arg(quality)
                                                                  .arg(domainOf(secondError))
                                                                  .arg(codeOf(secondError)));
            complete(completion, second, usable(second) ? std::nullopt : (secondError ? secondError : error));
        });
    });
}

void KRAPIClient::finishProgressivePlayURLForVideo(const VideoRef& video, const KROptionalError& currentError, QObject* owner,
                                                   KRVideoCompletion completion)
{
    auto skip = [&](const QString& reason) {
        event(QStringLiteral("play-url-legacy-skip"), QStringLiteral("reason=%1 currentDomain=%2 currentCode=%3")
                                                          .arg(reason, domainOf(currentError))
                                                          .arg(codeOf(currentError)));
        complete(completion, nullptr, currentError);
    };
    if (KRVideoShouldUsePGC(video))
        return skip(QStringLiteral("pgc"));
    if (!KRLegacyPlaybackBridgeAvailable())
        return skip(QStringLiteral("bridge-unavailable"));
    KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] official tiers failed bvid=%1 cid=%2 error=%3; fallback=legacy-bridge")
                       .arg(video->canonicalBVID())
                       .arg(video->cid())
                       .arg(described(currentError)));
    loadLegacyPlayURLForVideo(video, owner, [=](const VideoRef& legacy, const KROptionalError& legacyError) {
        event(QStringLiteral("play-url-legacy-result"), QStringLiteral("success=%1 currentDomain=%2 currentCode=%3 legacyDomain=%4 legacyCode=%5")
                                                            .arg(yesNo(usable(legacy)), domainOf(currentError))
                                                            .arg(codeOf(currentError))
                                                            .arg(domainOf(legacyError))
                                                            .arg(codeOf(legacyError)));
        complete(completion, legacy, usable(legacy) ? std::nullopt : (currentError ? currentError : legacyError));
    });
}

void KRAPIClient::loadProgressivePlayURLForVideo(const VideoRef& video, const QList<int>& qualities, int index,
                                                 const KROptionalError& lastError, QObject* owner, KRVideoCompletion completion)
{
    if (index >= qualities.size())
        return finishProgressivePlayURLForVideo(video, lastError, owner, std::move(completion));
    const qint32 quality = qualities.at(index);
    event(QStringLiteral("play-url-official-attempt"), QStringLiteral("bvid=%1 cid=%2 qn=%3 tier=%4/%5")
                                                           .arg(video->canonicalBVID())
                                                           .arg(video->cid())
                                                           .arg(quality)
                                                           .arg(index + 1)
                                                           .arg(qualities.size()));
    loadCurrentPlayURLForVideo(video, quality, owner, [=, this](const VideoRef& found, const KROptionalError& error) {
        if (usable(found))
            return complete(completion, found, std::nullopt);
        const KROptionalError tierError = error ? error : lastError;
        event(QStringLiteral("play-url-official-result"), QStringLiteral("success=NO bvid=%1 cid=%2 qn=%3 domain=%4 code=%5")
                                                              .arg(video->canonicalBVID())
                                                              .arg(video->cid())
                                                              .arg(quality)
                                                              .arg(domainOf(tierError))
                                                              .arg(codeOf(tierError)));
        if (KRAPIClient::errorRepresentsUnavailableArchive(tierError))
            return complete(completion, nullptr, tierError);
        loadProgressivePlayURLForVideo(video, qualities, index + 1, tierError, owner, completion);
    });
}

void KRAPIClient::loadPlayURLForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QList<int> preferred = KRPreferences::sharedPreferences().playbackQualityFallbackValuesForCurrentDevice();
    if (video && KRVideoShouldUsePGC(video)) {
        if (video->cid() > 0 && video->episodeID() > 0)
            return loadProgressivePlayURLForVideo(video, preferred, 0, std::nullopt, owner, std::move(completion));
        event(QStringLiteral("pgc-playurl-hydrate"), QStringLiteral("phase=start season=%1 episode=%2 bvid=%3 cid=%4")
                                                         .arg(video->seasonID())
                                                         .arg(video->episodeID())
                                                         .arg(video->canonicalBVID())
                                                         .arg(video->cid()));
        loadPGCDetailForVideo(video, owner, [this, owner, video, completion](const VideoRef& hydrated, const KROptionalError& error) {
            if (hydrated && hydrated->episodeID() > 0 && hydrated->cid() > 0) {
                event(QStringLiteral("pgc-playurl-hydrate"), QStringLiteral("phase=success season=%1 episode=%2 bvid=%3 cid=%4")
                                                                 .arg(hydrated->seasonID())
                                                                 .arg(hydrated->episodeID())
                                                                 .arg(hydrated->canonicalBVID())
                                                                 .arg(hydrated->cid()));
                return loadPlayURLForVideo(hydrated, owner, completion);
            }
            event(QStringLiteral("pgc-playurl-hydrate"), QStringLiteral("phase=failed season=%1 episode=%2 error=%3")
                                                             .arg(video->seasonID())
                                                             .arg(video->episodeID())
                                                             .arg(described(error)));
            complete(completion, nullptr, error ? error : KRAPIError(-33, QStringLiteral("番剧剧集信息不完整，请刷新后重试")));
        });
        return;
    }
    if (video && video->cid() > 0 && !video->canonicalBVID().isEmpty()) {
        if (!KRNeedsIOS50CompatibleVideoTrack())
            return loadProgressivePlayURLForVideo(video, preferred, 0, std::nullopt, owner, std::move(completion));
        if (!KRLegacyPlaybackBridgeAvailable())
            return loadProgressivePlayURLForVideo(video, {16}, 0, std::nullopt, owner, std::move(completion));
        const QString bvid = video->canonicalBVID();
        KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] route=legacy-first system=%1 bvid=%2 cid=%3")
                           .arg(platform::DeviceProfile::systemVersion(), bvid)
                           .arg(video->cid()));
        loadLegacyPlayURLForVideo(video, owner, [this, video, bvid, owner, completion](const VideoRef& legacy, const KROptionalError& legacyError) {
            if (usable(legacy)) {
                KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] legacy-first success bvid=%1 cid=%2 urlHost=%3")
                                   .arg(bvid)
                                   .arg(video->cid())
                                   .arg(hostOf(legacy)));
                return complete(completion, legacy, std::nullopt);
            }
            KRConsole::log(QStringLiteral("[KorvanePlaybackResolve] legacy-first failed bvid=%1 cid=%2 error=%3; fallback=current-qn16")
                               .arg(bvid)
                               .arg(video->cid())
                               .arg(described(legacyError)));
            event(QStringLiteral("play-url-legacy-result"), QStringLiteral("phase=legacy-first success=NO domain=%1 code=%2")
                                                                .arg(domainOf(legacyError))
                                                                .arg(codeOf(legacyError)));
            loadCurrentPlayURLForVideo(video, 16, owner, [completion, legacyError](const VideoRef& current, const KROptionalError& error) {
                complete(completion, current, usable(current) ? std::nullopt : (error ? error : legacyError));
            });
        });
        return;
    }
    if (video && KRLegacyPlaybackBridgeAvailable())
        return loadLegacyPlayURLForVideo(video, owner, std::move(completion));
    event(QStringLiteral("play-url-legacy-skip"), QStringLiteral("reason=bridge-unavailable phase=missing-identity"));
    complete(completion, nullptr, KRAPIError(-35, QStringLiteral("视频信息不完整，请刷新后重试")));
}

void KRAPIClient::loadPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 quality, QObject* owner,
                                      KRVideoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const bool complete_ = video && video->cid() > 0
        && (KRVideoShouldUsePGC(video) ? video->episodeID() > 0 : !video->canonicalBVID().isEmpty());
    if (!complete_)
        return complete(completion, nullptr, KRAPIError(-35, QStringLiteral("视频清晰度标识不完整，请返回重新打开")));
    loadCurrentPlayURLForVideo(video, qualityOrDefault(quality), owner, std::move(completion));
}
