#pragma once

#include "platform/uikit/View.h"

namespace platform::uikit {

class ImageView;
class Label;

enum TableViewCellStyle {
    TableViewCellStyleDefault = 0,
    TableViewCellStyleValue1 = 1,
    TableViewCellStyleValue2 = 2,
    TableViewCellStyleSubtitle = 3,
};
enum TableViewCellAccessoryType {
    TableViewCellAccessoryNone = 0,
    TableViewCellAccessoryDisclosureIndicator = 1,
    TableViewCellAccessoryCheckmark = 3,
};
enum TableViewCellSelectionStyle { TableViewCellSelectionStyleNone = 0, TableViewCellSelectionStyleBlue = 1, TableViewCellSelectionStyleGray = 2 };

// One row. Its content view spans the whole cell; a disclosure or check-mark accessory is
// drawn in the right 32 points. The text and detail labels and the image view are made when first asked for.
class TableViewCell : public View {
    Q_OBJECT
public:
    explicit TableViewCell(int style = TableViewCellStyleDefault, const QString& reuseIdentifier = {});
    ~TableViewCell() override;

    QString reuseIdentifier() const { return m_reuseIdentifier; }
    int style() const { return m_style; }
    View* contentView() const { return m_contentView; }
    Label* textLabel();
    Label* detailTextLabel();
    ImageView* imageView();
    View* backgroundView() const { return m_backgroundView; }
    void setBackgroundView(View* view);
    View* selectedBackgroundView() const { return m_selectedBackgroundView; }
    void setSelectedBackgroundView(View* view);
    int accessoryType() const { return m_accessoryType; }
    void setAccessoryType(int type);
    QColor accessoryColor() const { return m_accessoryColor; }
    void setAccessoryColor(const QColor& color) { m_accessoryColor = color; setNeedsLayout(); }
    // The check mark's colour (the platform's blue unless set), apart from the chevron's grey.
    QColor checkmarkColor() const { return m_checkmarkColor; }
    void setCheckmarkColor(const QColor& color) { m_checkmarkColor = color; setNeedsLayout(); }
    // The view drawing the accessory, or nullptr.
    View* accessoryView() const { return m_accessoryView; }
    int selectionStyle() const { return m_selectionStyle; }
    void setSelectionStyle(int style) { m_selectionStyle = style; }
    bool isSelected() const { return m_selected; }
    virtual void setSelected(bool selected, bool animated = false);
    bool isHighlighted() const { return m_highlighted; }
    virtual void setHighlighted(bool highlighted, bool animated = false);
    // Called when the table hands the cell out again from its reuse pool.
    virtual void prepareForReuse();

    // The table's separator, drawn along the bottom edge (an invalid colour draws none).
    void setSeparatorColor(const QColor& color) { m_separatorColor = color; update(); }

    void layoutSubviews() override;

    // Cells alive in the process, for tests that check reuse.
    static int liveCount();

protected:
    void drawRect(QPainter& painter) override;

private:
    void updateSelectionBackground();

    QString m_reuseIdentifier;
    int m_style;
    View* m_contentView;
    Label* m_textLabel = nullptr;
    Label* m_detailTextLabel = nullptr;
    ImageView* m_imageView = nullptr;
    View* m_backgroundView = nullptr;
    View* m_selectedBackgroundView = nullptr;
    View* m_accessoryView = nullptr;
    int m_accessoryType = TableViewCellAccessoryNone;
    QColor m_accessoryColor{199, 199, 204};
    QColor m_checkmarkColor{0, 122, 255};
    int m_selectionStyle = TableViewCellSelectionStyleBlue;
    bool m_selected = false;
    bool m_highlighted = false;
    QColor m_separatorColor;
};

} // namespace platform::uikit
