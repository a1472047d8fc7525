// The player's sheets (speed, More with its loop sheet, quality), their answers, and the one
// operation that applies a playback rate to every clock of the page.

#include "video/KRVideoDetailViewController.h"

#include "platform/media/MediaPlayer.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/View.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"
#include "video/KRVideoDetailSupport.h"

#include <cmath>

using namespace platform::uikit;

namespace {

constexpr int kSpeedSheetTag = 7301;
constexpr int kPlayerMoreSheetTag = 7315;
constexpr int kLoopSheetTag = 7316;
constexpr int kQualitySheetTag = 7320;

const float kSpeedRates[] = {0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 2.0f};
const char* const kSpeedTitles[] = {"0.5x", "0.75x", "1.0x", "1.25x", "1.5x", "2.0x"};

QString speedTitle(float rate)
{
    for (int i = 0; i < 5; ++i) {
        if (std::abs(rate - kSpeedRates[i]) <= 0.01f)
            return QString::fromLatin1(kSpeedTitles[i]);
    }
    return QStringLiteral("2.0x");
}

} // namespace

void KRVideoDetailViewController::presentPlaybackActionSheet(ActionSheet* sheet, View* source)
{
    if (!sheet)
        return;
    m_sheets.visible = sheet;
    KRDetailPresentActionSheet(sheet, source ? source : view(), this);
}

void KRVideoDetailViewController::speedButtonTapped(View* sender)
{
    auto* sheet = new ActionSheet(QStringLiteral("播放速度"), this, this);
    sheet->setTag(kSpeedSheetTag);
    for (const char* title : kSpeedTitles)
        sheet->addButtonWithTitle(QString::fromLatin1(title));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    presentPlaybackActionSheet(sheet, sender ? sender : view());
}

void KRVideoDetailViewController::showPlayerMoreActionSheetFromView(View* source)
{
    m_sheets.pendingPlayerLoopSheet = false;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    auto onOff = [](bool on) { return on ? QStringLiteral("开") : QStringLiteral("关"); };
    auto* sheet = new ActionSheet(QStringLiteral("更多操作"), this, this);
    sheet->setTag(kPlayerMoreSheetTag);
    sheet->addButtonWithTitle(QStringLiteral("后台听视频：%1").arg(onOff(preferences.backgroundAudioEnabled())));
    sheet->addButtonWithTitle(QStringLiteral("自动连播：%1").arg(onOff(preferences.autoContinueEnabled())));
    sheet->addButtonWithTitle(QStringLiteral("循环播放：%1").arg(preferences.playbackLoopModeTitle()));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    presentPlaybackActionSheet(sheet, source);
}

void KRVideoDetailViewController::showPlayerLoopActionSheetFromView(View* source)
{
    const int mode = KRPreferences::sharedPreferences().playbackLoopMode();
    auto* sheet = new ActionSheet(QStringLiteral("循环播放"), this, this);
    sheet->setTag(kLoopSheetTag);
    const QStringList titles{QStringLiteral("不循环"), QStringLiteral("单集循环"), QStringLiteral("列表循环")};
    for (int i = 0; i < titles.size(); ++i)
        sheet->addButtonWithTitle(titles.at(i) + (i == mode ? QStringLiteral(" ✓") : QString()));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    presentPlaybackActionSheet(sheet, source);
}

void KRVideoDetailViewController::presentPendingPlayerLoopActionSheet()
{
    if (!m_sheets.pendingPlayerLoopSheet || !isViewLoaded() || !view()->window())
        return;
    m_sheets.pendingPlayerLoopSheet = false;
    showPlayerLoopActionSheetFromView(m_area->controls() ? m_area->controls()->moreButton() : nullptr);
}

void KRVideoDetailViewController::showQualityActionSheetFromView(View* source)
{
    if (m_quality.values.isEmpty()) {
        // The list comes with the play information: the sheet waits for it.
        m_quality.sheetPending = true;
        m_quality.sourceView = source;
        loadQualityOptionsIfNeeded();
        return;
    }
    m_quality.sheetPending = false;
    auto* sheet = new ActionSheet(QStringLiteral("清晰度"), this, this);
    sheet->setTag(kQualitySheetTag);
    for (int value : m_quality.values)
        sheet->addButtonWithTitle(qualityTitleForValue(value) + (value == activePlaybackQuality() ? QStringLiteral(" ✓") : QString()));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    presentPlaybackActionSheet(sheet, source);
}

void KRVideoDetailViewController::actionSheetClickedButtonAtIndex(ActionSheet* sheet, int index)
{
    if (index == sheet->cancelButtonIndex() || index < 0)
        return;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    switch (sheet->tag()) {
    case kSpeedSheetTag:
        if (index < 6)
            setPlaybackRateValue(kSpeedRates[index], true);
        break;
    case kPlayerMoreSheetTag:
        if (index == 0)
            preferences.setBackgroundAudioEnabled(!preferences.backgroundAudioEnabled());
        else if (index == 1)
            preferences.setAutoContinueEnabled(!preferences.autoContinueEnabled());
        else if (index == 2)
            m_sheets.pendingPlayerLoopSheet = true;
        break;
    case kLoopSheetTag:
        if (index <= 2)
            preferences.setPlaybackLoopMode(index);
        break;
    case kQualitySheetTag:
        if (index < m_quality.values.size() && m_quality.values.at(index) != activePlaybackQuality()) {
            const int quality = m_quality.values.at(index);
            showDanmakuStatus(QStringLiteral("正在切换到 %1").arg(qualityTitleForValue(quality)));
            // Leaves the sheet's click before the player goes.
            m_delayed.schedule(QStringLiteral("switchToQualityAtIndex"), 0, [this, quality] { switchToQuality(quality); });
        }
        break;
    default:
        break;
    }
}

void KRVideoDetailViewController::actionSheetDidDismissWithButtonIndex(ActionSheet* sheet, int)
{
    if (sheet == m_sheets.visible)
        m_sheets.visible = nullptr;
    if (sheet->tag() == kPlayerMoreSheetTag && m_sheets.pendingPlayerLoopSheet) {
        m_delayed.cancel(QStringLiteral("presentPendingPlayerLoopActionSheet"));
        m_delayed.schedule(QStringLiteral("presentPendingPlayerLoopActionSheet"), 50, [this] { presentPendingPlayerLoopActionSheet(); });
    }
}

void KRVideoDetailViewController::setPlaybackRateValue(float rate, bool announce)
{
    session()->setRate(rate);
    if (announce)
        showDanmakuStatus(QStringLiteral("播放速度 %1").arg(speedTitle(rate)));
}
