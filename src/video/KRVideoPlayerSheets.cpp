#include "video/KRVideoPlayerSheets.h"

#include "platform/uikit/ActionSheet.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "store/KRPreferences.h"
#include "playback/KRQualityTitles.h"
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

} // namespace

KRVideoPlayerSheets::KRVideoPlayerSheets(ViewController* page, ActionSheetDelegate* delegate, Actions actions)
    : m_page(page)
    , m_delegate(delegate)
    , m_actions(std::move(actions))
{
}

QString KRVideoPlayerSheets::speedTitle(float rate)
{
    for (int i = 0; i < 5; ++i) {
        if (std::abs(rate - kSpeedRates[i]) <= 0.01f)
            return QString::fromLatin1(kSpeedTitles[i]);
    }
    return QStringLiteral("2.0x");
}

void KRVideoPlayerSheets::present(ActionSheet* sheet, View* source)
{
    if (!sheet)
        return;
    m_visible = sheet;
    if (m_actions.presentInFullscreen && m_actions.presentInFullscreen(sheet))
        return;
    presentPlaybackActionSheet(sheet, source ? source : m_page->view(), m_page);
}

void KRVideoPlayerSheets::showSpeedSheet(View* source)
{
    auto* sheet = new ActionSheet(QStringLiteral("播放速度"), m_delegate, m_page);
    sheet->setTag(kSpeedSheetTag);
    for (const char* title : kSpeedTitles)
        sheet->addButtonWithTitle(QString::fromLatin1(title));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    present(sheet, source ? source : m_page->view());
}

void KRVideoPlayerSheets::showMoreSheet(View* source)
{
    m_loopSheetPending = false;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    auto onOff = [](bool on) { return on ? QStringLiteral("开") : QStringLiteral("关"); };
    auto* sheet = new ActionSheet(QStringLiteral("更多操作"), m_delegate, m_page);
    sheet->setTag(kPlayerMoreSheetTag);
    sheet->addButtonWithTitle(QStringLiteral("后台听视频：%1").arg(onOff(preferences.backgroundAudioEnabled())));
    sheet->addButtonWithTitle(QStringLiteral("自动连播：%1").arg(onOff(preferences.autoContinueEnabled())));
    sheet->addButtonWithTitle(QStringLiteral("循环播放：%1").arg(preferences.playbackLoopModeTitle()));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    present(sheet, source);
}

void KRVideoPlayerSheets::showPlayerLoopActionSheetFromView(View* source)
{
    const int mode = KRPreferences::sharedPreferences().playbackLoopMode();
    auto* sheet = new ActionSheet(QStringLiteral("循环播放"), m_delegate, m_page);
    sheet->setTag(kLoopSheetTag);
    const QStringList titles{QStringLiteral("不循环"), QStringLiteral("单集循环"), QStringLiteral("列表循环")};
    for (int i = 0; i < titles.size(); ++i)
        sheet->addButtonWithTitle(titles.at(i) + (i == mode ? QStringLiteral(" ✓") : QString()));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    present(sheet, source);
}

void KRVideoPlayerSheets::presentPendingPlayerLoopActionSheet(View* source)
{
    if (!m_loopSheetPending || !m_page->isViewLoaded() || !m_page->view()->window())
        return;
    m_loopSheetPending = false;
    showPlayerLoopActionSheetFromView(source);
}

void KRVideoPlayerSheets::showQualitySheet(View* source)
{
    if (m_values.isEmpty()) {
        // The list comes with the play information: the sheet waits for it.
        m_qualitySheetPending = true;
        m_qualitySource = source;
        m_actions.optionsWanted();
        return;
    }
    m_qualitySheetPending = false;
    const int active = m_actions.activeQuality();
    auto* sheet = new ActionSheet(QStringLiteral("清晰度"), m_delegate, m_page);
    sheet->setTag(kQualitySheetTag);
    for (int value : m_values)
        sheet->addButtonWithTitle(qualityTitleForValue(value) + (value == active ? QStringLiteral(" ✓") : QString()));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    present(sheet, source);
}

void KRVideoPlayerSheets::sheetClicked(ActionSheet* sheet, int index)
{
    if (index == sheet->cancelButtonIndex() || index < 0)
        return;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    switch (sheet->tag()) {
    case kSpeedSheetTag:
        if (index < 6)
            m_actions.rateChosen(kSpeedRates[index]);
        break;
    case kPlayerMoreSheetTag:
        if (index == 0)
            preferences.setBackgroundAudioEnabled(!preferences.backgroundAudioEnabled());
        else if (index == 1)
            preferences.setAutoContinueEnabled(!preferences.autoContinueEnabled());
        else if (index == 2)
            m_loopSheetPending = true;
        break;
    case kLoopSheetTag:
        if (index <= 2)
            preferences.setPlaybackLoopMode(index);
        break;
    case kQualitySheetTag:
        if (index < m_values.size() && m_values.at(index) != m_actions.activeQuality())
            m_actions.qualityChosen(m_values.at(index));
        break;
    default:
        break;
    }
}

void KRVideoPlayerSheets::sheetDismissed(ActionSheet* sheet)
{
    if (sheet == m_visible)
        m_visible = nullptr;
    if (sheet->tag() == kPlayerMoreSheetTag && m_loopSheetPending)
        m_actions.loopSheetWanted();
}

void KRVideoPlayerSheets::applyOptions(const QList<int>& values, const QStringList& titles)
{
    if (values.isEmpty())
        return;
    m_values = values;
    m_titles = titles;
    if (m_qualitySheetPending) {
        m_qualitySheetPending = false;
        showQualitySheet(m_qualitySource);
    }
}

bool KRVideoPlayerSheets::claimOptionsRequest()
{
    if (!m_values.isEmpty() || m_optionsRequested)
        return false;
    m_optionsRequested = true;
    return true;
}

QString KRVideoPlayerSheets::qualityTitleForValue(int quality) const
{
    return KRQualityTitleForValue(quality, m_values, m_titles);
}

void KRVideoPlayerSheets::presentPlaybackActionSheet(platform::uikit::ActionSheet* sheet, platform::uikit::View* source,
                                                     platform::uikit::ViewController* controller)
{
    using namespace platform::uikit;
    if (!sheet || !controller)
        return;
    if (!source)
        source = controller->view();
    if (platform::DeviceProfile::isPad()) {
        sheet->showFromRect(source->bounds(), source, true);
        return;
    }
    if (TabBarController* tabs = controller->tabBarController())
        sheet->showInView(tabs->view());
    else if (NavigationController* navigation = controller->navigationController())
        sheet->showInView(navigation->view());
    else if (source->window())
        sheet->showInView(source->window());
    else
        sheet->showInView(controller->view());
}
