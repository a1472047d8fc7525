#include "library/KRProfileViewController.h"

#include "library/KRAccountVideoListViewController.h"
#include "look/KRTheme.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "shared/KRClassicSettingsCell.h"
#include "nav/KRRouter.h"
#include "store/KRSessionStore.h"

using namespace platform::uikit;

namespace {
constexpr qreal kRowHeight = 54;

QString identifierOf(KRProfileViewController::Row row)
{
    switch (row) {
    case KRProfileViewController::Row::Login: return QStringLiteral("KRProfileLoginCell");
    case KRProfileViewController::Row::Account: return QStringLiteral("KRProfileAccountCell");
    case KRProfileViewController::Row::Offline: return QStringLiteral("KRProfileOfflineCell");
    case KRProfileViewController::Row::Logout: return QStringLiteral("KRProfileLogoutCell");
    }
    return {};
}
} // namespace

KRProfileViewController::KRProfileViewController(QObject* parent) : TableViewController(TableViewStyleGrouped, parent)
{
    setTitle(QStringLiteral("我的"));
}

QList<QList<KRProfileViewController::Row>> KRProfileViewController::sections() const
{
    if (!KRSessionStore::sharedStore().isLoggedIn())
        return {{Row::Login}, {Row::Offline}};
    return {{Row::Account}, {Row::Offline}, {Row::Logout}};
}

std::optional<IndexPath> KRProfileViewController::indexPathForRow(Row row) const
{
    const QList<QList<Row>> all = sections();
    for (int s = 0; s < all.size(); ++s)
        if (const qsizetype r = all[s].indexOf(row); r >= 0)
            return IndexPath{s, int(r)};
    return std::nullopt;
}

void KRProfileViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    tableView()->setRowHeight(kRowHeight);
    auto& center = platform::NotificationCenter::defaultCenter();
    m_sessionObserver = center.addObserver(KRSessionDidChangeNotification, nullptr, [this](const platform::Notification&) {
        tableView()->reloadData();
    });
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    applyTheme();
}

void KRProfileViewController::viewWillAppear(bool animated)
{
    TableViewController::viewWillAppear(animated);
    applyTheme();
}

void KRProfileViewController::applyTheme()
{
    if (!isViewLoaded())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    theme->applyNavigationTitle(QStringLiteral("我的"), navigationItem());
    tableView()->setBackgroundColor(theme->backgroundColor());
    tableView()->setSeparatorColor(theme->separatorColor());
    if (NavigationController* navigation = navigationController())
        theme->refreshNavigationController(navigation);
    tableView()->reloadData();
}

int KRProfileViewController::numberOfSectionsInTableView(TableView*) { return int(sections().size()); }

int KRProfileViewController::numberOfRowsInSection(TableView*, int section) { return int(sections().value(section).size()); }

QString KRProfileViewController::titleForFooterInSection(TableView*, int section)
{
    const QList<QList<Row>> all = sections();
    if (all.value(section).contains(Row::Login))
        return QStringLiteral("登录后可点赞、投币、收藏、评论和发弹幕");
    return {};
}

TableViewCell* KRProfileViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    const QList<QList<Row>> all = sections();
    const QList<Row> section = all.value(indexPath.section);
    const Row row = section.value(indexPath.row);
    const QString identifier = identifierOf(row);
    TableViewCell* cell = table->dequeueReusableCellWithIdentifier(identifier);
    if (!cell)
        cell = new KRClassicSettingsCell(row == Row::Account ? TableViewCellStyleSubtitle : TableViewCellStyleDefault, identifier);
    const KRTheme* theme = KRTheme::sharedTheme();
    const KRSessionStore& store = KRSessionStore::sharedStore();
    cell->textLabel()->setTextColor(theme->primaryTextColor());
    cell->setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
    cell->textLabel()->setTextAlignment(TextAlignmentLeft);
    switch (row) {
    case Row::Login:
        cell->textLabel()->setText(QStringLiteral("扫码登录"));
        cell->textLabel()->setTextColor(theme->accentColor());
        break;
    case Row::Account: {
        const std::optional<QVariantMap> profile = store.accountProfile();
        const QString name = profile ? profile->value(QStringLiteral("uname")).toString() : QString();
        cell->textLabel()->setText(name.isEmpty() ? QStringLiteral("已登录") : name);
        cell->detailTextLabel()->setText(QStringLiteral("UID %1").arg(store.userID()));
        cell->detailTextLabel()->setTextColor(theme->secondaryTextColor());
        cell->setAccessoryType(TableViewCellAccessoryNone);
        cell->setSelectionStyle(TableViewCellSelectionStyleNone);
        break;
    }
    case Row::Offline:
        cell->textLabel()->setText(QStringLiteral("离线缓存"));
        break;
    case Row::Logout:
        cell->textLabel()->setText(QStringLiteral("退出登录"));
        cell->textLabel()->setTextAlignment(TextAlignmentCenter);
        cell->textLabel()->setTextColor(QColor(214, 58, 58));
        cell->setAccessoryType(TableViewCellAccessoryNone);
        break;
    }
    auto* classic = static_cast<KRClassicSettingsCell*>(cell);
    classic->applyThemeBackgrounds(indexPath.row == 0, indexPath.row == section.size() - 1, table->rowHeight());
    if (row == Row::Account)
        cell->setSelectionStyle(TableViewCellSelectionStyleNone);
    else
        cell->setSelectionStyle(TableViewCellSelectionStyleBlue);
    cell->setNeedsLayout();
    return cell;
}

void KRProfileViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    const Row row = sections().value(indexPath.section).value(indexPath.row, Row::Account);
    switch (row) {
    case Row::Login:
        KRRouter::openQRLogin(navigationController());
        break;
    case Row::Offline:
        if (NavigationController* navigation = navigationController())
            navigation->pushViewController(new KRAccountVideoListViewController(), true);
        break;
    case Row::Logout:
        // The session's change reloads this list and every screen that follows the login.
        KRSessionStore::sharedStore().clearSession();
        break;
    case Row::Account:
        break;
    }
}
