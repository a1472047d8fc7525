#include "look/KRTheme.h"

#include "look/KRShellHelpers.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "store/KRPreferences.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

using namespace platform::uikit;

namespace {
const QString kStyleKey = QStringLiteral("KRThemeStyle");

QColor W(qreal white, qreal alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }
QColor RGB(qreal r, qreal g, qreal b) { return QColor::fromRgbF(r, g, b); }
int clampStyle(int style) { return style == 0 || style == 1 ? style : 2; }

// A transparent bitmap of the point size at scale 1.
QImage newContext(const QSizeF& size)
{
    QImage img(std::max(1, int(std::ceil(size.width()))), std::max(1, int(std::ceil(size.height()))),
               QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

struct GradientSpec {
    QColor top, bottom, stroke;
};
} // namespace

KRTheme::KRTheme() : m_delayed(std::make_unique<platform::DelayedCalls>()) {}
KRTheme::~KRTheme() = default;

KRTheme* KRTheme::sharedTheme()
{
    static KRTheme* theme = new KRTheme();  // kept for the life of the process
    return theme;
}

int KRTheme::style() const
{
    auto& defaults = platform::UserDefaults::standard();
    if (!defaults.contains(kStyleKey))
        return 2;
    return clampStyle(int(std::clamp<qint64>(defaults.integer(kStyleKey), INT_MIN, INT_MAX)));
}

void KRTheme::setStyle(int s)
{
    if (unsigned(s) > 2u || s == style())
        return;
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(kStyleKey, qint64(s));
    defaults.synchronize();
    platform::NotificationCenter::defaultCenter().post(KRThemeDidChangeNotification, this);
}

QString KRTheme::displayName() const
{
    switch (style()) {
    case 0:
        return QStringLiteral("白色");
    case 1:
        return QStringLiteral("黑色");
    default:
        return QStringLiteral("粉色");
    }
}

QColor KRTheme::surfaceColor() const { return style() == 1 ? RGB(0.13, 0.13, 0.15) : QColor(Qt::white); }

QColor KRTheme::primaryTextColor() const
{
    const int s = style();
    return s == 0 ? RGB(0.12, 0.12, 0.15) : s == 1 ? W(0.94) : RGB(0.25, 0.14, 0.18);
}

QColor KRTheme::secondaryTextColor() const
{
    const int s = style();
    return s == 0 ? W(0.42) : s == 1 ? W(0.66) : RGB(0.50, 0.34, 0.40);
}

QColor KRTheme::separatorColor() const
{
    const int s = style();
    return s == 0 ? W(0.84) : s == 1 ? W(0.24) : RGB(0.94, 0.80, 0.85);
}

QColor KRTheme::accentColor() const { return RGB(0.98, 0.45, 0.62); }

QColor KRTheme::navigationColor() const
{
    const int s = style();
    return s == 0 ? W(0.95) : s == 1 ? W(0.10) : RGB(0.98, 0.45, 0.62);
}

QColor KRTheme::navigationTextColor() const { return style() == 0 ? primaryTextColor() : QColor(Qt::white); }

QColor KRTheme::selectionColor() const { return style() == 1 ? RGB(0.30, 0.18, 0.23) : RGB(1.00, 0.86, 0.91); }

int KRTheme::spinnerStyle() const { return style() == 1 ? 1 : 2; }

Image KRTheme::backgroundTileImage() const
{
    static Image cache[3];
    const int s = style();
    if (cache[s].isNull()) {
        static const QColor base[3] = {RGB(0.955, 0.958, 0.968), RGB(0.07, 0.07, 0.083), RGB(1.0, 0.945, 0.966)};
        static const QColor line[3] = {RGB(0.925, 0.930, 0.942), RGB(0.10, 0.10, 0.115), RGB(0.975, 0.895, 0.925)};
        static const QColor dot[3] = {W(1.0, 0.55), W(0.18, 0.25), W(1.0, 0.65)};
        QImage img = newContext(QSizeF(8, 8));
        QPainter p(&img);
        p.fillRect(QRectF(0, 0, 8, 8), base[s]);
        p.fillRect(QRectF(0, 7, 8, 1), line[s]);
        p.fillRect(QRectF(2, 2, 1, 1), dot[s]);
        p.fillRect(QRectF(6, 5, 1, 1), dot[s]);
        p.end();
        cache[s] = Image(img);
    }
    return cache[s];
}

QBrush KRTheme::backgroundColor() const { return QBrush(backgroundTileImage().image()); }

Image KRThemeGradientImage(const QColor& top, const QColor& bottom, const std::optional<QColor>& stroke, const QSizeF& size,
                           qreal r)
{
    QImage img = newContext(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(QPointF(), size);
    QPainterPath path;
    if (r > 0)
        path.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), r, r);
    else
        path.addRect(bounds);
    p.save();
    p.setClipPath(path);
    QLinearGradient g(QPointF(0, 0), QPointF(0, size.height()));
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(bounds, g);
    p.restore();
    if (stroke) {
        p.setPen(QPen(*stroke, 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    p.end();
    return Image(img, std::max(1, int(std::floor(size.width() / 2))), std::max(1, int(std::floor(size.height() / 2))));
}

Image KRThemeClassicNavigationGradientImage(int style, qreal height)
{
    static Image cache[3][2];
    const int s = std::clamp(style, 0, 2);
    const int heightClass = height > 44.5 ? 1 : 0;
    if (cache[s][heightClass].isNull()) {
        static const GradientSpec specs[3] = {
            {W(1.0), RGB(0.88, 0.89, 0.91), RGB(0.67, 0.69, 0.73)},
            {RGB(0.19, 0.19, 0.22), RGB(0.07, 0.07, 0.085), W(0.0)},
            {RGB(1.0, 0.62, 0.73), RGB(0.93, 0.37, 0.56), RGB(0.72, 0.25, 0.42)},
        };
        cache[s][heightClass] = KRThemeGradientImage(specs[s].top, specs[s].bottom, specs[s].stroke, QSizeF(20, height), 0);
    }
    return cache[s][heightClass];
}

Image KRTheme::navigationBackgroundImage() const { return KRThemeClassicNavigationGradientImage(style(), 44); }

namespace {
// One image per style, drawn on first request and kept.
Image cachedStyleGradient(Image (&cache)[3], const GradientSpec (&specs)[3], int style, const QSizeF& size, qreal radius)
{
    if (cache[style].isNull())
        cache[style] = KRThemeGradientImage(specs[style].top, specs[style].bottom, specs[style].stroke, size, radius);
    return cache[style];
}
} // namespace

Image KRTheme::surfaceBackgroundImage() const
{
    static Image cache[3];
    static const GradientSpec specs[3] = {
        {W(1.0), RGB(0.975, 0.977, 0.983), RGB(0.87, 0.88, 0.90)},
        {RGB(0.155, 0.155, 0.18), RGB(0.105, 0.105, 0.125), RGB(0.22, 0.22, 0.25)},
        {W(1.0), RGB(1.0, 0.975, 0.984), RGB(0.94, 0.81, 0.86)},
    };
    return cachedStyleGradient(cache, specs, style(), QSizeF(12, 44), 0);
}

Image KRTheme::searchFieldBackgroundImage() const
{
    static Image cache[3];
    static const GradientSpec specs[3] = {
        {W(1.0), RGB(0.94, 0.945, 0.955), RGB(0.73, 0.75, 0.79)},
        {RGB(0.20, 0.20, 0.23), RGB(0.13, 0.13, 0.15), RGB(0.34, 0.34, 0.39)},
        {W(1.0), RGB(1.0, 0.94, 0.965), RGB(0.91, 0.57, 0.69)},
    };
    return cachedStyleGradient(cache, specs, style(), QSizeF(24, 34), 7);
}

Image KRTheme::groupedCellBackgroundImageWithTopCorners(bool top, bool bottom, qreal height) const
{
    const int h = std::max(int(std::floor(height)), 20);
    QImage img = newContext(QSizeF(40, h));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF shape(0.5, 0.5, 39, h - 1.5);
    QPainterPath path;
    if (top || bottom) {
        const qreal rt = top ? 8 : 0, rb = bottom ? 8 : 0;
        path.moveTo(shape.left() + rt, shape.top());
        path.lineTo(shape.right() - rt, shape.top());
        if (rt)
            path.arcTo(QRectF(shape.right() - 2 * rt, shape.top(), 2 * rt, 2 * rt), 90, -90);
        path.lineTo(shape.right(), shape.bottom() - rb);
        if (rb)
            path.arcTo(QRectF(shape.right() - 2 * rb, shape.bottom() - 2 * rb, 2 * rb, 2 * rb), 0, -90);
        path.lineTo(shape.left() + rb, shape.bottom());
        if (rb)
            path.arcTo(QRectF(shape.left(), shape.bottom() - 2 * rb, 2 * rb, 2 * rb), 270, -90);
        path.lineTo(shape.left(), shape.top() + rt);
        if (rt)
            path.arcTo(QRectF(shape.left(), shape.top(), 2 * rt, 2 * rt), 180, -90);
        path.closeSubpath();
    } else {
        path.addRect(shape);
    }
    p.save();
    p.setClipPath(path);
    p.fillRect(shape, surfaceColor());
    p.fillRect(QRectF(1, 1, 38, 1), W(1.0, style() == 1 ? 0.07 : 0.48));
    p.restore();
    p.setPen(QPen(separatorColor(), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.end();
    // The top cap sits on the last row, as the shipped drawing has it.
    return Image(img, 19, h - 1);
}

namespace {
// The title shadow of the white style and of the others.
void titleShadow(int style, QColor* color, QSizeF* offset, qreal lightAlpha, qreal darkAlpha)
{
    *color = style == 0 ? W(1.0, lightAlpha) : W(0.0, darkAlpha);
    *offset = style == 0 ? QSizeF(0, 1) : QSizeF(0, -1);
}
} // namespace

Label* KRTheme::navigationTitleLabelWithText(const QString& text) const
{
    auto* label = new Label(QRectF(0, 0, 170, 34));
    label->setBackgroundColor(QBrush(Qt::NoBrush));
    label->setTextAlignment(TextAlignmentCenter);
    label->setFont(Label::systemFont(18, true));
    label->setText(text);
    label->setTextColor(navigationTextColor());
    QColor c;
    QSizeF o;
    titleShadow(style(), &c, &o, 0.95, 0.45);
    label->setShadowColor(c);
    label->setShadowOffset(o);
    return label;
}

void KRTheme::applyNavigationTitle(const QString& title, NavigationItem* item) const
{
    if (!item)
        return;
    item->setTitle(title);
    if (KRThemeSystemMajorVersion() < 7) {
        auto* label = qobject_cast<Label*>(item->titleView());
        if (!label) {
            label = navigationTitleLabelWithText(title);
            item->setTitleView(label);
        }
        label->setText(title);
        label->setTextColor(navigationTextColor());
        QColor c;
        QSizeF o;
        titleShadow(style(), &c, &o, 0.95, 0.45);
        label->setShadowColor(c);
        label->setShadowOffset(o);
        return;
    }
    if (item->titleView())
        item->setTitleView(nullptr);
}

int KRThemeSystemMajorVersion() { return KRRootSystemMajorVersion(); }

bool KRThemeUsesContinuousStatusBarStyle()
{
    if (KRThemeSystemMajorVersion() < 7)
        return false;
    if (KRApplicationUsesFullScreenSafeArea())
        return true;
    const auto& prefs = KRPreferences::sharedPreferences();
    return prefs.experimentalFeaturesEnabled() && prefs.continuousStatusBarStyleEnabled();
}

QColor KRThemeSeparatedStatusBarBackdropColor(int style)
{
    switch (style) {
    case 0:
        return RGB(0.71, 0.73, 0.76);
    case 1:
        return W(0.025);
    case 2:
        return RGB(0.62, 0.18, 0.34);
    default:
        return Qt::black;
    }
}

void KRThemeApplyBarButtonItemAppearance(BarButtonItem* item, int style, const QColor& textColor)
{
    if (!item)
        return;
    TextAttributes a;
    if (KRThemeSystemMajorVersion() < 7) {
        a.textColor = textColor;
        a.shadowColor = style != 0 ? W(0.0, 0.46) : W(1.0, 0.92);
        a.shadowOffset = style != 0 ? QSizeF(0, -1) : QSizeF(0, 1);
    }
    for (int state : {int(ControlStateNormal), int(ControlStateHighlighted)}) {
        item->setTitleTextAttributes(a, state);
        item->setBackgroundImage(Image(), state);
        item->setBackButtonBackgroundImage(Image(), state);
    }
    item->setTitlePositionAdjustment(QPointF(0, 0));
    item->setBackButtonTitlePositionAdjustment(QPointF(0, 0));
}

void KRThemeCommitLegacyNavigationLayout(View* view)
{
    if (!view || KRThemeSystemMajorVersion() >= 7)
        return;
    view->setNeedsLayout();
    view->layoutIfNeeded();
}

void KRThemeSynchronizeVisibleNavigationButtonText(View* view, int style, const QColor& textColor)
{
    if (!view)
        return;
    if (auto* b = qobject_cast<Button*>(view)) {
        const QColor shadow = style != 0 ? W(0.0, 0.46) : W(1.0, 0.92);
        for (int state : {int(ControlStateNormal), int(ControlStateHighlighted), int(ControlStateSelected)}) {
            b->setTitleColor(textColor, state);
            b->setTitleShadowColor(shadow, state);
        }
        b->titleLabel()->setShadowOffset(style != 0 ? QSizeF(0, -1) : QSizeF(0, 1));
    }
    for (View* sub : view->subviews())
        KRThemeSynchronizeVisibleNavigationButtonText(sub, style, textColor);
}

Image KRTheme::navigationChromeBackgroundImageForNavigationController(NavigationController* controller) const
{
    const bool fullScreen = KRApplicationUsesFullScreenSafeArea() ||
                            (controller && controller->isViewLoaded() && KRViewUsesFullScreenSafeArea(controller->view()));
    if (fullScreen) {
        QImage img = newContext(QSizeF(1, 1));
        img.fill(navigationColor());
        return Image(img);
    }
    if (KRThemeSystemMajorVersion() >= 7 && KRThemeUsesContinuousStatusBarStyle())
        return KRThemeClassicNavigationGradientImage(style(), 64);
    return navigationBackgroundImage();
}

namespace {
QString refreshName(NavigationController* c)
{
    return QStringLiteral("finishNavigationRefresh:%1").arg(quintptr(c), 0, 16);
}

// Steps the first and the second pass share: tint, background image, item appearance, layout.
void applyBarPass(KRTheme* theme, NavigationController* controller, bool firstPass)
{
    const int v = KRThemeSystemMajorVersion();
    const int style = theme->style();
    NavigationBar* bar = controller->navigationBar();
    bar->setTintColor(v >= 7 ? theme->navigationTextColor() : theme->navigationColor());
    if (firstPass)
        bar->setTranslucent(false);
    bar->setBackgroundImage(theme->navigationChromeBackgroundImageForNavigationController(controller));
    if (firstPass) {
        TextAttributes a;
        a.textColor = theme->navigationTextColor();
        a.font = Label::systemFont(18, true);
        a.shadowColor = style == 0 ? W(1.0, 0.8) : W(0.0, 0.3);
        a.shadowOffset = style == 0 ? QSizeF(0, 1) : QSizeF(0, -1);
        bar->setTitleTextAttributes(a);
        KRThemeApplyBarButtonItemAppearance(BarButtonItem::appearanceInNavigationBar(), style, theme->navigationTextColor());
    }
    for (ViewController* c : controller->viewControllers()) {
        NavigationItem* item = c->navigationItem();
        for (BarButtonItem* b : {item->leftBarButtonItem(), item->rightBarButtonItem(), item->backBarButtonItem()})
            if (b)
                KRThemeApplyBarButtonItemAppearance(b, style, theme->navigationTextColor());
    }
}

void commitBarLayout(KRTheme* theme, NavigationBar* bar)
{
    bar->reloadItems();
    bar->setNeedsDisplay();
    bar->setNeedsLayout();
    KRThemeCommitLegacyNavigationLayout(bar);
    if (KRThemeSystemMajorVersion() >= 7)
        KRThemeSynchronizeVisibleNavigationButtonText(bar, theme->style(), theme->navigationTextColor());
}
} // namespace

void KRTheme::refreshNavigationController(NavigationController* controller)
{
    if (!controller)
        return;
    const int v = KRThemeSystemMajorVersion();
    NavigationBar* bar = controller->navigationBar();
    bar->setBarStyle(style() == 1 ? BarStyleBlack : BarStyleDefault);
    applyBarPass(this, controller, true);
    const QList<ViewController*> stack = controller->viewControllers();
    if (v < 7 && stack.size() >= 2) {
        ViewController* below = stack[stack.size() - 2];
        BarButtonItem* old = below->navigationItem()->backBarButtonItem();
        const QString title = old && !old->title().isEmpty() ? old->title() : QStringLiteral("返回");
        auto* item = new BarButtonItem(title, old ? old->style() : BarButtonItemStyleBordered);
        if (old) {
            item->setEnabled(old->isEnabled());
            item->setWidth(old->width());
            item->setTag(old->tag());
        }
        KRThemeApplyBarButtonItemAppearance(item, style(), navigationTextColor());
        below->navigationItem()->setBackBarButtonItem(item);
        if (old && old->parent() == below->navigationItem())
            old->deleteLater();
    }
    if (v < 7 && stack.size() >= 2) {
        NavigationItem* topItem = stack.last()->navigationItem();
        if (!topItem->leftBarButtonItem() && !topItem->hidesBackButton()) {
            topItem->setHidesBackButton(true, false);
            bar->setNeedsLayout();
            KRThemeCommitLegacyNavigationLayout(bar);
            topItem->setHidesBackButton(false, false);
        }
    }
    commitBarLayout(this, bar);
    refreshStatusBarBackdropForNavigationController(controller);
    // The second pass catches what the bar re-applied during this turn of the loop; it is
    // dropped when the controller has gone by then.
    QPointer<NavigationController> guarded(controller);
    m_delayed->schedule(refreshName(controller), 0, [this, guarded] {
        if (guarded)
            finishNavigationRefresh(guarded);
    });
}

bool KRTheme::hasPendingRefresh(NavigationController* controller) const
{
    return m_delayed->isScheduled(refreshName(controller));
}

void KRTheme::finishNavigationRefresh(NavigationController* controller)
{
    if (!controller)
        return;
    applyBarPass(this, controller, false);
    commitBarLayout(this, controller->navigationBar());
    refreshStatusBarBackdropForNavigationController(controller);
}

void KRTheme::refreshStatusBarBackdropForNavigationController(NavigationController* controller)
{
    if (!controller || !controller->isViewLoaded())
        return;
    const int v = KRThemeSystemMajorVersion();
    View* view = controller->view();
    if (v >= 7 && !view->window())
        return;
    View* backdrop = view->viewWithTag(KRThemeStatusBarBackdropTag);
    const bool fullScreen = KRViewUsesFullScreenSafeArea(view) || KRApplicationUsesFullScreenSafeArea();
    const bool continuous = !fullScreen && KRThemeUsesContinuousStatusBarStyle();
    // A stack that does not start at the top of its window (a pad's form sheet) has no status
    // bar above it: a backdrop there would cover the top of its own bar and title.
    Window* window = view->window();
    const bool underStatusBar = !window || view->convertPointToView(QPointF(), window).y() <= 0.5;
    if (v < 7 || (continuous && !fullScreen) || !underStatusBar) {
        if (backdrop && backdrop->superview()) {
            backdrop->removeFromSuperview();
            backdrop->deleteLater();
        }
        return;
    }
    if (!backdrop) {
        backdrop = new View(QRectF());
        backdrop->setTag(KRThemeStatusBarBackdropTag);
        backdrop->setUserInteractionEnabled(false);
        backdrop->setAccessibilityElementsHidden(true);
        backdrop->setAutoresizingMask(AutoresizingFlexibleWidth);
        backdrop->setOpaque(true);
        view->addSubview(backdrop);
    }
    backdrop->setBackgroundColor(fullScreen ? navigationColor() : KRThemeSeparatedStatusBarBackdropColor(style()));
    auto& app = Application::shared();
    qreal height = KRSafeAreaInsetsForView(view).top;
    if (height <= 0.5) {
        const QRectF sb = app.statusBarFrame();
        height = std::min(sb.width(), sb.height());
        if (height <= 0.5)
            height = 20;
    }
    const QRectF b = view->bounds();
    backdrop->setFrame(QRectF(b.topLeft(), QSizeF(b.width(), height)));
    const int o = app.statusBarOrientation();
    backdrop->setHidden(app.isStatusBarHidden() || (o != InterfaceOrientationPortrait && o != InterfaceOrientationPortraitUpsideDown));
    view->bringSubviewToFront(backdrop);
}

void KRTheme::applyToNavigationSegmentedControl(SegmentedControl* control) const
{
    if (!control)
        return;
    if (KRThemeSystemMajorVersion() >= 15) {
        control->setTitleColor(primaryTextColor(), ControlStateNormal);
        control->setTitleColor(primaryTextColor(), ControlStateHighlighted);
        control->setTitleColor(W(0.08), ControlStateSelected);
        control->setTitleColor(W(0.08), ControlStateSelected | ControlStateHighlighted);
        control->setTitleColor(secondaryTextColor(), ControlStateDisabled);
        control->setTintColor(separatorColor());
        return;
    }
    control->setTintColor(style() == 1 ? W(0.45) : navigationColor());
}

void KRTheme::applyToTabBarController(TabBarController* controller)
{
    if (!controller)
        return;
    const int v = KRThemeSystemMajorVersion();
    const int s = style();
    auto& app = Application::shared();
    if (v >= 6)
        app.setStatusBarStyle(s == 0 ? StatusBarStyleDefault : StatusBarStyleLightContent, false);
    else
        app.setStatusBarStyle(s == 1 ? StatusBarStyleBlackOpaque : s == 2 ? StatusBarStyleBlackTranslucent : StatusBarStyleDefault, false);

    QBrush windowColor, backdropColor;
    if (v >= 7) {
        windowColor = surfaceColor();
        backdropColor = KRThemeUsesContinuousStatusBarStyle() ? navigationColor() : KRThemeSeparatedStatusBarBackdropColor(s);
    } else if (v == 6) {
        windowColor = backdropColor = navigationColor();
    } else {
        windowColor = backdropColor = backgroundColor();
    }
    View* view = controller->view();
    view->setBackgroundColor(windowColor);
    if (Window* w = view->window())
        w->setBackgroundColor(windowColor);

    TabBar* bar = controller->tabBar();
    if (TabBar::supportsBarStyle())
        bar->setBarStyle(s == 1 ? BarStyleBlack : BarStyleDefault);
    bar->setTintColor(s == 0 ? W(0.82) : navigationColor());
    if (TabBar::supportsBarTintColor())
        bar->setBarTintColor(surfaceColor());
    if (TabBar::supportsTranslucency())
        bar->setTranslucent(false);

    for (ViewController* child : controller->viewControllers()) {
        auto* nav = qobject_cast<NavigationController*>(child);
        if (!nav)
            continue;
        const bool inWindow = nav->isViewLoaded() && nav->view()->window();
        if (v < 15) {
            refreshNavigationController(nav);
            if (v < 7)
                nav->view()->setBackgroundColor(backdropColor);
            else if (inWindow)
                nav->view()->setBackgroundColor(backgroundColor());
        } else if (inWindow) {
            refreshNavigationController(nav);
            nav->view()->setBackgroundColor(backgroundColor());
        }
        TextAttributes normal, selected;
        normal.textColor = secondaryTextColor();
        selected.textColor = accentColor();
        nav->tabBarItem()->setTitleTextAttributes(normal, ControlStateNormal);
        nav->tabBarItem()->setTitleTextAttributes(selected, ControlStateSelected);
    }
    static const GradientSpec tabSpecs[2] = {
        {W(1.0), RGB(0.88, 0.89, 0.91), W(0.70)},
        {RGB(0.16, 0.16, 0.18), RGB(0.07, 0.07, 0.085), W(0.25)},
    };
    const GradientSpec& spec = tabSpecs[s == 1 ? 1 : 0];
    bar->setBackgroundImage(KRThemeGradientImage(spec.top, spec.bottom, spec.stroke, QSizeF(20, 49), 0));
}

void KRThemeApplyRowBackgrounds(platform::uikit::TableViewCell* cell)
{
    using namespace platform::uikit;
    const KRTheme* theme = KRTheme::sharedTheme();
    cell->setBackgroundColor(theme->surfaceColor());
    cell->contentView()->setBackgroundColor(QBrush(Qt::NoBrush));
    auto* background = qobject_cast<ImageView*>(cell->backgroundView());
    if (!background) {
        background = new ImageView(QRectF());
        cell->setBackgroundView(background);
    }
    background->setImage(theme->surfaceBackgroundImage());
    View* selected = cell->selectedBackgroundView();
    if (!selected) {
        selected = new View(QRectF());
        cell->setSelectedBackgroundView(selected);
    }
    selected->setBackgroundColor(theme->selectionColor());
}
