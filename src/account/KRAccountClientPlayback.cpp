// Play-information routes: the TV app route, the anonymous and session web routes, the
// web-signed DASH route and the series routes, each checked for what was asked and stamped
// with the route that answered.

#include "account/KRAccountClient.h"

#include "account/KRPlaybackInfo.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

namespace {

const QString kFamilyKey = QStringLiteral("_kr_auth_family");
const QString kRouteEvent = QStringLiteral("playback-auth-route");

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }
QString yesNo(bool value) { return KRConsole::boolean(value); }
qint64 codeOf(const KROptionalError& error) { return error ? error->code() : 0; }
qint64 actualOf(const std::optional<QVariantMap>& info) { return info ? KRLongLong(info->value(QStringLiteral("quality"))) : 0; }

std::optional<KRPlaybackInfo> stamped(std::optional<QVariantMap> info, const QString& family)
{
    if (info)
        info->insert(kFamilyKey, family);
    return info;
}

// The later route's error, or the earlier one's when the later had none.
KROptionalError laterOr(const KROptionalError& later, const KROptionalError& earlier) { return later ? later : earlier; }

void answer(const KRPlaybackInfoCompletion& completion, const std::optional<KRPlaybackInfo>& info, const KROptionalError& error)
{
    if (completion)
        completion(info, error);
}

QVariantMap seriesParameters(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid, qint32 quality, qint32 fnval,
                             bool alwaysCID)
{
    QVariantMap parameters{{QStringLiteral("ep_id"), episodeID},      {QStringLiteral("qn"), quality},
                           {QStringLiteral("fnver"), 0},              {QStringLiteral("fnval"), fnval},
                           {QStringLiteral("fourk"), quality >= 120 ? 1 : 0}, {QStringLiteral("high_quality"), 1},
                           {QStringLiteral("otype"), QStringLiteral("json")}};
    if (alwaysCID || cid >= 1)
        parameters.insert(QStringLiteral("cid"), cid);
    if (aid >= 1)
        parameters.insert(QStringLiteral("avid"), aid);
    if (!bvid.isEmpty())
        parameters.insert(QStringLiteral("bvid"), bvid);
    return parameters;
}

} // namespace

void KRAccountClient::loadTVUGCPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, qint32 fnval,
                                                  QObject* owner, KRPlaybackInfoCompletion completion)
{
    loadTVUGCPlaybackInfoForAID(aid, bvid, cid, quality, fnval, true, owner, std::move(completion));
}

void KRAccountClient::loadTVUGCPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, qint32 fnval,
                                                  bool retryAuthFailure, QObject* owner, KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (aid < 1 || cid < 1)
        return answer(completion, std::nullopt, KRAccountError(-3, QStringLiteral("TV 播放标识不完整")));
    ensureUsableAppAuthentication(owner, [=, this](bool usable, const KROptionalError&) {
        KRSessionStore& store = KRSessionStore::sharedStore();
        const bool token = usable && store.appAccessTokenUsable();
        const QString family = token ? QStringLiteral("app-tv") : QStringLiteral("tv-public");
        QVariantMap parameters{{QStringLiteral("avid"), aid},
                               {QStringLiteral("cid"), cid},
                               {QStringLiteral("qn"), quality},
                               {QStringLiteral("fnver"), 0},
                               {QStringLiteral("fnval"), fnval},
                               {QStringLiteral("fourk"), quality >= 120 ? 1 : 0},
                               {QStringLiteral("otype"), QStringLiteral("json")},
                               {QStringLiteral("build"), QStringLiteral("82200200")},
                               {QStringLiteral("device"), QStringLiteral("tv")},
                               {QStringLiteral("mobi_app"), QStringLiteral("android_tv_yst")},
                               {QStringLiteral("platform"), QStringLiteral("android")}};
        if (token)
            parameters.insert(QStringLiteral("access_key"), store.accessToken());
        parameters = KRAccountSignedAppParameters(parameters, false);
        KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=request authFamily=%1 path=/x/tv/ugc/playurl aid=%2 cid=%3 qn=%4 format=%5")
                                                    .arg(family)
                                                    .arg(aid)
                                                    .arg(cid)
                                                    .arg(quality)
                                                    .arg(fnval != 0 ? QStringLiteral("dash") : QStringLiteral("progressive")));
        performURLString(
            apiURL(QStringLiteral("/x/tv/ugc/playurl")), QStringLiteral("GET"), parameters, false, false, QString(), owner,
            [=, this](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error) {
                if (token && retryAuthFailure && KRAccountAppAuthenticationErrorCanRefresh(error)) {
                    ensureUsableAppAuthenticationForceRefresh(true, owner, [=, this](bool refreshed, const KROptionalError& refreshError) {
                        if (refreshed && !refreshError)
                            loadTVUGCPlaybackInfoForAID(aid, bvid, cid, quality, fnval, false, owner, completion);
                        else
                            answer(completion, std::nullopt, laterOr(refreshError, error));
                    });
                    return;
                }
                const std::optional<KRPlaybackInfo> info = stamped(KRAccountPlaybackData(json), family);
                const QVariant dash = info ? info->value(QStringLiteral("dash")) : QVariant();
                KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=response authFamily=%1 path=/x/tv/ugc/playurl status=%2 code=%3 "
                                                                       "cid=%4 requested=%5 actual=%6 durl=%7 dash=%8")
                                                            .arg(family)
                                                            .arg(response ? response->status : 0)
                                                            .arg(codeOf(error))
                                                            .arg(cid)
                                                            .arg(quality)
                                                            .arg(actualOf(info))
                                                            .arg(info ? info->value(QStringLiteral("durl")).toList().size() : 0)
                                                            .arg(yesNo(!KRIsMissing(dash))));
                answer(completion, info, error);
            });
    });
}

void KRAccountClient::loadWebProgressivePlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, bool anonymousFirst,
                                                            QObject* owner, KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QString url = apiURL(QStringLiteral("/x/player/playurl"));
    const QVariantMap parameters{{QStringLiteral("bvid"), bvid},      {QStringLiteral("cid"), cid},
                                 {QStringLiteral("qn"), quality},     {QStringLiteral("fnver"), 0},
                                 {QStringLiteral("fnval"), 0},        {QStringLiteral("fourk"), 1},
                                 {QStringLiteral("platform"), QStringLiteral("html5")}, {QStringLiteral("high_quality"), 1}};
    auto deliver = [completion, quality](const QString& family, const QVariant& json, const KROptionalError& error) {
        const std::optional<KRPlaybackInfo> info = stamped(KRAccountPlaybackData(json), family);
        KRConsole::log(QStringLiteral("[KorvaneQuality] response auth=%1 requested=%2 actual=%3 accept=%4 error=%5")
                           .arg(family)
                           .arg(quality)
                           .arg(actualOf(info))
                           .arg(KRConsole::object(info ? info->value(QStringLiteral("accept_quality")) : QVariant()),
                                error ? error->description() : QStringLiteral("(null)")));
        answer(completion, info, error);
    };
    if (!anonymousFirst) {
        performPlaybackURLString(url, parameters, QString(), cid, quality, owner,
                                 [deliver](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                                     deliver(QStringLiteral("web-compatible"), json, error);
                                 });
        return;
    }
    KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=request authFamily=anonymous path=/x/player/playurl cid=%1 qn=%2 format=progressive")
                                                .arg(cid)
                                                .arg(quality));
    performURLString(url, QStringLiteral("GET"), parameters, false, false, QString(), owner,
                     [=, this](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         const bool exact = KRAccountProgressiveDataHasExactQuality(KRAccountPlaybackData(json), quality);
                         if (!error && exact)
                             return deliver(QStringLiteral("anonymous"), json, error);
                         if (KRSessionStore::sharedStore().isLoggedIn()) {
                             KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=fallback from=anonymous to=web cid=%1 qn=%2 primaryCode=%3 exact=%4")
                                                                         .arg(cid)
                                                                         .arg(quality)
                                                                         .arg(codeOf(error))
                                                                         .arg(yesNo(exact)));
                             performPlaybackURLString(url, parameters, QString(), cid, quality, owner,
                                                      [deliver](const QVariant& webJSON, const platform::HTTPResponse*,
                                                                const KROptionalError& webError) {
                                                          deliver(QStringLiteral("web-fallback"), webJSON, webError);
                                                      });
                             return;
                         }
                         deliver(QStringLiteral("anonymous"), json,
                                 error ? error : KRAccountError(-460, QStringLiteral("服务器未返回所选清晰度")));
                     });
}

void KRAccountClient::loadPlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                              KRPlaybackInfoCompletion completion)
{
    loadPlaybackInfoForAID(0, bvid, cid, quality, owner, std::move(completion));
}

void KRAccountClient::loadPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                             KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (cid < 1 || bvid.isEmpty())
        return answer(completion, std::nullopt, KRAccountError(-3, QStringLiteral("视频播放标识不完整")));
    if (quality < 1)
        quality = 127;
    KRConsole::log(QStringLiteral("[KorvaneQuality] request qn=%1 cid=%2 bvid=%3 aid=%4").arg(quality).arg(cid).arg(bvid).arg(aid));
    if (aid >= 1 && quality == 64) {
        loadTVUGCPlaybackInfoForAID(aid, bvid, cid, quality, 0, owner,
                                    [=, this](const std::optional<KRPlaybackInfo>& tvInfo, const KROptionalError& tvError) {
                                        if (!tvError && KRAccountProgressiveDataHasExactQuality(tvInfo, quality))
                                            return answer(completion, tvInfo, tvError);
                                        KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=fallback from=app-tv to=anonymous cid=%1 qn=%2 code=%3 actual=%4")
                                                                                    .arg(cid)
                                                                                    .arg(quality)
                                                                                    .arg(codeOf(tvError))
                                                                                    .arg(actualOf(tvInfo)));
                                        loadWebProgressivePlaybackInfoForBVID(
                                            bvid, cid, quality, true, owner,
                                            [=](const std::optional<KRPlaybackInfo>& info, const KROptionalError& error) {
                                                answer(completion, info, laterOr(error, tvError));
                                            });
                                    });
        return;
    }
    loadWebProgressivePlaybackInfoForBVID(bvid, cid, quality, quality == 16, owner, completion);
}

void KRAccountClient::loadDASHPlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                                  KRPlaybackInfoCompletion completion)
{
    loadDASHPlaybackInfoForAID(0, bvid, cid, quality, owner, std::move(completion));
}

void KRAccountClient::loadDASHPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                                 KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (cid < 1 || bvid.isEmpty())
        return answer(completion, std::nullopt, KRAccountError(-3, QStringLiteral("视频播放标识不完整")));
    if (quality < 1)
        quality = 80;
    if (aid < 1 || quality < 32)
        return loadWebDASHPlaybackInfoForBVID(bvid, cid, quality, owner, completion);
    loadTVUGCPlaybackInfoForAID(aid, bvid, cid, quality, 16, owner,
                                [=, this](const std::optional<KRPlaybackInfo>& tvInfo, const KROptionalError& tvError) {
                                    const bool exact = KRAccountDASHDataHasExactH264AAC(tvInfo, quality);
                                    if (!tvError && exact)
                                        return answer(completion, tvInfo, tvError);
                                    KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=fallback from=app-tv to=web-wbi cid=%1 qn=%2 code=%3 exact=%4")
                                                                                .arg(cid)
                                                                                .arg(quality)
                                                                                .arg(codeOf(tvError))
                                                                                .arg(yesNo(exact)));
                                    loadWebDASHPlaybackInfoForBVID(bvid, cid, quality, owner,
                                                                   [=](const std::optional<KRPlaybackInfo>& info, const KROptionalError& error) {
                                                                       answer(completion, info, laterOr(error, tvError));
                                                                   });
                                });
}

void KRAccountClient::loadWebDASHPlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                                     KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QVariantMap parameters{{QStringLiteral("bvid"), bvid},      {QStringLiteral("cid"), cid},
                                 {QStringLiteral("qn"), quality},     {QStringLiteral("fnver"), 0},
                                 {QStringLiteral("fnval"), 16},       {QStringLiteral("fourk"), quality > 119 ? 1 : 0},
                                 {QStringLiteral("platform"), QStringLiteral("html5")}, {QStringLiteral("high_quality"), 1}};
    KRAPIClient::sharedClient()->signWBIParameters(parameters, owner, [=, this](const QVariantMap& signedParameters, const KROptionalError& signError) {
        if (signedParameters.isEmpty())
            return answer(completion, std::nullopt, signError ? signError : KRAccountError(-4, QStringLiteral("WBI 签名失败")));
        performPlaybackURLString(apiURL(QStringLiteral("/x/player/wbi/playurl")), signedParameters, QString(), cid, quality, owner,
                                 [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                                     answer(completion, stamped(KRAccountPlaybackData(json), QStringLiteral("web-compatible")), error);
                                 });
    });
}

void KRAccountClient::loadPGCDASHPlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid,
                                                          qint32 quality, QObject* owner, KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (episodeID < 1)
        return answer(completion, std::nullopt, KRAccountError(-3, QStringLiteral("番剧播放标识不完整")));
    if (quality < 1)
        quality = 80;
    KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=request authFamily=app-pgc path=/pgc/player/api/playurl ep=%1 cid=%2 qn=%3 format=dash")
                                                .arg(episodeID)
                                                .arg(cid)
                                                .arg(quality));
    performAuthenticatedAppURLString(
        apiURL(QStringLiteral("/pgc/player/api/playurl")), QStringLiteral("GET"),
        seriesParameters(episodeID, aid, bvid, cid, quality, 4048, false), true, true, owner,
        [=, this](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& appError) {
            const std::optional<KRPlaybackInfo> info = stamped(KRAccountNormalizedPGCPlayURL(json), QStringLiteral("app-pgc"));
            const bool exact = KRAccountDASHDataHasExactH264AAC(info, quality);
            KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=response authFamily=app-pgc path=/pgc/player/api/playurl status=%1 code=%2 "
                                                                   "ep=%3 cid=%4 requested=%5 actual=%6 exact=%7")
                                                        .arg(response ? response->status : 0)
                                                        .arg(codeOf(appError))
                                                        .arg(episodeID)
                                                        .arg(cid)
                                                        .arg(quality)
                                                        .arg(actualOf(info))
                                                        .arg(yesNo(exact)));
            if (!appError && exact)
                return answer(completion, info, appError);
            loadWebPGCDASHPlaybackInfoForEpisodeID(episodeID, aid, bvid, cid, quality, owner,
                                                   [=](const std::optional<KRPlaybackInfo>& webInfo, const KROptionalError& error) {
                                                       answer(completion, webInfo, laterOr(error, appError));
                                                   });
        });
}

void KRAccountClient::loadWebPGCDASHPlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid,
                                                             qint32 quality, QObject* owner, KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (episodeID < 1)
        return answer(completion, std::nullopt, KRAccountError(-3, QStringLiteral("番剧播放标识不完整")));
    if (quality < 1)
        quality = 80;
    const QString referer = QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/bangumi/play/ep") + QString::number(episodeID);
    const QVariantMap v2 = seriesParameters(episodeID, aid, bvid, cid, quality, 4048, false);
    performPlaybackURLString(
        apiURL(QStringLiteral("/pgc/player/web/v2/playurl")), v2, referer, cid, quality, owner,
        [=, this](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& v2Error) {
            const std::optional<KRPlaybackInfo> v2Info = stamped(KRAccountNormalizedPGCPlayURL(json), QStringLiteral("web-pgc"));
            if (!v2Error && KRAccountPGCPlayURLHasStreams(v2Info)) {
                KRConsole::log(QStringLiteral("[KorvanePGC] endpoint=v2 ep=%1 cid=%2 requested=%3 qualityList=%4")
                                   .arg(episodeID)
                                   .arg(cid)
                                   .arg(quality)
                                   .arg(KRConsole::object(v2Info->value(QStringLiteral("accept_quality")))));
                return answer(completion, v2Info, std::nullopt);
            }
            QVariantMap legacy = v2;
            legacy.insert(QStringLiteral("fnval"), 16);
            legacy.insert(QStringLiteral("platform"), QStringLiteral("html5"));
            performPlaybackURLString(
                apiURL(QStringLiteral("/pgc/player/web/playurl")), legacy, referer, cid, quality, owner,
                [=](const QVariant& legacyJSON, const platform::HTTPResponse*, const KROptionalError& legacyError) {
                    const std::optional<KRPlaybackInfo> legacyInfo =
                        stamped(KRAccountNormalizedPGCPlayURL(legacyJSON), QStringLiteral("web-pgc-legacy"));
                    const bool streams = KRAccountPGCPlayURLHasStreams(legacyInfo);
                    KROptionalError error;
                    if (!streams)
                        error = legacyError ? legacyError
                                            : (v2Error ? v2Error : KRAccountError(-404, QStringLiteral("番剧播放地址不可用")));
                    KRConsole::log(QStringLiteral("[KorvanePGC] endpoint=legacy ep=%1 cid=%2 requested=%3 streams=%4 error=%5")
                                       .arg(episodeID)
                                       .arg(cid)
                                       .arg(quality)
                                       .arg(yesNo(streams), error ? error->description() : QStringLiteral("(null)")));
                    answer(completion, legacyInfo ? legacyInfo : v2Info, error);
                });
        });
}

void KRAccountClient::loadPGCProgressivePlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid,
                                                                 qint32 quality, QObject* owner, KRPlaybackInfoCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (episodeID < 1 || cid < 1)
        return answer(completion, std::nullopt, KRAccountError(-3, QStringLiteral("番剧播放标识不完整")));
    if (quality < 1)
        quality = 16;
    performAuthenticatedAppURLString(
        apiURL(QStringLiteral("/pgc/player/api/playurl")), QStringLiteral("GET"),
        seriesParameters(episodeID, aid, bvid, cid, quality, 0, true), true, true, owner,
        [=](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& appError) {
            const std::optional<KRPlaybackInfo> info = stamped(KRAccountNormalizedPGCPlayURL(json), QStringLiteral("app-pgc"));
            const bool exact = KRAccountProgressiveDataHasExactQuality(info, quality);
            KROptionalError error = appError;
            if (!error && !exact)
                error = KRAccountError(-460, QStringLiteral("App 番剧链路未返回所选清晰度"));
            KRDiagnostics::recordEvent(kRouteEvent, QStringLiteral("phase=response authFamily=app-pgc path=/pgc/player/api/playurl status=%1 code=%2 "
                                                                   "ep=%3 cid=%4 requested=%5 actual=%6 exact=%7 format=progressive")
                                                        .arg(response ? response->status : 0)
                                                        .arg(codeOf(error))
                                                        .arg(episodeID)
                                                        .arg(cid)
                                                        .arg(quality)
                                                        .arg(actualOf(info))
                                                        .arg(yesNo(exact)));
            answer(completion, info, error);
        });
}
