#include "platform/uikit/TextField.h"

#include "platform/uikit/Label.h"

#include <QLineEdit>
#include <QPainter>

namespace platform::uikit {

TextField::TextField(const QRectF& frame, View* superview) : Control(frame, superview)
{
    m_edit = new QLineEdit(this);
    m_edit->setFrame(false);
    m_edit->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_edit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    m_edit->setFont(Label::systemFont(15));
    QObject::connect(m_edit, &QLineEdit::textEdited, this, [this] { sendActionsForControlEvents(ControlEventEditingChanged); });
    QObject::connect(m_edit, &QLineEdit::returnPressed, this, [this] {
        if (shouldReturn && !shouldReturn())
            return;
        sendActionsForControlEvents(ControlEventEditingDidEndOnExit);
    });
    layoutSubviews();
}

QString TextField::text() const { return m_edit->text(); }
void TextField::setText(const QString& text) { m_edit->setText(text); }
QString TextField::placeholder() const { return m_edit->placeholderText(); }
void TextField::setPlaceholder(const QString& text) { m_edit->setPlaceholderText(text); }
void TextField::setFont(const QFont& font) { m_edit->setFont(font); }

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

bool TextField::isFirstResponder() const { return m_edit->hasFocus(); }
void TextField::becomeFirstResponder() { m_edit->setFocus(); }
void TextField::resignFirstResponder() { m_edit->clearFocus(); }

void TextField::typeForTesting(const QString& text, bool pressReturn)
{
    m_edit->end(false);
    m_edit->insert(text);  // reported as an edit, like typing
    if (pressReturn)
        Q_EMIT m_edit->returnPressed();
}

void TextField::layoutSubviews()
{
    m_edit->setGeometry(EdgeInsetsInsetRect(QRectF(rect()), m_textInsets).toRect());
}

void TextField::drawRect(QPainter& p)
{
    if (!m_background.isNull())
        m_background.draw(p, QRectF(rect()));
}

} // namespace platform::uikit
