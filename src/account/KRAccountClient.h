#pragma once

#include "account/KRAccountRequestKinds.h"
#include "model/KRError.h"
#include "platform/foundation/ReplyOwner.h"
#include "service/KRAPIClient.h"
#include "service/KRPlaybackInfoProvider.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QObject;
namespace platform {
struct HTTPResponse;
}

inline const QString KRAccountErrorDomain = QStringLiteral("KRAccountErrorDomain");

// json: the parsed reply (invalid when none); response: null when no response arrived.
using KRAccountJSONCompletion =
    std::function<void(const QVariant& json, const platform::HTTPResponse* response, const KROptionalError&)>;
// message is never empty; data any JSON value (invalid when none).
using KRAccountActionResult = std::function<void(bool success, const QString& message, const QVariant& data)>;
using KRAccountReadCompletion = std::function<void(const QVariant& result, const KROptionalError&)>;
using KRAccountUsableCompletion = std::function<void(bool usable, const KROptionalError&)>;

struct KRAccountVideoPage {
    KRVideoList videos;
    bool hasMore = false;
    std::optional<qint64> max, viewAt;
};
using KRAccountVideoPageCompletion = std::function<void(const KRAccountVideoPage&, const KROptionalError&)>;
// A dictionary result: the login code's information, a poll's result, a folder page.
using KRAccountDictionaryCompletion = std::function<void(const QVariantMap& result, const KROptionalError&)>;
using KRAccountRecordsCompletion = std::function<void(const std::optional<QVariantList>& records, const KROptionalError&)>;

// The identity-bound client: every account read and write, the login poll, the app-token
// refresh, the play-information routes and the history heartbeat. Called on the main thread.
// Every asynchronous operation takes an owner just before its completion: nothing is
// delivered once the owner has been destroyed; a null owner lives as long as the process.
// Completions run exactly once on the main thread; the login gate and an unparsable address
// answer inside the call.
class KRAccountClient : public KRPlaybackInfoProvider {
public:
    static KRAccountClient* sharedClient();

    // ---- Pipeline ----
    // method "GET", "POST" or "POST_JSON" (a JSON body of the parameters).
    void performURLString(const QString& url, const QString& method, const QVariantMap& parameters, bool requireLogin,
                          QObject* owner, KRAccountJSONCompletion completion);
    void performURLString(const QString& url, const QString& method, const QVariantMap& parameters, bool requireLogin,
                          const QString& referer, QObject* owner, KRAccountJSONCompletion completion);
    void performURLString(const QString& url, const QString& method, const QVariantMap& parameters, bool requireLogin,
                          bool includeSession, const QString& referer, QObject* owner, KRAccountJSONCompletion completion);

    // ---- App token ----
    void ensureUsableAppAuthentication(QObject* owner, KRAccountUsableCompletion completion);
    void ensureUsableAppAuthenticationForceRefresh(bool force, QObject* owner, KRAccountUsableCompletion completion);
    void performAuthenticatedAppURLString(const QString& url, const QString& method, const QVariantMap& businessParameters,
                                          bool includeClientContext, bool retryAuthFailure, QObject* owner,
                                          KRAccountJSONCompletion completion);
    // A GET that repeats once without the session when the service answers with risk control.
    void performPlaybackURLString(const QString& url, const QVariantMap& parameters, const QString& referer, qint64 cid,
                                  qint32 quality, QObject* owner, KRAccountJSONCompletion completion);

    // ---- Actions ----
    void performActionURLString(const QString& url, const QVariantMap& parameters, QObject* owner, KRAccountActionResult completion);
    void performActionURLString(const QString& url, const QVariantMap& parameters, const QString& referer, QObject* owner,
                                KRAccountActionResult completion);
    void performJSONActionURLString(const QString& url, const QVariantMap& object, QObject* owner, KRAccountActionResult completion);

    // ---- QR login ----
    // The TV login code: the reply's data with "qrcode_key" = its "auth_code".
    void generateLoginQRCode(QObject* owner, KRAccountDictionaryCompletion completion);
    // One poll of the code: the reply's data with "code" (0 when absent) and "message". The
    // waiting codes (86038, 86039, 86090, 86101) carry no error; a confirmed poll hands its
    // tokens and cookies to the session store.
    void pollLoginQRCodeKey(const QString& authCode, QObject* owner, KRAccountDictionaryCompletion completion);

    // ---- Account reads (the reply's "data" unless said otherwise) ----
    // Also stores the profile when the reply says the account is logged in.
    void loadCurrentAccount(QObject* owner, KRAccountReadCompletion completion);
    void loadReplyMessagesWithCursor(qint64 cursor, QObject* owner, KRAccountReadCompletion completion);
    void loadAtMessagesWithCursor(qint64 cursor, QObject* owner, KRAccountReadCompletion completion);
    void loadFollowingDynamicsOfType(const QString& type, const QString& offset, QObject* owner, KRAccountReadCompletion completion);
    void loadDynamicDetailID(const QString& dynamicID, QObject* owner, KRAccountReadCompletion completion);
    void loadArchiveRelationForAID(qint64 aid, QObject* owner, KRAccountReadCompletion completion);
    void loadRelationForMID(qint64 mid, QObject* owner, KRAccountReadCompletion completion);
    // Without login; an invalid result when "data" is no object.
    void loadFollowerStatisticsForMID(qint64 mid, QObject* owner, KRAccountReadCompletion completion);
    void loadReplyEmotePackages(QObject* owner, KRAccountReadCompletion completion);
    // Pages of videos: the history's carries its cursor, has more only with videos and a cursor.
    void loadHistoryWithMax(qint64 max, qint64 viewAt, QObject* owner, KRAccountVideoPageCompletion completion);
    void loadWatchLater(QObject* owner, KRAccountVideoPageCompletion completion);
    void loadFavoriteVideosForMediaID(qint64 mediaID, qint32 page, QObject* owner, KRAccountVideoPageCompletion completion);
    // Folder pages: {"folders", "total"} and, paged, "has_more".
    void loadFavoriteFolders(QObject* owner, KRAccountDictionaryCompletion completion);
    void loadFavoriteFoldersPage(qint32 page, QObject* owner, KRAccountDictionaryCompletion completion);
    // The folders with whether each holds the video; -3 inside the call without an aid or a
    // member id.
    void loadFavoriteFoldersForAID(qint64 aid, QObject* owner, KRAccountDictionaryCompletion completion);

    // ---- Dynamics writes ----
    void setDynamicLiked(bool liked, const QString& dynamicID, QObject* owner, KRAccountActionResult completion);
    void repostDynamicID(const QString& dynamicID, const QString& content, QObject* owner, KRAccountActionResult completion);
    void repostDynamicID(const QString& dynamicID, const QString& content, const QVariantMap& pictureInfo, QObject* owner,
                         KRAccountActionResult completion);
    // At most nine pictures, those with a source.
    void repostDynamicID(const QString& dynamicID, const QString& content, const QVariantList& pictureInfos, QObject* owner,
                         KRAccountActionResult completion);
    void shareVideoAID(qint64 aid, const QString& bvid, const QString& content, QObject* owner, KRAccountActionResult completion);
    void deleteDynamicID(const QString& dynamicID, QObject* owner, KRAccountActionResult completion);

    // ---- Resume position and history heartbeat ----
    // The data of the player reply (an object, else invalid); -3 inside the call without ids.
    void loadPlaybackResumeForAID(qint64 aid, qint64 cid, QObject* owner, KRAccountReadCompletion completion);
    // By the app route while an app token is usable or refreshable (the web route after its
    // failure while logged in), else by the web route. playType: 1 start, 0 periodic,
    // 2 paused, 3 resumed, 4 finished; times in whole seconds, playedTime -1 once finished.
    void reportPlaybackHeartbeatForAID(qint64 aid, qint64 cid, qint64 startTS, qint32 playType, qint32 playedTime,
                                       qint32 realTime, qint32 videoDuration, qint32 maxProgressTime, qint32 quality,
                                       QObject* owner, KRAccountActionResult completion);
    void reportWebPlaybackHeartbeatForAID(qint64 aid, qint64 cid, qint64 startTS, qint32 playType, qint32 playedTime,
                                          qint32 realTime, qint32 videoDuration, qint32 maxProgressTime, qint32 quality,
                                          QObject* owner, KRAccountActionResult completion);

    // ---- Like, coin, triple, favourite, follow, watch-later ----
    // Like and coin go by the app route while an app token is usable or refreshable, else
    // (and again once a failed app attempt has cleared the token) by the web route.
    void setLike(bool like, qint64 aid, const QString& gaiaToken, QObject* owner, KRAccountActionResult completion);
    void setLike(bool like, qint64 aid, QObject* owner, KRAccountActionResult completion);
    void setAppLike(bool like, qint64 aid, QObject* owner, KRAccountActionResult completion);
    // multiply is 1 or 2. The web route sends nothing while the risk-control cookies are missing.
    void addCoinForAID(qint64 aid, const QString& bvid, qint32 multiply, bool alsoLike, const QString& gaiaToken, QObject* owner,
                       KRAccountActionResult completion);
    void addCoinForAID(qint64 aid, const QString& bvid, qint32 multiply, bool alsoLike, QObject* owner, KRAccountActionResult completion);
    void addCoinForAID(qint64 aid, qint32 multiply, bool alsoLike, QObject* owner, KRAccountActionResult completion);
    void addCoinForAID(qint64 aid, bool alsoLike, QObject* owner, KRAccountActionResult completion);
    void addAppCoinForAID(qint64 aid, qint32 multiply, bool alsoLike, QObject* owner, KRAccountActionResult completion);
    // Like (or coins with a like), then the default folder. Data: "like", "coin" (coins on
    // the video now), "favorite", "multiply" (coins this call added).
    void tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyLiked, qint32 existingCoinCount,
                      qint32 coinLimit, bool alreadyFavorited, const QString& gaiaToken, QObject* owner, KRAccountActionResult completion);
    void tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyLiked, qint32 existingCoinCount,
                      qint32 coinLimit, bool alreadyFavorited, QObject* owner, KRAccountActionResult completion);
    void tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyLiked, qint32 existingCoinCount,
                      bool alreadyFavorited, QObject* owner, KRAccountActionResult completion);
    void tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyFavorited, QObject* owner,
                      KRAccountActionResult completion);
    // The service's own triple action.
    void tripleForAID(qint64 aid, QObject* owner, KRAccountActionResult completion);
    // Folder ids as numbers or numeric texts.
    void updateFavoriteForAID(qint64 aid, const QVariantList& addMediaIDs, const QVariantList& removeMediaIDs, QObject* owner,
                              KRAccountActionResult completion);
    void createFavoriteFolderWithTitle(const QString& title, bool isPrivate, QObject* owner, KRAccountActionResult completion);
    // Into the default folder, or out of every folder holding the video.
    void setFavorite(bool favorite, qint64 aid, qint64 ownerMID, QObject* owner, KRAccountActionResult completion);
    void setFollowing(bool follow, qint64 mid, QObject* owner, KRAccountActionResult completion);
    void addWatchLaterForAID(qint64 aid, QObject* owner, KRAccountActionResult completion);
    void removeWatchLaterForAID(qint64 aid, QObject* owner, KRAccountActionResult completion);

    // ---- Comments, pictures and danmaku ----
    void postComment(const QString& message, qint64 oid, qint64 root, qint64 parent, QObject* owner, KRAccountActionResult completion);
    void postComment(const QString& message, qint64 oid, qint32 type, qint64 root, qint64 parent, QObject* owner,
                     KRAccountActionResult completion);
    // Pictures go only with a top-level comment.
    void postComment(const QString& message, qint64 oid, qint32 type, qint64 root, qint64 parent, const QStringList& pictureURLs,
                     QObject* owner, KRAccountActionResult completion);
    // One picture, already encoded as JPEG (the caller's image layer encodes at quality 0.88):
    // the upload's "data" record. Bytes that are not JPEG are refused before anything is sent.
    void uploadCommentImage(const QByteArray& jpeg, QObject* owner, KRAccountReadCompletion completion);
    // The first nine pictures (empty entries are no pictures), one after another; the
    // records in order, or the first failure and nothing else.
    void uploadCommentImages(const QList<QByteArray>& jpegs, QObject* owner, KRAccountRecordsCompletion completion);
    void postDanmaku(const QString& text, qint64 cid, qint64 aid, qint32 progressMS, QObject* owner, KRAccountActionResult completion);

    // ---- Play information ----
    // The play-address chain reaches these two through the provider interface.
    void loadPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                KRPlaybackInfoCompletion completion) override;
    void loadPlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, QObject* owner, KRPlaybackInfoCompletion completion);
    void loadDASHPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                    KRPlaybackInfoCompletion completion);
    void loadDASHPlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                     KRPlaybackInfoCompletion completion);
    void loadPGCDASHPlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid, qint32 quality,
                                             QObject* owner, KRPlaybackInfoCompletion completion);
    void loadPGCProgressivePlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid, qint32 quality,
                                                    QObject* owner, KRPlaybackInfoCompletion completion) override;
    void loadTVUGCPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, qint32 fnval, QObject* owner,
                                     KRPlaybackInfoCompletion completion);
    void loadTVUGCPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, qint32 fnval,
                                     bool retryAuthFailure, QObject* owner, KRPlaybackInfoCompletion completion);
    void loadWebProgressivePlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, bool anonymousFirst,
                                               QObject* owner, KRPlaybackInfoCompletion completion);
    void loadWebDASHPlaybackInfoForBVID(const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                        KRPlaybackInfoCompletion completion);
    void loadWebPGCDASHPlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid, qint32 quality,
                                                QObject* owner, KRPlaybackInfoCompletion completion);

    // Tests: forgets the refresh state, as a new process starts.
    void resetForTesting();

private:
    KRAccountClient() = default;

    // The one exchange of the client: the kind's headers, the session guard, a worker of its
    // own, the reply mapped to (json, response, error) and delivered on the main thread while
    // the owner exists; a worker that finds the owner gone makes no exchange.
    struct Exchange {
        QString url;
        std::optional<QUrl> parsed; // `url` as the caller already parsed it, so the worker need not
        KRRequestContent content;
        bool includeSession = false;
        QString path;
        // Set when no request could be made of the call: answered with it, nothing sent.
        KROptionalError unsendable;
    };
    void exchange(KRRequestKind kind, Exchange request, QObject* owner, KRAccountJSONCompletion completion);
    // performURLString, given the form encoding of `parameters` when the caller already made it
    // (null: encoded here when the method needs it).
    void performURLString(const QString& url, const QString& method, const QVariantMap& parameters,
                          const QByteArray* formBody, bool requireLogin, bool includeSession, const QString& referer,
                          QObject* owner, KRAccountJSONCompletion completion);

    void finishRefresh(const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error);
    void uploadCommentImages(const QList<QByteArray>& jpegs, qsizetype index, QVariantList results, QObject* owner,
                             KRAccountRecordsCompletion completion);
    void finishAction(const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error,
                      const KRAccountActionResult& completion);
    bool m_refreshInFlight = false;
    QList<KRAccountUsableCompletion> m_refreshWaiters;
    qint32 m_refreshGeneration = 0;
    double m_refreshLastFailureAt = 0;
    qint32 m_refreshLastFailureGeneration = 0;
    KROptionalError m_refreshLastError;

};

// The envelope every reply of the client is read through: `json` becomes the parsed body
// (invalid when none or unreadable) and the result is what the reply comes to; the HTTP
// status decides only when the reply names no code. A reply with a code is the service's
// answer whatever its status; one outside 2xx without a code is a gateway's or server's
// error page, and read by its body alone, one that happens to be a JSON object (as "{}")
// would count as a success.
KROptionalError KRAccountErrorOfReply(const platform::HTTPResponse& response, QVariant& json);

// What a write's reply comes to, as its completion is answered: the message is never empty;
// a refusal's data is the reply's data object with the risk-control challenge added.
struct KRAccountActionOutcome {
    bool success = false;
    QString message;
    QVariant data;
};
KRAccountActionOutcome KRAccountActionOutcomeOfReply(const QVariant& json, const platform::HTTPResponse* response,
                                                     const KROptionalError& error);

// One poll of a login code: the reply's data with "code" (0 when absent) and "message".
QVariantMap KRAccountQRPollResult(const QVariant& json);
// The login codes a poll waits on (not scanned, scanned, expired soon, not confirmed).
bool KRAccountQRPollIsWaiting(qint64 code);

// The pictures of a repost from the upload records: at most nine, those with a source, each
// with its width, height and size.
QVariantList KRAccountRepostPictures(const QVariantList& pictureInfos);

// The videos of a history, watch-later or favourite reply under `listKey`, with the several
// item shapes reconciled; registers their compatibility mappings with the web-API client.
KRAccountVideoPage KRAccountNormalizedVideoPage(const QVariant& reply, const QString& listKey);

// The folder ids (integer values of 1 or more, each once, first seen first) joined by ",".
QString KRAccountJoinedFavoriteMediaIDs(const QVariantList& mediaIDs);
// A folder's "id", else its "media_id", when 1 or more.
std::optional<qint64> KRAccountFavoriteMediaID(const QVariant& folder);

// An error of KRAccountErrorDomain.
KRError KRAccountError(qint64 code, const QString& message);
// The parameters with "appkey", "ts" and "sign" (and the client context when asked).
QVariantMap KRAccountSignedAppParameters(const QVariantMap& parameters, bool includeClientContext);
// The same signed parameters and their form body, encoded once for the signature and the
// request alike; `body` is KRAccountFormBody(`parameters`) byte for byte.
struct KRAccountSignedForm {
    QVariantMap parameters;
    QByteArray body;
};
KRAccountSignedForm KRAccountSignedAppForm(const QVariantMap& parameters, bool includeClientContext);
QByteArray KRAccountFormBody(const QVariantMap& parameters);
// The compact JSON text of a body, or nothing when a value in it is none JSON can hold: a
// number that is not finite, an absent value, or any type but text, number, boolean, null,
// array and object.
std::optional<QByteArray> KRAccountJSONBody(const QVariantMap& parameters);
QString KRAccountPercentEscape(const QVariant& value);
QVariantMap KRAccountRedactedShape(const QVariant& value, int depth);
QStringList KRAccountSortedStringKeys(const std::optional<QVariantMap>& dictionary);
bool KRAccountAppAuthenticationErrorCanRefresh(const KROptionalError& error);
// Where the risk-control dump goes: "KorvaneGaiaDiagnostic.json" in Caches.
QString KRAccountDiagnosticDumpPath();
