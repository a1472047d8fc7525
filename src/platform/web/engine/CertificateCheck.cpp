#include "platform/web/engine/CertificateCheck.h"

#include <QFile>

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace platform::web {

namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct ContextFree {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackFree {
    void operator()(STACK_OF(X509)* stack) const { sk_X509_pop_free(stack, X509_free); }
};

std::unique_ptr<X509, X509Free> fromDER(const QByteArray& der)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.constData());
    return std::unique_ptr<X509, X509Free>(d2i_X509(nullptr, &bytes, der.size()));
}

} // namespace

bool CertificateCheck::verifiesAgainst(const QString& caFile, const QList<QSslCertificate>& chain, const QString& host)
{
    if (caFile.isEmpty() || chain.isEmpty() || host.isEmpty())
        return false;
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    if (!store || X509_STORE_load_file(store.get(), QFile::encodeName(caFile).constData()) != 1)
        return false;
    auto leaf = fromDER(chain.first().toDer());
    std::unique_ptr<STACK_OF(X509), StackFree> intermediates(sk_X509_new_null());
    if (!leaf || !intermediates)
        return false;
    for (qsizetype i = 1; i < chain.size(); ++i) {
        auto certificate = fromDER(chain.at(i).toDer());
        if (!certificate || !sk_X509_push(intermediates.get(), certificate.get()))
            return false;
        certificate.release();
    }
    std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), intermediates.get()) != 1)
        return false;
    const QByteArray name = host.toUtf8();
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    const bool isAddress = X509_VERIFY_PARAM_set1_ip_asc(parameters, name.constData()) == 1;
    if (!isAddress && X509_VERIFY_PARAM_set1_host(parameters, name.constData(), size_t(name.size())) != 1)
        return false;
    return X509_verify_cert(context.get()) == 1;
}

} // namespace platform::web
