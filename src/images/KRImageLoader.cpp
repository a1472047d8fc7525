#include "images/KRImageLoader.h"

#include "images/KRImageMemoryCache.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/OwnedWork.h"
#include "platform/foundation/ReplyOwner.h"
#include "platform/uikit/Application.h"
#include "service/KRAsyncRequest.h"
#include "service/KRRequestPipeline.h"
#include "store/KRPreferences.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QHash>
#include <QImageReader>
#include <QList>
#include <QUrl>

#include <mutex>

using platform::uikit::Image;

namespace {

const QString kFileScheme = QStringLiteral("file://");
const QString kHTTPS = QStringLiteral("https://");
const QString kHTTP = QStringLiteral("http://");

// The largest body or file read as a picture: full-size pictures are a few MiB.
constexpr qint64 kMaxImageBytes = 32 * 1024 * 1024;
// The largest decoded bitmap: a hostile header may announce a picture of gigabytes.
constexpr int kMaxDecodedMiB = 256;
constexpr qint64 kMaxDecodedBytes = qint64(kMaxDecodedMiB) * 1024 * 1024;

const QString kAvatarSuffix = QStringLiteral("@64w_64h_1c_75q.jpg");
const QString kDynamicThumbnailSuffix = QStringLiteral("@160w_160h_1c_75q.jpg");
const QString kDynamicFullSuffix = QStringLiteral("@960w_90q.jpg");

QString coverThumbnailSuffix(bool a4)
{
    return a4 ? QStringLiteral("@256w_156h_1c_80q.jpg") : QStringLiteral("@336w_204h_1c_90q.jpg");
}

QString portraitSuffix(bool a4)
{
    return a4 ? QStringLiteral("@256w_341h_1c_80q.jpg") : QStringLiteral("@336w_448h_1c_90q.jpg");
}

QString highResolutionSuffix(bool a4)
{
    if (!a4)
        return QStringLiteral("@960w_540h_1c_90q.jpg");
    return platform::DeviceProfile::isPad() ? QStringLiteral("@768w_432h_1c_80q.jpg") : QStringLiteral("@640w_360h_1c_80q.jpg");
}

bool isDynamicPicturePath(const QString& path)
{
    return path.contains(QLatin1String("/new_dyn/")) || path.contains(QLatin1String("/dynamic/"))
        || path.contains(QLatin1String("/draw/"));
}

// The host as the address writes it: a parsed host comes lower-cased.
QString writtenHost(const QString& address)
{
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    const qsizetype start = scheme >= 0 ? scheme + 3 : (address.startsWith(QLatin1String("//")) ? 2 : -1);
    if (start < 0)
        return QString();
    qsizetype end = start;
    while (end < address.size() && !QStringView(u"/?#").contains(address.at(end)))
        ++end;
    QStringView authority = QStringView(address).sliced(start, end - start);
    if (const qsizetype user = authority.lastIndexOf(QLatin1Char('@')); user >= 0)
        authority = authority.sliced(user + 1);
    if (const qsizetype port = authority.lastIndexOf(QLatin1Char(':')); port >= 0 && !authority.sliced(port).contains(QLatin1Char(']')))
        authority = authority.first(port);
    return authority.toString();
}

// The path of a CDN address, when it has a host and a path and the host, as written, is on the
// primary domain: a host written in capitals is not taken for the CDN's, and its picture is
// loaded at its own address.
bool parseCDNAddress(const QString& address, QString* path)
{
    const QUrl url(address);
    if (url.host().isEmpty() || url.path().isEmpty() || !writtenHost(address).contains(KRServiceHosts::imagePrimaryDomain()))
        return false;
    *path = url.path();
    return true;
}

// The address the thumbnail of a picture is loaded from.
QString thumbnailAddress(const QString& normalized, bool a4)
{
    if (normalized.startsWith(kFileScheme))
        return normalized;
    const QString base = KRBaseZantorelImageURLString(normalized);
    QString path;
    if (!parseCDNAddress(base, &path))
        return normalized;
    if (!KRImagePathCanBeConvertedToJPEG(path) || path.contains(QLatin1String("/emote/")))
        return base;
    if (path.contains(QLatin1String("/face/")))
        return base + kAvatarSuffix;
    if (isDynamicPicturePath(path))
        return base + kDynamicThumbnailSuffix;
    return base + coverThumbnailSuffix(a4);
}


std::optional<QByteArray> readImageFile(const QString& path)
{
    return platform::readFile(path, kMaxImageBytes);
}

bool isSuccessStatus(int status) { return status >= 200 && status < 300; }

} // namespace

QImage KRDecodedImage(const QByteArray& data)
{
    if (data.isEmpty() || data.size() > kMaxImageBytes)
        return QImage();
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize announced = reader.size();
    if (announced.isValid() && qint64(announced.width()) * announced.height() * 4 > kMaxDecodedBytes)
        return QImage();
    QImage image;
    if (!reader.read(&image))
        return QImage();
    return image;
}

QString KRNormalizedImageURLString(const QString& address)
{
    if (address.isEmpty())
        return QString();
    const QString trimmed = address.trimmed();
    if (trimmed.startsWith(kFileScheme))
        return trimmed;
    if (trimmed.startsWith(QLatin1String("//")))
        return (KRImageUsesLegacyHTTP() ? QStringLiteral("http:") : QStringLiteral("https:")) + trimmed;
    if (trimmed.startsWith(kHTTPS) && KRImageUsesLegacyHTTP())
        return kHTTP + trimmed.mid(kHTTPS.size());
    if (trimmed.startsWith(kHTTP) && !KRImageUsesLegacyHTTP() && KRImageHostSupportsHTTPS(QUrl(trimmed).host()))
        return kHTTPS + trimmed.mid(kHTTP.size());
    return trimmed;
}

bool KRImageUsesLegacyHTTP()
{
    // The integer value of the first component, minus one, compared unsigned: 0 wraps round.
    const int major = platform::DeviceProfile::systemMajorVersion();
    return quint32(major - 1) < 8u;
}

bool KRImageHostSupportsHTTPS(const QString& host)
{
    const QString lower = host.toLower();
    if (lower.isEmpty())
        return false;
    for (const QString& domain : {KRServiceHosts::imagePrimaryDomain(), KRServiceHosts::imageAlternateDomain()}) {
        if (lower == domain || lower.endsWith(QLatin1Char('.') + domain))
            return true;
    }
    return false;
}

QString KRBaseZantorelImageURLString(const QString& address)
{
    if (address.isNull() || address.startsWith(kFileScheme))
        return address;
    const QUrl url(address);
    if (url.host().isEmpty() || !url.host().toLower().contains(KRServiceHosts::imagePrimaryDomain()))
        return address;
    QString base = address;
    const qsizetype hash = base.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        base.truncate(hash);
    const qsizetype query = base.indexOf(QLatin1Char('?'));
    if (query >= 0)
        base.truncate(query);
    const qsizetype at = base.lastIndexOf(QLatin1Char('@'));
    const qsizetype scheme = base.indexOf(QLatin1String("://"));
    const qsizetype afterScheme = scheme >= 0 ? scheme + 3 : 0;
    if (at >= 0 && at > afterScheme)
        base.truncate(at);
    return base;
}

bool KRImagePathCanBeConvertedToJPEG(const QString& path)
{
    const QString lower = path.toLower();
    for (const char* extension : {".jpg", ".jpeg", ".png", ".webp", ".avif"}) {
        if (lower.endsWith(QLatin1String(extension)))
            return true;
    }
    return false;
}

QString KRZantorelJPEGURLString(const QString& address, const QString& suffix)
{
    const QString base = KRBaseZantorelImageURLString(address);
    if (base.startsWith(kFileScheme))
        return base;
    const QUrl url(base);
    if (url.host().isEmpty() || url.path().isEmpty() || !url.host().toLower().contains(KRServiceHosts::imagePrimaryDomain()))
        return address;
    if (!KRImagePathCanBeConvertedToJPEG(url.path()))
        return base;
    return base + suffix;
}

namespace {

// The disk cache's folder, worked out again only when the home changes: every cover shown asks
// for its file, and the caches folder is made (a few system calls) each time it is worked out.
// The folder itself is made by the first write into it.
QString imageCacheFolder()
{
    struct Kept {
        std::mutex mutex;
        QString home;
        QString folder;
    };
    static Kept* kept = new Kept; // never destroyed: the shared loader's last downloads end at exit
    const QString home = platform::Directories::homePath();
    std::lock_guard lock(kept->mutex);
    if (kept->folder.isNull() || kept->home != home) {
        kept->folder = platform::Directories::caches() + QStringLiteral("/Korvane/Images");
        kept->home = home;
    }
    return kept->folder;
}

} // namespace

QString KRImageDiskCachePathForURLString(const QString& finalAddress)
{
    quint32 hash = 5381;
    for (const char byte : finalAddress.toUtf8())
        hash = (hash * 33) ^ quint32(quint8(byte));
    return imageCacheFolder() + QLatin1Char('/') + QStringLiteral("%1.jpg").arg(hash, 8, 16, QLatin1Char('0'));
}

// What the loader shares with its operations, which may outlive it on a worker.
struct KRImageLoader::State {
    explicit State(bool a4)
        : a4(a4)
        , memoryCache(a4 ? 18 : 40, a4 ? 6291456 : 14680064)
    {
    }

    const bool a4;
    KRImageMemoryCache memoryCache;
    std::mutex pendingMutex;
    QHash<QString, QList<Completion>> pending;

    // Off the main thread: the picture at the final address, and whether it may be kept.
    struct Result {
        QImage image;
        bool keep = true;
    };
    Result load(const QString& address) const;
    // Off the main thread: the picture as every waiter gets it, kept in memory where it may be.
    Image download(const QString& address, bool memoryCaching);
    // On the main thread: the picture to everyone who waits for that address.
    void deliver(const QString& address, const Image& image);
};

KRImageLoader::State::Result KRImageLoader::State::load(const QString& address) const
{
    if (address.startsWith(kFileScheme)) {
        const std::optional<QByteArray> data = readImageFile(QUrl(address).toLocalFile());
        Result result{data ? KRDecodedImage(*data) : QImage(), true};
        if (!(a4 && !result.image.isNull())) {
            KRConsole::log(QStringLiteral("[KorvaneImage] offline cover %1 image=%2")
                               .arg(address, KRConsole::boolean(!result.image.isNull())));
        }
        return result;
    }

    const QString cachePath = KRImageDiskCachePathForURLString(address);
    if (const std::optional<QByteArray> cached = readImageFile(cachePath)) {
        const QImage image = KRDecodedImage(*cached);
        if (!image.isNull()) {
            if (!a4)
                KRConsole::log(QStringLiteral("[KorvaneImage] disk cache hit %1").arg(address));
            return Result{image, true};
        }
    }

    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return Result{QImage(), false};
    const platform::HTTPResponse response = KRRequestPipeline::perform(KRRequestKind::Image, KRRequestAddress(address, url));
    // A body cut short or refused as too large is no picture, whatever a prefix decodes as.
    const QImage image = response.error ? QImage() : KRDecodedImage(response.body);
    // An error answer may carry a picture ("not found" art): it is shown for this load only,
    // since neither cache ever expires what it holds.
    const bool keep = isSuccessStatus(response.status);
    if (!image.isNull() && keep)
        platform::writeFileAtomically(cachePath, response.body); // a failed write only costs a later download
    if (!(a4 && !image.isNull() && !response.error)) {
        KRConsole::log(QStringLiteral("[KorvaneImage] url=%1 bytes=%2 status=%3 error=%4 image=%5")
                           .arg(address)
                           .arg(response.body.size())
                           .arg(response.status)
                           .arg(KRConsole::object(response.error ? response.error->description() : QString()),
                                KRConsole::boolean(!image.isNull())));
    }
    return Result{image, keep};
}

Image KRImageLoader::State::download(const QString& address, bool memoryCaching)
{
    Result result = load(address);
    if (!result.image.isNull() && memoryCaching && result.keep) {
        if (a4) {
            // Old devices keep a bitmap the painter draws as it is, so that a scrolling list
            // neither decodes nor converts. A JPEG decodes straight into one; only other kinds
            // (indexed, grey, alpha not premultiplied) are converted, once, here.
            const QImage::Format drawn =
                result.image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
            if (result.image.format() != drawn) {
                QImage converted = result.image.convertToFormat(drawn);
                if (!converted.isNull())
                    result.image = std::move(converted);
            }
        }
        memoryCache.setObject(address, result.image);
    }
    return Image(result.image);
}

void KRImageLoader::State::deliver(const QString& address, const Image& image)
{
    QList<Completion> callbacks;
    {
        std::lock_guard lock(pendingMutex);
        callbacks = pending.take(address);
    }
    for (const Completion& callback : callbacks)
        callback(image);
}

KRImageLoader* KRImageLoader::sharedLoader()
{
    static KRImageLoader* loader = [] {
        auto* shared = new KRImageLoader; // kept for the life of the process
        if (QCoreApplication::instance())
            qAddPostRoutine(&KRImageLoader::finishSharedDownloads);
        return shared;
    }();
    return loader;
}

void KRImageLoader::finishSharedDownloads()
{
    // A download still running would log, write the disk cache and hand its answer to the
    // application object while that object and the statics are torn down. The request
    // pipeline has closed by now, so running downloads end at once: drop the queued ones and
    // wait for those.
    KRImageLoader* loader = sharedLoader();
    loader->m_queue->cancelAllOperations();
    loader->m_queue->waitUntilAllOperationsAreFinished();
}

KRImageLoader::KRImageLoader(QObject* parent)
    : QObject(parent)
    , m_state(std::make_shared<State>(KRPreferences::sharedPreferences().isA4OrEarlierDevice()))
    , m_queue(std::make_unique<platform::OperationQueue>(m_state->a4 ? 1 : 2, QStringLiteral("KRImageLoader")))
{
    QImageReader::setAllocationLimit(kMaxDecodedMiB);
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    m_memoryWarning = center.addObserver(platform::uikit::ApplicationDidReceiveMemoryWarningNotification, nullptr,
                                         [this](const platform::Notification&) { handleMemoryWarning(); });
    m_background = center.addObserver(platform::uikit::ApplicationDidEnterBackgroundNotification, nullptr,
                                      [this](const platform::Notification&) { applicationDidEnterBackground(); });
}

KRImageLoader::~KRImageLoader()
{
    m_memoryWarning.reset();
    m_background.reset();
    m_queue->cancelAllOperations();
}

void KRImageLoader::loadImageForURLString(const QString& address, QObject* owner, Completion completion)
{
    loadURLString(address, true, true, owner, std::move(completion));
}

void KRImageLoader::loadPortraitCoverForURLString(const QString& address, QObject* owner, Completion completion)
{
    const QString normalized = KRNormalizedImageURLString(address);
    if (normalized.isNull())
        return;
    loadURLString(KRZantorelJPEGURLString(normalized, portraitSuffix(m_state->a4)), false, true, owner, std::move(completion));
}

void KRImageLoader::loadHighResolutionCoverForURLString(const QString& address, QObject* owner, Completion completion)
{
    loadURLString(KRNormalizedImageURLString(KRZantorelJPEGURLString(address, highResolutionSuffix(m_state->a4))), false,
                  false, owner, std::move(completion));
}

void KRImageLoader::loadFullImageForURLString(const QString& address, QObject* owner, Completion completion)
{
    QString final = address;
    if (!address.startsWith(kFileScheme)) {
        const QString base = KRBaseZantorelImageURLString(address);
        QString path;
        if (parseCDNAddress(base, &path))
            final = KRImagePathCanBeConvertedToJPEG(path) && isDynamicPicturePath(path) ? base + kDynamicFullSuffix : base;
    }
    loadURLString(final, false, false, owner, std::move(completion));
}

void KRImageLoader::loadURLString(const QString& address, bool thumbnail, bool memoryCaching, QObject* owner,
                                  Completion completion)
{
    QString final = KRNormalizedImageURLString(address);
    if (thumbnail && !final.isNull())
        final = thumbnailAddress(final, m_state->a4);
    if (!completion || final.isNull())
        return;
    if (memoryCaching) {
        if (const std::optional<QImage> cached = m_state->memoryCache.object(final)) {
            platform::OwnedWork(owner).answerLater(std::move(completion), Image(*cached));
            return;
        }
    }
    Completion owned = platform::ownedBy(owner, std::move(completion));
    bool first = false;
    {
        std::lock_guard lock(m_state->pendingMutex);
        auto found = m_state->pending.find(final);
        if (found == m_state->pending.end()) {
            found = m_state->pending.insert(final, {});
            first = true;
        }
        found->append(std::move(owned));
    }
    if (first) {
        // One download serves every waiter, each with its owner of its own: the download has none.
        KRAsyncRequest().onQueue(m_queue.get()).run(
            [state = m_state, final, memoryCaching](const KRAsyncRequest&) { return state->download(final, memoryCaching); },
            [state = m_state, final](const Image& image) { state->deliver(final, image); });
    }
}

void KRImageLoader::clearMemoryCache() { m_state->memoryCache.removeAllObjects(); }

int KRImageLoader::downloadCountForTesting() const { return m_queue->operationCount(); }

int KRImageLoader::memoryCacheCountForTesting() const { return m_state->memoryCache.count(); }

bool KRImageLoader::memoryCacheContainsForTesting(const QString& finalAddress) const
{
    return m_state->memoryCache.object(finalAddress).has_value();
}

void KRImageLoader::handleMemoryWarning()
{
    clearMemoryCache();
    KRConsole::log(QStringLiteral("[KorvaneImage] memory cache cleared after memory warning"));
}

void KRImageLoader::applicationDidEnterBackground()
{
    if (!m_state->a4)
        return;
    clearMemoryCache();
    KRConsole::log(QStringLiteral("[KorvaneImage] A4 memory cache released in background"));
}
