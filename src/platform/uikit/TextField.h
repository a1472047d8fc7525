#pragma once

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"

class QLineEdit;

namespace platform::uikit {

// One line of editable text over an optional stretchable background. Editing sends
// editing-changed; the return key sends editing-did-end-on-exit and asks `shouldReturn`.
class TextField : public Control {
    Q_OBJECT
public:
    explicit TextField(const QRectF& frame = QRectF(), View* superview = nullptr);

    QString text() const;
    void setText(const QString& text);
    QString placeholder() const;
    void setPlaceholder(const QString& text);
    void setFont(const QFont& font);
    void setTextColor(const QColor& color);
    Image background() const { return m_background; }
    void setBackground(const Image& image) { m_background = image; update(); }
    EdgeInsets textInsets() const { return m_textInsets; }
    void setTextInsets(const EdgeInsets& insets);
    bool isFirstResponder() const;
    void becomeFirstResponder();
    void resignFirstResponder();
    // Asked when the return key is pressed; true (the default) lets the field end editing.
    std::function<bool()> shouldReturn;

    // Types `text` at the end as a user would, then presses return when asked to.
    void typeForTesting(const QString& text, bool pressReturn = false);

    void layoutSubviews() override;

protected:
    void drawRect(QPainter& painter) override;

private:
    QLineEdit* m_edit;
    Image m_background;
    EdgeInsets m_textInsets{0, 8, 0, 8};
};

} // namespace platform::uikit
