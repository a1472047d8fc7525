#include "support/ServiceSignatures.h"

#include <QCryptographicHash>
#include <QStringList>

namespace testsupport {
namespace {

QString md5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

bool keysSortedAndUnique(const QString& rawQuery, QString* why)
{
    QString previous;
    bool first = true;
    for (const QString& pair : rawQuery.split(QLatin1Char('&'))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        if (!first && !(previous < key))
            return fail(why, QStringLiteral("keys out of order or repeated at %1").arg(key));
        previous = key;
        first = false;
    }
    return true;
}

FakeReply refused(const QString& why)
{
    FakeReply reply = FakeReply::json(QVariantMap{{QStringLiteral("code"), -403},
                                                  {QStringLiteral("message"), QStringLiteral("bad signature: ") + why}});
    reply.status = 403;
    return reply;
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
    service.route(QStringLiteral("*"), QStringLiteral("/x/web-interface/nav"),
                  [reply](const FakeRequest&) { return FakeReply::json(reply); });
}

QString queryWithout(const QString& rawQuery, const QString& name, QString* removedValue)
{
    QStringList kept;
    for (const QString& pair : rawQuery.split(QLatin1Char('&'))) {
        if (pair.section(QLatin1Char('='), 0, 0) == name) {
            if (removedValue)
                *removedValue = pair.section(QLatin1Char('='), 1);
            continue;
        }
        kept.append(pair);
    }
    return kept.join(QLatin1Char('&'));
}

bool verifyAppSignature(const FakeRequest& request, const QString& appSecret, QString* why)
{
    if (!keysSortedAndUnique(request.query, why))
        return false;
    QString sign;
    const QString rest = queryWithout(request.query, QStringLiteral("sign"), &sign);
    if (sign.isEmpty())
        return fail(why, QStringLiteral("no sign"));
    if (request.queryValue(QStringLiteral("appkey")).isEmpty() || request.queryValue(QStringLiteral("ts")).isEmpty())
        return fail(why, QStringLiteral("appkey or ts missing"));
    if (md5(rest + appSecret) != sign)
        return fail(why, QStringLiteral("sign mismatch"));
    return true;
}

bool verifyWBISignature(const FakeRequest& request, const QString& mixinKey, QString* why)
{
    if (!keysSortedAndUnique(request.query, why))
        return false;
    QString rid;
    const QString rest = queryWithout(request.query, QStringLiteral("w_rid"), &rid);
    if (rid.isEmpty())
        return fail(why, QStringLiteral("no w_rid"));
    if (request.queryValue(QStringLiteral("wts")).isEmpty())
        return fail(why, QStringLiteral("no wts"));
    for (const auto& item : request.queryItems) {
        for (const QChar c : QStringLiteral("!'()*")) {
            if (item.second.contains(c))
                return fail(why, QStringLiteral("forbidden character in %1").arg(item.first));
        }
    }
    if (md5(rest + mixinKey) != rid)
        return fail(why, QStringLiteral("w_rid mismatch"));
    return true;
}

void routeAppSigned(FakeService& service, const QString& host, const QString& path, const QString& appSecret,
                    const FakeReply& reply)
{
    service.route(host, path, [appSecret, reply](const FakeRequest& request) {
        QString why;
        return verifyAppSignature(request, appSecret, &why) ? reply : refused(why);
    });
}

void routeWBISigned(FakeService& service, const QString& host, const QString& path, const QString& mixinKey,
                    const FakeReply& reply)
{
    service.route(host, path, [mixinKey, reply](const FakeRequest& request) {
        QString why;
        return verifyWBISignature(request, mixinKey, &why) ? reply : refused(why);
    });
}

} // namespace testsupport
