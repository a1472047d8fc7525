#include "browse/KRSectionsViewController.h"

#include "look/KRTheme.h"
#include "browse/KRVideoListViewController.h"
#include "model/KRSectionRegistry.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "nav/KRRouter.h"
#include "store/KRSessionStore.h"

#include <cmath>

using namespace platform::uikit;

namespace {

const QString kTitle = QStringLiteral("发现");
const QString kFollowingCellIdentifier = QStringLiteral("KRFollowingEntryCell");
const QString kChannelCellIdentifier = QStringLiteral("KRModernChannelGridCell%1");
constexpr int kColumns = 3;
constexpr qreal kFollowingRowHeight = 58, kChannelRowHeight = 54;
constexpr qreal kHeaderHeight = 38, kFooterHeight = 8;
constexpr qreal kSideMargin = 9, kButtonGap = 7, kButtonTop = 5;
constexpr qreal kFollowingButtonHeight = 46, kChannelButtonHeight = 44;
constexpr qreal kTitleFontSize = 13, kHeaderFontSize = 12;

enum FillRole { FollowingFill, ChannelFill };

// The lower colour of a button's gradient: the black style has its own dark tone, the pink
// style a faint pink, the rest a light grey.
QColor buttonFill(int style, FillRole role)
{
    if (style == 1)
        return QColor::fromRgbF(0.1f, 0.1f, 0.12f);
    if (style == 2)
        return role == FollowingFill ? QColor::fromRgbF(1.0f, 0.92f, 0.95f) : QColor::fromRgbF(1.0f, 0.94f, 0.965f);
    return role == FollowingFill ? QColor::fromRgbF(0.93f, 0.93f, 0.93f) : QColor::fromRgbF(0.93f, 0.94f, 0.95f);
}

void dressButton(Button* button, const KRTheme* theme, FillRole role)
{
    button->setTitleColor(theme->primaryTextColor(), ControlStateNormal);
    button->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    button->setBackgroundImage(KRRoundedImage(theme->surfaceColor(), buttonFill(theme->style(), role), theme->separatorColor()),
                               ControlStateNormal);
}

Button* newTitledButton(int tag, View* superview)
{
    auto* button = new Button(ButtonTypeCustom, QRectF(), superview);
    button->setTag(tag);
    button->titleLabel()->setFont(Label::systemFont(kTitleFontSize, true));
    return button;
}

void dressCell(TableViewCell* cell, const KRTheme* theme)
{
    cell->setSelectionStyle(TableViewCellSelectionStyleNone);
    cell->setBackgroundColor(theme->backgroundColor());
    cell->contentView()->setBackgroundColor(theme->backgroundColor());
}

void showLoginAlert()
{
    (new AlertView(QStringLiteral("需要登录"), QStringLiteral("登录后才能读取你的关注动态。"), QStringLiteral("知道了"), {}))->show();
}

} // namespace

KRSectionsViewController::KRSectionsViewController(QObject* parent)
    : TableViewController(TableViewStylePlain, parent)
{
    setTitle(kTitle);
}

KRSectionsViewController::~KRSectionsViewController()
{
    // The table goes with the base class, after this part of the object.
    if (isViewLoaded()) {
        tableView()->setDataSource(nullptr);
        tableView()->setTableDelegate(nullptr);
    }
}

QVariantList KRSectionsViewController::channels() const { return KRSectionRegistry::allSections(); }

int KRSectionsViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRSectionsViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRSectionsViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(kTitle);
    tableView()->setSeparatorStyle(TableViewCellSeparatorStyleNone);
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { themeDidChange(); });
    applyTheme();
}

void KRSectionsViewController::applyTheme()
{
    if (!isViewLoaded())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(kTitle));
    view()->setBackgroundColor(theme->backgroundColor());
    tableView()->setBackgroundColor(theme->backgroundColor());
    tableView()->setSeparatorColor(theme->separatorColor());
}

void KRSectionsViewController::themeDidChange()
{
    applyTheme();
    tableView()->reloadData();
}

int KRSectionsViewController::numberOfSectionsInTableView(TableView*) { return 2; }

int KRSectionsViewController::numberOfRowsInSection(TableView*, int section)
{
    if (section == 0)
        return 1;
    return int((channels().size() + kColumns - 1) / kColumns);
}

qreal KRSectionsViewController::heightForRowAtIndexPath(TableView*, const IndexPath& indexPath)
{
    return indexPath.section == 0 ? kFollowingRowHeight : kChannelRowHeight;
}

qreal KRSectionsViewController::heightForHeaderInSection(TableView*, int) { return kHeaderHeight; }

View* KRSectionsViewController::viewForHeaderInSection(TableView* tableView, int section)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    auto* label = new Label(QRectF(0, 0, tableView->bounds().width(), kHeaderHeight));
    label->setBackgroundColor(theme->backgroundColor());
    label->setTextColor(theme->secondaryTextColor());
    label->setFont(Label::systemFont(kHeaderFontSize, true));
    label->setText(section == 0 ? QStringLiteral("   关注") : QStringLiteral("   按频道找内容"));
    return label;
}

qreal KRSectionsViewController::heightForFooterInSection(TableView*, int) { return kFooterHeight; }

View* KRSectionsViewController::viewForFooterInSection(TableView* tableView, int)
{
    auto* footer = new View(QRectF(0, 0, tableView->bounds().width(), kFooterHeight));
    footer->setBackgroundColor(KRTheme::sharedTheme()->backgroundColor());
    return footer;
}

TableViewCell* KRSectionsViewController::cellForRowAtIndexPath(TableView* tableView, const IndexPath& indexPath)
{
    return indexPath.section == 0 ? followingEntryCell(tableView) : channelGridCell(tableView, indexPath.row);
}

TableViewCell* KRSectionsViewController::followingEntryCell(TableView* tableView)
{
    TableViewCell* cell = tableView->dequeueReusableCellWithIdentifier(kFollowingCellIdentifier);
    if (!cell) {
        cell = new TableViewCell(TableViewCellStyleDefault, kFollowingCellIdentifier);
        for (const int tag : {kAllFollowingTag, kVideoFollowingTag}) {
            Button* button = newTitledButton(tag, cell->contentView());
            button->addTarget(ControlEventTouchUpInside, [this, button] { followingButtonTapped(button); });
        }
    }
    const KRTheme* theme = KRTheme::sharedTheme();
    dressCell(cell, theme);
    const qreal width = std::floor((tableView->bounds().width() - 2 * kSideMargin - kButtonGap) / 2);
    int index = 0;
    for (const int tag : {kAllFollowingTag, kVideoFollowingTag}) {
        auto* button = static_cast<Button*>(cell->contentView()->viewWithTag(tag));
        button->setFrame(QRectF(kSideMargin + index * (width + kButtonGap), kButtonTop, width, kFollowingButtonHeight));
        button->setTitle(tag == kVideoFollowingTag ? QStringLiteral("视频") : QStringLiteral("动态"), ControlStateNormal);
        dressButton(button, theme, FollowingFill);
        ++index;
    }
    return cell;
}

TableViewCell* KRSectionsViewController::channelGridCell(TableView* tableView, int row)
{
    const QString identifier = kChannelCellIdentifier.arg(row);
    TableViewCell* cell = tableView->dequeueReusableCellWithIdentifier(identifier);
    if (!cell) {
        cell = new TableViewCell(TableViewCellStyleDefault, identifier);
        for (int i = 0; i < kColumns; ++i) {
            Button* button = newTitledButton(kChannelTagBase + row * kColumns + i, cell->contentView());
            button->addTarget(ControlEventTouchUpInside, [this, button] { channelButtonTapped(button); });
        }
    }
    const KRTheme* theme = KRTheme::sharedTheme();
    dressCell(cell, theme);
    const QVariantList all = channels();
    const qreal width = std::floor((tableView->bounds().width() - 2 * kSideMargin - 2 * kButtonGap) / kColumns);
    for (int i = 0; i < kColumns; ++i) {
        const int index = row * kColumns + i;
        auto* button = static_cast<Button*>(cell->contentView()->viewWithTag(kChannelTagBase + index));
        button->setFrame(QRectF(kSideMargin + i * (width + kButtonGap), kButtonTop, width, kChannelButtonHeight));
        if (index >= all.size()) {
            button->setHidden(true);
            continue;
        }
        button->setHidden(false);
        button->setTitle(all.at(index).toMap().value(KRSectionNameKey).toString(), ControlStateNormal);
        dressButton(button, theme, ChannelFill);
        button->setBackgroundImage(KRRoundedImage(theme->selectionColor(), theme->selectionColor(), theme->accentColor()),
                                   ControlStateHighlighted);
    }
    return cell;
}

void KRSectionsViewController::followingButtonTapped(Button* button)
{
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        showLoginAlert();
        return;
    }
    const QString feedType = button && button->tag() == kVideoFollowingTag ? QStringLiteral("video") : QStringLiteral("all");
    KRRouter::openFollowingFeed(navigationController(), feedType);
}

void KRSectionsViewController::channelButtonTapped(Button* button)
{
    if (!button || button->tag() < kChannelTagBase)
        return;
    const int index = button->tag() - kChannelTagBase;
    const QVariantList all = channels();
    if (index >= all.size())
        return;
    const QVariantMap channel = all.at(index).toMap();
    const QString name = channel.value(KRSectionNameKey).toString();
    KRVideoListViewController* list = nullptr;
    switch (channel.value(KRSectionRouteKey).toInt()) {
    case KRSectionRouteAggregate:
        list = KRVideoListViewController::createWithAggregateRIDs(channel.value(KRSectionSourceRIDsKey).toList(), name);
        break;
    case KRSectionRouteSeasonIndex:
        list = KRVideoListViewController::createWithPGCSeasonType(channel.value(KRSectionSeasonTypeKey).toLongLong(), name);
        break;
    default:
        list = new KRVideoListViewController(KRVideoListModeSection, channel.value(KRSectionRIDKey).toLongLong(), name);
        break;
    }
    if (NavigationController* navigation = navigationController())
        navigation->pushViewController(list, true);
    else
        delete list;
}
