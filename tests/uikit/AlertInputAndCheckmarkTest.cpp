#include "KitTestSupport.h"
#include "KitTyping.h"

#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QImage>
#include <QPointer>

#include <memory>

using namespace platform::uikit;

namespace {
class KitAlertInput : public KitTest {};

int countPixelsNear(const QImage& image, const QColor& color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += colorNear(image.pixelColor(x, y), color, 40) ? 1 : 0;
    return n;
}
} // namespace

TEST_F(KitAlertInput, PlainTextStyleCarriesOneFieldThatTakesTheTypingWhenShown)
{
    Window w;
    w.setRootViewController(new ViewController());
    w.makeKeyAndVisible();
    auto* alert = new AlertView(QStringLiteral("新建"), QStringLiteral("名称"), QStringLiteral("取消"),
                                {QStringLiteral("公开"), QStringLiteral("私密")}, &w, {});
    EXPECT_EQ(alert->textFieldAtIndex(0), nullptr);
    alert->setAlertViewStyle(AlertViewStylePlainTextInput);
    TextField* field = alert->textFieldAtIndex(0);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(alert->textFieldAtIndex(1), nullptr);
    field->setPlaceholder(QStringLiteral("输入名称"));

    // The field shows under the message, above the buttons, and takes the keys at once.
    alert->show();
    ASSERT_TRUE(alert->isVisible());
    EXPECT_TRUE(field->isDescendantOfView(alert->presentationView()));
    EXPECT_TRUE(field->isVisible());
    EXPECT_TRUE(field->isFirstResponder());
    auto* firstButton = alert->presentationView()->viewWithTag(1);
    ASSERT_NE(firstButton, nullptr);
    EXPECT_LT(field->frameInWindow().bottom(), firstButton->frameInWindow().top());
    typeThroughWindow(&w, QStringLiteral("Later"));
    EXPECT_EQ(field->text(), QStringLiteral("Later"));
    alert->tapButtonForTesting(0);
    flushDeferredDeletes();
}

// Alerts shown while one is up wait their turn; each field takes the keys as its alert shows.
TEST_F(KitAlertInput, EveryAlertsFieldTakesTheKeysTypedAtTheWindowWhenItsTurnComes)
{
    Window w;
    w.setRootViewController(new ViewController());
    QStringList typed;
    const auto fieldAlert = [&](const QString& title) {
        auto field = std::make_shared<QPointer<TextField>>();
        auto* alert = new AlertView(title, {}, QStringLiteral("取消"), {QStringLiteral("好")}, &w,
                                    [&typed, field, title](int) { typed << title + QLatin1Char('=') + (*field)->text(); });
        alert->setAlertViewStyle(AlertViewStylePlainTextInput);
        *field = alert->textFieldAtIndex(0);
        return alert;
    };
    w.makeKeyAndVisible();
    AlertView* first = fieldAlert(QStringLiteral("一"));
    first->show();
    AlertView* second = fieldAlert(QStringLiteral("二"));
    second->show();
    ASSERT_EQ(w.visibleAlert(), first);
    EXPECT_TRUE(first->textFieldAtIndex(0)->isFirstResponder());
    EXPECT_FALSE(second->textFieldAtIndex(0)->isFirstResponder());
    typeThroughWindow(&w, QStringLiteral("ab"));
    first->dismissWithClickedButtonIndex(1);
    ASSERT_EQ(w.visibleAlert(), second);
    EXPECT_TRUE(second->textFieldAtIndex(0)->isFirstResponder());
    typeThroughWindow(&w, QStringLiteral("cd"));
    second->dismissWithClickedButtonIndex(1);
    EXPECT_EQ(typed, (QStringList{QStringLiteral("一=ab"), QStringLiteral("二=cd")}));
    flushDeferredDeletes();
}

TEST_F(KitAlertInput, TheFieldsTextReachesTheDismissalAndGoesWithTheAlert)
{
    Window w;
    w.setRootViewController(new ViewController());
    w.makeKeyAndVisible();
    QString typed;
    int button = -1;
    AlertView* alert = nullptr;
    alert = new AlertView(QStringLiteral("新建"), {}, QStringLiteral("取消"), {QStringLiteral("公开")}, &w,
                          [&](int index) {
                              button = index;
                              typed = alert->textFieldAtIndex(0)->text();
                          });
    alert->setAlertViewStyle(AlertViewStylePlainTextInput);
    QPointer<TextField> field = alert->textFieldAtIndex(0);
    alert->show();
    field->typeForTesting(QStringLiteral("稍后看"));
    auto* publicButton = qobject_cast<Button*>(alert->presentationView()->viewWithTag(2));
    ASSERT_NE(publicButton, nullptr);
    publicButton->tapForTesting();
    EXPECT_EQ(button, 1);
    EXPECT_EQ(typed, QStringLiteral("稍后看"));
    flushDeferredDeletes();
    EXPECT_TRUE(field.isNull());
}

TEST_F(KitAlertInput, AFieldOfAnAlertNeverShownIsFreedWithIt)
{
    auto* alert = new AlertView(QStringLiteral("新建"), {}, QStringLiteral("取消"), {});
    alert->setAlertViewStyle(AlertViewStylePlainTextInput);
    QPointer<TextField> field = alert->textFieldAtIndex(0);
    ASSERT_FALSE(field.isNull());
    // Back to the default style: no field any more.
    alert->setAlertViewStyle(AlertViewStyleDefault);
    EXPECT_TRUE(field.isNull());
    EXPECT_EQ(alert->textFieldAtIndex(0), nullptr);
    alert->setAlertViewStyle(AlertViewStylePlainTextInput);
    field = alert->textFieldAtIndex(0);
    delete alert;
    EXPECT_TRUE(field.isNull());
}

TEST_F(KitAlertInput, CheckmarkAccessoryDrawsATickInTheRightColumnInItsOwnColour)
{
    TableViewCell cell(TableViewCellStyleSubtitle, QStringLiteral("c"));
    cell.setFrame(QRectF(0, 0, 320, 58));
    cell.textLabel()->setText(QStringLiteral("默认收藏夹"));
    cell.setAccessoryType(TableViewCellAccessoryCheckmark);
    EXPECT_EQ(cell.accessoryType(), TableViewCellAccessoryCheckmark);
    cell.layoutIfNeeded();
    ASSERT_NE(cell.accessoryView(), nullptr);
    EXPECT_FALSE(cell.accessoryView()->isHidden());
    EXPECT_EQ(cell.accessoryView()->frame(), QRectF(288, 0, 32, 58));
    // The title leaves the accessory's column free.
    EXPECT_LE(cell.textLabel()->frame().right(), 288);

    cell.setCheckmarkColor(QColor(250, 114, 152));
    cell.layoutIfNeeded();
    const QImage tick = cell.grab().toImage();
    const QImage column = tick.copy(288, 0, 32, 58);
    EXPECT_GT(countPixelsNear(column, QColor(250, 114, 152)), 10);
    EXPECT_EQ(countPixelsNear(tick.copy(0, 0, 280, 58), QColor(250, 114, 152)), 0);

    // A chevron keeps the grey, and none leaves the column empty.
    cell.setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
    cell.layoutIfNeeded();
    const QImage chevron = cell.grab().toImage().copy(288, 0, 32, 58);
    EXPECT_EQ(countPixelsNear(chevron, QColor(250, 114, 152)), 0);
    EXPECT_GT(countPixelsNear(chevron, QColor(199, 199, 204)), 3);
    cell.setAccessoryType(TableViewCellAccessoryNone);
    EXPECT_TRUE(cell.accessoryView()->isHidden());
    EXPECT_EQ(cell.accessoryType(), TableViewCellAccessoryNone);
}
