#pragma once

#include "platform/net/HTTPHeaders.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace platform {

// How the exchange follows a redirect: which answers redirect, how the method changes, and
// which hosts may still see the caller's credentials. Shared by the HTTP exchange and the download
// connection.
class RedirectPolicy {
public:
    static constexpr int kMaximumRedirects = 10;

    static bool isRedirect(int status);
    // 303 turns every method but HEAD into a body-less GET, 301 and 302 a POST; 307 and 308
    // keep the method and body.
    static void rewriteForNextHop(int status, QString& method, QByteArray& body, HTTPHeaders& headers);
    // The caller's own Cookie and Authorization fields go only to hosts of the original
    // host's registrable domain (its own subdomains and siblings), never across a public
    // suffix to another site, and never in clear text after an https start.
    static void dropCredentialsLeavingSite(const QUrl& original, const QUrl& next, HTTPHeaders& headers);
};

} // namespace platform
