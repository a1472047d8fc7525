#include "video/KRVideoOfflineCaching.h"

#include "model/KRVideo.h"
#include "platform/uikit/View.h"
#include "playback/KROfflineBatch.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KROfflineResolution.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "video/KRVideoOfflineQualityPicker.h"

#include <QDebug>

#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr int kDASHQuality = KROfflineResolution::kDASHQuality;

KROfflineCacheManager* store() { return KROfflineCacheManager::sharedManager(); }

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
    if (isResolving()) {
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

bool KRVideoOfflineCaching::isResolving() const { return m_resolving || store()->runningBatch(); }

void KRVideoOfflineCaching::cacheQualityAtIndex(int index)
{
    const QList<int> values = m_host.qualityValues();
    const std::shared_ptr<KRVideo> video = m_host.video();
    if (index < 0 || index >= values.size() || isResolving() || !video)
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
    KROfflineResolution::resolve(*video, quality, m_replies.get(), [this, cid, quality, title](const KROfflineResolution& resolution) {
        m_resolving = false;
        const std::shared_ptr<KRVideo> current = m_host.video();
        if (!current || current->cid() != cid)
            return;
        if (quality < kDASHQuality) {
            if (resolution.candidates.isEmpty()) {
                status(resolution.failureText(QStringLiteral("该清晰度没有可缓存的单文件 MP4")));
                return;
            }
            // The answered quality is named by the title table, as every quality is: it need not
            // be one the part offers, and looked up among the offered codes alone it would read
            // as a bare number ("32P" for 480P).
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
        // Names the quality chosen: every quality from 1080P on (1080P+, 1080P60, 4K) is kept as
        // a pair, and announcing each as "1080P" would name a quality other than the one kept.
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
    if (index < 0 || index >= values.size() || m_batchPageIndexes.isEmpty() || isResolving())
        return;
    if (store()->isDownloading()) {
        status(QStringLiteral("已有一个视频正在缓存"));
        return;
    }
    const int quality = values.at(index);
    QList<KROfflineBatch::Part> parts;
    for (int page : std::as_const(m_batchPageIndexes)) {
        const std::shared_ptr<KRVideo> part = m_host.partVideo(page);
        parts.append({page, part ? offlineRecordVideo(*part, page) : nullptr});
    }
    m_batchPageIndexes.clear();
    auto batch = std::make_unique<KROfflineBatch>(std::move(parts), quality, m_host.qualityTitle(quality), m_host.coverImage());
    m_batch = batch.get();
    connect(m_batch, &KROfflineBatch::statusChanged, this, &KRVideoOfflineCaching::status);
    store()->runBatch(std::move(batch));
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
    if (showing)
        m_batchPageIndexes.clear();
}

void KRVideoOfflineCaching::pageDidLeaveStack()
{
    m_replies = std::make_unique<QObject>();
    m_pendingDetail = false;
    m_qualityPickerPending = false;
    m_resolving = false;
    m_batchPageIndexes.clear();
    if (m_batch)
        disconnect(m_batch, nullptr, this, nullptr);
    m_batch = nullptr;
}

void KRVideoOfflineCaching::themeDidChange()
{
    if (m_qualityPicker)
        m_qualityPicker->applyTheme();
    if (m_pagePicker)
        m_pagePicker->applyTheme();
}
