// Where the user stopped a video, and the watch-progress reports to the service's history.

#include "account/KRAccountClient.h"

#include "platform/foundation/ReplyOwner.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QUrl>

#include <algorithm>

namespace {

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

const QString kNotLoggedIn = QStringLiteral("账号未登录");
const QString kIncompleteIDs = QStringLiteral("视频历史标识不完整");

// A played time below -1 is noise; -1 says "finished".
qint32 playedValue(qint32 playedTime) { return playedTime < -1 ? 0 : playedTime; }

} // namespace

void KRAccountClient::loadPlaybackResumeForAID(qint64 aid, qint64 cid, QObject* owner, KRAccountReadCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (aid < 1 || cid < 1)
        return completion(QVariant(), KRAccountError(-3, kIncompleteIDs));
    const QVariantMap parameters{{QStringLiteral("aid"), aid}, {QStringLiteral("cid"), cid}};
    KRAPIClient::sharedClient()->signWBIParameters(
        parameters, owner, [this, owner, parameters, completion](const QVariantMap& signedParameters, const KROptionalError& signError) {
            QString path = QStringLiteral("/x/player/wbi/v2");
            QVariantMap sent = signedParameters;
            if (signError) {
                KRConsole::log(QStringLiteral("[KorvaneResume] WBI signing unavailable; using compatible read-only endpoint error=%1")
                                   .arg(signError->message()));
                path = QStringLiteral("/x/player/v2");
                sent = parameters;
            }
            performURLString(apiURL(path), QStringLiteral("GET"), sent, true, owner,
                             [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                                 const QVariant data = json.toMap().value(QStringLiteral("data"));
                                 completion(KRIsDictionary(data) ? data : QVariant(), error);
                             });
        });
}

void KRAccountClient::reportPlaybackHeartbeatForAID(qint64 aid, qint64 cid, qint64 startTS, qint32 playType, qint32 playedTime,
                                                    qint32 realTime, qint32 videoDuration, qint32 maxProgressTime,
                                                    qint32 quality, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    KRSessionStore& store = KRSessionStore::sharedStore();
    const bool canApp = store.appAccessTokenUsable() || (store.hasAppAccessToken() && store.hasAppRefreshToken());
    if (startTS < 1 || cid < 1 || aid < 1 || (!canApp && !store.isLoggedIn()))
        return completion(false, !canApp && !store.isLoggedIn() ? kNotLoggedIn : kIncompleteIDs, QVariant());
    if (!canApp)
        return reportWebPlaybackHeartbeatForAID(aid, cid, startTS, playType, playedTime, realTime, videoDuration, maxProgressTime,
                                                quality, owner, completion);

    const qint32 progress = playedValue(playedTime);
    const qint32 duration = std::max(videoDuration, 0);
    const QVariantMap business{{QStringLiteral("aid"), aid},
                               {QStringLiteral("cid"), cid},
                               {QStringLiteral("progress"), progress},
                               {QStringLiteral("duration"), duration},
                               {QStringLiteral("realtime"), std::max(realTime, 0)},
                               {QStringLiteral("type"), 3}};
    KRDiagnostics::recordEvent(QStringLiteral("history-heartbeat-route"),
                               QStringLiteral("phase=request authFamily=app path=/x/v2/history/report aid=%1 cid=%2 playType=%3 "
                                              "progress=%4 duration=%5")
                                   .arg(aid)
                                   .arg(cid)
                                   .arg(playType)
                                   .arg(progress)
                                   .arg(duration));
    performAuthenticatedAppURLString(
        apiURL(QStringLiteral("/x/v2/history/report")), QStringLiteral("POST"), business, true, true, owner,
        [=, this](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error) {
            KRDiagnostics::recordEvent(QStringLiteral("history-heartbeat-route"),
                                       QStringLiteral("phase=response authFamily=app path=/x/v2/history/report success=%1 status=%2 "
                                                      "code=%3 aid=%4 cid=%5 playType=%6")
                                           .arg(KRConsole::boolean(!error))
                                           .arg(response ? response->status : 0)
                                           .arg(error ? error->code() : 0)
                                           .arg(aid)
                                           .arg(cid)
                                           .arg(playType));
            if (!error)
                return completion(true, QStringLiteral("历史已同步"), json.toMap().value(QStringLiteral("data")));
            if (!KRSessionStore::sharedStore().isLoggedIn())
                return completion(false, error->message(), QVariant());
            KRDiagnostics::recordEvent(QStringLiteral("history-heartbeat-route"),
                                       QStringLiteral("phase=fallback from=app to=web aid=%1 cid=%2 playType=%3 code=%4")
                                           .arg(aid)
                                           .arg(cid)
                                           .arg(playType)
                                           .arg(error->code()));
            reportWebPlaybackHeartbeatForAID(aid, cid, startTS, playType, playedTime, realTime, videoDuration, maxProgressTime,
                                             quality, owner, completion);
        });
}

void KRAccountClient::reportWebPlaybackHeartbeatForAID(qint64 aid, qint64 cid, qint64 startTS, qint32 playType, qint32 playedTime,
                                                       qint32 realTime, qint32 videoDuration, qint32 maxProgressTime,
                                                       qint32 quality, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    KRSessionStore& store = KRSessionStore::sharedStore();
    if (startTS < 1 || cid < 1 || aid < 1 || !store.isLoggedIn())
        return completion(false, store.isLoggedIn() ? kIncompleteIDs : kNotLoggedIn, QVariant());
    const qint32 played = playedValue(playedTime);
    const qint32 real = std::max(realTime, 0);
    const qint32 duration = std::max(videoDuration, 0);
    const qint32 last = played >= 0 ? played : std::max(maxProgressTime, 0);
    const qint32 maxProgress = std::max(last, maxProgressTime);
    const qint64 mid = store.userID();
    const QVariantMap form{{QStringLiteral("start_ts"), startTS},
                           {QStringLiteral("mid"), mid},
                           {QStringLiteral("aid"), aid},
                           {QStringLiteral("cid"), cid},
                           {QStringLiteral("type"), 3},
                           {QStringLiteral("dt"), 2},
                           {QStringLiteral("play_type"), playType},
                           {QStringLiteral("realtime"), real},
                           {QStringLiteral("played_time"), played},
                           {QStringLiteral("real_played_time"), real},
                           {QStringLiteral("refer_url"), QStringLiteral("https://") + KRServiceHosts::webHost() + QLatin1Char('/')},
                           {QStringLiteral("quality"), quality < 1 ? 16 : quality},
                           {QStringLiteral("is_auto_qn"), 0},
                           {QStringLiteral("video_duration"), duration},
                           {QStringLiteral("last_play_progress_time"), last},
                           {QStringLiteral("max_play_progress_time"), maxProgress},
                           {QStringLiteral("statistics"), QStringLiteral("{}")},
                           {QStringLiteral("mobi_app"), QStringLiteral("web")},
                           {QStringLiteral("device"), QStringLiteral("web")},
                           {QStringLiteral("platform"), QStringLiteral("web")},
                           {QStringLiteral("extra"), QStringLiteral("{\"player_version\":\"Korvane/0.1\"}")}};
    const QVariantMap query{{QStringLiteral("w_start_ts"), startTS},
                            {QStringLiteral("w_mid"), mid},
                            {QStringLiteral("w_aid"), aid},
                            {QStringLiteral("w_dt"), 2},
                            {QStringLiteral("w_realtime"), real},
                            {QStringLiteral("w_played_time"), played},
                            {QStringLiteral("w_real_played_time"), real},
                            {QStringLiteral("w_video_duration"), duration},
                            {QStringLiteral("w_last_play_progress_time"), last}};
    KRAPIClient::sharedClient()->signWBIParameters(query, owner, [=, this](const QVariantMap& signedQuery, const KROptionalError& signError) {
        if (signError) {
            KRConsole::log(QStringLiteral("[KorvaneHistory] result=FAIL stage=sign aid=%1 cid=%2 playType=%3 error=%4")
                               .arg(aid)
                               .arg(cid)
                               .arg(playType)
                               .arg(signError->message()));
            return completion(false, QStringLiteral("历史心跳签名失败（%1）: %2").arg(signError->code()).arg(signError->message()), QVariant());
        }
        const QString url = apiURL(QStringLiteral("/x/click-interface/web/heartbeat?")) + QString::fromUtf8(KRAccountFormBody(signedQuery));
        KRConsole::log(QStringLiteral("[KorvaneHistory] send aid=%1 cid=%2 playType=%3 played=%4 real=%5 duration=%6")
                           .arg(aid)
                           .arg(cid)
                           .arg(playType)
                           .arg(played)
                           .arg(real)
                           .arg(duration));
        performActionURLString(url, form, owner, [=](bool success, const QString& message, const QVariant& data) {
            KRConsole::log(QStringLiteral("[KorvaneHistory] result=%1 aid=%2 cid=%3 playType=%4 message=%5")
                               .arg(success ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
                               .arg(aid)
                               .arg(cid)
                               .arg(playType)
                               .arg(message));
            completion(success, message, data);
        });
    });
}
