#include "platform/uikit/AlertView.h"

#include "platform/foundation/ReplyOwner.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"

namespace platform::uikit {
namespace {
constexpr qreal kAlertWidth = 270;
constexpr qreal kButtonHeight = 44;
constexpr qreal kFieldHeight = 29;
} // namespace

AlertView::AlertView(const QString& title, const QString& message, const QString& cancelButtonTitle,
                     const QStringList& otherButtonTitles)
    : AlertView(title, message, cancelButtonTitle, otherButtonTitles, nullptr, {})
{
}

AlertView::AlertView(const QString& title, const QString& message, const QString& cancelButtonTitle,
                     const QStringList& otherButtonTitles, QObject* owner, std::function<void(int)> onDismiss)
    : m_title(title), m_message(message), m_onDismiss(platform::ownedBy(owner, std::move(onDismiss)))
{
    if (!cancelButtonTitle.isEmpty()) {
        m_cancelIndex = 0;
        m_buttons.append(cancelButtonTitle);
    }
    m_buttons.append(otherButtonTitles);
}

AlertView::~AlertView()
{
    delete m_view.data();
    // A field never shown has no parent view to take it along.
    delete m_textField.data();
}

void AlertView::setAlertViewStyle(int style)
{
    m_style = style;
    if (style == AlertViewStylePlainTextInput) {
        if (!m_textField) {
            m_textField = new TextField(QRectF(0, 0, kAlertWidth - 32, kFieldHeight));
            m_textField->setFont(Label::systemFont(14));
            m_textField->setBackgroundColor(QColor(Qt::white));
            m_textField->setBorderWidth(0.5);
            m_textField->setBorderColor(QColor(0, 0, 0, 60));
            m_textField->setTextInsets(EdgeInsets{0, 6, 0, 6});
        }
    } else if (m_textField) {
        delete m_textField.data();
    }
}

TextField* AlertView::textFieldAtIndex(int index) const { return index == 0 ? m_textField.data() : nullptr; }

void AlertView::show()
{
    if (m_window || m_dismissed)
        return;
    Window* window = Application::shared().keyWindow();
    if (!window) {
        // Nowhere to show it: it goes as if cancelled, so its owner is not left waiting.
        dismissWithClickedButtonIndex(m_cancelIndex);
        return;
    }
    m_window = window;
    window->enqueueAlert(this);
}

View* AlertView::makePresentation(Window* window)
{
    auto* dim = new View(QRectF(QPointF(), window->frame().size()));
    dim->setBackgroundColor(QColor(0, 0, 0, 102));
    dim->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);

    auto* box = new View(QRectF(), dim);
    box->setBackgroundColor(QColor(248, 248, 248, 245));
    box->setCornerRadius(12);
    box->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin |
                             AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    qreal y = 20;
    auto addText = [&](const QString& text, const QFont& font) {
        if (text.isEmpty())
            return;
        auto* label = new Label(QRectF(), box);
        label->setText(text);
        label->setFont(font);
        label->setNumberOfLines(0);
        label->setTextAlignment(TextAlignmentCenter);
        label->setTextColor(Qt::black);
        const qreal h = label->sizeThatFits(QSizeF(kAlertWidth - 32, 0)).height();
        label->setFrame(QRectF(16, y, kAlertWidth - 32, h));
        y += h + 6;
    };
    addText(m_title, Label::systemFont(17, true));
    addText(m_message, Label::systemFont(13));
    if (m_textField) {
        y += 8;
        box->addSubview(m_textField);
        m_textField->setFrame(QRectF(16, y, kAlertWidth - 32, kFieldHeight));
        m_textField->show();
        y += kFieldHeight;
    }
    y += 14;
    const int n = int(m_buttons.size());
    const bool sideBySide = n == 2;
    QPointer<AlertView> self(this);
    for (int i = 0; i < n; ++i) {
        QRectF r = sideBySide ? QRectF(i * kAlertWidth / 2, y, kAlertWidth / 2, kButtonHeight)
                              : QRectF(0, y + i * kButtonHeight, kAlertWidth, kButtonHeight);
        auto* line = new View(QRectF(r.left(), r.top(), r.width(), 0.5), box);
        line->setBackgroundColor(QColor(0, 0, 0, 50));
        auto* b = new Button(ButtonTypeCustom, r, box);
        b->setTitle(m_buttons[i], ControlStateNormal);
        b->setTitleColor(QColor(0, 122, 255), ControlStateNormal);
        b->setTitleColor(QColor(0, 122, 255, 110), ControlStateHighlighted);
        b->titleLabel()->setFont(Label::systemFont(17, i == m_cancelIndex));
        b->setTag(i + 1);
        b->addTarget(ControlEventTouchUpInside, [self, i] {
            if (self)
                self->dismissWithClickedButtonIndex(i);
        });
    }
    const qreal height = y + (sideBySide ? kButtonHeight : n * kButtonHeight);
    const QSizeF ws = window->frame().size();
    box->setFrame(QRectF((ws.width() - kAlertWidth) / 2, (ws.height() - height) / 2, kAlertWidth, height));
    m_view = dim;
    return dim;
}

void AlertView::dismissWithClickedButtonIndex(int index)
{
    if (m_dismissed)
        return;
    m_dismissed = true;
    if (m_view) {
        m_view->hide();
        m_view->deleteLater();
    }
    QPointer<Window> window = m_window;
    // The callback may show the next alert itself; this one has already left the window.
    auto callback = std::move(m_onDismiss);
    if (callback)
        callback(index);
    if (window)
        window->alertDidDismiss(this);
    deleteLater();
}

} // namespace platform::uikit
