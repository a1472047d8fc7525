#pragma once

#include <QByteArray>
#include <QString>

#include <curl/curl.h>
#include <openssl/types.h>

#include <memory>

namespace platform {

// Which authorities a connection trusts: libcurl's defaults, or the system's authorities
// plus the extra bundle of the test seam. One store is shared by every connection while the
// extra file stays the same. Shared by the HTTP exchange and the download connection.
class TrustStore {
public:
    // The trust for `extraCAFile`; an empty path means libcurl's default authorities.
    static TrustStore forExtraCAFile(const QString& extraCAFile);

    // Changes whenever the trusted set changes, so kept connections made under another set
    // are not reused.
    const QString& identity() const { return m_identity; }
    // Sets the handle's authorities (after a reset of the handle). Verification stays on.
    void applyTo(CURL* curl) const;

    // The system's authorities as one PEM bundle (empty when none is found), for TLS stacks
    // that take a file rather than a store.
    static QByteArray systemAuthoritiesPEM();

private:
    QString m_identity;
    std::shared_ptr<X509_STORE> m_store; // null: libcurl's default authorities
};

} // namespace platform
