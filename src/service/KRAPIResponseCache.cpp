// The response cache: which replies are kept, and under which file name. Files hold the
// raw reply body and are read only when a later request for the same address fails.

#include "service/KRAPIResponseCache.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"

#include <QDir>
#include <QStringList>
#include <QUrl>

namespace {

// Cache files are the client's replies, which it caps at this size.
constexpr qint64 KRAPIMaximumCacheFileBytes = 32 * 1024 * 1024;

QString responseCacheDirectory()
{
    const QString directory = platform::Directories::caches() + QStringLiteral("/Korvane");
    QDir().mkpath(directory);
    return directory;
}

// The address without the web signature's "wts" and "w_rid": both change on every signing,
// so keeping them in the key would give every request a file of its own that is never read.
QString cacheKeyForURL(const QString& url)
{
    const qsizetype queryStart = url.indexOf(QLatin1Char('?'));
    if (queryStart < 0)
        return url;
    qsizetype fragmentStart = url.indexOf(QLatin1Char('#'), queryStart);
    if (fragmentStart < 0)
        fragmentStart = url.size();
    const QStringList items = url.mid(queryStart + 1, fragmentStart - queryStart - 1).split(QLatin1Char('&'));
    QStringList kept;
    kept.reserve(items.size());
    for (const QString& item : items) {
        const QStringView name = QStringView(item).left(item.indexOf(QLatin1Char('=')) < 0 ? item.size()
                                                                                        : item.indexOf(QLatin1Char('=')));
        if (name == QLatin1String("wts") || name == QLatin1String("w_rid"))
            continue;
        kept.append(item);
    }
    if (kept.size() == items.size())
        return url;
    QString key = url.left(queryStart);
    if (!kept.isEmpty())
        key += QLatin1Char('?') + kept.join(QLatin1Char('&'));
    return key + url.mid(fragmentStart);
}

bool pathEndsWithAny(const QString& path, std::initializer_list<const char*> suffixes)
{
    for (const char* suffix : suffixes) {
        if (path.endsWith(QLatin1String(suffix)))
            return true;
    }
    return false;
}

} // namespace

bool KRShouldCacheURL(const QString& url)
{
    return KRShouldCacheURL(QUrl(url));
}

bool KRShouldCacheURL(const QUrl& parsed)
{
    static const QString oldDomain = KRServiceHosts::oldDomain();
    static const QString apiHost = KRServiceHosts::apiHost();
    const QString host = parsed.host();
    const QString path = parsed.path();
    if (host.isEmpty() || path.isEmpty())
        return false;
    if (host.contains(oldDomain))
        return pathEndsWithAny(path, {"/list", "/search", "/view"});
    if (host != apiHost)
        return false;
    return pathEndsWithAny(path, {"/x/web-interface/view", "/x/web-interface/search/type",
                                  "/x/web-interface/wbi/search/type"});
}

QString KRCachePathForURL(const QString& url)
{
    quint32 hash = 5381;
    for (const char byte : cacheKeyForURL(url).toUtf8())
        hash = (hash * 33) ^ quint32(quint8(byte));
    return responseCacheDirectory() + QStringLiteral("/%1.json").arg(hash, 8, 16, QLatin1Char('0'));
}

std::optional<QByteArray> KRReadCachedReply(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    std::optional<QByteArray> data = platform::readFile(path, KRAPIMaximumCacheFileBytes);
    if (!data || data->isEmpty())
        return std::nullopt;
    return data;
}

void KRWriteCachedReply(const QString& path, const QByteArray& body)
{
    QString why;
    if (!platform::writeFileAtomically(path, body, &why))
        KRConsole::log(QStringLiteral("[Korvane] cache write failed error=%1").arg(why));
}
