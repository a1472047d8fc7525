#pragma once

#include "platform/uikit/TextField.h"

#include <QColor>

// The search field of the explore tab: keeps the theme's text and placeholder colours so that
// neither a new text nor the placeholder falls back to the platform's defaults.
class KRThemedSearchTextField : public platform::uikit::TextField {
    Q_OBJECT
public:
    explicit KRThemedSearchTextField(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);

    void applyResolvedTextColor(const QColor& textColor, const QColor& placeholderColor);
    QColor resolvedTextColor() const { return m_resolvedTextColor; }
    QColor placeholderTextColor() const { return m_placeholderTextColor; }

    void setText(const QString& text) override;

protected:
    void drawPlaceholderInRect(QPainter& painter, const QRectF& rect) override;

private:
    QColor m_resolvedTextColor;
    QColor m_placeholderTextColor;
};
