#pragma once

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
// value is empty.
std::optional<platform::Cookie> KRSessionCookie(const QString& name, const QString& value);

// The cookie's property dictionary: "Name", "Value", "Domain", "Path", and when they apply
// "Expires" (a UTC date), "Secure" and "HttpOnly" (the text "TRUE").
QVariantMap KRSessionCookieProperties(const platform::Cookie& cookie);

// A cookie made from a property dictionary as written above; none when the name, the value
// or the domain is missing or not text. The path defaults to "/".
std::optional<platform::Cookie> KRSessionCookieFromProperties(const QVariantMap& properties);
