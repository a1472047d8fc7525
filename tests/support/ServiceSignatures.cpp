#include "support/ServiceSignatures.h"

#include <QCryptographicHash>
#include <QStringList>

namespace testsupport {
namespace {

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

// The check both signatures share: keys sorted and unique, the named fields present, and
// the digest field equal to the MD5 of the rest of the raw query followed by the secret.
bool verifyDigest(const FakeRequest& request, const QString& digestName, const QStringList& required, const QString& secret,
                  QString* why)
{
    QString previous;
    QStringList rest;
    QString digest;
    for (const QString& pair : request.query.split(QLatin1Char('&'))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        if (!previous.isNull() && !(previous < key))
            return fail(why, QStringLiteral("keys out of order or repeated at %1").arg(key));
        previous = key;
        if (key == digestName)
            digest = pair.section(QLatin1Char('='), 1);
        else
            rest.append(pair);
    }
    for (const QString& name : required) {
        if (request.queryValue(name).isEmpty())
            return fail(why, name + QStringLiteral(" missing"));
    }
    const QByteArray expected = QCryptographicHash::hash((rest.join(QLatin1Char('&')) + secret).toUtf8(), QCryptographicHash::Md5).toHex();
    if (digest.isEmpty() || digest != QString::fromLatin1(expected))
        return fail(why, digestName + QStringLiteral(" mismatch"));
    return true;
}

FakeService::Handler checked(std::function<bool(const FakeRequest&, QString*)> verify, FakeService::Handler handler)
{
    return [verify, handler](const FakeRequest& request) {
        QString why;
        if (verify(request, &why))
            return handler(request);
        return FakeReply::json(QVariantMap{{QStringLiteral("code"), -403}, {QStringLiteral("message"), QStringLiteral("bad signature: ") + why}},
                               403);
    };
}

bool verifyWBISignature(const FakeRequest& request, const QString& mixinKey, QString* why)
{
    for (const auto& item : request.queryItems) {
        for (const QChar c : QStringLiteral("!'()*")) {
            if (item.second.contains(c))
                return fail(why, QStringLiteral("forbidden character in %1").arg(item.first));
        }
    }
    return verifyDigest(request, QStringLiteral("w_rid"), {QStringLiteral("wts")}, mixinKey, why);
}

} // namespace

QString fixtureWBIImageKey() { return QStringLiteral("b7320271b9a0c4bed1b521a4b6b1f55e"); }
QString fixtureWBISubKey() { return QStringLiteral("7e5e51c3f0e0a4fd5e679dd395eac882"); }
QString fixtureWBIMixinKey() { return QStringLiteral("fdb3db47e6aee24e102ee9e55fb3cc04"); }

QVariantMap navigationReplyWithImages(const QString& imageKey, const QString& subKey, int code)
{
    const QString base = QStringLiteral("https://i0.img.test/bfs/wbi/");
    QVariantMap images{{QStringLiteral("img_url"), base + imageKey + QStringLiteral(".png")},
                       {QStringLiteral("sub_url"), base + subKey + QStringLiteral(".png")}};
    return {{QStringLiteral("code"), code},
            {QStringLiteral("message"), code == 0 ? QStringLiteral("0") : QStringLiteral("账号未登录")},
            {QStringLiteral("data"), QVariantMap{{QStringLiteral("isLogin"), false}, {QStringLiteral("wbi_img"), images}}}};
}

void routeNavigationFixture(FakeService& service)
{
    const QVariantMap reply = navigationReplyWithImages(fixtureWBIImageKey(), fixtureWBISubKey(), -101);
    service.route(QStringLiteral("*"), QStringLiteral("/x/web-interface/nav"), [reply](const FakeRequest&) { return FakeReply::json(reply); });
}

bool verifyAppSignature(const FakeRequest& request, const QString& appSecret, QString* why)
{
    return verifyDigest(request, QStringLiteral("sign"), {QStringLiteral("appkey"), QStringLiteral("ts")}, appSecret, why);
}

FakeService::Handler appSigned(const QString& appSecret, FakeService::Handler handler)
{
    return checked([appSecret](const FakeRequest& request, QString* why) { return verifyAppSignature(request, appSecret, why); },
                   std::move(handler));
}

FakeService::Handler wbiSigned(const QString& mixinKey, FakeService::Handler handler)
{
    return checked([mixinKey](const FakeRequest& request, QString* why) { return verifyWBISignature(request, mixinKey, why); },
                   std::move(handler));
}

} // namespace testsupport
