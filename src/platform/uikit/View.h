#pragma once

#include "platform/uikit/Geometry.h"

#include <QBrush>
#include <QColor>
#include <QEvent>
#include <QList>
#include <QWidget>

#include <optional>

namespace platform::uikit {

class Window;

enum AutoresizingMask {
    AutoresizingNone = 0,
    AutoresizingFlexibleLeftMargin = 1,
    AutoresizingFlexibleWidth = 2,
    AutoresizingFlexibleRightMargin = 4,
    AutoresizingFlexibleTopMargin = 8,
    AutoresizingFlexibleHeight = 16,
    AutoresizingFlexibleBottomMargin = 32,
};

enum ViewContentMode {
    ContentModeScaleToFill = 0,
    ContentModeScaleAspectFit = 1,
    ContentModeScaleAspectFill = 2,
    ContentModeCenter = 4,
};

// The kit's view. Its frame is in the superview's bounds coordinates (points = logical
// pixels); moving a view's bounds origin moves its subviews, which is how scroll views scroll.
// Subviews are owned by their superview, as Qt children.
class View : public QWidget {
    Q_OBJECT
public:
    explicit View(const QRectF& frame = QRectF(), View* superview = nullptr);
    ~View() override;

    // Whether `event` is the press that begins a touch. A press that follows a release quickly
    // reaches widgets only as a double click: it begins a touch like any other.
    static bool beginsTouch(const QEvent* event)
    {
        return event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    }

    QRectF frame() const { return m_frame; }
    virtual void setFrame(const QRectF& frame);
    QRectF bounds() const { return QRectF(m_boundsOrigin, m_frame.size()); }
    void setBoundsOrigin(const QPointF& origin);
    QPointF center() const { return m_frame.center(); }
    // Where the view shows, moved from its frame while a transition slides it (the frame and
    // everything laid out from it stay put).
    QPointF presentationOffset() const { return m_presentationOffset; }
    void setPresentationOffset(const QPointF& offset);
    void setCenter(const QPointF& center);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    // Itself when it has the tag, else the first descendant that does, depth first.
    View* viewWithTag(int tag);

    View* superview() const;
    QList<View*> subviews() const;  // back to front
    virtual void addSubview(View* view);
    void insertSubviewAtIndex(View* view, int index);
    void removeFromSuperview();
    void bringSubviewToFront(View* view);
    void sendSubviewToBack(View* view);
    bool isDescendantOfView(const View* view) const;
    // The window this view is in, or nullptr.
    Window* window() const;

    QBrush backgroundColor() const { return m_background; }
    void setBackgroundColor(const QBrush& brush);
    void setBackgroundColor(const QColor& color) { setBackgroundColor(QBrush(color)); }
    qreal alpha() const { return m_alpha; }
    void setAlpha(qreal alpha);
    bool isOpaque() const { return m_opaque; }
    void setOpaque(bool opaque) { m_opaque = opaque; }
    bool isUserInteractionEnabled() const { return m_userInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled);
    // What assistive technology reads for the view.
    QString accessibilityLabel() const { return m_accessibilityLabel; }
    void setAccessibilityLabel(const QString& label) { m_accessibilityLabel = label; }
    QString accessibilityValue() const { return m_accessibilityValue; }
    void setAccessibilityValue(const QString& value) { m_accessibilityValue = value; }
    QString accessibilityHint() const { return m_accessibilityHint; }
    void setAccessibilityHint(const QString& hint) { m_accessibilityHint = hint; }
    // Animates alpha to `alpha` over `seconds` on the kit's clock (at once for 0 or less);
    // a newer animation of the same view replaces a running one.
    void animateAlpha(qreal alpha, double seconds);
    bool accessibilityElementsHidden() const { return m_accessibilityHidden; }
    void setAccessibilityElementsHidden(bool hidden) { m_accessibilityHidden = hidden; }
    int autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(int mask) { m_autoresizingMask = mask; }
    bool autoresizesSubviews() const { return m_autoresizesSubviews; }
    void setAutoresizesSubviews(bool on) { m_autoresizesSubviews = on; }
    // The layer's rounded corners and border, drawn with the background.
    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal width) { m_borderWidth = width; update(); }
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color) { m_borderColor = color; update(); }
    // The layer's shadow: drawn by the superview under this view's shape (its corner radius),
    // moved by the offset and softened over the radius; nothing at opacity 0, the default.
    QColor shadowColor() const { return m_shadowColor; }
    void setShadowColor(const QColor& color);
    QSizeF shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(const QSizeF& offset);
    qreal shadowRadius() const { return m_shadowRadius; }
    void setShadowRadius(qreal radius);
    qreal shadowOpacity() const { return m_shadowOpacity; }
    void setShadowOpacity(qreal opacity);
    int contentMode() const { return m_contentMode; }
    void setContentMode(int mode);

    void setNeedsLayout();
    void layoutIfNeeded();
    void setNeedsDisplay() { update(); }
    virtual void layoutSubviews() {}
    virtual QSizeF sizeThatFits(const QSizeF& size) const { return m_frame.size(); }
    void sizeToFit();

    // From system 11: the window's insets where they overlap this view; zero before.
    virtual EdgeInsets safeAreaInsets() const;
    // Pins this view's insets (tests, and the window's own).
    void setSafeAreaInsetsForTesting(const EdgeInsets& insets);

    QPointF convertPointToView(const QPointF& point, const View* view) const;
    QRectF convertRectToView(const QRectF& rect, const View* view) const;
    QRectF frameInWindow() const;

    // Resigns the text field holding the focus inside this view (itself included); answers
    // whether one did.
    bool endEditing();

protected:
    // Paints the view's own content in bounds-free local coordinates (0, 0 is the top left).
    virtual void drawRect(QPainter& painter);
    void paintEvent(QPaintEvent* event) override;
    // The part of `painted` where the background shows: the view's rect less the subviews
    // that paint all of theirs opaquely.
    QRegion backgroundRegionShowing(const QRegion& painted) const;
    // The shadows of the subviews that have one, under them.
    void drawSubviewShadows(QPainter& painter);
    // Whether the view's own drawing (not its background) leaves no pixel of its rect
    // uncovered; a view whose answer may have changed says so with contentOpacityDidChange.
    virtual bool drawsWholeRectOpaquely() const { return false; }
    void contentOpacityDidChange() { updateOpaquePainting(); }
    void childEvent(QChildEvent* event) override;
    void applyGeometry();
    std::optional<EdgeInsets> m_pinnedSafeArea;
    // A top-level view whose size only its frame decides (the window: the phone's screen). Other
    // views keep no size constraints, which would still bind them once they have a superview.
    bool m_sizeFixedByFrame = false;

private:
    void updateOpaquePainting();
    void updateShadow();
    void resizeSubviewsWithOldSize(const QSizeF& old);

    QRectF m_frame;
    QPointF m_boundsOrigin;
    QPointF m_presentationOffset;
    QBrush m_background = Qt::NoBrush;
    qreal m_alpha = 1;
    qreal m_cornerRadius = 0;
    qreal m_borderWidth = 0;
    QColor m_borderColor = Qt::black;
    QColor m_shadowColor = Qt::black;
    QSizeF m_shadowOffset{0, -3};
    qreal m_shadowRadius = 3;
    qreal m_shadowOpacity = 0;
    // Set once a subview with a shadow has been seen, so plain views skip the search.
    bool m_mayHaveShadowedSubviews = false;
    int m_tag = 0;
    int m_autoresizingMask = 0;
    int m_contentMode = ContentModeScaleToFill;
    bool m_autoresizesSubviews = true;
    bool m_opaque = true;
    bool m_userInteractionEnabled = true;
    bool m_accessibilityHidden = false;
    QString m_accessibilityLabel;
    QString m_accessibilityValue;
    QString m_accessibilityHint;
    quint64 m_alphaAnimation = 0;
    bool m_needsLayout = false;
    bool m_layoutQueued = false;
    bool m_inLayout = false;
};

} // namespace platform::uikit
