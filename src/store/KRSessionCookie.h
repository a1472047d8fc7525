#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace platform {
struct Cookie;
}

// Cookie helpers of the session store: which cookies are the service's, the cookies the
// store makes itself, and the property dictionaries cookies are kept in inside the keychain.

// Name of the short-lived captcha cookie; never persisted, never restored.
inline const QString KRSessionGaiaCookieName = QStringLiteral("x-zant-gaia-vtoken");

// "." followed by the service's main domain: the domain of every cookie the store makes.
QString KRSessionCookieDomain();

// Whether a cookie lies under the service's main or old domain (a cookie without a domain
// does not).
bool KRSessionCookieBelongsToZantorel(const platform::Cookie& cookie);

// A session cookie (no expiry) for the main domain and path "/"; none when the name or the
// value is empty or holds a control character.
std::optional<platform::Cookie> KRSessionCookie(const QString& name, const QString& value);

// The cookie's property dictionary: "Name", "Value", "Domain", "Path", and when they apply
// "Expires" (a UTC date), "Secure" and "HttpOnly" (the text "TRUE").
QVariantMap KRSessionCookieProperties(const platform::Cookie& cookie);

// A cookie made from a property dictionary as written above; none when the name, the value
// or the domain is missing or not text, or the name or value holds a control character. The
// path defaults to "/".
std::optional<platform::Cookie> KRSessionCookieFromProperties(const QVariantMap& properties);

// A cookie's keychain form: its properties, the expiry held at the latest date a property list
// can store; none when the cookie cannot be stored at all.
std::optional<QVariantMap> KRSessionCookieStorableProperties(const platform::Cookie& cookie);

// Cookies by name (a later one of the same name replaces an earlier one).
using KRSessionCookieMap = QMap<QString, platform::Cookie>;

// The service's cookies among `cookies`, by name.
KRSessionCookieMap KRSessionServiceCookiesByName(const QList<platform::Cookie>& cookies);

// The cookies of a login or refresh reply ("cookie_info": "cookies" and "domains"), all under
// one service domain; entries without a text name and value, or with a control character in
// either, are skipped. Expiries up to
// 999999999 count as seconds after `now` (Unix seconds), larger ones as Unix times.
KRSessionCookieMap KRSessionCookiesFromLoginPayload(const QVariantMap& payload, double now);

// A UTC date from Unix seconds, clamped to what dates can hold.
QDateTime KRSessionDateFromUnix(double seconds);

// The service's unexpired captcha cookies in the shared cookie storage.
QList<platform::Cookie> KRSessionSharedGaiaCookies(const QDateTime& now);

// Takes the store's old cookies out of the shared cookie storage and puts the new ones in.
void KRSessionInstallSharedCookies(const QList<platform::Cookie>& oldCookies, const QList<platform::Cookie>& newCookies);
