#include "PictureScreensTesting.h"

#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/photos/PhotoLibrary.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/ScrollView.h"
#include "shared/KRPhotoPickerViewController.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace picturetest;

namespace {

struct PickerAnswers : KRPhotoPickerViewControllerDelegate {
    int cancelled = 0;
    int finished = 0;
    QList<KRPhotoPickerItem> items;
    void photoPickerViewControllerDidCancel(KRPhotoPickerViewController*) override { ++cancelled; }
    void photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController*, const QList<KRPhotoPickerItem>& chosen) override
    {
        ++finished;
        items = chosen;
    }
};

class PhotoPickerTest : public PictureScreenTest {
protected:
    // `count` pictures, the first the newest; picture i is 40+i wide.
    QStringList fillAlbum(int count)
    {
        QDir().mkpath(album);
        QStringList urls;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < count; ++i) {
            const QString path = album + QStringLiteral("/img%1.png").arg(i, 3, 10, QLatin1Char('0'));
            QImage image(40 + i, 30, QImage::Format_RGB32);
            image.fill(QColor((i * 37) % 255, 120, 200));
            EXPECT_TRUE(image.save(path, "PNG"));
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::ReadWrite));
            EXPECT_TRUE(file.setFileTime(now.addSecs(-60 * i), QFileDevice::FileModificationTime));
            urls.append(QUrl::fromLocalFile(path).toString());
        }
        return urls;
    }
    KRPhotoPickerViewController* open(unsigned maximum = 9, const QList<KRPhotoPickerItem>& selected = {}, bool waitForAssets = true)
    {
        picker = push(new KRPhotoPickerViewController(selected, maximum));
        picker->setDelegate(&answers);
        if (waitForAssets) {
            EXPECT_TRUE(testsupport::waitUntil([&] { return picker->isAssetLoadFinished(); }));
        }
        return picker;
    }
    ScrollView* grid() const { return picker->view()->findChild<ScrollView*>(QStringLiteral("scrollView")); }
    Label* stateLabel() const { return picker->view()->findChild<Label*>(QStringLiteral("stateLabel")); }
    Button* tile(int index) const { return qobject_cast<Button*>(grid()->viewWithTag(KRPhotoPickerViewController::kTileTagBase + index)); }
    QList<Button*> tiles() const
    {
        QList<Button*> out;
        for (View* v : grid()->subviews()) {
            if (auto* b = qobject_cast<Button*>(v); b && b->tag() >= KRPhotoPickerViewController::kTileTagBase)
                out.append(b);
        }
        return out;
    }
    QString doneTitle() const { return picker->navigationItem()->rightBarButtonItem()->title(); }
    // The bar's button showing `title`, as the user sees it.
    Button* barButton(const QString& prefix) const
    {
        for (Button* b : nav->navigationBar()->findChildren<Button*>()) {
            if (b->isVisible() && b->currentTitle().startsWith(prefix))
                return b;
        }
        return nullptr;
    }
    void tap(int index)
    {
        Button* t = tile(index);
        ASSERT_NE(t, nullptr) << index;
        click(t);
    }
    // A finger put on the tile and drawn up the screen by `distance` points in steps through
    // the window, held still for a moment and lifted: the grid moves by exactly that much.
    void dragUpFromTile(int index, int distance)
    {
        Button* t = tile(index);
        ASSERT_NE(t, nullptr) << index;
        const QPoint start = t->mapTo(window.get(), t->rect().center());
        QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, start);
        for (int moved = 20; moved < distance; moved += 20)
            QTest::mouseMove(window->windowHandle(), start - QPoint(0, moved));
        QTest::mouseMove(window->windowHandle(), start - QPoint(0, distance));
        QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, start - QPoint(0, distance), 300);
        AnimationClock::finishAll();
    }

    PickerAnswers answers;
    KRPhotoPickerViewController* picker = nullptr;
};

TEST_F(PhotoPickerTest, TwelvePicturesMakeAGridOfFourColumns)
{
    fillAlbum(12);
    open();
    EXPECT_EQ(grid()->frame().size(), QSizeF(375, 603));
    EXPECT_EQ(picker->assetCount(), 12);
    EXPECT_EQ(tiles().size(), 12);
    ASSERT_NE(tile(5), nullptr);
    EXPECT_EQ(tile(5)->frame(), QRectF(96, 96, 88, 88));
    EXPECT_EQ(tile(0)->frame(), QRectF(4, 4, 88, 88));
    EXPECT_EQ(grid()->contentSize(), QSizeF(375, 280));
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (0/9)"));
    EXPECT_TRUE(stateLabel()->isHidden());
    EXPECT_EQ(picker->title(), QStringLiteral("选择图片"));
    EXPECT_FALSE(picker->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
    // Thumbnails arrive from the library's workers.
    KR_WAIT_UNTIL(!tile(11)->image(ControlStateNormal).isNull());

    tap(5);
    const View* badge = tile(5)->viewWithTag(KRPhotoPickerViewController::kBadgeTag);
    ASSERT_NE(badge, nullptr);
    EXPECT_NE(badge, tile(5));
    EXPECT_EQ(badge->frame(), QRectF(66, 66, 20, 20));
    EXPECT_FALSE(badge->isUserInteractionEnabled());
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (1/9)"));
    // The bar shows the count too.
    EXPECT_NE(barButton(QStringLiteral("完成 (1/9)")), nullptr);
    // Tapped again, it is no longer selected.
    tap(5);
    EXPECT_EQ(tile(5)->viewWithTag(KRPhotoPickerViewController::kBadgeTag), nullptr);
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (0/9)"));
}

TEST_F(PhotoPickerTest, ANarrowPhoneHasTilesOfSeventyFive)
{
    window.reset();
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone5,1"));
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("9.3"));
    window = std::make_unique<Window>();
    nav = new NavigationController(new ViewController());
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    fillAlbum(5);
    open();
    EXPECT_EQ(grid()->frame().width(), 320);
    EXPECT_EQ(tile(1)->frame(), QRectF(83, 4, 75, 75));
}

TEST_F(PhotoPickerTest, OnlyTheRowsOnScreenAndOneRowAroundHaveTiles)
{
    fillAlbum(100);
    open();
    EXPECT_EQ(tiles().size(), 32);
    QPointer<Button> first = tile(0);
    // Scrolled down by a finger put on a tile, twice: rows leave, their tiles are reused below,
    // and no tile the finger started on is picked.
    dragUpFromTile(4 * 5, 92 * 5);
    EXPECT_EQ(grid()->contentOffset(), QPointF(0, 92 * 5));
    dragUpFromTile(4 * 10 + 1, 92 * 5);
    EXPECT_EQ(grid()->contentOffset(), QPointF(0, 92 * 10));
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (0/9)"));
    const QList<Button*> shown = tiles();
    EXPECT_EQ(shown.size(), 40);
    int lowest = 1000, highest = -1;
    for (Button* b : shown) {
        lowest = std::min(lowest, b->tag() - KRPhotoPickerViewController::kTileTagBase);
        highest = std::max(highest, b->tag() - KRPhotoPickerViewController::kTileTagBase);
    }
    // Offset 920: rows 9 to 16 show; one more row above and below.
    EXPECT_EQ(lowest, 4 * 8);
    EXPECT_EQ(highest, 4 * 18 - 1);
    EXPECT_EQ(tile(0), nullptr);
    EXPECT_FALSE(first.isNull());  // pooled, not deleted
    EXPECT_TRUE(std::find(shown.begin(), shown.end(), first.data()) != shown.end());
    EXPECT_EQ(tile(40)->frame(), QRectF(4, 4 + 10 * 92, 88, 88));
}

TEST_F(PhotoPickerTest, TheMaximumIsOneToNineAndATenthPickIsRefused)
{
    fillAlbum(12);
    open(0);
    EXPECT_EQ(picker->maximumCount(), 1u);
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (0/1)"));
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    open(20);
    EXPECT_EQ(picker->maximumCount(), 9u);
    for (int i = 0; i < 9; ++i)
        tap(i);
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (9/9)"));
    tap(9);
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (9/9)"));
    EXPECT_EQ(tile(9)->viewWithTag(KRPhotoPickerViewController::kBadgeTag), nullptr);
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("最多选择 9 张"));
    EXPECT_EQ(alert()->message(), QStringLiteral("请先取消一张已选图片。"));
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    alert()->tapButtonForTesting(0);
    flushDeferredDeletes();
    EXPECT_EQ(picker->selectedURLs().size(), 9);
}

TEST_F(PhotoPickerTest, TheLimitAlertNamesThePickersOwnMaximum)
{
    fillAlbum(5);
    open(3);
    tap(0);
    tap(1);
    tap(2);
    tap(3);
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("最多选择 3 张"));
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (3/3)"));
}

TEST_F(PhotoPickerTest, DoneReturnsTheItemsInSelectionOrderWithFullScreenPictures)
{
    const QStringList urls = fillAlbum(6);
    QImage kept(7, 7, QImage::Format_RGB32);
    kept.fill(Qt::red);
    const QString elsewhere = QStringLiteral("file:///nowhere/earlier.jpg");
    open(9, {KRPhotoPickerItem{{KRPhotoPickerItemURLKey, elsewhere}, {KRPhotoPickerItemImageKey, kept}},
             KRPhotoPickerItem{{KRPhotoPickerItemURLKey, QString()}},
             KRPhotoPickerItem{{KRPhotoPickerItemURLKey, elsewhere}}});
    EXPECT_EQ(doneTitle(), QStringLiteral("完成 (1/9)"));
    tap(4);
    tap(1);
    click(barButton(QStringLiteral("完成")));
    KR_WAIT_UNTIL(answers.finished == 1);
    ASSERT_EQ(answers.items.size(), 3);
    EXPECT_EQ(answers.items[0].value(KRPhotoPickerItemURLKey).toString(), elsewhere);
    EXPECT_EQ(answers.items[0].value(KRPhotoPickerItemImageKey).value<QImage>(), kept);
    EXPECT_EQ(answers.items[1].value(KRPhotoPickerItemURLKey).toString(), urls[4]);
    EXPECT_EQ(answers.items[1].value(KRPhotoPickerItemImageKey).value<QImage>().size(), QSize(44, 30));
    EXPECT_EQ(answers.items[2].value(KRPhotoPickerItemURLKey).toString(), urls[1]);
    EXPECT_EQ(answers.items[2].value(KRPhotoPickerItemImageKey).value<QImage>().size(), QSize(41, 30));
    for (const KRPhotoPickerItem& item : answers.items)
        EXPECT_EQ(item.size(), 2);
    EXPECT_EQ(answers.cancelled, 0);
    // The picker never dismisses itself.
    EXPECT_EQ(nav->topViewController(), picker);

    click(barButton(QStringLiteral("取消")));
    EXPECT_EQ(answers.cancelled, 1);
}

TEST_F(PhotoPickerTest, APictureGoneBeforeDoneIsLeftOut)
{
    const QStringList urls = fillAlbum(3);
    open();
    tap(0);
    tap(2);
    QFile::remove(QUrl(urls[0]).toLocalFile());
    click(barButton(QStringLiteral("完成")));
    KR_WAIT_UNTIL(answers.finished == 1);
    ASSERT_EQ(answers.items.size(), 1);
    EXPECT_EQ(answers.items[0].value(KRPhotoPickerItemURLKey).toString(), urls[2]);
}

TEST_F(PhotoPickerTest, StateTextsForLoadingFailureAndAnEmptyAlbum)
{
    fillAlbum(2);
    open(9, {}, false);
    EXPECT_FALSE(stateLabel()->isHidden());
    EXPECT_EQ(stateLabel()->text(), QStringLiteral("正在读取相册…"));
    KR_WAIT_UNTIL(picker->isAssetLoadFinished());
    EXPECT_TRUE(stateLabel()->isHidden());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    platform::photos::PhotoLibrary::failNextReadForTesting();
    open();
    EXPECT_FALSE(stateLabel()->isHidden());
    EXPECT_TRUE(stateLabel()->text().startsWith(QStringLiteral("无法读取相册\n")));
    EXPECT_GT(stateLabel()->text().size(), QStringLiteral("无法读取相册\n").size());
    EXPECT_TRUE(tiles().isEmpty());
    // Done still returns what was chosen before (nothing here).
    click(barButton(QStringLiteral("完成")));
    EXPECT_EQ(answers.finished, 1);
    EXPECT_TRUE(answers.items.isEmpty());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    QDir(album).removeRecursively();
    QDir().mkpath(album);
    open();
    EXPECT_EQ(stateLabel()->text(), QStringLiteral("相册中没有可选图片"));
    EXPECT_FALSE(stateLabel()->isHidden());
}

TEST_F(PhotoPickerTest, AFailureStaysShownThroughLaterGridPasses)
{
    // No album folder at all.
    QDir(album).removeRecursively();
    open();
    const QString failure = QStringLiteral("无法读取相册\n相册文件夹不存在");
    EXPECT_EQ(stateLabel()->text(), failure);
    // A layout pass of a new width rebuilds the grid; the failure is still what happened.
    const QRectF frame = picker->view()->frame();
    picker->view()->setFrame(QRectF(frame.topLeft(), QSizeF(frame.width() - 20, frame.height())));
    picker->view()->layoutIfNeeded();
    EXPECT_FALSE(stateLabel()->isHidden());
    EXPECT_EQ(stateLabel()->text(), failure);
    // So does a theme pass.
    const int before = KRTheme::sharedTheme()->style();
    KRTheme::sharedTheme()->setStyle((before + 1) % 3);
    KRTheme::sharedTheme()->setStyle(before);
    EXPECT_FALSE(stateLabel()->isHidden());
    EXPECT_EQ(stateLabel()->text(), failure);
    EXPECT_TRUE(tiles().isEmpty());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    // A load that succeeds shows what it found.
    QDir().mkpath(album);
    open();
    EXPECT_EQ(stateLabel()->text(), QStringLiteral("相册中没有可选图片"));
}

TEST_F(PhotoPickerTest, TheTitleReadsClearlyInEveryStyle)
{
    // WCAG's contrast of two colours, by their relative luminance.
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    auto contrast = [&](const QColor& a, const QColor& b) {
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    };
    fillAlbum(2);
    const int before = KRTheme::sharedTheme()->style();
    for (int style = 0; style < 3; ++style) {
        SCOPED_TRACE(style);
        KRTheme::sharedTheme()->setStyle(style);
        // Shown as the screens show it: in a navigation of its own, presented.
        auto* shown = new KRPhotoPickerViewController({}, 9);
        nav->topViewController()->presentViewController(new NavigationController(shown), false);
        AnimationClock::finishAll();
        platform::MainClock::advanceForTesting(0.1);
        auto* title = qobject_cast<Label*>(shown->navigationItem()->titleView());
        ASSERT_NE(title, nullptr);
        ASSERT_TRUE(title->isVisible());
        EXPECT_EQ(title->text(), QStringLiteral("选择图片"));
        // The bar under the title, beside its centred text.
        const QImage screen = window->grab().toImage();
        const QPoint beside = title->mapTo(window.get(), QPoint(3, int(title->height() / 2)));
        const QColor bar = screen.pixelColor(beside * screen.devicePixelRatio());
        // The pink bar with its white, shadowed title (2.5) is the least of the themed bars;
        // white on the kit's plain grey bar is about 1.1.
        EXPECT_GE(contrast(title->textColor(), bar), 2.2) << bar.name().toStdString() << " under "
                                                            << title->textColor().name().toStdString();
        nav->topViewController()->dismissViewControllerAnimated(false);
        AnimationClock::finishAll();
        flushDeferredDeletes();
    }
    KRTheme::sharedTheme()->setStyle(before);
}

TEST_F(PhotoPickerTest, TheGridIsRebuiltOnlyForARealWidthChange)
{
    fillAlbum(8);
    open();
    QPointer<Button> before = tile(0);
    const QRectF frame = picker->view()->frame();
    picker->view()->setFrame(QRectF(frame.topLeft(), QSizeF(frame.width() - 0.4, frame.height())));
    picker->view()->layoutIfNeeded();
    flushDeferredDeletes();
    EXPECT_EQ(tile(0), before.data());
    picker->view()->setFrame(QRectF(frame.topLeft(), QSizeF(frame.width() - 1, frame.height())));
    picker->view()->layoutIfNeeded();
    flushDeferredDeletes();
    EXPECT_TRUE(before.isNull());
    ASSERT_NE(tile(0), nullptr);
}

} // namespace
