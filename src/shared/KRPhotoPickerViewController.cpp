#include "shared/KRPhotoPickerViewController.h"

#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/photos/PhotoLibrary.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/ScrollView.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace platform::uikit;
using platform::photos::PhotoAsset;
using platform::photos::PhotoLibrary;

namespace {
constexpr unsigned kMostPictures = 9;
constexpr qreal kBadgeSide = 20;
constexpr qreal kBadgeInset = 22;
const QString kAssetKey = QStringLiteral("asset");
} // namespace

KRPhotoPickerViewController::KRPhotoPickerViewController(const QList<KRPhotoPickerItem>& selectedItems, unsigned maximumCount,
                                                         QObject* parent)
    : ViewController(parent)
    // The library lives as long as the picker, as the assets it hands out do.
    , m_library(std::make_unique<PhotoLibrary>())
    , m_maximumCount(std::clamp(maximumCount, 1u, kMostPictures))
{
    for (const KRPhotoPickerItem& item : selectedItems) {
        const QVariant url = item.value(KRPhotoPickerItemURLKey);
        if (url.typeId() != QMetaType::QString)
            continue;
        const QString address = url.toString();
        if (address.isEmpty() || m_selectedByURL.contains(address))
            continue;
        m_selectedByURL.insert(address, item);
        m_selectedOrder.append(address);
    }
}

KRPhotoPickerViewController::~KRPhotoPickerViewController()
{
    m_themeObserver.reset();
    if (m_scrollView)
        m_scrollView->setDelegate(nullptr);
    // Pooled tiles are off screen, so no view owns them.
    qDeleteAll(m_recycledButtons);
}

void KRPhotoPickerViewController::viewDidLoad()
{
    setTitle(QStringLiteral("选择图片"));
    navigationItem()->setLeftBarButtonItem(new BarButtonItem(QStringLiteral("取消"), BarButtonItemStyleBordered, [this] { cancelTapped(); }, this));
    navigationItem()->setRightBarButtonItem(new BarButtonItem(QStringLiteral("完成"), BarButtonItemStyleDone, [this] { doneTapped(); }, this));

    m_scrollView = new ScrollView(view()->bounds(), view());
    m_scrollView->setObjectName(QStringLiteral("scrollView"));
    m_scrollView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_scrollView->setDelegate(this);

    m_stateLabel = new Label(view()->bounds(), view());
    m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
    m_stateLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_stateLabel->setBackgroundColor(QColor(Qt::transparent));
    m_stateLabel->setOpaque(false);
    m_stateLabel->setTextAlignment(TextAlignmentCenter);
    m_stateLabel->setNumberOfLines(2);
    m_stateLabel->setText(QStringLiteral("正在读取相册…"));
    m_stateLabel->setUserInteractionEnabled(false);

    m_selectedBadgeImage = Image::named(QStringLiteral("Davirivu961/photo_selected"));
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { themeChanged(); });
    applyTheme();
    updateDoneTitle();
    loadAssets();
}

void KRPhotoPickerViewController::applyTheme()
{
    if (!isViewLoaded())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    view()->setBackgroundColor(theme->backgroundColor());
    m_scrollView->setBackgroundColor(theme->backgroundColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("选择图片")));
    // The title is drawn for the theme's bar (white on the pink and the black one), so the bar
    // of the navigation the picker is shown in wears the theme too.
    if (NavigationController* navigation = navigationController())
        theme->refreshNavigationController(navigation);
}

void KRPhotoPickerViewController::themeChanged()
{
    applyTheme();
    rebuildGrid();
}

void KRPhotoPickerViewController::loadAssets()
{
    m_library->loadAssets(this, [this](const QList<PhotoAsset>& assets, const std::optional<platform::Error>& error) {
        m_assetLoadFinished = true;
        if (error) {
            m_loadFailure = QStringLiteral("无法读取相册\n") + error->localizedDescription();
            m_stateLabel->setText(m_loadFailure);
            m_stateLabel->setHidden(false);
            return;
        }
        m_loadFailure.clear();
        m_assets = assets;
        rebuildGrid();
    });
}

void KRPhotoPickerViewController::rebuildGrid()
{
    if (!isViewLoaded())
        return;
    for (Button* button : std::as_const(m_visibleButtons)) {
        button->setImage(Image(), ControlStateNormal);
        button->removeFromSuperview();
        button->deleteLater();
    }
    for (Button* button : std::as_const(m_recycledButtons))
        button->deleteLater();
    m_visibleButtons.clear();
    m_recycledButtons.clear();

    const qreal w = m_scrollView->frame().width();
    m_gridColumns = platform::DeviceProfile::isPad() ? 6 : 4;
    m_gridGap = 4;
    m_gridSide = std::floor((w - m_gridGap * (m_gridColumns + 1)) / m_gridColumns);
    m_lastGridWidth = w;
    const int rows = int((m_assets.size() + m_gridColumns - 1) / m_gridColumns);
    m_scrollView->setContentSize(QSizeF(w, m_gridGap + rows * (m_gridGap + m_gridSide)));

    if (!m_assets.isEmpty()) {
        m_stateLabel->setHidden(true);
    } else {
        m_stateLabel->setHidden(false);
        if (!m_loadFailure.isEmpty())
            m_stateLabel->setText(m_loadFailure);
        else
            m_stateLabel->setText(m_assetLoadFinished ? QStringLiteral("相册中没有可选图片") : QStringLiteral("正在读取相册…"));
    }
    updateVisibleTiles();
}

Button* KRPhotoPickerViewController::dequeuePhotoButton()
{
    if (!m_recycledButtons.isEmpty())
        return m_recycledButtons.takeLast();
    auto* button = new Button(ButtonTypeCustom);
    button->setImageContentMode(ContentModeScaleAspectFill);
    button->setBorderWidth(0.5);
    button->addTarget(ControlEventTouchUpInside, [this, button] { assetTapped(button); });
    return button;
}

void KRPhotoPickerViewController::configurePhotoButton(Button* button, int index)
{
    const unsigned c = m_gridColumns;
    button->setTag(kTileTagBase + index);
    button->setFrame(QRectF(m_gridGap + (index % c) * (m_gridGap + m_gridSide), m_gridGap + (index / c) * (m_gridGap + m_gridSide),
                            m_gridSide, m_gridSide));
    setThumbnail(button, index);
    button->setBorderColor(KRTheme::sharedTheme()->separatorColor());
    if (View* badge = button->viewWithTag(kBadgeTag); badge && badge != button)
        badge->deleteLater(), badge->removeFromSuperview();
    if (m_selectedByURL.contains(m_assets.at(index).url)) {
        auto* badge = new ImageView(m_selectedBadgeImage, button);
        badge->setTag(kBadgeTag);
        badge->setObjectName(QStringLiteral("selectedBadge"));
        badge->setFrame(QRectF(m_gridSide - kBadgeInset, m_gridSide - kBadgeInset, kBadgeSide, kBadgeSide));
        badge->setContentMode(ContentModeScaleAspectFit);
        badge->setOpaque(false);
        badge->setUserInteractionEnabled(false);
    }
}

void KRPhotoPickerViewController::setThumbnail(Button* button, int index)
{
    const PhotoAsset& asset = m_assets.at(index);
    if (const Image* cached = m_thumbnails.object(asset.url)) {
        button->setImage(*cached, ControlStateNormal);
        return;
    }
    button->setImage(Image(), ControlStateNormal);
    const qreal scale = Screen::scale();
    const int pixels = int(std::ceil(m_gridSide * scale));
    const QString url = asset.url;
    m_library->loadThumbnail(asset, pixels, this, [this, url, index, scale](const QImage& image) {
        if (image.isNull())
            return;
        QImage scaled = image;
        scaled.setDevicePixelRatio(scale);
        m_thumbnails.insert(url, new Image(scaled));
        // The tile may have been recycled for another picture meanwhile.
        Button* button = m_visibleButtons.value(index);
        if (button && index < m_assets.size() && m_assets.at(index).url == url)
            button->setImage(Image(scaled), ControlStateNormal);
    });
}

void KRPhotoPickerViewController::updateVisibleTiles()
{
    const int count = int(m_assets.size());
    if (m_gridColumns == 0 || !(m_gridSide > 0) || count == 0)
        return;
    const int c = int(m_gridColumns);
    const qreal pitch = m_gridSide + m_gridGap;
    const QRectF bounds = m_scrollView->bounds();
    const int firstRow = int(std::floor((bounds.top() - m_gridGap) / pitch));
    const int lastRow = int(std::floor(bounds.bottom() / pitch));
    const int startRow = std::max(0, firstRow - 1);
    const int start = std::min(count, c * startRow);
    const int end = std::min(count, c * (std::max(lastRow + 1, startRow) + 1));

    for (auto it = m_visibleButtons.begin(); it != m_visibleButtons.end();) {
        if (it.key() >= start && it.key() < end) {
            ++it;
            continue;
        }
        Button* button = it.value();
        button->setImage(Image(), ControlStateNormal);
        if (View* badge = button->viewWithTag(kBadgeTag); badge && badge != button)
            badge->deleteLater(), badge->removeFromSuperview();
        button->removeFromSuperview();
        m_recycledButtons.append(button);
        it = m_visibleButtons.erase(it);
    }
    for (int i = start; i < end; ++i) {
        if (m_visibleButtons.contains(i))
            continue;
        Button* button = dequeuePhotoButton();
        m_visibleButtons.insert(i, button);
        configurePhotoButton(button, i);
        m_scrollView->addSubview(button);
        button->show();
    }
}

void KRPhotoPickerViewController::refreshButtonAtIndex(int index)
{
    if (Button* button = m_visibleButtons.value(index))
        configurePhotoButton(button, index);
}

void KRPhotoPickerViewController::assetTapped(Button* button)
{
    const int index = button->tag() - kTileTagBase;
    if (button->tag() < kTileTagBase || index >= m_assets.size())
        return;
    const QString url = m_assets.at(index).url;
    if (m_selectedByURL.contains(url)) {
        m_selectedByURL.remove(url);
        m_selectedOrder.removeAll(url);
    } else if (unsigned(m_selectedOrder.size()) >= m_maximumCount) {
        // The limit named is this picker's own: a picker for fewer than nine stops there, and
        // "最多选择 9 张" would name a limit the user cannot reach, beside a done button that
        // counts to the real one.
        auto* alert = new AlertView(QStringLiteral("最多选择 %1 张").arg(m_maximumCount), QStringLiteral("请先取消一张已选图片。"),
                                    QStringLiteral("知道了"), {});
        alert->show();
        return;
    } else {
        m_selectedByURL.insert(url, KRPhotoPickerItem{{KRPhotoPickerItemURLKey, url}, {kAssetKey, url}});
        m_selectedOrder.append(url);
    }
    updateDoneTitle();
    refreshButtonAtIndex(index);
}

void KRPhotoPickerViewController::updateDoneTitle()
{
    if (BarButtonItem* done = navigationItem()->rightBarButtonItem())
        done->setTitle(QStringLiteral("完成 (%1/%2)").arg(m_selectedOrder.size()).arg(m_maximumCount));
}

void KRPhotoPickerViewController::cancelTapped()
{
    if (m_delegate)
        m_delegate->photoPickerViewControllerDidCancel(this);
}

void KRPhotoPickerViewController::doneTapped()
{
    if (m_finishing)
        return;
    // Every entry gets its place now; the pictures still to make fill theirs as they come.
    struct Pending {
        QList<KRPhotoPickerItem> items;
        int waiting = 0;
    };
    auto pending = std::make_shared<Pending>();
    QList<int> toMake;
    for (const QString& url : std::as_const(m_selectedOrder)) {
        const KRPhotoPickerItem entry = m_selectedByURL.value(url);
        const QVariant image = entry.value(KRPhotoPickerItemImageKey);
        if (image.canConvert<QImage>() && !image.value<QImage>().isNull()) {
            pending->items.append(KRPhotoPickerItem{{KRPhotoPickerItemURLKey, url}, {KRPhotoPickerItemImageKey, image}});
        } else if (entry.contains(kAssetKey)) {
            toMake.append(int(pending->items.size()));
            pending->items.append(KRPhotoPickerItem{{KRPhotoPickerItemURLKey, url}});
        }
    }
    if (toMake.isEmpty()) {
        finishWithImages(pending->items);
        return;
    }
    m_finishing = true;
    pending->waiting = int(toMake.size());
    const QSize pixels = (Screen::bounds().size() * Screen::scale()).toSize();
    for (int slot : std::as_const(toMake)) {
        const QString url = pending->items.at(slot).value(KRPhotoPickerItemURLKey).toString();
        m_library->loadFullScreenImage(url, pixels, this, [this, pending, slot](const QImage& image) {
            if (!image.isNull())
                pending->items[slot].insert(KRPhotoPickerItemImageKey, image);
            if (--pending->waiting > 0)
                return;
            m_finishing = false;
            QList<KRPhotoPickerItem> made;
            // An entry whose picture could not be made is left out.
            for (const KRPhotoPickerItem& item : std::as_const(pending->items)) {
                if (item.contains(KRPhotoPickerItemImageKey))
                    made.append(item);
            }
            finishWithImages(made);
        });
    }
}

void KRPhotoPickerViewController::finishWithImages(const QList<KRPhotoPickerItem>& items)
{
    if (m_delegate)
        m_delegate->photoPickerViewControllerDidFinishWithItems(this, items);
}

void KRPhotoPickerViewController::scrollViewDidScroll(ScrollView* scrollView)
{
    if (scrollView == m_scrollView)
        updateVisibleTiles();
}

void KRPhotoPickerViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    if (std::abs(m_scrollView->frame().width() - m_lastGridWidth) > 0.5)
        rebuildGrid();
}

int KRPhotoPickerViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRPhotoPickerViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}
