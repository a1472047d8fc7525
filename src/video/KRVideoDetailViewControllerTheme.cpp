// The page's own colour from the shared theme (its root view); each part themes itself.

#include "video/KRVideoDetailViewController.h"

#include "look/KRTheme.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"
#include "video/KRVideoFullscreen.h"

using namespace platform::uikit;

void KRVideoDetailViewController::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("视频")));
    if (!isViewLoaded() || !m_tabs->isBuilt())
        return;
    view()->setBackgroundColor(theme->backgroundColor());
    m_tabs->applyTheme();
    m_area->applyTheme();
    m_comments->applyTheme();
    m_info->applyTheme();
    if (m_fullscreen)
        m_fullscreen->applyTheme();
}

void KRVideoDetailViewController::applyOfficialInteractionImages() { m_info->applyOfficialInteractionImages(); }
