#pragma once

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/TextAttributes.h"

#include <QFont>
#include <QMap>
#include <QPair>
#include <QStringList>

namespace platform::uikit {

// Titled segments, one selected (-1 for none); a tap on another segment selects it and
// sends value-changed.
class SegmentedControl : public Control {
    Q_OBJECT
public:
    explicit SegmentedControl(const QStringList& items = {}, View* superview = nullptr);

    int numberOfSegments() const { return int(m_items.size()); }
    QString titleForSegmentAtIndex(int index) const { return m_items.value(index); }
    void setTitleForSegmentAtIndex(const QString& title, int index);
    void insertSegmentWithTitle(const QString& title, int index);
    void removeAllSegments();
    int selectedSegmentIndex() const { return m_selected; }
    void setSelectedSegmentIndex(int index);
    QColor tintColor() const { return m_tint; }
    void setTintColor(const QColor& color) { m_tint = color; update(); }
    // Title colour per control state (normal 0, highlighted 1, disabled 2, selected 4, 5).
    QColor titleColor(int state) const;
    void setTitleColor(const QColor& color, int state) { m_titleColors[state] = color; update(); }

    // A background image per state, stretched over each segment in that state (a state without
    // one uses the normal state's); once any is set, the tint no longer fills or outlines.
    Image backgroundImage(int state) const;
    void setBackgroundImage(const Image& image, int state);
    // The image between two segments, by the states of the segment on its left and on its
    // right (falling back to normal/normal), centred on their boundary at its own width.
    Image dividerImage(int leftState, int rightState) const;
    void setDividerImage(const Image& image, int leftState, int rightState);
    // Title font, colour and shadow per state; a state without them uses the normal state's.
    // A colour here wins over the title colour.
    TextAttributes titleTextAttributes(int state) const;
    void setTitleTextAttributes(const TextAttributes& attributes, int state);

    // Selects the segment as a tap would (value-changed when it changes).
    void tapSegmentForTesting(int index);

protected:
    void drawRect(QPainter& painter) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QStringList m_items;
    int m_selected = -1;
    QColor m_tint{0, 122, 255};
    QMap<int, QColor> m_titleColors;
    QMap<int, Image> m_backgrounds;
    QMap<QPair<int, int>, Image> m_dividers;
    QMap<int, TextAttributes> m_titleAttributes;
};

} // namespace platform::uikit
