#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

namespace platform {

struct Cookie {
    QString name;
    QString value;
    // A leading "." marks a domain cookie (sent to the domain and its subdomains); without
    // it the cookie goes to that exact host only.
    QString domain;
    QString path = QStringLiteral("/");
    std::optional<QDateTime> expires = std::nullopt; // none: lives for the session
    bool secure = false;
    bool httpOnly = false;
    bool hostOnly = false;

    bool isExpired(const QDateTime& now) const { return expires && *expires <= now; }
    // Sent to the exact host only: set so, or a domain without a leading ".".
    bool isHostOnly() const { return hostOnly || !domain.startsWith(QLatin1Char('.')); }
};

// The process's cookie jar: in memory, for the session, safe from any thread.
class CookieStorage {
public:
    static CookieStorage& shared();

    CookieStorage() = default;
    CookieStorage(const CookieStorage&) = delete;
    CookieStorage& operator=(const CookieStorage&) = delete;

    // Every live cookie, oldest first.
    QList<Cookie> cookies() const;
    // The cookies an http(s) request to `url` carries: domain, path, secure and expiry
    // matched; longer paths first, then older first.
    QList<Cookie> cookiesForURL(const QString& url) const;
    // "a=1; b=2" for the cookies above; null when there are none.
    QString cookieHeaderForURL(const QString& url) const;

    // Replaces the cookie of the same name, domain and path; an expired one deletes it. A
    // cookie without a name or domain, or with a control character in its name, value, domain
    // or path, is refused.
    void setCookie(const Cookie& cookie);
    void deleteCookie(const Cookie& cookie);
    void deleteAll();
    // Stores each acceptable Set-Cookie value answered by `url`.
    void setCookiesFromResponse(const QStringList& setCookieHeaderValues, const QString& url);

    // Parses one Set-Cookie value as answered by `url`; none when the value is malformed (a
    // control character other than a tab anywhere in it included) or its Domain does not
    // cover the answering host.
    static std::optional<Cookie> parseSetCookie(const QString& headerValue, const QString& url);
    // Whether `text` can be a cookie's name or value (or domain, or path): RFC 6265 allows no
    // control character (U+0000–U+001F, U+007F) there, and one would break every Cookie
    // header it is sent in. Neither the parser nor the jar takes a cookie that fails it.
    static bool isValidNameOrValue(const QString& text);
    // The Set-Cookie date forms ("Wed, 21 Oct 2015 07:28:00 GMT" and the older variants);
    // invalid when unparsable.
    static QDateTime parseCookieDate(const QString& text);

private:
    struct Entry {
        Cookie cookie;
        quint64 creation = 0;
    };
    void purgeExpiredLocked(const QDateTime& now) const;

    mutable std::mutex m_mutex;
    mutable QList<Entry> m_entries;
    quint64 m_nextCreation = 0;
};

} // namespace platform
