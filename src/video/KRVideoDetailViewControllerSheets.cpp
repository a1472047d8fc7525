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
                    m_sheets->presentPendingPlayerLoopActionSheet(m_area->controls() ? m_area->controls()->moreButton() : nullptr);
                });
            },
            // Over the full screen while it shows.
            [this](ActionSheet* sheet) { return m_fullscreen && m_fullscreen->presentSheet(sheet); }});
}

void KRVideoDetailViewController::speedButtonTapped(View* sender) { m_sheets->showSpeedSheet(sender); }

void KRVideoDetailViewController::showPlayerMoreActionSheetFromView(View* source) { m_sheets->showMoreSheet(source); }

void KRVideoDetailViewController::showQualityActionSheetFromView(View* source) { m_sheets->showQualitySheet(source); }

void KRVideoDetailViewController::actionSheetClickedButtonAtIndex(ActionSheet* sheet, int index)
{
    if (m_fullscreen && m_fullscreen->sheetClicked(sheet, index))
        return;
    if (!m_account->sheetClicked(sheet, index))
        m_sheets->sheetClicked(sheet, index);
}

void KRVideoDetailViewController::actionSheetDidDismissWithButtonIndex(ActionSheet* sheet, int index)
{
    if (m_fullscreen && m_fullscreen->sheetDismissed(sheet))
        return;
    if (!m_account->sheetDismissed(sheet, index))
        m_sheets->sheetDismissed(sheet);
}

// ---- account (KRVideoAccountActions) ----
std::unique_ptr<KRVideoAccountActions> KRVideoDetailViewController::makeAccountActions()
{
    return std::make_unique<KRVideoAccountActions>(
        this, this, m_info.get(),
        KRVideoAccountActions::Host{[this] { return m_part.video(); }, [this] { return accountAID(); },
                                    [this](const QString& title, const QString& message) { showLoginGateWithTitle(title, message, 7200); },
                                    [this](const QString& text, bool success) { showAccountResult(text, success); },
                                    [this] { fullscreenCacheTapped(); }});
}

void KRVideoDetailViewController::setPlaybackRateValue(float rate, bool announce)
{
    session()->setRate(rate);
    if (announce)
        showDanmakuStatus(QStringLiteral("播放速度 %1").arg(KRVideoPlayerSheets::speedTitle(rate)));
}
