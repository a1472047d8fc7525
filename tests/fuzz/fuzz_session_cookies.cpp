// The session store's cookie handling without the store: the cookies of a login reply (a
// JSON body), or of Set-Cookie lines, picked, kept in the keychain form and read back.
#include "PropertyListCheck.h"

#include "model/KRJSON.h"
#include "platform/net/CookieStorage.h"
#include "model/KRServiceHosts.h"
#include "store/KRSessionCookie.h"

#include <QStringList>

namespace {

void checkKeptAndRestored(const platform::Cookie& cookie)
{
    const std::optional<QVariantMap> stored = KRSessionCookieStorableProperties(cookie);
    if (!stored)
        return;
    fuzz::check(platform::PropertyList::isRepresentable(*stored), "a storable cookie fits a property list");
    const std::optional<platform::Cookie> restored = KRSessionCookieFromProperties(*stored);
    fuzz::check(restored.has_value(), "a stored cookie is restored");
    fuzz::check(restored->name == cookie.name && restored->value == cookie.value && restored->domain == cookie.domain,
                "a restored cookie is the one stored");
    const QVariant reread = platform::PropertyList::parse(platform::PropertyList::toBinary(*stored));
    fuzz::check(reread.isValid(), "a stored cookie reads back from the keychain form");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray input = fuzz::bytes(data + 1, size - 1);
    if (data[0] & 1) {
        // A login or refresh reply.
        const QVariant payload = KRJSONParse(input);
        const KRSessionCookieMap cookies = KRSessionCookiesFromLoginPayload(payload.toMap(), 1700000000.0);
        for (auto it = cookies.cbegin(); it != cookies.cend(); ++it) {
            fuzz::check(it.key() == it->name, "cookies are kept by their names");
            fuzz::check(KRSessionCookieBelongsToZantorel(*it), "a login reply's cookies are the service's");
            checkKeptAndRestored(*it);
        }
        return 0;
    }
    // Set-Cookie lines answered by the service's own host.
    const QString url = QStringLiteral("https://%1/login").arg(KRServiceHosts::passportHost());
    QList<platform::Cookie> parsed;
    for (const QByteArray& line : input.split('\n')) {
        if (auto cookie = platform::CookieStorage::parseSetCookie(QString::fromUtf8(line), url))
            parsed.append(*cookie);
    }
    const KRSessionCookieMap picked = KRSessionServiceCookiesByName(parsed);
    for (auto it = picked.cbegin(); it != picked.cend(); ++it) {
        fuzz::check(KRSessionCookieBelongsToZantorel(*it), "only the service's cookies are picked");
        checkKeptAndRestored(*it);
    }
    return 0;
}
