#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>

namespace platform {

// The error value every layer reports failures with: a string domain, an integer code,
// a user-facing message and optional context. Cheap to copy; an underlying error is
// shared, never owned twice.
class Error {
public:
    Error() = default;
    Error(QString domain, qint64 code, QString message, QVariantMap userInfo = {})
        : m_domain(std::move(domain)), m_code(code), m_message(std::move(message)), m_userInfo(std::move(userInfo)) {}

    const QString& domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    const QString& message() const { return m_message; }
    const QVariantMap& userInfo() const { return m_userInfo; }
    QVariantMap& userInfo() { return m_userInfo; }
    const Error* underlying() const { return m_underlying.get(); }

    Error& setUnderlying(const Error& error) { m_underlying = std::make_shared<Error>(error); return *this; }
    Error& setUserInfoValue(const QString& key, const QVariant& value) { m_userInfo.insert(key, value); return *this; }

    bool is(const QString& domain, qint64 code) const { return m_domain == domain && m_code == code; }
    // "domain(code): message", for logs; never carries a URL.
    QString description() const;
    // What a screen shows: the message, or a plain sentence when there is none; never the
    // domain and code, which mean nothing to a user.
    QString localizedDescription() const;

private:
    QString m_domain;
    qint64 m_code = 0;
    QString m_message;
    QVariantMap m_userInfo;
    std::shared_ptr<const Error> m_underlying;
};

} // namespace platform
