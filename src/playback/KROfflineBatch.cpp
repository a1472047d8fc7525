#include "playback/KROfflineBatch.h"

#include "model/KRVideo.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KROfflineResolution.h"

#include <QDebug>

namespace {

KROfflineCacheManager* store() { return KROfflineCacheManager::sharedManager(); }

} // namespace

KROfflineBatch::KROfflineBatch(QList<Part> parts, int quality, const QString& qualityTitle, const QImage& cover)
    : m_parts(std::move(parts))
    , m_quality(quality)
    , m_qualityTitle(qualityTitle)
    , m_cover(cover)
{
}

KROfflineBatch::~KROfflineBatch() = default;

void KROfflineBatch::start()
{
    Q_EMIT statusChanged(QStringLiteral("已加入 %1 个分 P · 正在准备 %2").arg(m_parts.size()).arg(m_qualityTitle));
    processNextOfflineBatchPage();
}

void KROfflineBatch::processNextOfflineBatchPage()
{
    if (m_ended)
        return;
    const int chosen = int(m_parts.size());
    while (m_position < chosen) {
        const Part part = m_parts.at(m_position++);
        if (!part.video || store()->isVideoCached(*part.video)) {
            ++m_skipped;
            continue;
        }
        Q_EMIT statusChanged(
            QStringLiteral("正在准备 P%1（%2/%3）· %4").arg(part.pageIndex + 1).arg(m_position).arg(chosen).arg(m_qualityTitle));
        KROfflineResolution::resolve(*part.video, m_quality, this,
                                     [this, part](const KROfflineResolution& resolution) { cacheBatchPart(part, resolution); });
        return;
    }
    finish();
}

void KROfflineBatch::finish()
{
    m_ended = true;
    if (m_failed == 0)
        Q_EMIT statusChanged(QStringLiteral("%1 个分 P 已加入离线缓存%2")
                                 .arg(m_completed)
                                 .arg(m_skipped > 0 ? QStringLiteral("，跳过 %1 个已缓存项").arg(m_skipped) : QString()));
    else
        Q_EMIT statusChanged(
            QStringLiteral("分 P 缓存完成 %1/%2，失败 %3，跳过 %4").arg(m_completed).arg(m_parts.size()).arg(m_failed).arg(m_skipped));
    Q_EMIT ended();
}

void KROfflineBatch::cacheBatchPart(const Part& part, const KROfflineResolution& resolution)
{
    const bool dash = m_quality >= KROfflineResolution::kDASHQuality;
    const int page = part.pageIndex + 1;
    const qint64 cid = part.video->cid();
    if (!resolution.usable(m_quality)) {
        ++m_failed;
        if (dash)
            qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] dash-resolve-failed page=%1 cid=%2 requested=%3 error=%4")
                                     .arg(page)
                                     .arg(cid)
                                     .arg(m_quality)
                                     .arg(resolution.errorDescription());
        else
            qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] resolve-failed page=%1 cid=%2 requested=%3 actual=%4 error=%5")
                                     .arg(page)
                                     .arg(cid)
                                     .arg(m_quality)
                                     .arg(resolution.actualQuality)
                                     .arg(resolution.errorDescription());
        processNextOfflineBatchPage();
        return;
    }
    auto finished = [this, page, cid, dash](bool success, const QString& message) {
        if (success) {
            ++m_completed;
        } else {
            ++m_failed;
            qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] %1 page=%2 cid=%3 message=%4")
                                     .arg(dash ? QStringLiteral("dash-download-failed") : QStringLiteral("download-failed"))
                                     .arg(page)
                                     .arg(cid)
                                     .arg(message);
        }
        processNextOfflineBatchPage();
    };
    if (dash)
        store()->cacheDASHVideo(part.video, resolution.pictureURL, resolution.soundURL, m_quality, m_qualityTitle, m_cover, this, {},
                                std::move(finished));
    else
        store()->cacheVideo(part.video, resolution.candidates, m_qualityTitle, m_cover, this, {}, std::move(finished));
}
