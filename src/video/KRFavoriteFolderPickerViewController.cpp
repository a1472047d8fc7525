#include "video/KRFavoriteFolderPickerViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRTheme.h"
#include "model/KRTolerantValue.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "shared/KRClassicSettingsCell.h"
#include "store/KRSessionStore.h"

#include <QPointer>

#include <cmath>
#include <memory>
#include <utility>

using namespace platform::uikit;

namespace {
constexpr qreal kRowHeight = 58;
const QString kFolderCellID = QStringLiteral("KRFavoriteFolderCell");
const QString kCreateCellID = QStringLiteral("KRFavoriteFolderCreateCell");

QVariantList numbers(const QSet<qint64>& ids)
{
    QVariantList list;
    for (qint64 id : ids)
        list.append(id);
    return list;
}

QString messageOrRetry(const QString& message)
{
    return message.isEmpty() ? QStringLiteral("请稍后重试") : message;
}

// Screens' labels keep their text as plain text; only a real string counts as a title.
QString folderTitle(const QVariantMap& folder)
{
    const QVariant title = folder.value(QStringLiteral("title"));
    return KRIsString(title) ? title.toString() : QString();
}
} // namespace

KRFavoriteFolderPickerViewController::KRFavoriteFolderPickerViewController(qint64 aid, const QString& videoTitle,
                                                                           Completion completion, QObject* parent)
    : TableViewController(TableViewStyleGrouped, parent), m_aid(aid), m_videoTitle(videoTitle), m_completion(std::move(completion))
{
}

KRFavoriteFolderPickerViewController::~KRFavoriteFolderPickerViewController() = default;

std::optional<qint64> KRFavoriteFolderPickerViewController::mediaIDForFolder(const QVariant& folder)
{
    return KRAccountFavoriteMediaID(folder);
}

int KRFavoriteFolderPickerViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRFavoriteFolderPickerViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRFavoriteFolderPickerViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(QStringLiteral("选择收藏夹"));
    TableView* table = tableView();
    table->setRowHeight(kRowHeight);
    navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("返回"), BarButtonItemStyleBordered));
    m_saveButton = new BarButtonItem(QStringLiteral("完成"), BarButtonItemStyleDone, [this] { saveTapped(); });
    m_saveButton->setEnabled(false);
    navigationItem()->setRightBarButtonItem(m_saveButton);

    m_stateBackgroundView = new View(table->bounds());
    m_stateBackgroundView->setObjectName(QStringLiteral("stateBackground"));
    m_stateBackgroundView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    const QRectF bounds = m_stateBackgroundView->bounds();
    m_stateLabel = new Label(bounds.adjusted(24, 90, -24, -90), m_stateBackgroundView);
    m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
    m_stateLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_stateLabel->setBackgroundColor(QColor(Qt::transparent));
    m_stateLabel->setTextAlignment(TextAlignmentCenter);
    m_stateLabel->setNumberOfLines(0);
    m_stateLabel->setFont(Label::systemFont(14));
    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray, m_stateBackgroundView);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_spinner->setHidesWhenStopped(true);
    const QSizeF spin = m_spinner->frame().size();
    m_spinner->setFrame(QRectF((bounds.width() - spin.width()) / 2, bounds.height() / 2 - 36 - spin.height() / 2, spin.width(),
                               spin.height()));
    m_spinner->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin |
                                   AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    table->setBackgroundView(m_stateBackgroundView);

    auto& center = platform::NotificationCenter::defaultCenter();
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    m_sessionObserver =
        center.addObserver(KRSessionDidChangeNotification, nullptr, [this](const platform::Notification&) { sessionDidChange(); });
    applyTheme();
    loadFolders();
}

void KRFavoriteFolderPickerViewController::viewWillAppear(bool animated)
{
    TableViewController::viewWillAppear(animated);
    applyTheme();
}

void KRFavoriteFolderPickerViewController::applyTheme()
{
    if (!isViewLoaded())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    theme->applyNavigationTitle(QStringLiteral("选择收藏夹"), navigationItem());
    TableView* table = tableView();
    table->setBackgroundColor(theme->backgroundColor());
    m_stateBackgroundView->setBackgroundColor(theme->backgroundColor());
    table->setSeparatorColor(theme->separatorColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    if (NavigationController* navigation = navigationController())
        theme->refreshNavigationController(navigation);
    table->reloadData();
}

void KRFavoriteFolderPickerViewController::setBusy(bool busy)
{
    tableView()->setUserInteractionEnabled(!busy);
    if (busy)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
}

void KRFavoriteFolderPickerViewController::loadFolders()
{
    if (m_loading || m_saving)
        return;
    m_loading = true;
    m_saveButton->setEnabled(false);
    m_stateLabel->setText(QStringLiteral("正在读取收藏夹…"));
    setBusy(true);
    KRAccountClient::sharedClient()->loadFavoriteFoldersForAID(m_aid, this, [this](const QVariantMap& result, const KROptionalError& error) {
        m_loading = false;
        setBusy(false);
        const QVariant listed = result.value(QStringLiteral("folders"));
        const QVariantList folders = KRIsArray(listed) ? listed.toList() : QVariantList();
        if (error) {
            m_stateLabel->setText(QStringLiteral("收藏夹读取失败\n%1\n返回后可重试").arg(error->localizedDescription()));
            tableView()->reloadData();
            return;
        }
        applyFolders(folders);
    });
}

void KRFavoriteFolderPickerViewController::applyFolders(const QVariantList& folders)
{
    m_folders.clear();
    QSet<qint64> all, favorited;
    for (const QVariant& folder : folders) {
        const std::optional<qint64> id = mediaIDForFolder(folder);
        if (!id)
            continue;
        m_folders.append(folder);
        all.insert(*id);
        if (KRBoolean(folder.toMap().value(QStringLiteral("fav_state"))))
            favorited.insert(*id);
    }
    if (!m_hasLoadedInitialState) {
        m_hasLoadedInitialState = true;
        m_initialSelectedMediaIDs = favorited;
        m_selectedMediaIDs = favorited;
    } else {
        // A reload after a creation keeps the user's ticks and drops folders that went.
        m_initialSelectedMediaIDs.intersect(all);
        m_selectedMediaIDs.intersect(all);
    }
    if (m_pendingCreatedMediaID >= 1 && all.contains(m_pendingCreatedMediaID)) {
        m_selectedMediaIDs.insert(m_pendingCreatedMediaID);
    } else if (!m_pendingCreatedTitle.isEmpty()) {
        // A folder answered without its id is found by its exact title among the new ones.
        for (const QVariant& folder : std::as_const(m_folders)) {
            const qint64 id = *mediaIDForFolder(folder);
            if ((!m_mediaIDsBeforeCreate || !m_mediaIDsBeforeCreate->contains(id))
                && folderTitle(folder.toMap()) == m_pendingCreatedTitle) {
                m_selectedMediaIDs.insert(id);
                break;
            }
        }
    }
    m_pendingCreatedMediaID = 0;
    m_pendingCreatedTitle.clear();
    m_mediaIDsBeforeCreate.reset();
    m_stateLabel->setText(m_folders.isEmpty() ? QStringLiteral("暂无收藏夹\n可以先新建一个") : QString());
    m_saveButton->setEnabled(true);
    tableView()->reloadData();
}

void KRFavoriteFolderPickerViewController::showFoldersForTesting(const QVariantList& folders)
{
    m_loading = false;
    setBusy(false);
    applyFolders(folders);
}

int KRFavoriteFolderPickerViewController::numberOfRowsInSection(TableView*, int section)
{
    return section == 0 ? int(m_folders.size()) : 1;
}

QString KRFavoriteFolderPickerViewController::titleForHeaderInSection(TableView*, int section)
{
    return section == 0 ? QStringLiteral("收藏到") : QStringLiteral("收藏夹管理");
}

QString KRFavoriteFolderPickerViewController::footerText() const
{
    const QString lead = m_videoTitle.isEmpty() ? QStringLiteral("视频可同时加入多个收藏夹。")
                                                : QStringLiteral("“%1”可同时加入多个收藏夹。").arg(m_videoTitle);
    return lead + QStringLiteral("一键三连始终使用默认收藏夹。");
}

View* KRFavoriteFolderPickerViewController::viewForFooterInSection(TableView* table, int section)
{
    if (section != 0)
        return nullptr;
    // A long title wraps rather than being cut, so the footer is a label of its own.
    auto* label = new Label(QRectF(0, 0, table->frame().width(), heightForFooterInSection(table, 0)));
    label->setObjectName(QStringLiteral("footerLabel"));
    label->setText(footerText());
    label->setFont(Label::systemFont(13));
    label->setNumberOfLines(0);
    label->setTextAlignment(TextAlignmentCenter);
    label->setBackgroundColor(QColor(Qt::transparent));
    label->setTextColor(KRTheme::sharedTheme()->secondaryTextColor());
    return label;
}

qreal KRFavoriteFolderPickerViewController::heightForFooterInSection(TableView* table, int section)
{
    if (section != 0)
        return -1;
    Label probe;
    probe.setFont(Label::systemFont(13));
    probe.setNumberOfLines(0);
    probe.setText(footerText());
    return std::ceil(probe.sizeThatFits(QSizeF(table->frame().width() - 40, 0)).height()) + 16;
}

TableViewCell* KRFavoriteFolderPickerViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    const QString identifier = indexPath.section == 0 ? kFolderCellID : kCreateCellID;
    TableViewCell* cell = table->dequeueReusableCellWithIdentifier(identifier);
    if (!cell)
        cell = new KRClassicSettingsCell(TableViewCellStyleSubtitle, identifier);
    configureCell(cell, indexPath);
    return cell;
}

void KRFavoriteFolderPickerViewController::configureCell(TableViewCell* cell, const IndexPath& indexPath)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    cell->setBackgroundColor(QColor(Qt::transparent));
    cell->contentView()->setBackgroundColor(QColor(Qt::transparent));
    cell->textLabel()->setTextColor(theme->primaryTextColor());
    cell->detailTextLabel()->setTextColor(theme->secondaryTextColor());
    cell->setSelectionStyle(TableViewCellSelectionStyleBlue);
    cell->setCheckmarkColor(theme->accentColor());
    if (indexPath.section == 0) {
        const QVariantMap folder = m_folders.value(indexPath.row).toMap();
        const QString title = folderTitle(folder);
        cell->textLabel()->setText(title.isEmpty() ? QStringLiteral("未命名收藏夹") : title);
        cell->detailTextLabel()->setText(
            QStringLiteral("%1 个内容").arg(std::max<qint64>(0, KRLongLong(folder.value(QStringLiteral("media_count"))))));
        const std::optional<qint64> id = mediaIDForFolder(folder);
        const bool ticked = id && m_selectedMediaIDs.contains(*id);
        cell->setAccessoryType(ticked ? TableViewCellAccessoryCheckmark : TableViewCellAccessoryNone);
        cell->setAccessibilityValue(ticked ? QStringLiteral("已选") : QStringLiteral("未选"));
    } else {
        cell->textLabel()->setText(QStringLiteral("＋ 新建收藏夹"));
        cell->textLabel()->setTextColor(theme->accentColor());
        cell->detailTextLabel()->setText(QStringLiteral("新建后自动勾选"));
        cell->setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
        cell->setAccessibilityValue(QString());
    }
    const int rows = numberOfRowsInSection(tableView(), indexPath.section);
    if (auto* classic = qobject_cast<KRClassicSettingsCell*>(cell))
        classic->applyThemeBackgrounds(indexPath.row == 0, indexPath.row == rows - 1, tableView()->rowHeight());
    cell->setNeedsLayout();
}

void KRFavoriteFolderPickerViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (m_loading || m_saving)
        return;
    if (indexPath.section == 1) {
        showCreateFolderAlert();
        return;
    }
    const std::optional<qint64> id = mediaIDForFolder(m_folders.value(indexPath.row));
    if (!id)
        return;
    if (m_selectedMediaIDs.contains(*id))
        m_selectedMediaIDs.remove(*id);
    else
        m_selectedMediaIDs.insert(*id);
    if (TableViewCell* cell = table->cellForRowAtIndexPath(indexPath))
        configureCell(cell, indexPath);
}

void KRFavoriteFolderPickerViewController::saveTapped()
{
    if (m_loading || m_saving || !m_hasLoadedInitialState)
        return;
    const QSet<qint64> add = QSet<qint64>(m_selectedMediaIDs).subtract(m_initialSelectedMediaIDs);
    const QSet<qint64> remove = QSet<qint64>(m_initialSelectedMediaIDs).subtract(m_selectedMediaIDs);
    if (add.isEmpty() && remove.isEmpty()) {
        finish(!m_selectedMediaIDs.isEmpty(), QString());
        return;
    }
    m_saving = true;
    m_saveButton->setEnabled(false);
    m_stateLabel->setText(QStringLiteral("正在保存收藏夹…"));
    setBusy(true);
    KRAccountClient::sharedClient()->updateFavoriteForAID(
        m_aid, numbers(add), numbers(remove), this, [this](bool success, const QString& message, const QVariant&) {
            m_saving = false;
            setBusy(false);
            m_saveButton->setEnabled(true);
            if (!success) {
                m_stateLabel->setText(QStringLiteral("保存失败：%1").arg(messageOrRetry(message)));
                showFailureAlert(QStringLiteral("收藏夹保存失败"), message);
                return;
            }
            const bool favorited = !m_selectedMediaIDs.isEmpty();
            finish(favorited, favorited ? QStringLiteral("收藏夹已更新") : QStringLiteral("已从所有收藏夹移除"));
        });
}

void KRFavoriteFolderPickerViewController::finish(bool favorited, const QString& message)
{
    // Called at most once: the screen leaves right after.
    if (Completion completion = std::exchange(m_completion, {}))
        completion(favorited, message);
    if (NavigationController* navigation = navigationController(); navigation && navigation->topViewController() == this)
        navigation->popViewControllerAnimated(true);
}

void KRFavoriteFolderPickerViewController::showFailureAlert(const QString& title, const QString& message)
{
    (new AlertView(title, messageOrRetry(message), QStringLiteral("知道了"), {}))->show();
}

void KRFavoriteFolderPickerViewController::showCreateFolderAlert()
{
    // The field goes with the alert; the answer reads it before that, and a screen gone by
    // the time a button is tapped hears nothing.
    auto input = std::make_shared<QPointer<TextField>>();
    auto* alert = new AlertView(QStringLiteral("新建收藏夹"), QStringLiteral("新建后会自动勾选，点击“完成”后将视频加入。"),
                                QStringLiteral("取消"), {QStringLiteral("新建公开收藏夹"), QStringLiteral("新建私密收藏夹")}, this,
                                [this, input](int index) { createAlertAnswered(index, *input ? (*input)->text() : QString()); });
    alert->setTag(kCreateFolderAlertTag);
    alert->setAlertViewStyle(AlertViewStylePlainTextInput);
    TextField* field = alert->textFieldAtIndex(0);
    field->setPlaceholder(QStringLiteral("输入收藏夹名称"));
    field->setClearsWhileEditing(true);
    *input = field;
    alert->show();
}

void KRFavoriteFolderPickerViewController::createAlertAnswered(int buttonIndex, const QString& typedTitle)
{
    if (buttonIndex <= 0)
        return;
    const QString title = typedTitle.trimmed();
    if (title.isEmpty()) {
        (new AlertView(QStringLiteral("无法新建"), QStringLiteral("收藏夹名称不能为空。"), QStringLiteral("知道了"), {}))->show();
        return;
    }
    createFolderWithTitle(title, buttonIndex == 2);
}

void KRFavoriteFolderPickerViewController::createFolderWithTitle(const QString& title, bool isPrivate)
{
    if (m_loading || m_saving)
        return;
    QSet<qint64> existing;
    for (const QVariant& folder : std::as_const(m_folders))
        if (const std::optional<qint64> id = mediaIDForFolder(folder))
            existing.insert(*id);
    m_mediaIDsBeforeCreate = existing;
    m_pendingCreatedTitle = title;
    m_pendingCreatedMediaID = 0;
    m_saving = true;
    m_saveButton->setEnabled(false);
    m_stateLabel->setText(QStringLiteral("正在新建收藏夹…"));
    setBusy(true);
    KRAccountClient::sharedClient()->createFavoriteFolderWithTitle(
        title, isPrivate, this, [this](bool success, const QString& message, const QVariant& data) {
            m_saving = false;
            setBusy(false);
            if (!success) {
                m_saveButton->setEnabled(m_hasLoadedInitialState);
                m_stateLabel->setText(QStringLiteral("新建失败：%1").arg(messageOrRetry(message)));
                m_pendingCreatedTitle.clear();
                m_mediaIDsBeforeCreate.reset();
                m_pendingCreatedMediaID = 0;
                showFailureAlert(QStringLiteral("新建收藏夹失败"), message);
                return;
            }
            if (KRIsDictionary(data)) {
                const QVariantMap map = data.toMap();
                qint64 id = KRLongLong(map.value(QStringLiteral("id")));
                if (id < 1)
                    id = KRLongLong(map.value(QStringLiteral("fid")));
                if (id < 1)
                    id = KRLongLong(map.value(QStringLiteral("media_id")));
                m_pendingCreatedMediaID = id;
            }
            loadFolders();
        });
}

void KRFavoriteFolderPickerViewController::sessionDidChange()
{
    if (KRSessionStore::sharedStore().isLoggedIn())
        return;
    if (NavigationController* navigation = navigationController(); navigation && navigation->topViewController() == this)
        navigation->popViewControllerAnimated(true);
}
