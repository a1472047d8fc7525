#include "browse/KRVideoListViewController.h"

#include "app/KRTheme.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/View.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

qreal KRDoubleColumnRowHeightForWidth(qreal width)
{
    if (width <= 0)
        width = Screen::bounds().width();
    const qreal card = std::floor((width - 14 - 7) / 2);
    return std::max<qreal>(143, std::ceil(std::floor(card * 9 / 16) + 56));
}

Image KRRoundedImage(const QColor& top, const QColor& bottom, const QColor& border)
{
    return KRThemeGradientImage(top, bottom, border, QSizeF(24, 44), 6).stretchable(11, 21);
}

KRVideoListViewController::KRVideoListViewController(int mode, qint64 tid, const QString& title, QObject* parent)
    : TableViewController(0, parent)
    , m_mode(mode)
    , m_tid(tid)
    , m_listTitle(title)
{
    setTitle(title);
}

KRVideoListViewController::~KRVideoListViewController() = default;

KRVideoListViewController* KRVideoListViewController::createWithPGCSeasonType(qint64 seasonType, const QString& title,
                                                                              QObject* parent)
{
    auto* list = new KRVideoListViewController(KRVideoListModePGC, 0, title, parent);
    list->m_seasonType = seasonType;
    return list;
}

KRVideoListViewController* KRVideoListViewController::createWithAggregateRIDs(const QVariantList& rids,
                                                                              const QString& title, QObject* parent)
{
    auto* list = new KRVideoListViewController(KRVideoListModeAggregate, 0, title, parent);
    list->m_aggregateRIDs = rids;
    return list;
}

bool KRVideoListViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRVideoListViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(m_listTitle);
}
