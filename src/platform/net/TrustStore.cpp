#include "platform/net/TrustStore.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace platform {
namespace {

QByteArray systemCABundle()
{
    static const QByteArray bundle = [] {
        QStringList candidates;
        if (CURL* probe = curl_easy_init()) {
            char* path = nullptr;
            if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &path) == CURLE_OK && path)
                candidates.append(QString::fromLocal8Bit(path));
            curl_easy_cleanup(probe);
        }
        candidates << QStringLiteral("/etc/ssl/certs/ca-certificates.crt")
                   << QStringLiteral("/etc/pki/tls/certs/ca-bundle.crt");
        for (const QString& candidate : candidates) {
            QFile file(candidate);
            if (file.open(QIODevice::ReadOnly))
                return file.readAll();
        }
        return QByteArray();
    }();
    return bundle;
}

// The hashed directory of the system's authorities libcurl itself is built to use, if it is
// there: a store looks an authority up in it by name only when a chain needs it.
QByteArray systemCADirectory()
{
    static const QByteArray directory = [] {
        QByteArray found;
        if (CURL* probe = curl_easy_init()) {
            char* path = nullptr;
            if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &path) == CURLE_OK && path && QFileInfo(QString::fromLocal8Bit(path)).isDir())
                found = path;
            curl_easy_cleanup(probe);
        }
        return found;
    }();
    return directory;
}

std::vector<X509*> readCertificates(const QByteArray& pem)
{
    std::vector<X509*> certificates;
    BIO* bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    if (!bio)
        return certificates;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr))
        certificates.push_back(certificate);
    BIO_free(bio);
    ERR_clear_error(); // the end of the input reads as an error
    return certificates;
}

// Parsed once: the system bundle costs far more to parse than a whole loopback exchange.
const std::vector<X509*>& systemCertificates()
{
    static const std::vector<X509*> certificates = readCertificates(systemCABundle());
    return certificates;
}

CURLcode onSSLContext(CURL*, void* context, void* user)
{
    // Replaces the (empty) store libcurl made with the shared one; verification stays on.
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), static_cast<X509_STORE*>(user));
    return CURLE_OK;
}

// What the last extra file was built from. A version is the file's path, size and
// modification time to the nanosecond: a rewrite in place is seen even within a millisecond.
struct CachedTrust {
    QString path;
    QByteArray encodedPath;
    bool present = false;
    qint64 size = -1;
    qint64 modifiedNanoseconds = -1;
    TrustStore trust;
};

std::vector<X509*> readExtraCertificates(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? readCertificates(file.readAll()) : std::vector<X509*>();
}

} // namespace

TrustStore TrustStore::forExtraCAFile(const QString& extraCAFile)
{
    if (extraCAFile.isEmpty())
        return TrustStore();
    // Asked by every exchange: one stat of the file, and the store is built again only when
    // the file is another or has changed.
    static std::mutex mutex;
    static CachedTrust& cached = *new CachedTrust; // outlives every connection that still holds its store
    std::lock_guard lock(mutex);
    if (cached.path != extraCAFile) {
        cached.path = extraCAFile;
        cached.encodedPath = QFile::encodeName(extraCAFile);
        cached.present = false;
        cached.size = cached.modifiedNanoseconds = -1;
        cached.trust = TrustStore();
    }
    struct stat info {};
    const bool present = ::stat(cached.encodedPath.constData(), &info) == 0 && S_ISREG(info.st_mode);
    const qint64 size = present ? qint64(info.st_size) : -1;
    const qint64 modified = present ? qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec : -1;
    if (!cached.trust.m_identity.isEmpty() && present == cached.present && size == cached.size
        && modified == cached.modifiedNanoseconds)
        return cached.trust;

    TrustStore trust;
    cached.present = present;
    cached.size = size;
    cached.modifiedNanoseconds = modified;
    if (!present) {
        trust.m_identity = QStringLiteral("missing:") + extraCAFile;
        cached.trust = trust;
        return trust;
    }
    trust.m_identity = QStringLiteral("%1|%2|%3").arg(extraCAFile).arg(size).arg(modified);
    const std::vector<X509*> extra = readExtraCertificates(extraCAFile);
    if (!extra.empty()) {
        trust.m_store = std::shared_ptr<X509_STORE>(X509_STORE_new(), X509_STORE_free);
        X509_STORE* store = trust.m_store.get();
        X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
        // Parsing the whole system bundle costs tens of milliseconds, paid by the first
        // exchange of every start; the hashed directory is read only for what a chain asks.
        const QByteArray directory = systemCADirectory();
        if (directory.isEmpty() || X509_STORE_load_path(store, directory.constData()) != 1) {
            for (X509* certificate : systemCertificates())
                X509_STORE_add_cert(store, certificate);
        }
        for (X509* certificate : extra)
            X509_STORE_add_cert(store, certificate);
        ERR_clear_error();
    }
    for (X509* certificate : extra)
        X509_free(certificate);
    cached.trust = trust;
    return trust;
}

QByteArray TrustStore::systemAuthoritiesPEM()
{
    return systemCABundle();
}

void TrustStore::applyTo(CURL* curl) const
{
    if (!m_store)
        return;
    curl_easy_setopt(curl, CURLOPT_CAINFO, static_cast<char*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &onSSLContext);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, m_store.get());
}

} // namespace platform
