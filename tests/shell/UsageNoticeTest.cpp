#include "../uikit/KitTestSupport.h"

#include "look/KRTheme.h"
#include "browse/KRUsageNoticeViewController.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

#include <QPointer>

using namespace platform::uikit;

namespace {

class UsageNoticeTest : public KitTest {
protected:
    // The notice laid out at `width` points inside a navigation controller of a window.
    KRUsageNoticeViewController* showNotice(bool required, qreal width = 375)
    {
        window = std::make_unique<Window>(QRectF(0, 0, width, 667));
        auto* notice = new KRUsageNoticeViewController(required);
        window->setRootViewController(new NavigationController(notice));
        window->makeKeyAndVisible();
        notice->view()->layoutIfNeeded();
        return notice;
    }
    static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

    std::unique_ptr<Window> window;
};

TEST_F(UsageNoticeTest, NeededUntilVersionOneIsStored)
{
    EXPECT_TRUE(KRUsageNoticeViewController::needsInitialAcknowledgement());
    for (const qint64 stored : {0LL, -3LL}) {
        defaults().setObject(KRUsageNoticeAcceptedVersionKey, stored);
        EXPECT_TRUE(KRUsageNoticeViewController::needsInitialAcknowledgement()) << stored;
    }
    for (const qint64 stored : {1LL, 5LL}) {
        defaults().setObject(KRUsageNoticeAcceptedVersionKey, stored);
        EXPECT_FALSE(KRUsageNoticeViewController::needsInitialAcknowledgement()) << stored;
    }
}

TEST_F(UsageNoticeTest, ColumnTextsAndTheReadOnlyPageEndingHigher)
{
    auto* notice = showNotice(true);
    EXPECT_EQ(notice->title(), QStringLiteral("使用须知"));
    const QRectF intro = notice->introLabel()->frame();
    EXPECT_EQ(intro.topLeft(), QPointF(16, 22));
    EXPECT_EQ(intro.width(), 343);
    EXPECT_EQ(intro.height(), KRUsageNoticeViewController::heightForLabel(notice->introLabel(), 343));
    EXPECT_EQ(notice->introLabel()->text(), QStringLiteral("请在继续使用岚帆影院前阅读以下说明。"));
    const QString maker = QStringLiteral("https://") + KRServiceHosts::makerHost();
    EXPECT_EQ(notice->distributionBodyLabel()->text(), QStringLiteral("获取更新请以 %1 发布的信息为准。").arg(maker));
    EXPECT_TRUE(notice->updateBodyLabel()->text().startsWith(QStringLiteral("获取更新：") + maker + QLatin1Char('\n')));
    EXPECT_EQ(notice->updateBodyLabel()->text().count(QLatin1Char('\n')), 2);
    // Each section: title 22 high, body 29 below the title, the next title 27 below the body.
    const QRectF title1 = notice->distributionTitleLabel()->frame();
    const QRectF body1 = notice->distributionBodyLabel()->frame();
    EXPECT_EQ(title1, QRectF(16, intro.bottom() + 28, 343, 22));
    EXPECT_EQ(body1.top(), title1.top() + 29);
    EXPECT_GT(body1.height(), 2);
    EXPECT_EQ(notice->disclaimerTitleLabel()->frame().top(), body1.bottom() + 27);
    // The disclaimer wraps onto several lines at this width.
    EXPECT_GT(notice->disclaimerBodyLabel()->frame().height(), 3 * QFontMetricsF(Label::systemFont(13)).height());
    const QRectF updateBody = notice->updateBodyLabel()->frame();
    ASSERT_NE(notice->acknowledgeButton(), nullptr);
    EXPECT_EQ(notice->acknowledgeButton()->frame(), QRectF(16, updateBody.bottom() + 27 + 2, 343, 44));
    EXPECT_EQ(notice->acknowledgeButton()->currentTitle(), QStringLiteral("我已知悉并继续"));
    const qreal requiredHeight = notice->scrollView()->contentSize().height();
    EXPECT_EQ(requiredHeight, std::max(notice->view()->bounds().height() + 1, updateBody.bottom() + 27 + 62 + 20));

    auto* readOnly = showNotice(false);
    EXPECT_EQ(readOnly->acknowledgeButton(), nullptr);
    EXPECT_EQ(readOnly->introLabel()->text(), QStringLiteral("感谢你使用岚帆影院。请妥善保管安装包并遵守以下说明。"));
    const qreal end = readOnly->updateBodyLabel()->frame().bottom() + 27 + 20;
    EXPECT_EQ(readOnly->scrollView()->contentSize(), QSizeF(375, std::max(readOnly->view()->bounds().height() + 1, end)));
    // Nothing is acknowledged by showing either page.
    EXPECT_TRUE(KRUsageNoticeViewController::needsInitialAcknowledgement());
}

TEST_F(UsageNoticeTest, NarrowPagesKeepTheMinimumColumnCentred)
{
    auto* notice = showNotice(false, 200);
    EXPECT_EQ(notice->introLabel()->frame().x(), -10);
    EXPECT_EQ(notice->introLabel()->frame().width(), 220);
    EXPECT_EQ(notice->scrollView()->contentSize().width(), 200);
}

TEST_F(UsageNoticeTest, ColoursFollowTheTheme)
{
    auto* notice = showNotice(true);
    KRTheme* theme = KRTheme::sharedTheme();
    EXPECT_EQ(notice->disclaimerTitleLabel()->textColor(), theme->accentColor());
    EXPECT_EQ(notice->disclaimerBodyLabel()->textColor(), theme->primaryTextColor());
    theme->setStyle(1);
    EXPECT_EQ(notice->updateBodyLabel()->textColor(), theme->primaryTextColor());
    EXPECT_EQ(notice->introLabel()->textColor(), QColor::fromRgbF(0.94, 0.94, 0.94));
    EXPECT_EQ(notice->acknowledgeButton()->borderColor(), theme->separatorColor());
    EXPECT_EQ(notice->acknowledgeButton()->titleColor(ControlStateNormal), QColor(Qt::white));
}

TEST_F(UsageNoticeTest, AcknowledgingStoresPostsAndDismisses)
{
    window = std::make_unique<Window>();
    auto* root = new ViewController;
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto* notice = new KRUsageNoticeViewController(true);
    QPointer<NavigationController> navigation = new NavigationController(notice);
    root->presentViewController(navigation, false);
    notice->view()->layoutIfNeeded();

    int posts = 0;
    const void* postedObject = nullptr;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        KRUsageNoticeDidAcknowledgeNotification, nullptr, [&](const platform::Notification& n) {
            ++posts;
            postedObject = n.object;
        });
    notice->acknowledgeButton()->tapForTesting();
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(postedObject, notice);
    EXPECT_EQ(defaults().integer(KRUsageNoticeAcceptedVersionKey), 1);
    EXPECT_FALSE(KRUsageNoticeViewController::needsInitialAcknowledgement());
    // Written through to the file at once, not left for a later flush.
    EXPECT_EQ(platform::UserDefaults(defaults().path()).integer(KRUsageNoticeAcceptedVersionKey), 1);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_TRUE(navigation.isNull());
}

} // namespace
