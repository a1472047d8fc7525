#include "platform/uikit/NavigationBar.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/BarBackground.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace platform::uikit {
namespace {
constexpr qreal kBarHeight = 44;
constexpr qreal kSideMargin = 8;

bool modern() { return DeviceProfile::systemMajorVersion() >= 7; }

// Draws the platform's refresh arrow for the system refresh item.
class RefreshGlyphButton : public Button {
public:
    using Button::Button;
    QColor glyphColor;

protected:
    void drawRect(QPainter& p) override
    {
        Button::drawRect(p);
        p.setRenderHint(QPainter::Antialiasing);
        QColor c = glyphColor;
        if (isHighlighted())
            c.setAlphaF(c.alphaF() * 0.4);
        p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
        const QPointF ctr = QRectF(rect()).center();
        const QRectF arc(ctr.x() - 8, ctr.y() - 8, 16, 16);
        p.drawArc(arc, 60 * 16, 300 * 16);
        p.setBrush(c);
        p.setPen(Qt::NoPen);
        const QPointF tip(ctr.x() + 4, ctr.y() - 7);
        p.drawPolygon(QPolygonF{tip + QPointF(-3, -4), tip + QPointF(4, 0), tip + QPointF(-3, 4)});
    }
};
} // namespace

NavigationBar::NavigationBar(const QRectF& frame, View* superview)
    : View(frame.isNull() ? QRectF(0, 20, DeviceProfile::screenSize().width(), kBarHeight) : frame, superview)
{
    m_titleLabel = new Label(QRectF(), this);
    m_titleLabel->setTextAlignment(TextAlignmentCenter);
    m_titleLabel->setFont(Label::systemFont(modern() ? 17 : 20, true));
    m_titleLabel->setUserInteractionEnabled(false);
    reloadItems();
}

void NavigationBar::setBarStyle(int style) { m_barStyle = style; reloadItems(); update(); }
void NavigationBar::setTintColor(const QColor& color) { m_tintColor = color; reloadItems(); update(); }
void NavigationBar::setBarTintColor(const QColor& color) { m_barTintColor = color; update(); }
void NavigationBar::setBackgroundImage(const Image& image) { m_backgroundImage = image; update(); if (superview()) superview()->update(); }
void NavigationBar::setTitleTextAttributes(const TextAttributes& a) { m_titleAttributes = a; reloadItems(); }

QList<NavigationItem*> NavigationBar::items() const
{
    QList<NavigationItem*> out;
    for (const auto& i : m_items)
        if (i)
            out.append(i);
    return out;
}

void NavigationBar::setItems(const QList<NavigationItem*>& items)
{
    for (const auto& i : m_items)
        if (i)
            disconnect(i, nullptr, this, nullptr);
    m_items.clear();
    for (NavigationItem* i : items) {
        m_items.append(i);
        connect(i, &NavigationItem::changed, this, &NavigationBar::reloadItems);
    }
    reloadItems();
}

NavigationItem* NavigationBar::topItem() const
{
    const auto list = items();
    return list.isEmpty() ? nullptr : list.last();
}

NavigationItem* NavigationBar::backItem() const
{
    const auto list = items();
    return list.size() < 2 ? nullptr : list[list.size() - 2];
}

QColor NavigationBar::itemTextColor(BarButtonItem* item, int state) const
{
    for (BarButtonItem* source : {item, BarButtonItem::appearanceInNavigationBar()}) {
        if (!source)
            continue;
        const TextAttributes a = source->titleTextAttributes(state);
        if (a.textColor)
            return *a.textColor;
        const TextAttributes n = source->titleTextAttributes(ControlStateNormal);
        if (n.textColor)
            return *n.textColor;
    }
    if (modern())
        return m_tintColor.isValid() ? m_tintColor : QColor(0, 122, 255);
    return Qt::white;
}

void NavigationBar::styleButton(Button* b, BarButtonItem* item, bool back)
{
    for (int state : {int(ControlStateNormal), int(ControlStateHighlighted)}) {
        b->setTitleColor(itemTextColor(item, state), state);
        TextAttributes a;
        for (BarButtonItem* source : {item, BarButtonItem::appearanceInNavigationBar()})
            if (source && a.isEmpty())
                a = source->titleTextAttributes(state);
        if (a.shadowColor)
            b->setTitleShadowColor(*a.shadowColor, state);
        if (a.shadowOffset && state == ControlStateNormal)
            b->titleLabel()->setShadowOffset(*a.shadowOffset);
        if (a.font && state == ControlStateNormal)
            b->titleLabel()->setFont(*a.font);
        Image bg;
        for (BarButtonItem* source : {item, BarButtonItem::appearanceInNavigationBar()})
            if (source && bg.isNull())
                bg = back ? source->backButtonBackgroundImage(state) : source->backgroundImage(state);
        if (!bg.isNull())
            b->setBackgroundImage(bg, state);
    }
    b->titleLabel()->setFont(Label::systemFont(modern() ? 17 : 12, !modern()));
    if (!modern() && (back || !item || item->style() != BarButtonItemStylePlain)) {
        // The classic bordered look: a darker rounded plate in the bar's colour.
        const QColor base = m_tintColor.isValid() ? m_tintColor : (m_barStyle ? QColor(40, 40, 40) : QColor(110, 133, 162));
        b->setBackgroundColor(base.darker(125));
        b->setCornerRadius(5);
        b->setBorderWidth(1);
        b->setBorderColor(base.darker(170));
    }
}

View* NavigationBar::makeItemView(BarButtonItem* item, bool back, const QString& backTitle)
{
    if (item && item->customView()) {
        View* v = item->customView();
        addSubview(v);
        m_customViews.append(v);
        return v;
    }
    Button* b;
    if (item && item->systemItemKind() == BarButtonSystemItemRefresh) {
        auto* r = new RefreshGlyphButton(ButtonTypeCustom, QRectF(0, 0, 44, 44), this);
        r->glyphColor = itemTextColor(item, ControlStateNormal);
        b = r;
    } else {
        b = new Button(ButtonTypeCustom, QRectF(), this);
    }
    b->setTitle(back ? backTitle : (item ? item->title() : QString()), ControlStateNormal);
    styleButton(b, item, back);
    if (item) {
        b->setEnabled(item->isEnabled());
        b->setTag(item->tag());
    }
    if (back) {
        QPointer<NavigationBar> self(this);
        b->addTarget(ControlEventTouchUpInside, [self] {
            if (self && self->onBack)
                self->onBack();
        });
    } else if (item) {
        QPointer<BarButtonItem> guarded(item);
        b->addTarget(ControlEventTouchUpInside, [guarded] {
            if (guarded)
                guarded->trigger();
        });
    }
    const QSizeF fit = b->sizeThatFits({});
    const qreal w = item && item->width() > 0 ? item->width() : std::max<qreal>(b->buttonType() ? 44 : 30, fit.width() + (modern() ? 4 : 20));
    b->setFrame(QRectF(0, 0, std::min<qreal>(w, 140), modern() ? kBarHeight : 30));
    return b;
}

void NavigationBar::reloadItems()
{
    for (View* v : {static_cast<View*>(m_backButton), m_leftView, m_rightView}) {
        if (v && !m_customViews.contains(v))
            v->deleteLater(), v->hide();
    }
    for (const auto& v : m_customViews)
        if (v)
            v->hide();
    m_customViews.clear();
    m_backButton = nullptr;
    m_leftView = m_rightView = nullptr;
    if (m_titleView)
        m_titleView->hide();
    m_titleView = nullptr;

    NavigationItem* top = topItem();
    NavigationItem* below = backItem();
    if (top) {
        if (top->leftBarButtonItem()) {
            m_leftView = makeItemView(top->leftBarButtonItem(), false, {});
        } else if (below && !top->hidesBackButton()) {
            BarButtonItem* backItem = below->backBarButtonItem();
            QString title = backItem && !backItem->title().isEmpty() ? backItem->title() : below->title();
            if (title.isEmpty())
                title = QStringLiteral("Back");
            m_backButton = static_cast<Button*>(makeItemView(backItem, true, title));
            m_leftView = m_backButton;
        }
        if (top->rightBarButtonItem())
            m_rightView = makeItemView(top->rightBarButtonItem(), false, {});
        if (top->titleView()) {
            m_titleView = top->titleView();
            addSubview(m_titleView);
        }
    }
    for (View* v : {m_leftView, m_rightView, m_titleView.data()})
        if (v)
            v->show();
    m_titleLabel->setText(top && !top->titleView() ? top->title() : QString());
    m_titleLabel->setHidden(!top || top->titleView());
    m_titleLabel->setTextColor(m_titleAttributes.textColor.value_or(modern() ? (m_barStyle ? Qt::white : Qt::black) : Qt::white));
    m_titleLabel->setFont(m_titleAttributes.font.value_or(Label::systemFont(modern() ? 17 : 20, true)));
    m_titleLabel->setShadowColor(m_titleAttributes.shadowColor.value_or(modern() ? QColor() : QColor(0, 0, 0, 128)));
    m_titleLabel->setShadowOffset(m_titleAttributes.shadowOffset.value_or(QSizeF(0, -1)));
    setNeedsLayout();
    layoutIfNeeded();
}

void NavigationBar::layoutSubviews()
{
    const qreal w = frame().width(), h = frame().height();
    qreal leftEdge = kSideMargin, rightEdge = w - kSideMargin;
    auto centreY = [h](View* v) { return (h - v->frame().height()) / 2; };
    if (m_leftView) {
        m_leftView->setFrame(QRectF(leftEdge, centreY(m_leftView), m_leftView->frame().width(), m_leftView->frame().height()));
        leftEdge = m_leftView->frame().right() + kSideMargin;
    }
    if (m_rightView) {
        const qreal rw = m_rightView->frame().width();
        m_rightView->setFrame(QRectF(rightEdge - rw, centreY(m_rightView), rw, m_rightView->frame().height()));
        rightEdge = rightEdge - rw - kSideMargin;
    }
    // The title is centred on the bar while it fits between the items.
    const qreal side = std::max(leftEdge, w - rightEdge);
    const qreal titleW = std::max<qreal>(0, w - 2 * side);
    if (m_titleView) {
        const QSizeF s = m_titleView->frame().size();
        const qreal tw = std::min(s.width(), std::max<qreal>(titleW, rightEdge - leftEdge));
        m_titleView->setFrame(QRectF((w - tw) / 2, (h - std::min(s.height(), h)) / 2, tw, std::min(s.height(), h)));
    }
    m_titleLabel->setFrame(QRectF(side, 0, titleW, h));
}

QList<View*> NavigationBar::itemViews() const
{
    QList<View*> out;
    for (View* item : {m_leftView, m_rightView, static_cast<View*>(m_titleLabel), m_titleView.data()}) {
        if (!item)
            continue;
        // Alpha applies to a view's own drawing, so a button's title fades with it only when
        // it is given the same alpha.
        out.append(item);
        out.append(item->findChildren<View*>());
    }
    return out;
}

void NavigationBar::fadeItems(const NavigationBar* bar, qreal factor)
{
    for (View* v : bar->itemViews()) {
        auto own = std::find_if(m_ownAlphas.begin(), m_ownAlphas.end(), [v](const auto& entry) { return entry.first == v; });
        if (own == m_ownAlphas.end())
            own = m_ownAlphas.insert(m_ownAlphas.end(), {QPointer<View>(v), v->alpha()});
        v->setAlpha(own->second * factor);
    }
}

void NavigationBar::beginPopTransition(const QList<NavigationItem*>& incoming)
{
    endPopTransition();
    m_incoming = new NavigationBar(QRectF(QPointF(), frame().size()), this);
    m_incoming->m_drawsBackground = false;
    m_incoming->setAutoresizingMask(AutoresizingFlexibleWidth);
    m_incoming->setUserInteractionEnabled(false);
    m_incoming->m_barStyle = m_barStyle;
    m_incoming->m_tintColor = m_tintColor;
    m_incoming->m_titleAttributes = m_titleAttributes;
    m_incoming->setItems(incoming);
    m_incoming->show();
    setPopTransitionProgress(0);
}

void NavigationBar::setPopTransitionProgress(qreal progress)
{
    if (!m_incoming)
        return;
    const qreal p = std::clamp<qreal>(progress, 0, 1);
    m_incoming->setFrame(QRectF(QPointF(), frame().size()));
    fadeItems(this, 1 - p);
    fadeItems(m_incoming, p);
}

void NavigationBar::endPopTransition()
{
    for (const auto& [v, alpha] : m_ownAlphas)
        if (v)
            v->setAlpha(alpha);
    m_ownAlphas.clear();
    if (!m_incoming)
        return;
    // The screens' own views (custom items, title views) go back to this bar, hidden, as a
    // reload leaves them; the incoming bar's own buttons go with it.
    QList<View*> borrowed;
    for (const auto& v : m_incoming->m_customViews)
        if (v)
            borrowed.append(v);
    if (m_incoming->m_titleView)
        borrowed.append(m_incoming->m_titleView);
    for (View* v : borrowed) {
        if (v->parent() == m_incoming) {
            v->hide();
            v->setParent(this);
        }
    }
    for (const auto& i : m_incoming->m_items)
        if (i)
            disconnect(i, nullptr, m_incoming, nullptr);
    m_incoming->hide();
    m_incoming->deleteLater();
    m_incoming = nullptr;
}

void NavigationBar::drawBackgroundAbove(QPainter& p, const QRectF& strip) const
{
    const qreal ih = m_backgroundImage.size().height();
    if (m_backgroundImage.isNull() || ih <= kBarHeight)
        return;
    p.save();
    p.setClipRect(strip);
    m_backgroundImage.draw(p, QRectF(strip.left(), strip.bottom() + kBarHeight - ih, strip.width(), ih));
    p.restore();
}

void NavigationBar::drawRect(QPainter& p)
{
    if (!m_drawsBackground)
        return;
    const QRectF r(rect());
    if (!m_backgroundImage.isNull()) {
        const qreal ih = m_backgroundImage.size().height();
        // A tall image ends at the bar's bottom edge; its top part lies above the bar.
        m_backgroundImage.draw(p, QRectF(0, r.height() - std::max(ih, r.height()), r.width(), std::max(ih, r.height())));
        return;
    }
    drawBarBackground(p, r, m_barStyle, m_barTintColor, m_tintColor, BarContentEdge::Bottom);
}

} // namespace platform::uikit
