// The player's sheets as the page shows them (the sheets part, KRVideoPlayerSheets, builds them
// and keeps the quality options), and the one operation that applies a playback rate to every
// clock of the page.

#include "video/KRVideoDetailViewController.h"

#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Button.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlayerControlsView.h"

using namespace platform::uikit;

std::unique_ptr<KRVideoPlayerSheets> KRVideoDetailViewController::makePlayerSheets()
{
    return std::make_unique<KRVideoPlayerSheets>(
        this, this,
        KRVideoPlayerSheets::Actions{
            [this](float rate) { setPlaybackRateValue(rate, true); },
            [this](int quality) {
                // Leaves the sheet's click before the switch begins.
                const int index = int(m_sheets->qualityValues().indexOf(quality));
                m_delayed.schedule(QStringLiteral("switchToQualityAtIndex"), 0, [this, index] { switchToQualityAtIndex(index); });
            },
            [this] { return activePlaybackQuality(); }, [this] { loadQualityOptionsIfNeeded(); },
            [this] {
                m_delayed.cancel(QStringLiteral("presentPendingPlayerLoopActionSheet"));
                m_delayed.schedule(QStringLiteral("presentPendingPlayerLoopActionSheet"), 50, [this] {
                    m_sheets->presentPendingLoopSheet(m_area->controls() ? m_area->controls()->moreButton() : nullptr);
                });
            }});
}

void KRVideoDetailViewController::speedButtonTapped(View* sender) { m_sheets->showSpeedSheet(sender); }

void KRVideoDetailViewController::showPlayerMoreActionSheetFromView(View* source) { m_sheets->showMoreSheet(source); }

void KRVideoDetailViewController::showQualityActionSheetFromView(View* source) { m_sheets->showQualitySheet(source); }

void KRVideoDetailViewController::actionSheetClickedButtonAtIndex(ActionSheet* sheet, int index)
{
    m_sheets->sheetClicked(sheet, index);
}

void KRVideoDetailViewController::actionSheetDidDismissWithButtonIndex(ActionSheet* sheet, int)
{
    m_sheets->sheetDismissed(sheet);
}

void KRVideoDetailViewController::setPlaybackRateValue(float rate, bool announce)
{
    session()->setRate(rate);
    if (announce)
        showDanmakuStatus(QStringLiteral("播放速度 %1").arg(KRVideoPlayerSheets::speedTitle(rate)));
}
