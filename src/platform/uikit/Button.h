#pragma once

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"

#include <QFont>
#include <QMap>

namespace platform::uikit {

class ImageView;
class Label;

enum ButtonType { ButtonTypeCustom = 0, ButtonTypeRoundedRect = 1, ButtonTypeSystem = 1 };

// A control with a title, title colours, an image and a background image per state. A value
// not set for a state falls back to the normal state's, as on the platform.
class Button : public Control {
    Q_OBJECT
public:
    explicit Button(int type = ButtonTypeCustom, const QRectF& frame = QRectF(), View* superview = nullptr);

    int buttonType() const { return m_type; }
    QString title(int state) const;
    void setTitle(const QString& title, int state);
    QColor titleColor(int state) const;
    void setTitleColor(const QColor& color, int state);
    QColor titleShadowColor(int state) const;
    void setTitleShadowColor(const QColor& color, int state);
    Image backgroundImage(int state) const;
    void setBackgroundImage(const Image& image, int state);
    Image image(int state) const;
    void setImage(const Image& image, int state);

    QString currentTitle() const { return title(state()); }
    // The label that shows the current title; its font and shadow offset are the button's.
    Label* titleLabel() const { return m_titleLabel; }
    // The view that shows the current image, made on first use; from then on it draws the
    // image instead of the button, and layoutSubviews places it where the image would be.
    ImageView* imageView();
    ImageView* existingImageView() const { return m_imageView; }
    EdgeInsets contentEdgeInsets() const { return m_contentInsets; }
    void setContentEdgeInsets(const EdgeInsets& insets);
    // The image's own insets inside the content area; with an image content mode other than
    // centre (the default) the image is fitted into what is left, as the image view does.
    EdgeInsets imageEdgeInsets() const { return m_imageInsets; }
    void setImageEdgeInsets(const EdgeInsets& insets) { m_imageInsets = insets; update(); }
    int imageContentMode() const { return m_imageContentMode; }
    void setImageContentMode(int mode) { m_imageContentMode = mode; update(); }
    // A soft white glow over the middle of the button while it is highlighted.
    bool showsTouchWhenHighlighted() const { return m_showsTouch; }
    void setShowsTouchWhenHighlighted(bool shows) { m_showsTouch = shows; update(); }

    QSizeF sizeThatFits(const QSizeF& size) const override;
    void layoutSubviews() override;

protected:
    void stateDidChange() override;
    void drawRect(QPainter& painter) override;

private:
    template <typename T>
    T valueFor(const QMap<int, T>& map, int state) const;
    void refreshTitle();
    // Where the current image goes (empty without one).
    QRectF imageRectForState(int state) const;

    int m_type;
    QMap<int, QString> m_titles;
    QMap<int, QColor> m_titleColors;
    QMap<int, QColor> m_titleShadowColors;
    QMap<int, Image> m_backgrounds;
    QMap<int, Image> m_images;
    Label* m_titleLabel;
    ImageView* m_imageView = nullptr;
    EdgeInsets m_contentInsets;
    EdgeInsets m_imageInsets;
    int m_imageContentMode = ContentModeCenter;
    bool m_showsTouch = false;
};

} // namespace platform::uikit
