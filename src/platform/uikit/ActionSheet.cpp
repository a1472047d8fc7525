#include "platform/uikit/ActionSheet.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/View.h"

#include <QMouseEvent>

#include <algorithm>

namespace platform::uikit {

namespace {

constexpr qreal kButtonHeight = 44;
constexpr qreal kMargin = 8;
constexpr qreal kPopoverWidth = 272;
const QColor kBlue(0, 122, 255);
const QColor kRed(255, 59, 48);

// The dim backdrop: on a pad's small sheet a tap outside cancels; elsewhere it only swallows
// the touches meant for what it covers.
class SheetBackdrop : public View {
public:
    SheetBackdrop(const QRectF& frame, std::function<void()> tappedOutside)
        : View(frame)
        , m_tappedOutside(std::move(tappedOutside))
    {
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        event->accept();
        if (m_tappedOutside)
            m_tappedOutside();
    }

private:
    std::function<void()> m_tappedOutside;
};

} // namespace

ActionSheet::ActionSheet(const QString& title, ActionSheetDelegate* delegate, QObject* owner,
                         const QString& cancelButtonTitle, const QString& destructiveButtonTitle,
                         const QStringList& otherButtonTitles)
    : m_title(title)
    , m_delegate(delegate)
    , m_owner(owner)
    , m_hasOwner(owner != nullptr)
{
    if (!destructiveButtonTitle.isEmpty())
        m_destructiveIndex = addButtonWithTitle(destructiveButtonTitle);
    for (const QString& other : otherButtonTitles) {
        const int index = addButtonWithTitle(other);
        if (m_firstOtherIndex < 0)
            m_firstOtherIndex = index;
    }
    if (!cancelButtonTitle.isEmpty())
        m_cancelIndex = addButtonWithTitle(cancelButtonTitle);
}

ActionSheet::~ActionSheet()
{
    if (m_presentation)
        delete m_presentation.data();
}

int ActionSheet::addButtonWithTitle(const QString& title)
{
    m_buttons.append(title);
    return int(m_buttons.size()) - 1;
}

ActionSheetDelegate* ActionSheet::liveDelegate() const
{
    if (m_hasOwner && !m_owner)
        return nullptr;
    return m_delegate;
}

View* ActionSheet::buttonViewAtIndex(int index) const
{
    return index >= 0 && index < m_buttonViews.size() ? m_buttonViews.at(index).data() : nullptr;
}

void ActionSheet::showInView(View* view) { present(view, QRectF(), false, true); }

void ActionSheet::showFromRect(const QRectF& rect, View* inView, bool animated)
{
    if (platform::DeviceProfile::isPad())
        present(inView, rect, true, animated);
    else
        present(inView, QRectF(), false, animated);
}

void ActionSheet::present(View* host, const QRectF& anchor, bool popover, bool animated)
{
    if (!host || m_presentation || m_dismissing)
        return;
    m_popover = popover;
    QPointer<ActionSheet> self(this);
    const QSizeF hostSize = host->bounds().size();
    auto* backdrop = new SheetBackdrop(QRectF(host->bounds().topLeft(), hostSize), [self] {
        if (self && self->m_popover && !self->m_dismissing)
            self->dismissWithClickedButtonIndex(self->m_cancelIndex, true);
    });
    backdrop->setObjectName(QStringLiteral("actionSheetBackdrop"));
    backdrop->setBackgroundColor(QColor(0, 0, 0, popover ? 0 : 102));
    backdrop->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    host->addSubview(backdrop);
    backdrop->raise();
    m_presentation = backdrop;
    // A host that goes (its screen popped) takes the sheet with it, as a cancel or as the click
    // it was sliding away for.
    connect(backdrop, &QObject::destroyed, this, [this] {
        // The backdrop is half destroyed here: forget it without reading it.
        m_presentation = nullptr;
        m_panel = nullptr;
        m_buttonViews.clear();
        if (!m_finished)
            finishDismissal(m_dismissing ? m_clickedIndex : m_cancelIndex);
    });

    const qreal width = popover ? kPopoverWidth : hostSize.width() - 2 * kMargin;
    auto* panel = new View(QRectF(), backdrop);
    panel->setObjectName(QStringLiteral("actionSheetPanel"));
    m_panel = panel;
    auto* group = new View(QRectF(0, 0, width, 0), panel);
    group->setBackgroundColor(QColor(248, 248, 248, 250));
    group->setCornerRadius(popover ? 0 : 12);
    qreal y = 0;
    if (!m_title.isEmpty()) {
        auto* label = new Label(QRectF(), group);
        label->setText(m_title);
        label->setFont(Label::systemFont(13));
        label->setTextColor(QColor(143, 143, 143));
        label->setTextAlignment(TextAlignmentCenter);
        label->setNumberOfLines(0);
        const qreal height = std::max<qreal>(label->sizeThatFits(QSizeF(width - 32, 0)).height() + 24, kButtonHeight);
        label->setFrame(QRectF(16, 0, width - 32, height));
        y = height;
    }
    auto makeButton = [&](int index, View* parent, qreal top) {
        auto* line = new View(QRectF(0, top, width, 0.5), parent);
        line->setBackgroundColor(QColor(0, 0, 0, 40));
        auto* button = new Button(ButtonTypeCustom, QRectF(0, top, width, kButtonHeight), parent);
        button->setTitle(m_buttons.at(index), ControlStateNormal);
        const QColor colour = index == m_destructiveIndex ? kRed : kBlue;
        button->setTitleColor(colour, ControlStateNormal);
        button->setTitleColor(QColor(colour.red(), colour.green(), colour.blue(), 110), ControlStateHighlighted);
        button->titleLabel()->setFont(Label::systemFont(20, index == m_cancelIndex));
        button->setTag(index + 1);
        button->addTarget(ControlEventTouchUpInside, [self, index] {
            if (self && !self->m_dismissing)
                self->dismissWithClickedButtonIndex(index, true);
        });
        m_buttonViews[index] = button;
    };
    m_buttonViews = QList<QPointer<View>>(m_buttons.size());
    for (int i = 0; i < m_buttons.size(); ++i) {
        if (i == m_cancelIndex)
            continue;
        makeButton(i, group, y);
        y += kButtonHeight;
    }
    group->setFrame(QRectF(0, 0, width, y));
    qreal panelHeight = y;
    if (m_cancelIndex >= 0 && !popover) {
        auto* cancelGroup = new View(QRectF(0, y + kMargin, width, kButtonHeight), panel);
        cancelGroup->setBackgroundColor(QColor(255, 255, 255, 250));
        cancelGroup->setCornerRadius(12);
        makeButton(m_cancelIndex, cancelGroup, 0);
        panelHeight = y + kMargin + kButtonHeight;
    }

    QRectF shown;
    QRectF hidden;
    if (popover) {
        // Beside the rectangle: below it when there is room, else above, kept inside the host.
        qreal top = anchor.bottom() + kMargin;
        if (top + panelHeight > hostSize.height())
            top = std::max<qreal>(0, anchor.top() - kMargin - panelHeight);
        const qreal left = std::clamp<qreal>(anchor.center().x() - width / 2, kMargin,
                                             std::max<qreal>(kMargin, hostSize.width() - width - kMargin));
        shown = hidden = QRectF(left, top, width, panelHeight);
    } else {
        shown = QRectF(kMargin, hostSize.height() - panelHeight - kMargin, width, panelHeight);
        hidden = shown.translated(0, panelHeight + kMargin);
    }
    panel->setFrame(animated && !popover ? hidden : shown);
    backdrop->show();
    panel->show();
    if (animated && !popover) {
        AnimationClock::animate(panel, kSlideDuration, [panel, hidden, shown](double t) {
            panel->setFrame(QRectF(shown.x(), hidden.y() + (shown.y() - hidden.y()) * t, shown.width(), shown.height()));
        });
    }
}

void ActionSheet::dismissWithClickedButtonIndex(int index, bool animated)
{
    if (m_dismissing)
        return;
    m_dismissing = true;
    m_clickedIndex = index;
    QPointer<ActionSheet> self(this);
    if (ActionSheetDelegate* delegate = liveDelegate())
        delegate->actionSheetClickedButtonAtIndex(this, index);
    if (!self)
        return;
    View* panel = m_panel;
    if (!panel || !animated || m_popover) {
        finishDismissal(index);
        return;
    }
    const QRectF from = panel->frame();
    const qreal distance = m_presentation ? m_presentation->bounds().height() - from.top() : from.height();
    AnimationClock::animate(
        panel, kSlideDuration,
        [panel, from, distance](double t) { panel->setFrame(from.translated(0, distance * t)); },
        [self, index](bool) {
            if (self)
                self->finishDismissal(index);
        });
}

void ActionSheet::finishDismissal(int index)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_presentation) {
        m_presentation->hide();
        m_presentation->deleteLater();
        m_presentation = nullptr;
    }
    QPointer<ActionSheet> self(this);
    if (ActionSheetDelegate* delegate = liveDelegate())
        delegate->actionSheetDidDismissWithButtonIndex(this, index);
    if (self)
        deleteLater();
}

void ActionSheet::tapButtonForTesting(int index)
{
    if (!isVisible() || index < 0 || index >= m_buttons.size())
        return;
    dismissWithClickedButtonIndex(index, true);
}

} // namespace platform::uikit
