// The TV QR-code login: the code fetch and the poll whose confirmed answer carries the app
// tokens and the web cookies.

#include "account/KRAccountClient.h"

#include "platform/foundation/ReplyOwner.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRSessionStore.h"

namespace {

QString passportURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::passportHost() + path; }

QVariantMap replyData(const QVariant& json)
{
    const QVariant data = json.toMap().value(QStringLiteral("data"));
    return KRIsDictionary(data) ? data.toMap() : QVariantMap();
}

} // namespace

QVariantMap KRAccountQRPollResult(const QVariant& json)
{
    const QVariantMap reply = json.toMap();
    QVariantMap result = replyData(json);
    const qint64 code = KRIsDictionary(json) ? KRIntegerValue(reply.value(QStringLiteral("code"))).value_or(0) : 0;
    result.insert(QStringLiteral("code"), code);
    if (KRIsString(reply.value(QStringLiteral("message"))))
        result.insert(QStringLiteral("message"), reply.value(QStringLiteral("message")));
    return result;
}

bool KRAccountQRPollIsWaiting(qint64 code) { return code == 86038 || code == 86039 || code == 86090 || code == 86101; }

void KRAccountClient::generateLoginQRCode(QObject* owner, KRAccountDictionaryCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QVariantMap parameters = KRAccountSignedAppParameters({{QStringLiteral("local_id"), QStringLiteral("0")}}, false);
    performURLString(passportURL(QStringLiteral("/x/passport-tv-login/qrcode/auth_code")), QStringLiteral("POST"), parameters,
                     false, owner,
                     [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         QVariantMap info = replyData(json);
                         const QVariant authCode = info.value(QStringLiteral("auth_code"));
                         if (KRIsString(authCode) && !authCode.toString().isEmpty())
                             info.insert(QStringLiteral("qrcode_key"), authCode.toString());
                         completion(info, error);
                     });
}

void KRAccountClient::pollLoginQRCodeKey(const QString& authCode, QObject* owner, KRAccountDictionaryCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QVariantMap parameters = KRAccountSignedAppParameters(
        {{QStringLiteral("auth_code"), authCode.isNull() ? QString(QLatin1String("")) : authCode},
         {QStringLiteral("local_id"), QStringLiteral("0")}},
        false);
    performURLString(passportURL(QStringLiteral("/x/passport-tv-login/qrcode/poll")), QStringLiteral("POST"), parameters,
                     false, owner,
                     [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         const QVariantMap result = KRAccountQRPollResult(json);
                         if (KRAccountQRPollIsWaiting(result.value(QStringLiteral("code")).toLongLong()))
                             return completion(result, std::nullopt);
                         // Only a reply the pipeline found sound is a confirmation: a network
                         // failure or an HTTP error must not be hidden behind a capture failure.
                         if (error)
                             return completion(result, error);
                         const QVariant data = json.toMap().value(QStringLiteral("data"));
                         if (!KRSessionStore::sharedStore().captureAppAuthenticationFromPayload(
                                 KRIsDictionary(data) ? data : QVariant()))
                             return completion(result, KRAccountError(-101, QStringLiteral("原生授权或登录 Cookie 没有写入，请刷新二维码重试")));
                         completion(result, std::nullopt);
                     });
}
