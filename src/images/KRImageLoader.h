#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Image.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace platform {
class OperationQueue;
}

// Image addresses as the image CDN wants them. Each takes and returns an address; a null
// string stands for no address.

// Scheme normalisation: trimmed; "//" gets the system's scheme; https becomes http on legacy
// systems; http becomes https for the CDN's hosts elsewhere. Null for a null or empty address.
QString KRNormalizedImageURLString(const QString& address);
// Systems 1 to 8 load pictures over plain http.
bool KRImageUsesLegacyHTTP();
// Whether a host is on the image CDN (either of its domains or below them).
bool KRImageHostSupportsHTTPS(const QString& host);
// The CDN address without fragment, query and size suffix; other addresses unchanged.
QString KRBaseZantorelImageURLString(const QString& address);
// The path ends (in any case) in ".jpg", ".jpeg", ".png", ".webp" or ".avif".
bool KRImagePathCanBeConvertedToJPEG(const QString& path);
// The base address with a size suffix when the CDN can resize it.
QString KRZantorelJPEGURLString(const QString& address, const QString& suffix);
// The disk-cache file (full path) of a final image address.
QString KRImageDiskCachePathForURLString(const QString& finalAddress);
// A picture decoded by content, never by name or by what a server claims; null for what does
// not decode, and for bytes or a bitmap past the loader's limits, refused before allocating it.
QImage KRDecodedImage(const QByteArray& data);

// The one loader of every picture shown from the network or the offline store: rewrites the
// address for the CDN, keeps decoded pictures in a small memory cache and downloaded bytes in
// a disk cache, runs one or two downloads at a time and makes one download of the requests
// for one address that arrive while it loads. Main thread only; every completion is called
// once on the main thread, with a null image on failure, unless its owner has gone.
class KRImageLoader : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const platform::uikit::Image&)>;

    static KRImageLoader* sharedLoader();

    // The device class is read once, here. Tests make loaders of their own for other devices.
    explicit KRImageLoader(QObject* parent = nullptr);
    ~KRImageLoader() override;

    // A thumbnail sized by the kind of picture; memory cache read and written.
    void loadImageForURLString(const QString& address, QObject* owner, Completion completion);
    // A portrait PGC cover; memory cache read and written.
    void loadPortraitCoverForURLString(const QString& address, QObject* owner, Completion completion);
    // The large cover behind the player; no memory cache.
    void loadHighResolutionCoverForURLString(const QString& address, QObject* owner, Completion completion);
    // A full-size picture for the viewer; no memory cache.
    void loadFullImageForURLString(const QString& address, QObject* owner, Completion completion);
    // The common road of the four above.
    void loadURLString(const QString& address, bool thumbnail, bool memoryCaching, QObject* owner, Completion completion);

    void clearMemoryCache();

    // Tests: what the memory cache holds.
    int memoryCacheCountForTesting() const;
    bool memoryCacheContainsForTesting(const QString& finalAddress) const;
    // Tests: downloads queued or running (a screen's test waits for none before its home goes).
    int downloadCountForTesting() const;

    struct State;

private:
    // The shared loader's end, as the application object goes.
    static void finishSharedDownloads();
    void handleMemoryWarning();
    void applicationDidEnterBackground();

    std::shared_ptr<State> m_state;
    std::unique_ptr<platform::OperationQueue> m_queue;
    platform::ObserverToken m_memoryWarning;
    platform::ObserverToken m_background;
};
