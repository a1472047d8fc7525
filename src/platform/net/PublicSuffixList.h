#pragma once

#include <QString>

namespace platform {

// Where one site ends and the next begins, from the public-suffix list: the system's copy
// when it is newer than the library's built-in one. Host names are given in lower case and
// ASCII form, as QUrl::host(QUrl::FullyEncoded) gives them. Names under a top-level domain
// the list does not know count as registrable one label below it ("zantorel.test").
class PublicSuffixList {
public:
    // "com", "co.uk", "test", "localhost"; never an IP address. Without a list every name
    // counts as one.
    static bool isPublicSuffix(const QString& host);
    // The public suffix and one label more: "zantorel.test" for "api.zantorel.test". Null
    // for a public suffix itself and for an IP address.
    static QString registrableDomain(const QString& host);
    // The same host, or two hosts under one registrable domain.
    static bool sameSite(const QString& host, const QString& otherHost);
    static bool isIPAddress(const QString& host);
};

} // namespace platform
