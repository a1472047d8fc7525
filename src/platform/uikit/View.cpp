#include "platform/uikit/View.h"

#include "platform/uikit/AnimationClock.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QPointer>

#include <QChildEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <list>
#include <typeinfo>

namespace platform::uikit {

View::View(const QRectF& frame, View* superview) : QWidget(nullptr)
{
    setAttribute(Qt::WA_NoSystemBackground);
    m_frame = frame;
    if (superview)
        superview->addSubview(this);
    else
        applyGeometry();
}

View::~View() = default;

void View::applyGeometry()
{
    QPointF origin = m_frame.topLeft() + m_presentationOffset;
    if (auto* sv = superview())
        origin -= sv->m_boundsOrigin;
    // Edges rounded independently, so adjoining views meet without gaps.
    const int l = int(std::floor(origin.x() + 0.5)), t = int(std::floor(origin.y() + 0.5));
    const int r = int(std::floor(origin.x() + m_frame.width() + 0.5));
    const int b = int(std::floor(origin.y() + m_frame.height() + 0.5));
    if (isWindow() && m_sizeFixedByFrame)
        // The phone's screen: its size comes from the frame alone, never from a hand dragging
        // its border (the window manager sees a fixed size).
        setFixedSize(std::max(0, r - l), std::max(0, b - t));
    else if (isWindow())
        resize(std::max(0, r - l), std::max(0, b - t));
    else
        setGeometry(l, t, std::max(0, r - l), std::max(0, b - t));
}

void View::setFrame(const QRectF& frame)
{
    const QSizeF old = m_frame.size();
    const bool moved = m_frame != frame;
    m_frame = frame;
    applyGeometry();
    // The shadow lies outside this view, in the superview's drawing.
    if (moved && m_shadowOpacity > 0 && parentWidget())
        parentWidget()->update();
    if (old != frame.size()) {
        if (m_autoresizesSubviews)
            resizeSubviewsWithOldSize(old);
        setNeedsLayout();
    }
}

void View::setPresentationOffset(const QPointF& offset)
{
    if (offset == m_presentationOffset)
        return;
    m_presentationOffset = offset;
    applyGeometry();
}

void View::setCenter(const QPointF& c)
{
    setFrame(QRectF(c.x() - m_frame.width() / 2, c.y() - m_frame.height() / 2, m_frame.width(), m_frame.height()));
}

void View::setBoundsOrigin(const QPointF& origin)
{
    if (origin == m_boundsOrigin)
        return;
    m_boundsOrigin = origin;
    for (View* v : subviews())
        v->applyGeometry();
    update();
}

namespace {
// Shares `delta` among the flexible parts of one axis in proportion to their lengths.
void distribute(qreal delta, bool flexA, bool flexLen, bool flexB, qreal a, qreal len, qreal b, qreal* outA, qreal* outLen)
{
    const qreal parts[3] = {flexA ? a : 0, flexLen ? len : 0, flexB ? b : 0};
    const int count = int(flexA) + int(flexLen) + int(flexB);
    if (count == 0) {
        *outA = a;
        *outLen = len;
        return;
    }
    const qreal sum = parts[0] + parts[1] + parts[2];
    auto share = [&](int i, bool flex) { return !flex ? 0.0 : (sum > 0 ? delta * parts[i] / sum : delta / count); };
    *outA = a + share(0, flexA);
    *outLen = std::max<qreal>(0, len + share(1, flexLen));
}
} // namespace

void View::resizeSubviewsWithOldSize(const QSizeF& old)
{
    const QSizeF now = m_frame.size();
    for (View* v : subviews()) {
        const int m = v->m_autoresizingMask;
        if (!m)
            continue;
        const QRectF f = v->m_frame;
        qreal x, w, y, h;
        distribute(now.width() - old.width(), m & AutoresizingFlexibleLeftMargin, m & AutoresizingFlexibleWidth,
                   m & AutoresizingFlexibleRightMargin, f.x(), f.width(), old.width() - f.right(), &x, &w);
        distribute(now.height() - old.height(), m & AutoresizingFlexibleTopMargin, m & AutoresizingFlexibleHeight,
                   m & AutoresizingFlexibleBottomMargin, f.y(), f.height(), old.height() - f.bottom(), &y, &h);
        v->setFrame(QRectF(x, y, w, h));
    }
}

View* View::viewWithTag(int tag)
{
    if (m_tag == tag)
        return this;
    for (View* v : subviews())
        if (View* found = v->viewWithTag(tag))
            return found;
    return nullptr;
}

View* View::superview() const { return qobject_cast<View*>(parentWidget()); }

QList<View*> View::subviews() const
{
    QList<View*> out;
    for (QObject* o : children())
        if (auto* v = qobject_cast<View*>(o); v && !v->isWindow())
            out.append(v);
    return out;
}

void View::addSubview(View* view)
{
    if (!view || view == this)
        return;
    const bool hidden = view->isHidden() && view->testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (view->parentWidget() != this)
        view->setParent(this);
    view->raise();
    view->applyGeometry();
    if (!hidden)
        view->show();
}

void View::insertSubviewAtIndex(View* view, int index)
{
    addSubview(view);
    const QList<View*> subs = subviews();
    if (index >= 0 && index < subs.size() - 1)
        view->stackUnder(subs[index] == view ? subs[index + 1] : subs[index]);
}

void View::removeFromSuperview()
{
    if (!superview())
        return;
    hide();
    setParent(nullptr);
    // Hidden by removal only: showing again on the next add.
    setAttribute(Qt::WA_WState_ExplicitShowHide, false);
}

void View::bringSubviewToFront(View* view)
{
    if (view && view->superview() == this)
        view->raise();
}

void View::sendSubviewToBack(View* view)
{
    if (view && view->superview() == this)
        view->lower();
}

bool View::isDescendantOfView(const View* view) const
{
    for (const View* v = this; v; v = v->superview())
        if (v == view)
            return true;
    return false;
}

Window* View::window() const
{
    for (const View* v = this; v; v = v->superview())
        if (auto* w = qobject_cast<Window*>(const_cast<View*>(v)))
            return w;
    return nullptr;
}

void View::setBackgroundColor(const QBrush& brush)
{
    m_background = brush;
    updateOpaquePainting();
    update();
}

void View::setCornerRadius(qreal radius)
{
    m_cornerRadius = radius;
    updateOpaquePainting();
    update();
}

namespace {

// Whether a fill with the brush leaves nothing of what lies beneath showing: an opaque colour,
// or a tile (a pattern colour) whose pixels are all opaque. Tiles are small; a large one is
// judged by its format alone.
bool fillsOpaquely(const QBrush& brush)
{
    if (brush.style() == Qt::SolidPattern)
        return brush.color().alpha() == 255;
    if (brush.style() != Qt::TexturePattern)
        return false;
    const QImage tile = brush.textureImage();
    if (tile.isNull())
        return false;
    if (!tile.hasAlphaChannel())
        return true;
    if (qint64(tile.width()) * tile.height() > 64 * 64)
        return false;
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x)
            if (qAlpha(tile.pixel(x, y)) != 255)
                return false;
    return true;
}

} // namespace

void View::updateOpaquePainting()
{
    // A view that fills its whole rect opaquely hides what lies beneath it, so Qt may leave
    // that part of the views below unpainted on screen (otherwise every window, screen and bar
    // background is filled again under whatever covers it, lists' tiled backgrounds included).
    const bool covers = m_alpha >= 1 && m_cornerRadius <= 0 && (fillsOpaquely(m_background) || drawsWholeRectOpaquely());
    setAttribute(Qt::WA_OpaquePaintEvent, covers);
}

void View::animateAlpha(qreal alpha, double seconds)
{
    AnimationClock::cancel(m_alphaAnimation);
    m_alphaAnimation = 0;
    if (seconds <= 0) {
        setAlpha(alpha);
        return;
    }
    const qreal from = m_alpha;
    m_alphaAnimation = AnimationClock::animate(this, seconds, [this, from, alpha](double progress) {
        setAlpha(from + (alpha - from) * progress);
    });
}

void View::setAlpha(qreal alpha)
{
    m_alpha = std::clamp<qreal>(alpha, 0, 1);
    updateOpaquePainting();
    update();
}

void View::setUserInteractionEnabled(bool enabled)
{
    m_userInteractionEnabled = enabled;
    setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
}

void View::setContentMode(int mode)
{
    m_contentMode = mode;
    updateOpaquePainting();
    update();
}

void View::setNeedsLayout()
{
    m_needsLayout = true;
    if (m_layoutQueued)
        return;
    m_layoutQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_layoutQueued = false;
        layoutIfNeeded();
    });
}

void View::layoutIfNeeded()
{
    if (m_inLayout)
        return;
    if (!m_needsLayout) {
        for (View* v : subviews())
            v->layoutIfNeeded();
        return;
    }
    m_needsLayout = false;
    m_inLayout = true;
    QPointer<ViewController> controller = qobject_cast<ViewController*>(property("kr_controller").value<QObject*>());
    if (controller)
        controller->notifyLayout(false);
    layoutSubviews();
    if (controller)
        controller->notifyLayout(true);
    m_inLayout = false;
    for (View* v : subviews())
        v->layoutIfNeeded();
}

void View::sizeToFit()
{
    const QSizeF s = sizeThatFits(m_frame.size());
    setFrame(QRectF(m_frame.topLeft(), s));
}

void View::setSafeAreaInsetsForTesting(const EdgeInsets& insets)
{
    m_pinnedSafeArea = insets;
    setNeedsLayout();
}

EdgeInsets View::safeAreaInsets() const
{
    if (m_pinnedSafeArea)
        return *m_pinnedSafeArea;
    if (DeviceProfile::systemMajorVersion() < 11)
        return {};
    const Window* w = window();
    if (!w || w == static_cast<const View*>(this))
        return {};
    const EdgeInsets wi = w->safeAreaInsets();
    const QRectF r = frameInWindow();
    const QRectF wb = w->bounds();
    return EdgeInsets{std::max<qreal>(0, wi.top - r.top()), std::max<qreal>(0, wi.left - r.left()),
                      std::max<qreal>(0, r.bottom() - (wb.height() - wi.bottom)),
                      std::max<qreal>(0, r.right() - (wb.width() - wi.right))};
}

QRectF View::frameInWindow() const
{
    QPointF origin(0, 0);
    const View* v = this;
    while (v && !v->isWindow()) {
        origin += v->m_frame.topLeft();
        if (View* sv = v->superview()) {
            origin -= sv->m_boundsOrigin;
            v = sv;
        } else {
            break;
        }
    }
    return QRectF(origin, m_frame.size());
}

QPointF View::convertPointToView(const QPointF& p, const View* view) const
{
    const QPointF inWindow = frameInWindow().topLeft() + (p - m_boundsOrigin);
    if (!view)
        return inWindow;
    return inWindow - view->frameInWindow().topLeft() + view->m_boundsOrigin;
}

QRectF View::convertRectToView(const QRectF& r, const View* view) const
{
    return QRectF(convertPointToView(r.topLeft(), view), r.size());
}

void View::drawRect(QPainter&) {}

void View::setShadowColor(const QColor& color) { m_shadowColor = color; updateShadow(); }
void View::setShadowOffset(const QSizeF& offset) { m_shadowOffset = offset; updateShadow(); }
void View::setShadowRadius(qreal radius) { m_shadowRadius = std::max<qreal>(0, radius); updateShadow(); }
void View::setShadowOpacity(qreal opacity) { m_shadowOpacity = std::clamp<qreal>(opacity, 0, 1); updateShadow(); }

void View::updateShadow()
{
    if (auto* parent = qobject_cast<View*>(parentWidget())) {
        if (m_shadowOpacity > 0)
            parent->m_mayHaveShadowedSubviews = true;
        parent->update();
    } else if (parentWidget()) {
        parentWidget()->update();
    }
}

void View::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added()) {
        if (auto* child = qobject_cast<View*>(event->child()); child && child->m_shadowOpacity > 0)
            m_mayHaveShadowedSubviews = true;
    }
}

namespace {

// A subview's shadow: stacked shapes, each a little larger and fainter, fade it out over its
// radius as a blur would; the middle keeps the full strength. Drawn with `shape`'s top-left at
// the origin.
void paintShadow(QPainter& p, const QSizeF& shape, qreal cornerRadius, qreal radius, const QColor& color, qreal strength)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QRectF rect(QPointF(), shape);
    QColor layer = color;
    const int steps = std::clamp(int(std::ceil(radius)), 0, 16);
    if (steps == 0) {
        layer.setAlphaF(strength);
        p.setBrush(layer);
        p.drawRoundedRect(rect, cornerRadius, cornerRadius);
        return;
    }
    layer.setAlphaF(1 - std::pow(1 - strength, 1.0 / (steps + 1)));
    p.setBrush(layer);
    for (int i = steps; i >= 0; --i) {
        const qreal grow = radius * i / steps;
        p.drawRoundedRect(rect.adjusted(-grow, -grow, grow, grow), cornerRadius + grow, cornerRadius + grow);
    }
}

// Shadows drawn once into pictures and copied on every paint after: cards of a few sizes come
// back on every repaint of a scrolling page and on every page of the same kind, and their
// stacked antialiased shapes cost many times the copy. Only the painting thread uses it.
class ShadowCache {
public:
    struct Key {
        QSize shape;
        qreal cornerRadius;
        qreal radius;
        QRgb color;
        qreal strength;
        qreal scale;
        bool operator==(const Key&) const = default;
    };

    const QImage& shadow(const Key& key, qreal margin)
    {
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->key == key) {
                m_entries.splice(m_entries.begin(), m_entries, it);
                return m_entries.front().image;
            }
        }
        if (m_entries.size() >= kEntries)
            m_entries.pop_back();
        const QSizeF logical(key.shape.width() + 2 * margin, key.shape.height() + 2 * margin);
        QImage image((logical * key.scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(key.scale);
        image.fill(Qt::transparent);
        QPainter q(&image);
        q.translate(margin, margin);
        paintShadow(q, QSizeF(key.shape), key.cornerRadius, key.radius, QColor::fromRgba(key.color), key.strength);
        q.end();
        m_entries.push_front({key, std::move(image)});
        return m_entries.front().image;
    }

private:
    static constexpr size_t kEntries = 24;
    struct Entry {
        Key key;
        QImage image;
    };
    std::list<Entry> m_entries;
};

ShadowCache& shadowCache()
{
    static ShadowCache cache;
    return cache;
}

} // namespace

void View::drawSubviewShadows(QPainter& p)
{
    if (!m_mayHaveShadowedSubviews)
        return;
    // A picture copied whole pixels away lands as the shapes would; under any other transform,
    // or through a fading view (whose shapes each fade), the shapes are drawn directly.
    const QTransform transform = p.worldTransform();
    const bool copies = transform.type() <= QTransform::TxTranslate && transform.dx() == std::floor(transform.dx())
                        && transform.dy() == std::floor(transform.dy()) && p.device() && p.opacity() >= 1;
    for (QObject* child : children()) {
        auto* sub = qobject_cast<View*>(child);
        if (!sub || sub->isWindow() || sub->m_shadowOpacity <= 0 || sub->isHidden() || sub->m_alpha <= 0)
            continue;
        const QRectF shape = QRectF(sub->geometry()).translated(sub->m_shadowOffset.width(), sub->m_shadowOffset.height());
        const qreal strength = sub->m_shadowColor.alphaF() * sub->m_shadowOpacity * sub->m_alpha;
        const qreal offsetX = sub->m_shadowOffset.width(), offsetY = sub->m_shadowOffset.height();
        if (copies && offsetX == std::floor(offsetX) && offsetY == std::floor(offsetY)) {
            // Whole points of margin around the largest shape keep the copy on whole pixels.
            const qreal margin = std::ceil(std::clamp<qreal>(sub->m_shadowRadius, 0, 16)) + 1;
            QColor opaque = sub->m_shadowColor;
            opaque.setAlpha(255);
            const ShadowCache::Key key{sub->geometry().size(), sub->m_cornerRadius, sub->m_shadowRadius, opaque.rgba(),
                                       strength, p.device()->devicePixelRatioF()};
            p.drawImage(shape.topLeft() - QPointF(margin, margin), shadowCache().shadow(key, margin));
            continue;
        }
        p.save();
        p.translate(shape.topLeft());
        paintShadow(p, shape.size(), sub->m_cornerRadius, sub->m_shadowRadius, sub->m_shadowColor, strength);
        p.restore();
    }
}

namespace {

// A pattern colour filled by Qt's texture path costs ten or more times an image copy of the
// same area, so its tile is laid out once over a larger image, kept for the few patterns in
// use, and a fill copies the matching part of that image (the pattern still starting at the
// view's origin). Only the painting thread uses it.
constexpr int kPatternSheetLimit = 1024;

const QImage* patternSheet(const QImage& tile, const QSize& covering)
{
    struct Sheet {
        qint64 tileKey = 0;
        QImage image;
    };
    static QList<Sheet> sheets;
    QSize wanted(std::min(kPatternSheetLimit, (covering.width() + tile.width() + 63) / 64 * 64),
                 std::min(kPatternSheetLimit, (covering.height() + tile.height() + 63) / 64 * 64));
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        if (sheets[i].tileKey != tile.cacheKey())
            continue;
        if (sheets[i].image.width() >= wanted.width() && sheets[i].image.height() >= wanted.height()) {
            sheets.move(i, 0);
            return &sheets.first().image;
        }
        // Grown to serve both the areas it served and this one.
        wanted = wanted.expandedTo(sheets[i].image.size());
        sheets.removeAt(i);
        break;
    }
    QImage image(wanted, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(image.rect(), QBrush(tile));
    }
    sheets.prepend(Sheet{tile.cacheKey(), image});
    // A handful of patterns are in use at once (the themes' backgrounds).
    while (sheets.size() > 4)
        sheets.removeLast();
    return &sheets.first().image;
}

// Fills `area` (in the painter's coordinates, the pattern starting at 0, 0) with `brush`.
void fillBackground(QPainter& p, const QRect& area, const QBrush& brush)
{
    const QImage tile = brush.style() == Qt::TexturePattern ? brush.textureImage() : QImage();
    if (tile.isNull() || !brush.transform().isIdentity() || tile.width() > kPatternSheetLimit / 2
        || tile.height() > kPatternSheetLimit / 2 || tile.devicePixelRatio() != 1) {
        p.fillRect(area, brush);
        return;
    }
    const QImage* sheet = patternSheet(tile, area.size());
    // A sheet holds whole tiles past any part it serves; a larger area takes several parts.
    const int stepX = (sheet->width() - tile.width()) / tile.width() * tile.width();
    const int stepY = (sheet->height() - tile.height()) / tile.height() * tile.height();
    for (int y = area.top(); y <= area.bottom(); y += stepY) {
        for (int x = area.left(); x <= area.right(); x += stepX) {
            const QRect part(x, y, std::min(stepX, area.right() + 1 - x), std::min(stepY, area.bottom() + 1 - y));
            const int sx = ((x % tile.width()) + tile.width()) % tile.width();
            const int sy = ((y % tile.height()) + tile.height()) % tile.height();
            p.drawImage(part, *sheet, QRect(QPoint(sx, sy), part.size()));
        }
    }
}

} // namespace

QRegion View::backgroundRegionShowing(const QRegion& painted) const
{
    QRegion showing = painted & rect();
    for (QObject* child : children()) {
        auto* sub = qobject_cast<QWidget*>(child);
        if (!sub || sub->isWindow() || sub->isHidden() || !sub->testAttribute(Qt::WA_OpaquePaintEvent) || !sub->mask().isEmpty())
            continue;
        showing -= sub->geometry();
        if (showing.isEmpty())
            break;
    }
    return showing;
}

void View::paintEvent(QPaintEvent* event)
{
    // A plain container with nothing of its own to draw (a cell's content view, a group of
    // controls) leaves its area as it is: a painter made for nothing costs as much as a small
    // label's drawing.
    if (m_background.style() == Qt::NoBrush && m_borderWidth <= 0 && !m_mayHaveShadowedSubviews
        && typeid(*this) == typeid(View))
        return;
    // Nor does one whose opaque subviews cover all that is to be painted (a row under its
    // background picture): nothing drawn here would show. A window on screen leaves such a
    // view out already; a view drawn into an image (QWidget::render of a view never shown)
    // would be painted beneath them.
    std::optional<QRegion> showing;
    if (!children().isEmpty()) {
        showing = backgroundRegionShowing(event->region());
        if (showing->isEmpty())
            return;
    }
    QPainter p(this);
    p.setOpacity(m_alpha);
    if (m_cornerRadius > 0 || m_borderWidth > 0)
        p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(m_borderWidth / 2, m_borderWidth / 2, -m_borderWidth / 2, -m_borderWidth / 2);
    if (m_background.style() != Qt::NoBrush) {
        // Patterns start at the view's origin, as the platform's pattern colours do.
        p.setBrushOrigin(0, 0);
        if (m_cornerRadius > 0) {
            p.setPen(Qt::NoPen);
            p.setBrush(m_background);
            p.drawRoundedRect(r, m_cornerRadius, m_cornerRadius);
        } else {
            // Only where no opaque subview covers it. A window on screen leaves those parts out
            // already; a view drawn into an image (QWidget::render of a view never shown) would
            // fill them all, a screen's tiled background twice over under its list.
            for (const QRect& part : showing ? *showing : backgroundRegionShowing(event->region()))
                fillBackground(p, part, m_background);
        }
    }
    drawSubviewShadows(p);
    drawRect(p);
    if (m_borderWidth > 0) {
        p.setOpacity(m_alpha);
        p.setPen(QPen(m_borderColor, m_borderWidth));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r, m_cornerRadius, m_cornerRadius);
    }
}

bool View::endEditing()
{
    bool ended = false;
    QList<TextField*> fields = findChildren<TextField*>();
    if (auto* self = qobject_cast<TextField*>(this))
        fields.prepend(self);
    for (TextField* field : std::as_const(fields)) {
        if (field->isFirstResponder()) {
            field->resignFirstResponder();
            ended = true;
        }
    }
    return ended;
}

} // namespace platform::uikit
