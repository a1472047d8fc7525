#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/photos/PhotoAsset.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/ViewController.h"

#include <QCache>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace platform::photos {
class PhotoLibrary;
}
namespace platform::uikit {
class Button;
class Label;
}

class KRPhotoPickerViewController;

inline const QString KRPhotoPickerItemURLKey = QStringLiteral("asset_url");
inline const QString KRPhotoPickerItemImageKey = QStringLiteral("image"); // a QImage
using KRPhotoPickerItem = QVariantMap;

// Told when the user cancels or finishes; the picker never dismisses itself. Not owned.
class KRPhotoPickerViewControllerDelegate {
public:
    virtual ~KRPhotoPickerViewControllerDelegate() = default;
    virtual void photoPickerViewControllerDidCancel(KRPhotoPickerViewController*) = 0;
    virtual void photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController*, const QList<KRPhotoPickerItem>&) = 0;
};

// Up to nine pictures of the photo album picked from a square grid, newest first, in the
// order they were tapped. Only the rows on screen and one row above and below have tile
// buttons, recycled through a pool; full-screen pictures are made only at "完成".
class KRPhotoPickerViewController : public platform::uikit::ViewController, public platform::uikit::ScrollViewDelegate {
    Q_OBJECT
public:
    static constexpr int kTileTagBase = 6400;
    static constexpr int kBadgeTag = 6500;

    KRPhotoPickerViewController(const QList<KRPhotoPickerItem>& selectedItems, unsigned maximumCount, QObject* parent = nullptr);
    ~KRPhotoPickerViewController() override;

    KRPhotoPickerViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRPhotoPickerViewControllerDelegate* delegate) { m_delegate = delegate; }
    unsigned maximumCount() const { return m_maximumCount; }
    QStringList selectedURLs() const { return m_selectedOrder; }
    int assetCount() const { return int(m_assets.size()); }
    bool isAssetLoadFinished() const { return m_assetLoadFinished; }

    void applyTheme();
    void loadAssets();
    void rebuildGrid();
    platform::uikit::Button* dequeuePhotoButton();
    void configurePhotoButton(platform::uikit::Button* button, int index);
    void updateVisibleTiles();
    void refreshButtonAtIndex(int index);
    void assetTapped(platform::uikit::Button* button);
    void updateDoneTitle();
    void cancelTapped();
    void doneTapped();

    void scrollViewDidScroll(platform::uikit::ScrollView* scrollView) override;
    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;

private:
    void themeChanged();
    void setThumbnail(platform::uikit::Button* button, int index);
    void finishWithImages(const QList<KRPhotoPickerItem>& items);

    KRPhotoPickerViewControllerDelegate* m_delegate = nullptr;
    // The window may delete the views before their controller.
    QPointer<platform::uikit::ScrollView> m_scrollView;
    platform::uikit::Label* m_stateLabel = nullptr;
    std::unique_ptr<platform::photos::PhotoLibrary> m_library;
    QList<platform::photos::PhotoAsset> m_assets;
    QHash<QString, KRPhotoPickerItem> m_selectedByURL;
    QStringList m_selectedOrder;
    QMap<int, platform::uikit::Button*> m_visibleButtons;
    QList<platform::uikit::Button*> m_recycledButtons;
    unsigned m_maximumCount = 1;
    platform::uikit::Image m_selectedBadgeImage;
    unsigned m_gridColumns = 0;
    qreal m_gridSide = 0;
    qreal m_gridGap = 4;
    qreal m_lastGridWidth = 0;
    bool m_assetLoadFinished = false;
    // The last load's failure text; it stays over every later grid pass until a load succeeds,
    // so a failure never reads as an empty album.
    QString m_loadFailure;
    // Thumbnails already made, by asset URL, so a tile scrolled back shows at once.
    QCache<QString, platform::uikit::Image> m_thumbnails{400};
    // "完成" waits for its full-screen pictures; further taps do nothing meanwhile.
    bool m_finishing = false;
    platform::ObserverToken m_themeObserver;
};
