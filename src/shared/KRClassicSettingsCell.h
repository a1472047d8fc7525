#pragma once

#include "platform/uikit/ImageView.h"
#include "platform/uikit/TableViewCell.h"

#include <QPointer>
#include <QString>

// A row of a grouped list in the classic settings look: the row's backgrounds, content and
// accessory sit in a rounded group inset from the table's edges, the group's background
// image draws the lines between rows (so the cell draws no separator of its own), the title is
// bold and the subtitle small and grey.
class KRClassicSettingsCell : public platform::uikit::TableViewCell {
    Q_OBJECT
public:
    KRClassicSettingsCell(int style, const QString& reuseIdentifier);

    // The group's inset from each side of the table.
    static constexpr qreal kGroupInset = 10;
    // The rectangle the group takes in a cell of this size.
    static QRectF groupRectForSize(const QSizeF& size);

    // The current theme's grouped background for a row at this place in its group (rounded
    // top on the first row, rounded bottom on the last) and its selection colour. The two
    // background views are made once and painted anew on every later call.
    void applyThemeBackgrounds(bool firstInGroup, bool lastInGroup, qreal rowHeight);

    void layoutSubviews() override;

protected:
    void drawRect(QPainter& painter) override;

private:
    QPointer<platform::uikit::ImageView> m_groupBackground;
    QPointer<platform::uikit::View> m_groupSelectedBackground;
};
