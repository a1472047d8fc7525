#include "look/KRTarnwick23Skin.h"

#include "look/KRTheme.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <vector>

using namespace platform::uikit;

namespace {
QColor W(qreal white, qreal alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }
QColor RGB(qreal r, qreal g, qreal b) { return QColor::fromRgbF(r, g, b); }

struct ButtonSpec {
    std::vector<QColor> fill;  // two stops spread evenly, or three at 0, 0.5, 1
    QColor stroke;
    qreal highlightAlpha;  // below 0: no inner highlight
};

Image drawButton(const ButtonSpec& spec)
{
    QImage img(20, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0.5, 0.5, 19, 31), 6, 6);
    p.save();
    p.setClipPath(outline);
    QLinearGradient g(QPointF(0, 0), QPointF(0, 32));
    for (size_t i = 0; i < spec.fill.size(); ++i)
        g.setColorAt(spec.fill.size() == 1 ? 0 : qreal(i) / (spec.fill.size() - 1), spec.fill[i]);
    p.fillRect(QRectF(0, 0, 20, 32), g);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(spec.stroke, 1));
    p.drawPath(outline);
    if (spec.highlightAlpha >= 0) {
        QPainterPath inner;
        inner.addRoundedRect(QRectF(1.5, 1.5, 17, 29), 5, 5);
        p.setPen(QPen(W(1.0, spec.highlightAlpha), 1));
        p.drawPath(inner);
    }
    p.end();
    return Image(img, 9, 15);
}

int skinStyle(const KRTheme* theme)
{
    const int s = theme ? theme->style() : 2;
    return s == 0 || s == 1 ? s : 2;
}

const ButtonSpec& pinkSpec(bool highlighted, qreal highlightAlpha)
{
    static const ButtonSpec normal[2] = {
        {{RGB(0.97, 0.61, 0.72), RGB(0.86, 0.34, 0.50)}, RGB(0.79, 0.13, 0.34), -1},
        {{RGB(0.97, 0.61, 0.72), RGB(0.86, 0.34, 0.50)}, RGB(0.79, 0.13, 0.34), 0.52},
    };
    static const ButtonSpec pressed[2] = {
        {{RGB(0.93, 0.43, 0.59), RGB(0.79, 0.20, 0.39)}, RGB(0.79, 0.13, 0.34), -1},
        {{RGB(0.93, 0.43, 0.59), RGB(0.79, 0.20, 0.39)}, RGB(0.79, 0.13, 0.34), 0.22},
    };
    const int withHighlight = highlightAlpha >= 0 ? 1 : 0;
    return highlighted ? pressed[withHighlight] : normal[withHighlight];
}
} // namespace

Image KRTarnwick23ButtonBackground(const KRTheme* theme, bool highlighted)
{
    static Image cache[3][2];
    const int s = skinStyle(theme);
    Image& slot = cache[s][highlighted];
    if (slot.isNull()) {
        ButtonSpec spec;
        if (s == 0)
            spec = highlighted ? ButtonSpec{{W(0.82), W(0.64)}, W(0.42), 0.22} : ButtonSpec{{W(1.0), W(0.80)}, W(0.55), 0.52};
        else if (s == 1)
            spec = highlighted ? ButtonSpec{{W(0.31), W(0.12)}, W(0.015), 0.22} : ButtonSpec{{W(0.24), W(0.055)}, W(0.015), 0.24};
        else
            spec = pinkSpec(highlighted, 0);
        slot = drawButton(spec);
    }
    return slot;
}

Image KRTarnwick23PaleButtonBackground(const KRTheme* theme, bool highlighted)
{
    static Image cache[3][2];
    const int s = skinStyle(theme);
    Image& slot = cache[s][highlighted];
    if (slot.isNull()) {
        static const ButtonSpec normal[3] = {
            {{W(1.0), W(0.97), W(0.90)}, W(0.68), 0.44},
            {{W(0.31), W(0.22), W(0.14)}, W(0.055), 0.44},
            {{RGB(1.0, 0.98, 0.99), RGB(1.0, 0.94, 0.97), RGB(0.985, 0.89, 0.925)}, RGB(0.94, 0.675, 0.77), 0.44},
        };
        static const ButtonSpec pressed[3] = {
            {{W(0.76), W(0.62), W(0.49)}, W(0.34), 0.44},
            {{W(0.16), W(0.09), W(0.035)}, W(0.0), 0.44},
            {{RGB(0.97, 0.48, 0.64), RGB(0.94, 0.34, 0.53), RGB(0.85, 0.19, 0.40)}, RGB(0.74, 0.09, 0.29), 0.44},
        };
        slot = drawButton(highlighted ? pressed[s] : normal[s]);
    }
    return slot;
}

Image KRTarnwick23PinkButtonBackground(bool highlighted)
{
    static Image cache[2];
    Image& slot = cache[highlighted];
    if (slot.isNull())
        slot = drawButton(pinkSpec(highlighted, -1));
    return slot;
}

QColor KRTarnwick23ButtonTitleColor(const KRTheme* theme)
{
    return theme && theme->style() == 0 ? W(0.16) : QColor(Qt::white);
}

QColor KRTarnwick23ButtonTitleShadowColor(const KRTheme* theme)
{
    return theme && theme->style() == 0 ? W(1.0, 0.9) : W(0.0, 0.45);
}

QSizeF KRTarnwick23ButtonTitleShadowOffset(const KRTheme* theme)
{
    return theme && theme->style() == 0 ? QSizeF(0, 1) : QSizeF(0, -1);
}

QColor KRTarnwick23PaleButtonTitleColor(const KRTheme* theme)
{
    if (!theme)
        return W(0.16);
    return theme->style() == 1 ? W(0.94) : theme->primaryTextColor();
}

QColor KRTarnwick23PaleButtonTitleShadowColor(const KRTheme* theme)
{
    return theme && theme->style() == 1 ? W(0.0, 0.68) : W(1.0, 0.88);
}

QSizeF KRTarnwick23PaleButtonTitleShadowOffset(const KRTheme* theme)
{
    return theme && theme->style() == 1 ? QSizeF(0, -1) : QSizeF(0, 1);
}

QColor KRTarnwick23LoadingBackgroundColor() { return QColor::fromRgbF(243 / 255.0, 243 / 255.0, 243 / 255.0); }

ImageView* KRTarnwick23LoadingTVView(const QRectF& frame)
{
    QList<Image> frames;
    for (int i = 1; i <= 5; ++i) {
        const Image img = Image::named(QStringLiteral("Tarnwick23/ani_loading_%1").arg(i));
        if (!img.isNull())
            frames.append(img);
    }
    auto* view = new ImageView(frame);
    view->setBackgroundColor(KRTarnwick23LoadingBackgroundColor());
    view->setContentMode(ContentModeCenter);
    if (!frames.isEmpty()) {
        view->setAnimationImages(frames);
        view->setAnimationDuration(0.5);
        view->setAnimationRepeatCount(0);
        view->setImage(frames.first());
    } else {
        view->setImage(Image::named(QStringLiteral("Tarnwick23/tv69")));
    }
    return view;
}

BarButtonItem* KRTarnwick23RefreshButton(std::function<void()> action)
{
    const Image normal = Image::named(QStringLiteral("Tarnwick23/btn_refresh"));
    if (normal.isNull())
        return BarButtonItem::systemItem(BarButtonSystemItemRefresh, std::move(action));
    auto* button = new Button(ButtonTypeCustom, QRectF(0, 0, 63, 32));
    button->setBackgroundImage(normal, ControlStateNormal);
    const Image pressed = Image::named(QStringLiteral("Tarnwick23/btn_refresh_highlighted"));
    if (!pressed.isNull())
        button->setBackgroundImage(pressed, ControlStateHighlighted);
    if (action)
        button->addTarget(ControlEventTouchUpInside, std::move(action));
    BarButtonItem* item = BarButtonItem::withCustomView(button);
    button->setParent(nullptr);
    QObject::connect(item, &QObject::destroyed, button, [button] { if (!button->superview()) delete button; });
    return item;
}

void KRTarnwick23NavigateToHome(ViewController* controller)
{
    if (!controller)
        return;
    // Everything is read before the first pop: a popped screen has left its tab bar
    // controller, and popping may destroy the screen that asked.
    QPointer<NavigationController> ownStack = controller->navigationController();
    QPointer<TabBarController> tabs = controller->tabBarController();
    if (ownStack)
        ownStack->popToRootViewControllerAnimated(false);
    if (!tabs)
        return;
    const QList<ViewController*> children = tabs->viewControllers();
    if (children.isEmpty())
        return;
    if (auto* first = qobject_cast<NavigationController*>(children.first()))
        first->popToRootViewControllerAnimated(false);
    tabs->setSelectedIndex(0);
}
