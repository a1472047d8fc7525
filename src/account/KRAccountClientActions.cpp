// Writes: logged-in POSTs carrying the CSRF token, answered as (success, message, data) with
// the risk-control challenge in the data of a refusal.

#include "account/KRAccountClient.h"

#include "account/KRAccountRiskChallenge.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRTolerantValue.h"
#include "store/KRSessionStore.h"

void KRAccountClient::performActionURLString(const QString& url, const QVariantMap& parameters, QObject* owner,
                                             KRAccountActionResult completion)
{
    performActionURLString(url, parameters, QString(), owner, std::move(completion));
}

void KRAccountClient::performActionURLString(const QString& url, const QVariantMap& parameters, const QString& referer,
                                             QObject* owner, KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    QVariantMap form = parameters;
    const QString csrf = KRSessionStore::sharedStore().csrfToken();
    if (!csrf.isEmpty()) {
        form.insert(QStringLiteral("csrf"), csrf);
        form.insert(QStringLiteral("csrf_token"), csrf);
    }
    performURLString(url, QStringLiteral("POST"), form, true, true, referer, owner,
                     [this, completion](const QVariant& json, const platform::HTTPResponse* response,
                                        const KROptionalError& error) { finishAction(json, response, error, completion); });
}

void KRAccountClient::performJSONActionURLString(const QString& url, const QVariantMap& object, QObject* owner,
                                                 KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    QString target = url;
    const QString csrf = KRSessionStore::sharedStore().csrfToken();
    if (!csrf.isEmpty())
        target += (url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?'))
            + QString::fromUtf8(KRAccountFormBody({{QStringLiteral("csrf"), csrf}, {QStringLiteral("csrf_token"), csrf}}));
    performURLString(target, QStringLiteral("POST_JSON"), object, true, true, QString(), owner,
                     [this, completion](const QVariant& json, const platform::HTTPResponse* response,
                                        const KROptionalError& error) { finishAction(json, response, error, completion); });
}

void KRAccountClient::finishAction(const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error,
                                   const KRAccountActionResult& completion)
{
    if (!completion)
        return;
    const KRAccountActionOutcome outcome = KRAccountActionOutcomeOfReply(json, response, error);
    completion(outcome.success, outcome.message, outcome.data);
}

KRAccountActionOutcome KRAccountActionOutcomeOfReply(const QVariant& json, const platform::HTTPResponse* response,
                                                     const KROptionalError& error)
{
    const bool success = !error;
    const QVariantMap reply = json.toMap();
    QString message;
    if (success)
        message = KRIsString(reply.value(QStringLiteral("message"))) ? reply.value(QStringLiteral("message")).toString() : QString();
    else
        message = error->message();
    if (message.isEmpty() || message == QLatin1String("0"))
        message = success ? QStringLiteral("操作成功") : QStringLiteral("操作失败");
    if (!success && error->domain() == KRAccountErrorDomain)
        message = QStringLiteral("%1（错误码 %2）").arg(message).arg(error->code());
    if (success)
        return {true, message, reply.value(QStringLiteral("data"))};
    if (!KRIsDictionary(json))
        return {false, message, QVariant()};
    QVariantMap data;
    const QVariant replyData = reply.value(QStringLiteral("data"));
    if (KRIsDictionary(replyData))
        data = replyData.toMap();
    data.insert(QStringLiteral("server_code"), error->code());
    data.insert(QStringLiteral("gaia_challenge"), KRAccountGaiaChallengeMetadata(json, response));
    if (const std::optional<QVariantMap> options = KRAccountExtractGaiaOptions(json, response); options && !options->isEmpty())
        data.insert(QStringLiteral("gaia_options"), *options);
    return {false, message, data};
}
