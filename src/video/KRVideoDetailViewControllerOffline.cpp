// Caching from the page: the operations other screens and the page's own steps call, each
// forwarded to KRVideoOfflineCaching, and what the page lends it.

#include "video/KRVideoDetailViewController.h"

#include "model/KRVideo.h"
#include "platform/uikit/ImageView.h"
#include "video/KRVideoOfflineCaching.h"

using namespace platform::uikit;

std::unique_ptr<KRVideoOfflineCaching> KRVideoDetailViewController::makeOfflineCaching()
{
    auto caching = std::make_unique<KRVideoOfflineCaching>(KRVideoOfflineCaching::Host{
        [this] { return m_part.video(); }, [this] { return m_part.selectedPageIndex(); },
        [this](int index) { return offlineVideoForPageIndex(index); }, [this] { return m_sheets->qualityValues(); },
        [this](int quality) { return qualityTitleForValue(quality); }, [this] { loadQualityOptionsIfNeeded(); },
        [this] { return m_area->coverView() ? m_area->coverView()->image().image() : QImage(); },
        [this] { return m_part.isDetailLoading(); }, [this] { loadDetail(); },
        [this]() -> View* { return m_loadedView.data(); }});
    connect(caching.get(), &KRVideoOfflineCaching::statusShown, this, [this](const QString& text) { showDanmakuStatus(text); });
    return caching;
}

void KRVideoDetailViewController::fullscreenCacheTapped() { m_offline->fullscreenCacheTapped(); }

void KRVideoDetailViewController::cacheQualityAtIndex(int index) { m_offline->cacheQualityAtIndex(index); }

void KRVideoDetailViewController::startOfflineBatchAtQualityIndex(int index) { m_offline->startOfflineBatchAtQualityIndex(index); }

void KRVideoDetailViewController::showOfflineQualityActionSheetFromView(View* source)
{
    m_offline->showOfflineQualityActionSheetFromView(source);
}

void KRVideoDetailViewController::showOfflinePagePicker() { m_offline->showOfflinePagePicker(); }

void KRVideoDetailViewController::dismissOfflineQualityPicker() { m_offline->dismissOfflineQualityPicker(); }

void KRVideoDetailViewController::dismissOfflinePagePicker() { m_offline->dismissOfflinePagePicker(); }

void KRVideoDetailViewController::layoutOfflineQualityPicker() { m_offline->layoutOfflineQualityPicker(); }

void KRVideoDetailViewController::layoutOfflinePagePicker() { m_offline->layoutOfflinePagePicker(); }

std::shared_ptr<KRVideo> KRVideoDetailViewController::offlineVideoForPageIndex(int index) const { return m_part.videoForPart(index); }
