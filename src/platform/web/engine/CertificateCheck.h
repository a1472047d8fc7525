#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

namespace platform::web {

// The web engine trusts only the system's authorities; the network seam's extra bundle is
// honoured by accepting, one error at a time, a chain that verifies against it in full.
class CertificateCheck {
public:
    // Whether `chain` (leaf first) verifies against the authorities in `caFile` alone, dates
    // and `host` name included.
    static bool verifiesAgainst(const QString& caFile, const QList<QSslCertificate>& chain, const QString& host);
};

} // namespace platform::web
