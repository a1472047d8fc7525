#pragma once

#include <QString>
#include <QUrl>

// One row per family of identity-bound request: what each sends and may receive. Every
// header text of the account client is written once, here.
struct KRAccountRequestKind {
    QString name;               // "tv", "app", "web", "upload"
    QString userAgent;
    bool sendsReferer = false;  // the caller's referer, else the web root
    bool sendsOrigin = false;
    bool sendsFetchMetadata = false; // Sec-Fetch-Site/Mode/Dest
    bool sendsAcceptHeaders = false; // Accept, Accept-Language
    // The session cookie header (and the platform's cookie handling) when the caller asks
    // for the session and the address passes KRAccountMayCarrySessionCookieHeader.
    bool mayCarrySession = false;
    // The platform's cookie handling stays on even without the session (the upload).
    bool platformCookiesAlways = false;
    double timeoutSeconds = 20.0;
    qint64 maxBodyBytes = 8 * 1024 * 1024;
};

namespace KRAccountRequestKinds {
const KRAccountRequestKind& tv();
const KRAccountRequestKind& app();
const KRAccountRequestKind& web();
// The comment-picture upload: web headers without Accept or fetch metadata, 30 s.
const KRAccountRequestKind& upload();
// TV, App or Web by host (lower case) and path (exact, case-sensitive); TV wins.
const KRAccountRequestKind& forAddress(const QString& host, const QString& path);
QString webRootURL();  // "https://" + web host + "/"
QString webOrigin();   // "https://" + web host
// Tests: every row's time-out becomes this (0 or less restores the rows' own).
void setTimeoutForTesting(double seconds);
double effectiveTimeout(const KRAccountRequestKind& kind);
} // namespace KRAccountRequestKinds

// The session cookie travels only over https to the service's own domains: a foreign or
// clear-text address never receives the login.
bool KRAccountMayCarrySessionCookieHeader(const QUrl& url);
