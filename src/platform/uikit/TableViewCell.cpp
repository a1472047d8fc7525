#include "platform/uikit/TableViewCell.h"

#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

#include <QPainter>

#include <atomic>

namespace platform::uikit {
namespace {
std::atomic<int> g_liveCells{0};
constexpr qreal kAccessoryWidth = 32;

// The disclosure chevron or the check mark, centred in the cell's right 32 points above its
// backgrounds.
class AccessoryMarkView : public View {
public:
    explicit AccessoryMarkView(View* superview) : View(QRectF(), superview)
    {
        setOpaque(false);
        setUserInteractionEnabled(false);
    }
    QColor color;
    int type = TableViewCellAccessoryNone;

protected:
    void drawRect(QPainter& p) override
    {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF c = QRectF(rect()).center();
        if (type == TableViewCellAccessoryCheckmark)
            p.drawPolyline(QList<QPointF>{c + QPointF(-6, 0), c + QPointF(-2, 4), c + QPointF(6, -5)});
        else
            p.drawPolyline(QList<QPointF>{c + QPointF(-3, -6), c + QPointF(3, 0), c + QPointF(-3, 6)});
    }
};

bool drawsAccessory(int type)
{
    return type == TableViewCellAccessoryDisclosureIndicator || type == TableViewCellAccessoryCheckmark;
}
} // namespace

int TableViewCell::liveCount() { return g_liveCells; }

TableViewCell::TableViewCell(int style, const QString& reuseIdentifier)
    : View(QRectF(0, 0, 320, 44)), m_reuseIdentifier(reuseIdentifier), m_style(style)
{
    ++g_liveCells;
    setBackgroundColor(QColor(Qt::white));
    m_contentView = new View(QRectF(0, 0, 320, 44), this);
    m_contentView->setOpaque(false);
    m_contentView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
}

TableViewCell::~TableViewCell() { --g_liveCells; }

Label* TableViewCell::textLabel()
{
    if (!m_textLabel) {
        m_textLabel = new Label(QRectF(), m_contentView);
        m_textLabel->setFont(Label::systemFont(17, m_style == TableViewCellStyleDefault || m_style == TableViewCellStyleSubtitle));
        setNeedsLayout();
    }
    return m_textLabel;
}

Label* TableViewCell::detailTextLabel()
{
    if (m_style == TableViewCellStyleDefault)
        return nullptr;
    if (!m_detailTextLabel) {
        m_detailTextLabel = new Label(QRectF(), m_contentView);
        m_detailTextLabel->setFont(Label::systemFont(m_style == TableViewCellStyleSubtitle ? 14 : 17));
        m_detailTextLabel->setTextColor(QColor(128, 128, 128));
        if (m_style == TableViewCellStyleValue1)
            m_detailTextLabel->setTextAlignment(TextAlignmentRight);
        setNeedsLayout();
    }
    return m_detailTextLabel;
}

ImageView* TableViewCell::imageView()
{
    if (!m_imageView) {
        m_imageView = new ImageView(QRectF(), m_contentView);
        setNeedsLayout();
    }
    return m_imageView;
}

void TableViewCell::setBackgroundView(View* view)
{
    if (m_backgroundView == view)
        return;
    delete m_backgroundView;
    m_backgroundView = view;
    if (view) {
        addSubview(view);
        sendSubviewToBack(view);
        view->setFrame(QRectF(QPointF(), frame().size()));
        view->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    }
    updateSelectionBackground();
}

void TableViewCell::setSelectedBackgroundView(View* view)
{
    if (m_selectedBackgroundView == view)
        return;
    delete m_selectedBackgroundView;
    m_selectedBackgroundView = view;
    if (view) {
        addSubview(view);
        view->setFrame(QRectF(QPointF(), frame().size()));
        view->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        view->stackUnder(m_contentView);
    }
    updateSelectionBackground();
}

void TableViewCell::setAccessoryType(int type)
{
    m_accessoryType = drawsAccessory(type) ? type : TableViewCellAccessoryNone;
    if (drawsAccessory(type) && !m_accessoryView)
        m_accessoryView = new AccessoryMarkView(this);
    if (m_accessoryView) {
        m_accessoryView->setHidden(!drawsAccessory(type));
        static_cast<AccessoryMarkView*>(m_accessoryView)->type = m_accessoryType;
        m_accessoryView->update();
    }
    setNeedsLayout();
    update();
}

void TableViewCell::setSelected(bool selected, bool)
{
    m_selected = selected;
    updateSelectionBackground();
}

void TableViewCell::setHighlighted(bool highlighted, bool)
{
    m_highlighted = highlighted;
    updateSelectionBackground();
}

void TableViewCell::updateSelectionBackground()
{
    const bool on = (m_selected || m_highlighted) && m_selectionStyle != TableViewCellSelectionStyleNone;
    if (m_selectedBackgroundView)
        m_selectedBackgroundView->setHidden(!on);
    update();
}

void TableViewCell::prepareForReuse()
{
    setSelected(false);
    setHighlighted(false);
}

void TableViewCell::layoutSubviews()
{
    const QSizeF s = frame().size();
    m_contentView->setFrame(QRectF(QPointF(), s));
    if (m_accessoryView) {
        m_accessoryView->setFrame(QRectF(s.width() - kAccessoryWidth, 0, kAccessoryWidth, s.height()));
        auto* mark = static_cast<AccessoryMarkView*>(m_accessoryView);
        mark->color = m_accessoryType == TableViewCellAccessoryCheckmark ? m_checkmarkColor : m_accessoryColor;
        mark->update();
        bringSubviewToFront(m_accessoryView);
    }
    const qreal right = s.width() - (m_accessoryType ? kAccessoryWidth : 15);
    qreal x = 15;
    if (m_imageView && !m_imageView->image().isNull()) {
        const QSizeF is = m_imageView->image().size();
        m_imageView->setFrame(QRectF(x, (s.height() - is.height()) / 2, is.width(), is.height()));
        x += is.width() + 15;
    }
    if (m_style == TableViewCellStyleSubtitle && m_textLabel && m_detailTextLabel) {
        const qreal th = m_textLabel->sizeThatFits({}).height(), dh = m_detailTextLabel->sizeThatFits({}).height();
        const qreal top = (s.height() - th - dh) / 2;
        m_textLabel->setFrame(QRectF(x, top, right - x, th));
        m_detailTextLabel->setFrame(QRectF(x, top + th, right - x, dh));
        return;
    }
    if (m_detailTextLabel && m_style == TableViewCellStyleValue1) {
        const qreal dw = std::min(m_detailTextLabel->sizeThatFits({}).width(), (right - x) / 2);
        m_detailTextLabel->setFrame(QRectF(right - dw, 0, dw, s.height()));
        if (m_textLabel)
            m_textLabel->setFrame(QRectF(x, 0, right - dw - x - 8, s.height()));
        return;
    }
    if (m_textLabel)
        m_textLabel->setFrame(QRectF(x, 0, right - x, s.height()));
}

void TableViewCell::drawRect(QPainter& p)
{
    if ((m_selected || m_highlighted) && m_selectionStyle != TableViewCellSelectionStyleNone && !m_selectedBackgroundView)
        p.fillRect(rect(), m_selectionStyle == TableViewCellSelectionStyleGray ? QColor(217, 217, 217) : QColor(0, 122, 255));
    if (m_separatorColor.isValid())
        p.fillRect(QRectF(15, height() - 1, width() - 15, 1), m_separatorColor);
}


} // namespace platform::uikit
