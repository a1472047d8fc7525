#include "platform/web/WebEngineLibrary.h"

#include "platform/net/ConnectToFence.h"
#include "platform/net/NetworkSeams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace platform::web {

namespace {

QStringList& privateSchemes()
{
    static QStringList schemes;
    return schemes;
}

// The network seams, as the engine module asks for them.
class SeamsHost final : public WebEngine::Host {
public:
    bool hasConnectToEntries() const override { return !NetworkSeams::connectTo().isEmpty(); }

    std::optional<std::pair<QString, int>> connectTarget(const QString& host, int port) const override
    {
        const ConnectToFence fence(NetworkSeams::connectTo());
        if (!fence.allows(host, port))
            return std::nullopt;
        return fence.connectTarget(host, port).value_or(std::pair<QString, int>(host, port));
    }

    QString extraCAFile() const override { return NetworkSeams::extraCAFile(); }
};

WebEngine* open()
{
    for (const QString& path : WebEngineLibrary::moduleCandidates()) {
        if (!QFileInfo::exists(path))
            continue;
        // Kept loaded for the process's life: the engine's threads and objects outlive any view.
        static QLibrary library;
        library.setFileName(path);
        if (!library.load()) {
            qWarning("[Korvane] web-engine-load-failed: %s", qUtf8Printable(library.errorString()));
            return nullptr;
        }
        const auto entry = reinterpret_cast<WebEngineOpenFunction>(library.resolve(kWebEngineOpenSymbol));
        if (!entry) {
            qWarning("[Korvane] web-engine-entry-missing");
            return nullptr;
        }
        static SeamsHost host;
        return entry(&host, privateSchemes());
    }
    qWarning("[Korvane] web-engine-missing");
    return nullptr;
}

} // namespace

void WebEngineLibrary::registerPrivateSchemes(const QStringList& schemes)
{
    for (const QString& name : schemes) {
        const QString lower = name.toLower();
        if (!lower.isEmpty() && !privateSchemes().contains(lower))
            privateSchemes().append(lower);
    }
}

bool WebEngineLibrary::isPrivateScheme(const QString& scheme) { return privateSchemes().contains(scheme.toLower()); }

WebEngine* WebEngineLibrary::shared()
{
    static WebEngine* const engine = open();
    return engine;
}

QStringList WebEngineLibrary::moduleCandidates()
{
    const QString name = QStringLiteral(KORVANE_WEB_ENGINE_MODULE_NAME);
    const QDir executable(QCoreApplication::applicationDirPath());
    return {executable.filePath(name), executable.filePath(QStringLiteral("../lib/korvane/") + name),
            QStringLiteral(KORVANE_WEB_ENGINE_MODULE_BUILT)};
}

} // namespace platform::web
