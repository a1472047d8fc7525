#include "platform/uikit/Button.h"

#include "platform/uikit/ImageView.h"

#include "platform/uikit/Label.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRadialGradient>

namespace platform::uikit {

Button::Button(int type, const QRectF& frame, View* superview) : Control(frame, superview), m_type(type)
{
    m_titleLabel = new Label(QRectF(QPointF(), frame.size()), this);
    m_titleLabel->setTextAlignment(TextAlignmentCenter);
    m_titleLabel->setUserInteractionEnabled(false);
    m_titleLabel->setFont(Label::systemFont(15, type != ButtonTypeCustom));
    m_titleLabel->setShadowOffset(QSizeF(0, 0));
    if (type == ButtonTypeRoundedRect)
        m_titleColors[ControlStateNormal] = QColor(0, 122, 255);
    else
        m_titleColors[ControlStateNormal] = Qt::white;
    refreshTitle();
}

template <typename T>
T Button::valueFor(const QMap<int, T>& map, int state) const
{
    auto it = map.constFind(state);
    if (it != map.constEnd())
        return *it;
    // Selected and highlighted together fall back to selected, then to normal.
    if ((state & ControlStateSelected) && (state & ControlStateHighlighted)) {
        it = map.constFind(ControlStateSelected);
        if (it != map.constEnd())
            return *it;
    }
    return map.value(ControlStateNormal);
}

QString Button::title(int state) const { return valueFor(m_titles, state); }
QColor Button::titleColor(int state) const { return valueFor(m_titleColors, state); }
QColor Button::titleShadowColor(int state) const { return valueFor(m_titleShadowColors, state); }
Image Button::backgroundImage(int state) const { return valueFor(m_backgrounds, state); }
Image Button::image(int state) const { return valueFor(m_images, state); }

void Button::setTitle(const QString& title, int state) { m_titles[state] = title; refreshTitle(); }
void Button::setTitleColor(const QColor& c, int state) { m_titleColors[state] = c; refreshTitle(); }
void Button::setTitleShadowColor(const QColor& c, int state) { m_titleShadowColors[state] = c; refreshTitle(); }
void Button::setBackgroundImage(const Image& image, int state) { m_backgrounds[state] = image; update(); }
void Button::setImage(const Image& image, int state) { m_images[state] = image; setNeedsLayout(); update(); }

ImageView* Button::imageView()
{
    if (!m_imageView) {
        m_imageView = new ImageView(QRectF(), this);
        m_imageView->setUserInteractionEnabled(false);
        m_imageView->setContentMode(ContentModeScaleToFill);
        m_imageView->setImage(image(state()));
        m_imageView->setFrame(imageRectForState(state()));
        setNeedsLayout();
        update();
    }
    return m_imageView;
}

void Button::setContentEdgeInsets(const EdgeInsets& insets)
{
    m_contentInsets = insets;
    setNeedsLayout();
}

void Button::stateDidChange()
{
    refreshTitle();
    if (m_imageView)
        m_imageView->setImage(image(state()));
    update();
}

void Button::refreshTitle()
{
    const int s = state();
    m_titleLabel->setText(title(s));
    QColor c = titleColor(s);
    if (!m_titleColors.contains(s) && (s & ControlStateDisabled))
        c.setAlphaF(c.alphaF() * 0.45);
    m_titleLabel->setTextColor(c);
    m_titleLabel->setShadowColor(titleShadowColor(s));
    setNeedsLayout();
}

QSizeF Button::sizeThatFits(const QSizeF&) const
{
    QSizeF s = m_titleLabel->sizeThatFits(QSizeF());
    const Image img = image(state());
    if (!img.isNull())
        s = QSizeF(s.width() + img.size().width(), std::max(s.height(), img.size().height()));
    const Image bg = backgroundImage(state());
    if (!bg.isNull())
        s = s.expandedTo(bg.size());
    return QSizeF(s.width() + m_contentInsets.left + m_contentInsets.right,
                  s.height() + m_contentInsets.top + m_contentInsets.bottom);
}

void Button::layoutSubviews()
{
    const QRectF content = EdgeInsetsInsetRect(QRectF(QPointF(), bounds().size()), m_contentInsets);
    const Image img = image(state());
    qreal left = content.left();
    if (!img.isNull() && !m_titleLabel->text().isEmpty()) {
        const qreal titleW = m_titleLabel->sizeThatFits(QSizeF()).width();
        left = content.left() + std::max<qreal>(0, (content.width() - img.size().width() - titleW) / 2) + img.size().width();
        m_titleLabel->setFrame(QRectF(left, content.top(), titleW, content.height()));
    } else {
        m_titleLabel->setFrame(content);
    }
    if (m_imageView) {
        m_imageView->setImage(img);
        m_imageView->setFrame(imageRectForState(state()));
    }
}

QRectF Button::imageRectForState(int s) const
{
    const Image img = image(s);
    if (img.isNull())
        return {};
    const QRectF content = EdgeInsetsInsetRect(EdgeInsetsInsetRect(QRectF(QPointF(), bounds().size()), m_contentInsets), m_imageInsets);
    if (m_imageContentMode != ContentModeCenter)
        return rectForContentMode(m_imageContentMode, img.size(), content);
    const QSizeF is = img.size();
    qreal x = content.left() + (content.width() - is.width()) / 2;
    if (!m_titleLabel->text().isEmpty())
        x = m_titleLabel->frame().left() - is.width();
    return QRectF(QPointF(x, content.top() + (content.height() - is.height()) / 2), is);
}

void Button::drawRect(QPainter& p)
{
    const int s = state();
    const Image bg = backgroundImage(s);
    if (!bg.isNull())
        bg.draw(p, QRectF(rect()));
    // Once the image view exists, it draws the image.
    const Image img = image(s);
    if (!img.isNull() && !m_imageView)
        img.draw(p, imageRectForState(s));
    if (m_showsTouch && isHighlighted()) {
        // The platform's touch glow: about 20 points across whatever the button's size.
        constexpr qreal kGlowRadius = 20;
        const QPointF centre = QRectF(rect()).center();
        QRadialGradient glow(centre, kGlowRadius);
        glow.setColorAt(0, QColor(255, 255, 255, 220));
        glow.setColorAt(1, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(centre, kGlowRadius, kGlowRadius);
    }
}

} // namespace platform::uikit
