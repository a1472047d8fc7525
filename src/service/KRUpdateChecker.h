#pragma once

#include "model/KRError.h"

#include <QByteArray>
#include <QObject>

#include <optional>

// Reads the signed release manifest from the maker's host when the application asks for it.
// One check at a time: asking while one runs does nothing, so callers may ask as often as
// they like. Only a 200 answer within the size limit counts as a manifest; its verification
// and what it offers the user are not part of this build. Main thread only.
class KRUpdateChecker : public QObject {
    Q_OBJECT
public:
    static KRUpdateChecker* sharedChecker();
    // The manifest's address: "/tarnwick-api/releases/ios/latest.json" on the maker's host.
    static QString manifestAddress();

    void checkForUpdates();
    bool isChecking() const { return m_checking; }

    // The body of the last manifest read, empty before one; the error of the last check that
    // brought none (a transport error, or any status but 200), empty after one that did.
    std::optional<QByteArray> lastManifestBody() const { return m_lastBody; }
    KROptionalError lastError() const { return m_lastError; }

    void resetForTesting();

Q_SIGNALS:
    // After each check, successful or not.
    void checkFinished();

private:
    KRUpdateChecker() = default;
    void finish(int status, const QByteArray& body, const KROptionalError& error);

    bool m_checking = false;
    std::optional<QByteArray> m_lastBody;
    KROptionalError m_lastError;
};
