#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class KROfflineBatch;
class KRVideo;
class KRVideoOfflinePagePicker;
class KRVideoOfflineQualityPicker;

namespace platform::uikit {
class View;
}

// Caching from the video page: the entry ("缓存" in the More sheet and the full-screen rail),
// the offline pickers laid over the page, and the caching itself, one part at a chosen quality
// or a batch of chosen parts one after another. Below 1080P a part is kept as one progressive
// file, from 1080P on as its H.264 picture and AAC sound; the offline store does the downloads.
//
// A batch is handed to the offline store (KROfflineBatch), which keeps it to its last part
// whether or not the page is still there; the page shows its statuses until it leaves its stack.
// What one part's caching asks the service belongs to the page: once the page has left its
// stack those replies are dropped, while a download the store has begun runs to its end there.
// Every outcome the page sees is one status line over the player (`statusShown`).
class KRVideoOfflineCaching : public QObject {
    Q_OBJECT
public:
    // What the page lends it.
    struct Host {
        // The video as the page shows it: the chosen part's cid.
        std::function<std::shared_ptr<KRVideo>()> video;
        std::function<int()> selectedPageIndex;
        // The video as part `index` plays it; null for a part there is not.
        std::function<std::shared_ptr<KRVideo>(int index)> partVideo;
        // The qualities the part is offered in, and the title of a quality code.
        std::function<QList<int>()> qualityValues;
        std::function<QString(int quality)> qualityTitle;
        // Asks for the offered qualities; `qualityOptionsDidArrive` follows when they come.
        std::function<void()> wantQualityOptions;
        std::function<QImage()> coverImage;
        std::function<bool()> isDetailLoading;
        std::function<void()> loadDetail;
        // The view the pickers cover.
        std::function<platform::uikit::View*()> hostView;
    };

    explicit KRVideoOfflineCaching(Host host, QObject* parent = nullptr);
    // Takes both pickers' overlays away.
    ~KRVideoOfflineCaching() override;

    // ---- the entry ----
    // The first rule that applies: another download running, a resolution running, the video's
    // identity still unknown (the detail is awaited and the entry runs again when it comes),
    // the part picker for a video of several parts, the quality picker for one part.
    void fullscreenCacheTapped();
    // The detail arrived (`loaded`) or failed.
    void detailDidArrive(bool loaded);
    bool isWaitingForDetail() const { return m_pendingDetail; }

    // ---- caching ----
    void cacheQualityAtIndex(int index);
    void startOfflineBatchAtQualityIndex(int index);
    // A play address is being resolved for caching, or a batch runs (this page's or another's).
    bool isResolving() const;
    // The parts the next quality choice caches, ascending; empty for the current part alone.
    QList<int> batchPageIndexes() const { return m_batchPageIndexes; }
    // The record the store keeps for a part of a video of several parts carries the part's own
    // title after the video's, so the parts tell apart under "我的".
    static std::shared_ptr<KRVideo> offlineRecordVideo(const KRVideo& part, int pageIndex);

    // ---- the pickers ----
    // Waits for the offered qualities when there are none yet.
    void showOfflineQualityActionSheetFromView(platform::uikit::View* source);
    void qualityOptionsDidArrive();
    void showOfflinePagePicker();
    void dismissOfflineQualityPicker();
    void dismissOfflinePagePicker();
    void layoutOfflineQualityPicker();
    void layoutOfflinePagePicker();
    KRVideoOfflineQualityPicker* qualityPicker() const;
    KRVideoOfflinePagePicker* pagePicker() const;

    // ---- the page's life ----
    // Both pickers go, and with them the parts chosen.
    void pageWillDisappear();
    // The page has left its stack: every reply still to come for one part is dropped, and the
    // page no longer shows the statuses of the batch it began, which runs on.
    void pageDidLeaveStack();
    // Open pickers are built again in the new colours.
    void themeDidChange();

Q_SIGNALS:
    void statusShown(const QString& text);

private:
    void beginOfflineCacheWithURLStrings(const QStringList& candidates, const QString& qualityTitle);
    void qualityChosen(int index);
    void status(const QString& text);

    Host m_host;
    // Owns every reply and store completion of one part's caching; replaced when the page
    // leaves its stack.
    std::unique_ptr<QObject> m_replies;
    bool m_resolving = false;
    bool m_pendingDetail = false;
    bool m_qualityPickerPending = false;
    QPointer<platform::uikit::View> m_qualitySource;
    QPointer<KRVideoOfflineQualityPicker> m_qualityPicker;
    QPointer<KRVideoOfflinePagePicker> m_pagePicker;

    // The parts chosen in the part picker, until a quality is chosen for them.
    QList<int> m_batchPageIndexes;
    // The batch this page began, whose statuses it shows while it is in its stack.
    QPointer<KROfflineBatch> m_batch;
};
