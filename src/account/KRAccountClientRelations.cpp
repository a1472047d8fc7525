// The user's relation to a video or an uploader: like, coins, the one-tap triple,
// favourites, follow and watch-later.

#include "account/KRAccountClient.h"

#include "account/KRAccountRiskChallenge.h"
#include "platform/foundation/ReplyOwner.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QSet>

namespace {

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }
QString appURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::appHost() + path; }
QString yesNo(bool value) { return KRConsole::boolean(value); }
QString target(bool like) { return like ? QStringLiteral("like") : QStringLiteral("unlike"); }
qint32 normalizedMultiply(qint32 multiply) { return multiply < 2 ? 1 : 2; }

bool appRouteAvailable()
{
    const KRSessionStore& store = KRSessionStore::sharedStore();
    return store.appAccessTokenUsable() || (store.hasAppAccessToken() && store.hasAppRefreshToken());
}

// A failed app attempt that cleared the token while the web cookies still log the user in:
// the same operation again goes the web way.
bool fallsBackToWeb()
{
    const KRSessionStore& store = KRSessionStore::sharedStore();
    return !store.hasAppAccessToken() && store.isLoggedIn();
}

// The app routes' message: the error's, else the reply's, else the fixed word.
QString appMessage(const QVariant& json, const KROptionalError& error, const QString& failed, const QString& succeeded)
{
    QString message = error ? error->message() : QString();
    if (message.isEmpty() && KRIsString(json.toMap().value(QStringLiteral("message"))))
        message = json.toMap().value(QStringLiteral("message")).toString();
    if (message.isEmpty() || message == QLatin1String("0") || message == QLatin1String("Success"))
        message = error ? failed : succeeded;
    return message;
}

QVariantMap replyDataMap(const QVariant& json)
{
    const QVariant data = json.toMap().value(QStringLiteral("data"));
    return KRIsDictionary(data) ? data.toMap() : QVariantMap();
}

} // namespace

QString KRAccountJoinedFavoriteMediaIDs(const QVariantList& mediaIDs)
{
    QStringList joined;
    QSet<qint64> seen;
    for (const QVariant& value : mediaIDs) {
        const std::optional<qint64> id = KRIntegerValue(value);
        if (!id || *id < 1 || seen.contains(*id))
            continue;
        seen.insert(*id);
        joined << QString::number(*id);
    }
    return joined.join(QLatin1Char(','));
}

std::optional<qint64> KRAccountFavoriteMediaID(const QVariant& folder)
{
    if (!KRIsDictionary(folder))
        return std::nullopt;
    const QVariantMap map = folder.toMap();
    for (const char* key : {"id", "media_id"}) {
        const qint64 id = KRLongLong(map.value(QLatin1String(key)));
        if (id >= 1)
            return id;
    }
    return std::nullopt;
}

// ---- Like ----

void KRAccountClient::setLike(bool like, qint64 aid, QObject* owner, KRAccountActionResult completion)
{
    setLike(like, aid, QString(), owner, std::move(completion));
}

void KRAccountClient::setLike(bool like, qint64 aid, const QString& gaiaToken, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (appRouteAvailable()) {
        KRDiagnostics::recordEvent(QStringLiteral("like-request"),
                                   QStringLiteral("aid=%1 target=%2 endpoint=x/v2/view/like auth=app").arg(aid).arg(target(like)));
        setAppLike(like, aid, owner, [=, this](bool success, const QString& message, const QVariant& data) {
            if (success || !fallsBackToWeb())
                return completion(success, message, data);
            KRDiagnostics::recordEvent(QStringLiteral("like-request"),
                                       QStringLiteral("aid=%1 target=%2 authFallback=app-invalid-to-web").arg(aid).arg(target(like)));
            setLike(like, aid, gaiaToken, owner, completion);
        });
        return;
    }
    QVariantMap form{{QStringLiteral("aid"), aid}, {QStringLiteral("like"), like ? 1 : 2}};
    if (!gaiaToken.isEmpty())
        form.insert(QStringLiteral("tk"), gaiaToken);
    const QString replay = yesNo(!gaiaToken.isEmpty());
    KRDiagnostics::recordEvent(QStringLiteral("like-request"), QStringLiteral("aid=%1 target=%2 endpoint=x/web-interface/archive/like verifiedReplay=%3")
                                                               .arg(aid)
                                                               .arg(target(like), replay));
    KRConsole::log(QStringLiteral("[KorvaneLike] request aid=%1 target=%2 verifiedReplay=%3").arg(aid).arg(target(like), replay));
    const QString referer = QStringLiteral("https://%1/video/av%2").arg(KRServiceHosts::webHost()).arg(aid);
    KRAPIClient::sharedClient()->prepareRiskControlCookiesWithCompletion(owner, [=, this](bool ready, const KROptionalError& cookieError) {
        KRDiagnostics::recordEvent(QStringLiteral("like-risk-bootstrap"),
                                   QStringLiteral("ready=%1 errorCode=%2").arg(yesNo(ready)).arg(cookieError ? cookieError->code() : 0));
        performActionURLString(apiURL(QStringLiteral("/x/web-interface/archive/like")), form, referer, owner,
                               [=, this](bool success, const QString& message, const QVariant& data) {
                                   const QVariantMap result = KRIsDictionary(data) ? data.toMap() : QVariantMap();
                                   const qint64 serverCode = KRLongLong(result.value(QStringLiteral("server_code")));
                                   const bool challenge = KRBoolean(result.value(QStringLiteral("gaia_challenge")).toMap().value(QStringLiteral("present")));
                                   if (success || challenge) {
                                       KRDiagnostics::recordEvent(QStringLiteral("like-result"),
                                                                  QStringLiteral("accepted=%1 rawSuccess=%2 serverCode=%3 challenge=%4 relationChecked=NO message=%5")
                                                                      .arg(yesNo(success), yesNo(success))
                                                                      .arg(serverCode)
                                                                      .arg(yesNo(challenge), message));
                                       KRConsole::log(QStringLiteral("[KorvaneLike] result accepted=%1 success=%2 serverCode=%3 challenge=%4")
                                                          .arg(yesNo(success), yesNo(success))
                                                          .arg(serverCode)
                                                          .arg(yesNo(challenge)));
                                       return completion(success, message, data);
                                   }
                                   // A refusal without a challenge may still have landed: the
                                   // relation tells.
                                   loadArchiveRelationForAID(aid, owner, [=](const QVariant& relation, const KROptionalError& relationError) {
                                       const bool available = !relationError && KRIsDictionary(relation);
                                       const bool matched = available && KRBoolean(relation.toMap().value(QStringLiteral("like"))) == like;
                                       KRDiagnostics::recordEvent(QStringLiteral("like-result"),
                                                                  QStringLiteral("accepted=%1 rawSuccess=NO serverCode=%2 challenge=NO relationChecked=YES "
                                                                                 "relationAvailable=%3 relationMatched=%4 message=%5")
                                                                      .arg(yesNo(matched))
                                                                      .arg(serverCode)
                                                                      .arg(yesNo(available), yesNo(matched), message));
                                       KRConsole::log(QStringLiteral("[KorvaneLike] result accepted=%1 success=NO serverCode=%2 relationAvailable=%3 relationMatched=%4")
                                                          .arg(yesNo(matched))
                                                          .arg(serverCode)
                                                          .arg(yesNo(available), yesNo(matched)));
                                       completion(matched, matched ? QStringLiteral("操作成功") : message, data);
                                   });
                               });
    });
}

void KRAccountClient::setAppLike(bool like, qint64 aid, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (aid < 1)
        return completion(false, QStringLiteral("视频点赞标识不完整"), QVariant());
    const QString empty = QString(QLatin1String(""));
    const QVariantMap business{{QStringLiteral("aid"), aid},         {QStringLiteral("like"), like ? 0 : 1},
                               {QStringLiteral("from"), empty},      {QStringLiteral("spmid"), empty},
                               {QStringLiteral("from_spmid"), empty}, {QStringLiteral("track_id"), empty},
                               {QStringLiteral("goto"), empty}};
    performAuthenticatedAppURLString(
        appURL(QStringLiteral("/x/v2/view/like")), QStringLiteral("POST"), business, true, true, owner,
        [=](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error) {
            const QString message = appMessage(json, error, QStringLiteral("操作失败"), QStringLiteral("操作成功"));
            QVariant data = json.toMap().value(QStringLiteral("data"));
            if (error) {
                QVariantMap failure = replyDataMap(json);
                failure.insert(QStringLiteral("server_code"), error->code());
                failure.insert(QStringLiteral("gaia_challenge"), KRAccountGaiaChallengeMetadata(json, response));
                if (const auto options = KRAccountExtractGaiaOptions(json, response); options && !options->isEmpty())
                    failure.insert(QStringLiteral("gaia_options"), *options);
                data = failure;
            }
            KRDiagnostics::recordEvent(error ? QStringLiteral("like-app-failed") : QStringLiteral("like-app-result"),
                                       QStringLiteral("aid=%1 target=%2 code=%3").arg(aid).arg(target(like)).arg(error ? error->code() : 0));
            completion(!error, message, data);
        });
}

// ---- Coins ----

void KRAccountClient::addCoinForAID(qint64 aid, bool alsoLike, QObject* owner, KRAccountActionResult completion)
{
    addCoinForAID(aid, QString(), 1, alsoLike, QString(), owner, std::move(completion));
}

void KRAccountClient::addCoinForAID(qint64 aid, qint32 multiply, bool alsoLike, QObject* owner, KRAccountActionResult completion)
{
    addCoinForAID(aid, QString(), multiply, alsoLike, QString(), owner, std::move(completion));
}

void KRAccountClient::addCoinForAID(qint64 aid, const QString& bvid, qint32 multiply, bool alsoLike, QObject* owner,
                                    KRAccountActionResult completion)
{
    addCoinForAID(aid, bvid, multiply, alsoLike, QString(), owner, std::move(completion));
}

void KRAccountClient::addCoinForAID(qint64 aid, const QString& bvid, qint32 multiply, bool alsoLike, const QString& gaiaToken,
                                    QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const qint32 coins = normalizedMultiply(multiply);
    if (appRouteAvailable()) {
        KRDiagnostics::recordEvent(QStringLiteral("coin-request"), QStringLiteral("aid=%1 multiply=%2 alsoLike=%3 endpoint=x/v2/view/coin/add auth=app")
                                                                       .arg(aid)
                                                                       .arg(coins)
                                                                       .arg(yesNo(alsoLike)));
        addAppCoinForAID(aid, coins, alsoLike, owner, [=, this](bool success, const QString& message, const QVariant& data) {
            if (success || !fallsBackToWeb())
                return completion(success, message, data);
            KRDiagnostics::recordEvent(QStringLiteral("coin-request"), QStringLiteral("aid=%1 multiply=%2 alsoLike=%3 authFallback=app-invalid-to-web")
                                                                           .arg(aid)
                                                                           .arg(coins)
                                                                           .arg(yesNo(alsoLike)));
            addCoinForAID(aid, bvid, coins, alsoLike, gaiaToken, owner, completion);
        });
        return;
    }
    QVariantMap form{{QStringLiteral("aid"), aid},
                     {QStringLiteral("multiply"), coins},
                     {QStringLiteral("select_like"), alsoLike ? 1 : 0},
                     {QStringLiteral("cross_domain"), QStringLiteral("true")},
                     {QStringLiteral("eab_x"), 1},
                     {QStringLiteral("ramval"), 0},
                     {QStringLiteral("source"), QStringLiteral("web_normal")},
                     {QStringLiteral("ga"), 1}};
    if (!gaiaToken.isEmpty())
        form.insert(QStringLiteral("tk"), gaiaToken);
    KRAPIClient::sharedClient()->prepareRiskControlCookiesWithCompletion(owner, [=, this](bool ready, const KROptionalError& cookieError) {
        // Coins are spent for good: without the device cookies the service's answer could not
        // be trusted to be the risk control's, so nothing is sent.
        if (!ready)
            return completion(false, QStringLiteral("浏览器设备标识未就绪：%1").arg(cookieError ? cookieError->message() : QString()), QVariant());
        performActionURLString(apiURL(QStringLiteral("/x/web-interface/coin/add")), form, owner,
                               [=](bool success, const QString& message, const QVariant& data) {
                                   QString said = message;
                                   if (!success) {
                                       const QVariantMap result = data.toMap();
                                       const qint64 code = KRLongLong(result.value(QStringLiteral("server_code")));
                                       const bool challenge = KRBoolean(result.value(QStringLiteral("gaia_challenge")).toMap().value(QStringLiteral("present")));
                                       if (code == -401)
                                           said = challenge ? QStringLiteral("已收到岚帆视频安全验证挑战；本次没有消耗硬币")
                                                            : QStringLiteral("服务器要求安全验证，但没有返回验证入口；本次没有消耗硬币");
                                       else if (code == -403)
                                           said = QStringLiteral("账号风控直接拒绝；本次没有消耗硬币，请稍后再试");
                                   }
                                   completion(success, said, data);
                               });
    });
}

void KRAccountClient::addAppCoinForAID(qint64 aid, qint32 multiply, bool alsoLike, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (aid < 1)
        return completion(false, QStringLiteral("视频投币标识不完整"), QVariant());
    const qint32 coins = normalizedMultiply(multiply);
    const QVariantMap business{{QStringLiteral("aid"), aid}, {QStringLiteral("multiply"), coins}, {QStringLiteral("select_like"), alsoLike ? 1 : 0}};
    performAuthenticatedAppURLString(appURL(QStringLiteral("/x/v2/view/coin/add")), QStringLiteral("POST"), business, true, true, owner,
                                     [=](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                                         const QString message = appMessage(json, error, QStringLiteral("投币失败"), QStringLiteral("投币成功"));
                                         QVariant data = json.toMap().value(QStringLiteral("data"));
                                         if (error) {
                                             QVariantMap failure = replyDataMap(json);
                                             failure.insert(QStringLiteral("server_code"), error->code());
                                             data = failure;
                                         }
                                         KRDiagnostics::recordEvent(error ? QStringLiteral("coin-app-failed") : QStringLiteral("coin-app-result"),
                                                                    QStringLiteral("aid=%1 multiply=%2 alsoLike=%3 code=%4")
                                                                        .arg(aid)
                                                                        .arg(coins)
                                                                        .arg(yesNo(alsoLike))
                                                                        .arg(error ? error->code() : 0));
                                         completion(!error, message, data);
                                     });
}

// ---- Triple ----

void KRAccountClient::tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyFavorited,
                                   QObject* owner, KRAccountActionResult completion)
{
    tripleForAID(aid, bvid, ownerMID, coinCount, false, 0, 2, alreadyFavorited, QString(), owner, std::move(completion));
}

void KRAccountClient::tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyLiked,
                                   qint32 existingCoinCount, bool alreadyFavorited, QObject* owner, KRAccountActionResult completion)
{
    tripleForAID(aid, bvid, ownerMID, coinCount, alreadyLiked, existingCoinCount, 2, alreadyFavorited, QString(), owner,
                 std::move(completion));
}

void KRAccountClient::tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyLiked,
                                   qint32 existingCoinCount, qint32 coinLimit, bool alreadyFavorited, QObject* owner,
                                   KRAccountActionResult completion)
{
    tripleForAID(aid, bvid, ownerMID, coinCount, alreadyLiked, existingCoinCount, coinLimit, alreadyFavorited, QString(), owner,
                 std::move(completion));
}

void KRAccountClient::tripleForAID(qint64 aid, const QString& bvid, qint64 ownerMID, qint32 coinCount, bool alreadyLiked,
                                   qint32 existingCoinCount, qint32 coinLimit, bool alreadyFavorited, const QString& gaiaToken,
                                   QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const qint32 limit = coinLimit < 2 ? 1 : 2;
    const qint32 existing = std::clamp(existingCoinCount, 0, limit);
    const qint32 wanted = std::min(limit - existing, coinCount);
    const qint32 toAdd = std::max(wanted, 0);

    // Step B: the default folder, whatever step A did.
    auto favorite = [=, this](qint32 coinTotal, bool coinsAdded) {
        setFavorite(true, aid, ownerMID, owner, [=](bool success, const QString& message, const QVariant&) {
            const QVariantMap data{{QStringLiteral("like"), 1},
                                   {QStringLiteral("coin"), coinTotal},
                                   {QStringLiteral("favorite"), success ? 1 : 0},
                                   {QStringLiteral("multiply"), coinsAdded ? toAdd : 0}};
            if (success)
                return completion(true, message, data);
            completion(false, QStringLiteral("点赞和投币状态已保留，但收藏失败：%1").arg(message.isEmpty() ? QStringLiteral("请稍后单独收藏") : message), data);
        });
    };
    if (alreadyLiked && alreadyFavorited && wanted < 1)
        return favorite(existing, false);
    if (wanted >= 1) {
        addCoinForAID(aid, bvid, toAdd, !alreadyLiked, gaiaToken, owner, [=](bool success, const QString& message, const QVariant& data) {
            if (!success)
                return completion(false, message, data);
            favorite(existing + toAdd, true);
        });
        return;
    }
    if (!alreadyLiked) {
        setLike(true, aid, owner, [=](bool success, const QString& message, const QVariant&) {
            if (!success)
                return completion(false, message, QVariant());
            favorite(existing, false);
        });
        return;
    }
    favorite(existing, false);
}

void KRAccountClient::tripleForAID(qint64 aid, QObject* owner, KRAccountActionResult completion)
{
    performActionURLString(apiURL(QStringLiteral("/x/web-interface/archive/like/triple")), {{QStringLiteral("aid"), aid}}, owner,
                           std::move(completion));
}

// ---- Favourites ----

void KRAccountClient::updateFavoriteForAID(qint64 aid, const QVariantList& addMediaIDs, const QVariantList& removeMediaIDs,
                                           QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (aid < 1)
        return completion(false, QStringLiteral("视频编号尚未解析"), QVariant());
    const QString add = KRAccountJoinedFavoriteMediaIDs(addMediaIDs);
    const QString remove = KRAccountJoinedFavoriteMediaIDs(removeMediaIDs);
    if (add.isEmpty() && remove.isEmpty())
        return completion(true, QStringLiteral("收藏夹没有变化"), QVariantMap());
    KRDiagnostics::recordEvent(QStringLiteral("favorite-folder-deal"),
                               QStringLiteral("aid=%1 addCount=%2 removeCount=%3").arg(aid).arg(addMediaIDs.size()).arg(removeMediaIDs.size()));
    performActionURLString(apiURL(QStringLiteral("/x/v3/fav/resource/deal")),
                           {{QStringLiteral("rid"), aid}, {QStringLiteral("type"), 2}, {QStringLiteral("add_media_ids"), add},
                            {QStringLiteral("del_media_ids"), remove}},
                           owner, completion);
}

void KRAccountClient::createFavoriteFolderWithTitle(const QString& title, bool isPrivate, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty())
        return completion(false, QStringLiteral("收藏夹名称不能为空"), QVariant());
    performActionURLString(apiURL(QStringLiteral("/x/v3/fav/folder/add")),
                           {{QStringLiteral("title"), trimmed}, {QStringLiteral("intro"), QString(QLatin1String(""))},
                            {QStringLiteral("privacy"), isPrivate ? 1 : 0}},
                           owner, completion);
}

void KRAccountClient::setFavorite(bool favorite, qint64 aid, qint64, QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    loadFavoriteFoldersForAID(aid, owner, [=, this](const QVariantMap& result, const KROptionalError& error) {
        if (error)
            return completion(false, error->message(), QVariant());
        const QVariantList folders = result.value(QStringLiteral("folders")).toList();
        if (!favorite) {
            QVariantList holding;
            for (const QVariant& folder : folders) {
                const std::optional<qint64> id = KRAccountFavoriteMediaID(folder);
                if (id && KRBoolean(folder.toMap().value(QStringLiteral("fav_state"))))
                    holding.append(*id);
            }
            if (holding.isEmpty())
                return completion(false, QStringLiteral("此视频不在当前账号的收藏夹中"), QVariant());
            return updateFavoriteForAID(aid, {}, holding, owner, completion);
        }
        std::optional<QVariantMap> chosen;
        for (const QVariant& folder : folders) {
            if (!KRAccountFavoriteMediaID(folder))
                continue;
            const QVariantMap map = folder.toMap();
            if (!chosen)
                chosen = map;
            if (KRBoolean(map.value(QStringLiteral("is_default"))) || KRBoolean(map.value(QStringLiteral("default")))
                || map.value(QStringLiteral("title")).toString() == QStringLiteral("默认收藏夹")) {
                chosen = map;
                break;
            }
        }
        if (!chosen)
            return completion(false, QStringLiteral("没有可用的默认收藏夹"), QVariant());
        const qint64 id = *KRAccountFavoriteMediaID(*chosen);
        if (KRBoolean(chosen->value(QStringLiteral("fav_state"))))
            return completion(true, QStringLiteral("已在默认收藏夹"),
                              QVariantMap{{QStringLiteral("default_media_id"), id}, {QStringLiteral("already_in_default"), 1}});
        updateFavoriteForAID(aid, {id}, {}, owner, completion);
    });
}

// ---- Follow and watch-later ----

void KRAccountClient::setFollowing(bool follow, qint64 mid, QObject* owner, KRAccountActionResult completion)
{
    performActionURLString(apiURL(QStringLiteral("/x/relation/modify")),
                           {{QStringLiteral("fid"), mid}, {QStringLiteral("act"), follow ? 1 : 2}, {QStringLiteral("re_src"), 14}}, owner,
                           std::move(completion));
}

void KRAccountClient::addWatchLaterForAID(qint64 aid, QObject* owner, KRAccountActionResult completion)
{
    performActionURLString(apiURL(QStringLiteral("/x/v2/history/toview/add")), {{QStringLiteral("aid"), aid}}, owner, std::move(completion));
}

void KRAccountClient::removeWatchLaterForAID(qint64 aid, QObject* owner, KRAccountActionResult completion)
{
    performActionURLString(apiURL(QStringLiteral("/x/v2/history/toview/del")), {{QStringLiteral("aid"), aid}}, owner, std::move(completion));
}
