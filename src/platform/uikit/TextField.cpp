#include "platform/uikit/TextField.h"

#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Window.h"
#include "platform/foundation/NotificationCenter.h"

#include <QApplication>
#include <QBasicTimer>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleHints>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

namespace {

constexpr qreal kClearButtonSide = 19;
constexpr qreal kClearButtonArea = 28;
const QColor kPlaceholderGrey = QColor::fromRgbF(0.7, 0.7, 0.7);

// The platform's clear glyph: a grey disc with a white cross.
Image drawClearGlyph()
{
    const qreal scale = 2;
    QImage image(QSize(int(kClearButtonSide * scale), int(kClearButtonSide * scale)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.56, 0.56, 0.58));
    p.drawEllipse(QRectF(0, 0, kClearButtonSide, kClearButtonSide));
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6.5, 6.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 6.5), QPointF(6.5, 12.5));
    p.end();
    return Image(image);
}

// Drawn once for every field.
Image clearGlyph()
{
    static const Image glyph = drawClearGlyph();
    return glyph;
}

// The platform's style with a text cursor of no width: for editors that draw their own.
class HiddenCursorStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        return metric == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// One for every editor, for the application's life.
QStyle* hiddenCursorStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new HiddenCursorStyle(QApplication::style()->name());
        style->setParent(qApp);
    }
    return style;
}

Qt::EnterKeyType enterKeyType(int returnKeyType)
{
    switch (returnKeyType) {
    case ReturnKeySearch:
        return Qt::EnterKeySearch;
    case ReturnKeySend:
        return Qt::EnterKeySend;
    default:
        return Qt::EnterKeyDefault;
    }
}

// The field's line edit. It tells an input method what the field's return key says and, when
// the field has a tint, draws the text cursor in it: Qt's own cursor inverts what lies beneath,
// so it is hidden and drawn here, blinking as the platform's does.
class FieldEditor : public QLineEdit {
public:
    explicit FieldEditor(TextField* field) : QLineEdit(field), m_field(field)
    {
        QObject::connect(this, &QLineEdit::cursorPositionChanged, this, [this] { restartBlink(); });
        QObject::connect(this, &QLineEdit::textChanged, this, [this] { restartBlink(); });
    }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override
    {
        if (query == Qt::ImEnterKeyType)
            return int(enterKeyType(m_field->returnKeyType()));
        return QLineEdit::inputMethodQuery(query);
    }

    void tintDidChange()
    {
        const bool own = m_field->tintColor().isValid();
        if (own != m_drawsCursor) {
            m_drawsCursor = own;
            setStyle(own ? hiddenCursorStyle() : nullptr);
        }
        restartBlink();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLineEdit::paintEvent(event);
        if (!m_drawsCursor || !m_cursorShown || !hasFocus() || isReadOnly())
            return;
        // The update rectangle Qt keeps for the cursor starts 5 pixels before it.
        const QRect around = cursorRect();
        const int width = std::max(1, QApplication::style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
        QPainter p(this);
        p.fillRect(QRect(around.left() + 5, around.top(), width, std::max(0, around.height() - 1)), m_field->tintColor());
    }
    void focusInEvent(QFocusEvent* event) override
    {
        QLineEdit::focusInEvent(event);
        restartBlink();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QLineEdit::focusOutEvent(event);
        restartBlink();
    }
    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != m_blink.timerId())
            return QLineEdit::timerEvent(event);
        m_cursorShown = !m_cursorShown;
        update(cursorRect());
    }

private:
    // Shown at once after a move, an edit or the focus coming, then blinking.
    void restartBlink()
    {
        m_cursorShown = m_drawsCursor && hasFocus();
        const int flash = QGuiApplication::styleHints()->cursorFlashTime();
        if (m_cursorShown && flash >= 2)
            m_blink.start(flash / 2, this);
        else
            m_blink.stop();
        update();
    }

    TextField* m_field;
    QBasicTimer m_blink;
    bool m_drawsCursor = false;
    bool m_cursorShown = false;
};

FieldEditor* editorOf(QLineEdit* edit) { return static_cast<FieldEditor*>(edit); }

} // namespace

TextField::TextField(const QRectF& frame, View* superview) : Control(frame, superview)
{
    m_edit = new FieldEditor(this);
    // The field is already shown when its editor is made (a view shows as it joins its
    // superview), and a child made under a widget on screen stays hidden until shown: a hidden
    // editor draws no text and the window's keys never reach it.
    m_edit->show();
    m_edit->setFrame(false);
    // Only a tap (or the owner) starts editing: a window that becomes active must not hand its
    // first field the focus by itself, as a desktop would.
    m_edit->setFocusPolicy(Qt::ClickFocus);
    m_edit->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_edit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    m_edit->setFont(Label::systemFont(15));
    m_edit->installEventFilter(this);
    QObject::connect(m_edit, &QLineEdit::textChanged, this, [this] {
        updateClearButton();
        update();
    });
    QObject::connect(m_edit, &QLineEdit::textEdited, this, [this] { sendActionsForControlEvents(ControlEventEditingChanged); });
    QObject::connect(m_edit, &QLineEdit::returnPressed, this, [this] {
        if (shouldReturn && !shouldReturn())
            return;
        sendActionsForControlEvents(ControlEventEditingDidEndOnExit);
    });
    layoutSubviews();
}

void TextField::setReturnKeyType(int type)
{
    m_returnKeyType = type;
    if (m_edit->hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImEnterKeyType);
}

void TextField::setAutocapitalizationType(int type)
{
    m_autocapitalizationType = type;
    Qt::InputMethodHints hints = m_edit->inputMethodHints();
    hints.setFlag(Qt::ImhNoAutoUppercase, type == TextAutocapitalizationTypeNone);
    m_edit->setInputMethodHints(hints);
}

void TextField::setAutocorrectionType(int type)
{
    m_autocorrectionType = type;
    Qt::InputMethodHints hints = m_edit->inputMethodHints();
    hints.setFlag(Qt::ImhNoPredictiveText, type == TextAutocorrectionTypeNo);
    m_edit->setInputMethodHints(hints);
}

void TextField::setTintColor(const QColor& color)
{
    m_tintColor = color;
    editorOf(m_edit)->tintDidChange();
}

QString TextField::text() const { return m_edit->text(); }
void TextField::setText(const QString& text) { m_edit->setText(text); }
QFont TextField::font() const { return m_edit->font(); }
void TextField::setFont(const QFont& font)
{
    m_edit->setFont(font);
    update();
}

void TextField::replaceSelectedRange(const QString& text) { m_edit->insert(text); }

void TextField::setSelectedRange(int start, int length) { m_edit->setSelection(start, length); }

void TextField::stateDidChange()
{
    Control::stateDidChange();
    m_edit->setEnabled(isEnabled());
}

void TextField::setPlaceholder(const QString& text)
{
    m_placeholder = text;
    update();
}

QColor TextField::textColor() const { return m_edit->palette().color(QPalette::Text); }

void TextField::setTextColor(const QColor& color)
{
    QPalette pal = m_edit->palette();
    pal.setColor(QPalette::Text, color);
    m_edit->setPalette(pal);
}

void TextField::setTextInsets(const EdgeInsets& insets)
{
    m_textInsets = insets;
    layoutSubviews();
}

void TextField::setLeftView(View* view)
{
    if (m_leftView == view)
        return;
    delete m_leftView.data();
    m_leftView = view;
    if (view)
        addSubview(view);
    layoutSubviews();
}

void TextField::setClearsWhileEditing(bool on)
{
    m_clearsWhileEditing = on;
    if (on && !m_clearButton) {
        m_clearButton = new Button(ButtonTypeCustom, QRectF(), this);
        m_clearButton->setImage(clearGlyph(), ControlStateNormal);
        m_clearButton->setAccessibilityLabel(QStringLiteral("清除文本"));
        m_clearButton->addTarget(ControlEventTouchUpInside, [this] {
            if (shouldClear && !shouldClear())
                return;
            // Emptied by the button, the text is edited as by the user's own deletion.
            const bool hadText = !m_edit->text().isEmpty();
            m_edit->clear();
            if (hadText)
                sendActionsForControlEvents(ControlEventEditingChanged);
        });
    }
    updateClearButton();
    layoutSubviews();
}

QRectF TextField::textRect() const
{
    QRectF r = EdgeInsetsInsetRect(QRectF(QPointF(), frame().size()), m_textInsets);
    if (m_leftView)
        r.setLeft(std::max(r.left(), m_leftView->frame().right()));
    if (m_clearButton && !m_clearButton->isHidden())
        r.setRight(std::min(r.right(), frame().width() - kClearButtonArea));
    r.setWidth(std::max<qreal>(0, r.width()));
    return r;
}

TextField::~TextField()
{
    // Shown, it lives in the window rather than under the field.
    delete m_inputAccessoryView.data();
}

QRectF TextField::keyboardFrameInWindow() const
{
    const Window* host = window();
    if (!host)
        return {};
    const QSizeF size = host->bounds().size();
    const qreal height = m_inputAccessoryView ? std::min(m_inputAccessoryView->frame().height(), size.height()) : 0;
    return QRectF(0, size.height() - height, size.width(), height);
}

void TextField::setInputAccessoryView(View* view)
{
    if (view == m_inputAccessoryView)
        return;
    delete m_inputAccessoryView.data();
    m_inputAccessoryView = view;
    if (view) {
        view->setParent(this);
        view->hide();
    }
    updateInputAccessoryView();
}

void TextField::updateInputAccessoryView()
{
    View* accessory = m_inputAccessoryView;
    if (!accessory)
        return;
    View* host = m_editing ? window() : nullptr;
    if (!host) {
        accessory->hide();
        if (accessory->parentWidget() != this)
            accessory->setParent(this);
        return;
    }
    if (accessory->parentWidget() != host)
        host->addSubview(accessory);
    accessory->setFrame(keyboardFrameInWindow());
    // It keeps to the bottom edge if the window changes size while the field edits.
    accessory->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    accessory->show();
    accessory->raise();
}

void TextField::becomeFirstResponder()
{
    m_edit->setFocus();
    // Qt keeps a focus asked for off screen in the hierarchy the field is in then; one that joins
    // the window afterwards (an alert still being built) would leave it behind there.
    m_focusWhenShown = !window() || !isVisible();
    setEditing(true);
}

void TextField::showEvent(QShowEvent* event)
{
    Control::showEvent(event);
    if (!m_focusWhenShown || !m_editing || !window())
        return;
    m_focusWhenShown = false;
    m_edit->setFocus();
    updateInputAccessoryView();
}

void TextField::resignFirstResponder()
{
    m_focusWhenShown = false;
    // Ending first: the focus-out that clearing the focus sends then finds nothing to end.
    setEditing(false);
    m_edit->clearFocus();
}

void TextField::setEditing(bool editing)
{
    if (m_editing == editing)
        return;
    m_editing = editing;
    updateClearButton();
    updateInputAccessoryView();
    layoutSubviews();
    sendActionsForControlEvents(editing ? ControlEventEditingDidBegin : ControlEventEditingDidEnd);
    postKeyboardNotification(editing);
}

void TextField::postKeyboardNotification(bool showing)
{
    QRectF frame = keyboardFrameInWindow();
    // Going away, it ends just below the bottom edge.
    if (!showing)
        frame.translate(0, frame.height());
    platform::NotificationCenter::defaultCenter().post(
        showing ? KeyboardWillShowNotification : KeyboardWillHideNotification, nullptr,
        {{KeyboardFrameEndKey, frame}, {KeyboardAnimationDurationKey, 0.25}});
}

// A field that leaves the screen (its tab or its screen hidden) stops being first responder:
// keys typed elsewhere must not land in it unseen.
void TextField::hideEvent(QHideEvent* event)
{
    Control::hideEvent(event);
    if (m_editing || m_edit->hasFocus())
        resignFirstResponder();
}

bool TextField::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit) {
        if (event->type() == QEvent::FocusIn)
            setEditing(true);
        // Another window taking the activation leaves the field editing, as on a phone.
        else if (event->type() == QEvent::FocusOut && static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason)
            setEditing(false);
    }
    return Control::eventFilter(watched, event);
}

void TextField::updateClearButton()
{
    if (!m_clearButton)
        return;
    const bool shown = m_clearsWhileEditing && m_editing && !m_edit->text().isEmpty();
    if (shown == !m_clearButton->isHidden())
        return;
    m_clearButton->setHidden(!shown);
    layoutSubviews();
}

void TextField::typeForTesting(const QString& text, bool pressReturn)
{
    m_edit->end(false);
    m_edit->insert(text);  // reported as an edit, like typing
    if (pressReturn)
        Q_EMIT m_edit->returnPressed();
}

void TextField::tapClearButtonForTesting()
{
    if (m_clearButton && !m_clearButton->isHidden())
        m_clearButton->tapForTesting();
}

void TextField::layoutSubviews()
{
    const QSizeF size = frame().size();
    if (m_leftView) {
        const QSizeF l = m_leftView->frame().size();
        m_leftView->setFrame(QRectF(0, std::floor((size.height() - l.height()) / 2), l.width(), l.height()));
    }
    if (m_clearButton)
        m_clearButton->setFrame(QRectF(size.width() - kClearButtonArea, 0, kClearButtonArea, size.height()));
    m_edit->setGeometry(textRect().toRect());
}

void TextField::drawRect(QPainter& p)
{
    if (!m_background.isNull())
        m_background.draw(p, QRectF(rect()));
    if (m_edit->text().isEmpty() && !m_placeholder.isEmpty())
        drawPlaceholderInRect(p, textRect());
}

void TextField::drawPlaceholderInRect(QPainter& p, const QRectF& rect)
{
    // QLineEdit draws its text with a small margin of its own; the placeholder lines up with it.
    const QRectF r = rect.adjusted(2, 0, 0, 0);
    const QFontMetricsF metrics(font());
    p.setFont(font());
    p.setPen(kPlaceholderGrey);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(m_placeholder, Qt::ElideRight, r.width()));
}

} // namespace platform::uikit
