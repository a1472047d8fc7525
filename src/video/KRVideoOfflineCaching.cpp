#include "video/KRVideoOfflineCaching.h"

#include "account/KRAccountClient.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/uikit/View.h"
#include "playback/KRDASHStreams.h"
#include "playback/KROfflineCacheManager.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "video/KRVideoOfflineQualityPicker.h"

#include <QDebug>

#include <algorithm>

using namespace platform::uikit;

namespace {

// From this quality on a part is cached as its DASH picture and sound.
constexpr int kDASHQuality = 80;

KROfflineCacheManager* store() { return KROfflineCacheManager::sharedManager(); }

qint64 accountAIDOf(const KRVideo& video) { return video.resolvedAid() > 0 ? video.resolvedAid() : video.aid(); }

QString errorText(const KROptionalError& error) { return error ? error->description() : QStringLiteral("(null)"); }

template <typename Picker>
void takeAway(QPointer<Picker>& picker, bool now)
{
    Picker* gone = picker.data();
    picker = nullptr;
    if (!gone)
        return;
    gone->removeFromSuperview();
    // A picker's own button may be what dismissed it: it goes once that tap is over.
    if (now)
        delete gone;
    else
        gone->deleteLater();
}

} // namespace

bool KRVideoOfflineCaching::Resolution::usable(int quality) const
{
    if (quality < kDASHQuality)
        return !candidates.isEmpty() && actualQuality == quality;
    return !pictureURL.isEmpty() && !soundURL.isEmpty();
}

QString KRVideoOfflineCaching::Resolution::failureText(const QString& unusable) const
{
    return !answered && error ? error->localizedDescription() : unusable;
}

KRVideoOfflineCaching::KRVideoOfflineCaching(Host host, QObject* parent)
    : QObject(parent)
    , m_host(std::move(host))
    , m_replies(std::make_unique<QObject>())
{
}

KRVideoOfflineCaching::~KRVideoOfflineCaching()
{
    takeAway(m_qualityPicker, true);
    takeAway(m_pagePicker, true);
}

std::shared_ptr<KRVideo> KRVideoOfflineCaching::offlineRecordVideo(const KRVideo& part, int pageIndex)
{
    auto record = std::make_shared<KRVideo>(part);
    const QList<KRVideoPartInfo> pages = part.pages();
    if (pages.size() < 2 || pageIndex < 0 || pageIndex >= pages.size())
        return record;
    const QString partTitle = pages.at(pageIndex).value(QStringLiteral("part")).toString().trimmed();
    QString title = QStringLiteral("P%1").arg(pageIndex + 1);
    if (!partTitle.isEmpty())
        title += QLatin1Char(' ') + partTitle;
    if (!part.title().isEmpty())
        title = part.title() + QStringLiteral(" · ") + title;
    record->setTitle(title);
    return record;
}

void KRVideoOfflineCaching::status(const QString& text) { Q_EMIT statusShown(text); }

// ---- the entry ----

void KRVideoOfflineCaching::fullscreenCacheTapped()
{
    if (store()->isDownloading()) {
        qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] ignored: another download is active");
        status(QStringLiteral("已有一个视频正在缓存"));
        return;
    }
    if (m_resolving) {
        qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] ignored: playback URL is resolving");
        status(QStringLiteral("正在准备缓存地址…"));
        return;
    }
    const std::shared_ptr<KRVideo> video = m_host.video();
    if (!video)
        return;
    const QString bvid = video->canonicalBVID();
    if (bvid.isEmpty() || video->cid() < 1) {
        m_pendingDetail = true;
        qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] waiting for detail bvid=%1 cid=%2").arg(bvid).arg(video->cid());
        status(QStringLiteral("正在读取视频缓存信息…"));
        if (!m_host.isDetailLoading())
            m_host.loadDetail();
        return;
    }
    m_pendingDetail = false;
    const int pages = int(video->pages().size());
    const int count = std::max<int>(video->pageCount(), pages);
    if (count > 1 && pages >= 2) {
        bool uncached = false;
        for (int i = 0; i < pages && !uncached; ++i) {
            const std::shared_ptr<KRVideo> part = m_host.partVideo(i);
            uncached = part && !store()->isVideoCached(*part);
        }
        if (!uncached) {
            status(QStringLiteral("所有分 P 都已缓存"));
            return;
        }
        m_batchPageIndexes.clear();
        qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] opening page picker bvid=%1 pages=%2").arg(bvid).arg(count);
        showOfflinePagePicker();
        return;
    }
    if (store()->isVideoCached(*video)) {
        qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] ignored: current part is already cached");
        status(QStringLiteral("该分 P 已缓存"));
        return;
    }
    m_batchPageIndexes.clear();
    qInfo().noquote() << QStringLiteral("[KorvaneOfflinePicker] opening quality picker bvid=%1 cid=%2").arg(bvid).arg(video->cid());
    showOfflineQualityActionSheetFromView(m_host.hostView());
}

void KRVideoOfflineCaching::detailDidArrive(bool loaded)
{
    if (!m_pendingDetail)
        return;
    m_pendingDetail = false;
    const std::shared_ptr<KRVideo> video = m_host.video();
    // A detail that still names no part would only be asked for again and again.
    if (loaded && video && !video->canonicalBVID().isEmpty() && video->cid() >= 1)
        fullscreenCacheTapped();
    else
        status(QStringLiteral("视频缓存标识尚未解析"));
}

// ---- caching ----

void KRVideoOfflineCaching::resolve(const KRVideo& video, qint64 aid, int quality, std::function<void(const Resolution&)> done)
{
    auto read = [quality, done = std::move(done)](const std::optional<KRPlaybackInfo>& info, const KROptionalError& error) {
        Resolution resolution;
        resolution.answered = info.has_value();
        resolution.error = error;
        if (info && quality < kDASHQuality) {
            const QVariantList files = info->value(QStringLiteral("durl")).toList();
            if (!files.isEmpty())
                resolution.candidates = KROfflineProgressiveCandidateURLStrings(files.first());
            resolution.actualQuality = int(KRLongLong(info->value(QStringLiteral("quality"))));
        } else if (info) {
            if (const std::optional<QVariantMap> picture = KRDASHH264VideoStream(*info, quality))
                resolution.pictureURL = KRDASHStreamURLString(*picture);
            if (const std::optional<QVariantMap> sound = KRDASHBestAACStream(*info))
                resolution.soundURL = KRDASHStreamURLString(*sound);
        }
        done(resolution);
    };
    KRAccountClient* client = KRAccountClient::sharedClient();
    if (quality < kDASHQuality)
        client->loadPlaybackInfoForAID(aid, video.canonicalBVID(), video.cid(), quality, m_replies.get(), std::move(read));
    else if (video.episodeID() < 1)
        client->loadDASHPlaybackInfoForAID(aid, video.canonicalBVID(), video.cid(), quality, m_replies.get(), std::move(read));
    else
        client->loadPGCDASHPlaybackInfoForEpisodeID(video.episodeID(), aid, video.canonicalBVID(), video.cid(), quality,
                                                    m_replies.get(), std::move(read));
}

void KRVideoOfflineCaching::cacheQualityAtIndex(int index)
{
    const QList<int> values = m_host.qualityValues();
    const std::shared_ptr<KRVideo> video = m_host.video();
    if (index < 0 || index >= values.size() || m_resolving || !video)
        return;
    const qint64 cid = video->cid();
    const int quality = values.at(index);
    const QString title = m_host.qualityTitle(quality);
    if (video->canonicalBVID().isEmpty() || cid < 1) {
        status(QStringLiteral("视频缓存标识尚未解析"));
        return;
    }
    m_resolving = true;
    status(QStringLiteral("正在准备 %1 缓存…").arg(title));
    resolve(*video, accountAIDOf(*video), quality, [this, cid, quality, title](const Resolution& resolution) {
        m_resolving = false;
        const std::shared_ptr<KRVideo> current = m_host.video();
        if (!current || current->cid() != cid)
            return;
        if (quality < kDASHQuality) {
            if (resolution.candidates.isEmpty()) {
                status(resolution.failureText(QStringLiteral("该清晰度没有可缓存的单文件 MP4")));
                return;
            }
            const QString actualTitle = m_host.qualityTitle(resolution.actualQuality);
            qInfo().noquote() << QStringLiteral("[KorvaneQuality] purpose=cache requested=%1(%2) actual=%3(%4) cid=%5")
                                     .arg(quality)
                                     .arg(title)
                                     .arg(resolution.actualQuality)
                                     .arg(actualTitle)
                                     .arg(cid);
            if (resolution.actualQuality == quality)
                beginOfflineCacheWithURLStrings(resolution.candidates, title);
            else
                status(QStringLiteral("%1 暂不可用（服务器返回 %2）").arg(title, actualTitle));
            return;
        }
        if (!resolution.usable(quality)) {
            status(resolution.failureText(QStringLiteral("%1 没有可缓存的 H.264/AAC 双轨").arg(title)));
            return;
        }
        const std::shared_ptr<KRVideo> record = offlineRecordVideo(*current, m_host.selectedPageIndex());
        store()->cacheDASHVideo(record, resolution.pictureURL, resolution.soundURL, quality, title, m_host.coverImage(),
                                m_replies.get(), {}, {});
        status(store()->isDownloadingVideo(*record) ? QStringLiteral("%1 音画双轨已加入离线缓存").arg(title)
                                                    : QStringLiteral("离线缓存启动失败"));
    });
}

void KRVideoOfflineCaching::beginOfflineCacheWithURLStrings(const QStringList& candidates, const QString& qualityTitle)
{
    const std::shared_ptr<KRVideo> video = m_host.video();
    if (!video)
        return;
    const std::shared_ptr<KRVideo> record = offlineRecordVideo(*video, m_host.selectedPageIndex());
    store()->cacheVideo(record, candidates, qualityTitle, m_host.coverImage(), m_replies.get(), {}, {});
    status(store()->isDownloadingVideo(*record) ? QStringLiteral("已加入离线缓存 · 可在“我的”查看进度")
                                                : QStringLiteral("离线缓存启动失败"));
}

void KRVideoOfflineCaching::startOfflineBatchAtQualityIndex(int index)
{
    const QList<int> values = m_host.qualityValues();
    if (index < 0 || index >= values.size() || m_batchPageIndexes.isEmpty() || m_resolving)
        return;
    if (store()->isDownloading()) {
        status(QStringLiteral("已有一个视频正在缓存"));
        return;
    }
    m_batchQuality = values.at(index);
    m_batchQualityTitle = m_host.qualityTitle(m_batchQuality);
    m_batchPosition = m_batchCompleted = m_batchSkipped = m_batchFailed = 0;
    m_resolving = true;
    status(QStringLiteral("已加入 %1 个分 P · 正在准备 %2").arg(m_batchPageIndexes.size()).arg(m_batchQualityTitle));
    processNextOfflineBatchPage();
}

void KRVideoOfflineCaching::processNextOfflineBatchPage()
{
    // A batch the page gave up has nothing more to do.
    if (!m_resolving || m_batchPageIndexes.isEmpty())
        return;
    const int chosen = int(m_batchPageIndexes.size());
    while (m_batchPosition < chosen) {
        const int page = m_batchPageIndexes.at(m_batchPosition++);
        const std::shared_ptr<KRVideo> part = m_host.partVideo(page);
        if (!part || store()->isVideoCached(*part)) {
            ++m_batchSkipped;
            continue;
        }
        status(QStringLiteral("正在准备 P%1（%2/%3）· %4").arg(page + 1).arg(m_batchPosition).arg(chosen).arg(m_batchQualityTitle));
        resolve(*part, accountAIDOf(*part), m_batchQuality,
                [this, part, page](const Resolution& resolution) { cacheBatchPart(part, page, resolution); });
        return;
    }
    m_resolving = false;
    if (m_batchFailed == 0)
        status(QStringLiteral("%1 个分 P 已加入离线缓存%2")
                   .arg(m_batchCompleted)
                   .arg(m_batchSkipped > 0 ? QStringLiteral("，跳过 %1 个已缓存项").arg(m_batchSkipped) : QString()));
    else
        status(QStringLiteral("分 P 缓存完成 %1/%2，失败 %3，跳过 %4").arg(m_batchCompleted).arg(chosen).arg(m_batchFailed).arg(m_batchSkipped));
    m_batchPageIndexes.clear();
    m_batchQualityTitle.clear();
}

void KRVideoOfflineCaching::cacheBatchPart(const std::shared_ptr<KRVideo>& part, int page, const Resolution& resolution)
{
    const int quality = m_batchQuality;
    const bool dash = quality >= kDASHQuality;
    const qint64 cid = part->cid();
    if (!resolution.usable(quality)) {
        ++m_batchFailed;
        if (dash)
            qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] dash-resolve-failed page=%1 cid=%2 requested=%3 error=%4")
                                     .arg(page + 1)
                                     .arg(cid)
                                     .arg(quality)
                                     .arg(errorText(resolution.error));
        else
            qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] resolve-failed page=%1 cid=%2 requested=%3 actual=%4 error=%5")
                                     .arg(page + 1)
                                     .arg(cid)
                                     .arg(quality)
                                     .arg(resolution.actualQuality)
                                     .arg(errorText(resolution.error));
        processNextOfflineBatchPage();
        return;
    }
    // The next part starts only once the store has finished (or refused) this one.
    auto finished = [this, page, cid, dash](bool success, const QString& message) {
        if (success) {
            ++m_batchCompleted;
        } else {
            ++m_batchFailed;
            qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] %1 page=%2 cid=%3 message=%4")
                                     .arg(dash ? QStringLiteral("dash-download-failed") : QStringLiteral("download-failed"))
                                     .arg(page + 1)
                                     .arg(cid)
                                     .arg(message);
        }
        processNextOfflineBatchPage();
    };
    const std::shared_ptr<KRVideo> record = offlineRecordVideo(*part, page);
    if (dash)
        store()->cacheDASHVideo(record, resolution.pictureURL, resolution.soundURL, quality, m_batchQualityTitle, m_host.coverImage(),
                                m_replies.get(), {}, std::move(finished));
    else
        store()->cacheVideo(record, resolution.candidates, m_batchQualityTitle, m_host.coverImage(), m_replies.get(), {},
                            std::move(finished));
}

// ---- the pickers ----

void KRVideoOfflineCaching::showOfflineQualityActionSheetFromView(View* source)
{
    const QList<int> values = m_host.qualityValues();
    if (values.isEmpty()) {
        // The picker opens once the part's qualities are known.
        m_qualityPickerPending = true;
        m_qualitySource = source;
        status(QStringLiteral("正在打开缓存清晰度…"));
        m_host.wantQualityOptions();
        return;
    }
    View* host = m_host.hostView();
    if (!host)
        return;
    m_qualityPickerPending = false;
    m_qualitySource = source;
    takeAway(m_qualityPicker, false);
    QStringList titles;
    for (int value : values)
        titles.append(m_host.qualityTitle(value));
    const QString title = m_batchPageIndexes.isEmpty() ? QStringLiteral("选择缓存清晰度")
                                                       : QStringLiteral("缓存 %1 个分 P · 选择清晰度").arg(m_batchPageIndexes.size());
    m_qualityPicker = new KRVideoOfflineQualityPicker(
        host, title, titles, [this](int index) { qualityChosen(index); },
        [this] {
            takeAway(m_qualityPicker, false);
            m_batchPageIndexes.clear();
        });
    m_qualityPicker->show();
    m_qualityPicker->raise();
}

void KRVideoOfflineCaching::qualityOptionsDidArrive()
{
    if (m_qualityPickerPending && !m_host.qualityValues().isEmpty())
        showOfflineQualityActionSheetFromView(m_qualitySource);
}

void KRVideoOfflineCaching::qualityChosen(int index)
{
    takeAway(m_qualityPicker, false);
    if (m_batchPageIndexes.isEmpty())
        cacheQualityAtIndex(index);
    else
        startOfflineBatchAtQualityIndex(index);
}

void KRVideoOfflineCaching::showOfflinePagePicker()
{
    const std::shared_ptr<KRVideo> video = m_host.video();
    View* host = m_host.hostView();
    if (!video || !host)
        return;
    takeAway(m_pagePicker, false);
    QList<KRVideoOfflinePagePicker::Part> parts;
    const QList<KRVideoPartInfo> pages = video->pages();
    for (int i = 0; i < pages.size(); ++i) {
        const std::shared_ptr<KRVideo> part = m_host.partVideo(i);
        const QString partTitle = pages.at(i).value(QStringLiteral("part")).toString().trimmed();
        parts.append({partTitle.isEmpty() ? QStringLiteral("P%1").arg(i + 1) : QStringLiteral("P%1 %2").arg(i + 1).arg(partTitle),
                      pages.at(i).value(QStringLiteral("duration")).toString(), part && store()->isVideoCached(*part)});
    }
    m_pagePicker = new KRVideoOfflinePagePicker(
        host, parts,
        [this](const QList<int>& chosen) {
            m_batchPageIndexes = chosen;
            takeAway(m_pagePicker, false);
            showOfflineQualityActionSheetFromView(m_host.hostView());
        },
        [this] { takeAway(m_pagePicker, false); });
    m_pagePicker->show();
    m_pagePicker->raise();
}

KRVideoOfflineQualityPicker* KRVideoOfflineCaching::qualityPicker() const { return m_qualityPicker; }

KRVideoOfflinePagePicker* KRVideoOfflineCaching::pagePicker() const { return m_pagePicker; }

void KRVideoOfflineCaching::dismissOfflineQualityPicker() { takeAway(m_qualityPicker, false); }

void KRVideoOfflineCaching::dismissOfflinePagePicker() { takeAway(m_pagePicker, false); }

void KRVideoOfflineCaching::layoutOfflineQualityPicker()
{
    if (m_qualityPicker)
        m_qualityPicker->layoutInHost();
}

void KRVideoOfflineCaching::layoutOfflinePagePicker()
{
    if (m_pagePicker)
        m_pagePicker->layoutInHost();
}

// ---- the page's life ----

void KRVideoOfflineCaching::pageWillDisappear()
{
    const bool showing = m_qualityPicker || m_pagePicker;
    dismissOfflineQualityPicker();
    dismissOfflinePagePicker();
    m_qualityPickerPending = false;
    if (showing && !m_resolving)
        m_batchPageIndexes.clear();
}

void KRVideoOfflineCaching::pageDidLeaveStack()
{
    m_replies = std::make_unique<QObject>();
    m_pendingDetail = false;
    m_qualityPickerPending = false;
    if (m_resolving && !m_batchPageIndexes.isEmpty())
        qInfo().noquote() << QStringLiteral("[KorvaneOfflineBatch] abandoned position=%1/%2 reason=page-left")
                                 .arg(m_batchPosition)
                                 .arg(m_batchPageIndexes.size());
    m_resolving = false;
    m_batchPageIndexes.clear();
    m_batchQualityTitle.clear();
}

void KRVideoOfflineCaching::themeDidChange()
{
    if (m_qualityPicker)
        m_qualityPicker->applyTheme();
    if (m_pagePicker)
        m_pagePicker->applyTheme();
}
