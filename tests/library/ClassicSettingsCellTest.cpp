#include "../uikit/KitTestSupport.h"

#include "look/KRTheme.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "shared/KRClassicSettingsCell.h"

#include <QPointer>

using namespace platform::uikit;

namespace {
class ClassicSettingsCellTest : public KitTest {};
} // namespace

TEST_F(ClassicSettingsCellTest, EverythingSitsInAGroupInsetFromTheTablesEdges)
{
    KRTheme::sharedTheme()->setStyle(0);
    KRClassicSettingsCell cell(TableViewCellStyleSubtitle, QStringLiteral("c"));
    cell.setFrame(QRectF(0, 0, 375, 58));
    cell.textLabel()->setText(QStringLiteral("默认收藏夹"));
    cell.detailTextLabel()->setText(QStringLiteral("3 个内容"));
    cell.setAccessoryType(TableViewCellAccessoryCheckmark);
    cell.applyThemeBackgrounds(true, false, 58);
    cell.layoutIfNeeded();

    EXPECT_EQ(cell.contentView()->frame(), QRectF(10, 0, 355, 58));
    EXPECT_EQ(cell.backgroundView()->frame(), QRectF(10, 0, 355, 58));
    EXPECT_EQ(cell.selectedBackgroundView()->frame(), QRectF(10, 0, 355, 58));
    EXPECT_EQ(cell.accessoryView()->frame(), QRectF(333, 0, 32, 58));
    // The labels end before the accessory's column, inside the group.
    const QRectF title = cell.textLabel()->frame().translated(cell.contentView()->frame().topLeft());
    const QRectF detail = cell.detailTextLabel()->frame().translated(cell.contentView()->frame().topLeft());
    EXPECT_GE(title.left(), 10);
    EXPECT_LE(title.right(), 333);
    EXPECT_LE(detail.right(), 333);
    EXPECT_LT(title.bottom(), detail.bottom());
    EXPECT_TRUE(cell.textLabel()->font().bold());
    auto* background = qobject_cast<ImageView*>(cell.backgroundView());
    ASSERT_NE(background, nullptr);
    EXPECT_FALSE(background->image().isNull());

    // The group draws the lines between rows: the cell's own separator stays away, so its
    // corners outside the group are left clear.
    cell.setSeparatorColor(QColor(255, 0, 0));
    const QImage shot = cell.grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 57).alpha(), 0);
    EXPECT_EQ(shot.pixelColor(372, 57).alpha(), 0);
    EXPECT_FALSE(colorNear(shot.pixelColor(200, 57), QColor(255, 0, 0), 30));
}

TEST_F(ClassicSettingsCellTest, ConfiguringAgainRepaintsTheSameBackgrounds)
{
    KRTheme::sharedTheme()->setStyle(0);
    KRClassicSettingsCell cell(TableViewCellStyleSubtitle, QStringLiteral("c"));
    cell.setFrame(QRectF(0, 0, 375, 58));
    cell.applyThemeBackgrounds(true, false, 58);
    cell.layoutIfNeeded();
    QPointer<View> background = cell.backgroundView();
    QPointer<View> selected = cell.selectedBackgroundView();
    ASSERT_TRUE(background && selected);
    const qint64 firstImage = qobject_cast<ImageView*>(background.data())->image().image().cacheKey();
    const int childrenBefore = int(cell.findChildren<View*>().size());

    // A reused row configured for another place in its group and another theme, many times over.
    KRTheme::sharedTheme()->setStyle(1);
    for (int i = 0; i < 20; ++i)
        cell.applyThemeBackgrounds(false, true, 58);
    cell.layoutIfNeeded();
    EXPECT_EQ(cell.backgroundView(), background.data());
    EXPECT_EQ(cell.selectedBackgroundView(), selected.data());
    EXPECT_EQ(int(cell.findChildren<View*>().size()), childrenBefore);
    EXPECT_NE(qobject_cast<ImageView*>(background.data())->image().image().cacheKey(), firstImage);
    EXPECT_EQ(selected->backgroundColor().color(), KRTheme::sharedTheme()->selectionColor());
    EXPECT_EQ(background->frame(), QRectF(10, 0, 355, 58));

    // A background set from outside is not painted over; the cell makes its own again.
    auto* own = new View(QRectF());
    cell.setBackgroundView(own);
    cell.applyThemeBackgrounds(true, true, 58);
    EXPECT_NE(cell.backgroundView(), own);
    EXPECT_NE(qobject_cast<ImageView*>(cell.backgroundView()), nullptr);
    KRTheme::sharedTheme()->setStyle(0);
}
