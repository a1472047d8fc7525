#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class KRVideo;
struct KROfflineResolution;

// Chosen parts of a video cached one after another at one quality, one download at a time:
// a part the store already holds is skipped, else its play address is resolved and the store
// downloads it, and the next part starts only once the store has finished (or refused) it.
// The offline store keeps a running batch (`KROfflineCacheManager::runBatch`), so it goes on to
// its last part whoever is on screen; the screen that began it follows `statusChanged` while it
// shows. Each part that fails is told on the console, whoever listens. Main thread only.
class KROfflineBatch : public QObject {
    Q_OBJECT
public:
    struct Part {
        int pageIndex = -1; // 0-based
        // The part as the store is to keep it; null for a part the video does not have.
        std::shared_ptr<KRVideo> video;
    };

    KROfflineBatch(QList<Part> parts, int quality, const QString& qualityTitle, const QImage& cover);
    ~KROfflineBatch() override;

    // Run by the store that keeps the batch.
    void start();

Q_SIGNALS:
    // A status line for the screen that began the batch.
    void statusChanged(const QString& text);
    // After the summary; the store lets the batch go.
    void ended();

private:
    void processNextOfflineBatchPage();
    void cacheBatchPart(const Part& part, const KROfflineResolution& resolution);
    void finish();

    const QList<Part> m_parts;
    const int m_quality;
    const QString m_qualityTitle;
    const QImage m_cover;
    int m_position = 0;
    int m_completed = 0;
    int m_skipped = 0;
    int m_failed = 0;
    bool m_ended = false;
};
