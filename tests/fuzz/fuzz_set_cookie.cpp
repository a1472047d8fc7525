// Set-Cookie parsing: the first line is the answering URL, the rest the header value. A
// cookie accepted from a host is never one for another host.
#include "FuzzInput.h"

#include "platform/net/CookieStorage.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const qsizetype newline = input.indexOf('\n');
    const QString url = QString::fromUtf8(newline < 0 ? input : input.left(newline));
    const QString header = newline < 0 ? QString() : QString::fromUtf8(input.mid(newline + 1));

    platform::CookieStorage::parseCookieDate(header);
    const std::optional<platform::Cookie> cookie = platform::CookieStorage::parseSetCookie(header, url);
    if (!cookie)
        return 0;
    // The jar keeps domains in their ASCII (punycode) form.
    const QString host = QUrl(url).host(QUrl::EncodeUnicode).toLower();
    QString domain = cookie->domain.toLower();
    if (domain.startsWith(u'.'))
        domain.remove(0, 1);
    fuzz::check(!domain.isEmpty(), "an accepted cookie has a domain");
    fuzz::check(host == domain || host.endsWith(u'.' + domain), "a host sets cookies only for itself or its parents");

    // The jar takes it and gives it back to the host that set it, unless it has expired.
    platform::CookieStorage jar;
    jar.setCookie(*cookie);
    fuzz::check(jar.cookies().size() <= 1, "one cookie stored at most");
    return 0;
}
