#pragma once

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"

#include <QColor>
#include <QPointer>

class QLineEdit;

namespace platform::uikit {

class Button;

// What the return key says; the field behaves the same either way. An input method that asks
// is told (as Qt's enter key type).
enum ReturnKeyType { ReturnKeyDefault = 0, ReturnKeySearch = 6, ReturnKeySend = 7 };
// Whether a keyboard starts sentences with a capital by itself (the default) or never.
enum TextAutocapitalizationType { TextAutocapitalizationTypeNone = 0, TextAutocapitalizationTypeSentences = 2 };
// Whether a keyboard may correct what is typed (its own choice by default) or not at all.
enum TextAutocorrectionType { TextAutocorrectionTypeDefault = 0, TextAutocorrectionTypeNo = 1 };
// The keyboard's look: the platform's, or dark for dark screens.
enum KeyboardAppearance { KeyboardAppearanceDefault = 0, KeyboardAppearanceDark = 1 };

// Posted (object nullptr) as a field becomes first responder and as it resigns. The user info
// holds the keyboard's end frame in window coordinates (a QRectF under KeyboardFrameEndKey) and
// the animation's length in seconds (a double under KeyboardAnimationDurationKey). A desktop
// keyboard is a hardware one, so what shows on screen is only the field's input accessory view,
// along the window's bottom edge: the frame is that view's (0 high at the bottom edge without
// one), and on hiding the same frame just below the bottom edge.
inline const QString KeyboardWillShowNotification = QStringLiteral("UIKeyboardWillShowNotification");
inline const QString KeyboardWillHideNotification = QStringLiteral("UIKeyboardWillHideNotification");
inline const QString KeyboardFrameEndKey = QStringLiteral("UIKeyboardFrameEndUserInfoKey");
inline const QString KeyboardAnimationDurationKey = QStringLiteral("UIKeyboardAnimationDurationUserInfoKey");

// One line of editable text over an optional stretchable background. Editing sends
// editing-changed, and so does emptying the field with its clear button; the return key sends editing-did-end-on-exit and asks `shouldReturn`.
// Becoming and resigning first responder send editing-did-begin and editing-did-end. The
// placeholder is drawn by the field itself (drawPlaceholderInRect), so subclasses can style it.
class TextField : public Control {
    Q_OBJECT
public:
    explicit TextField(const QRectF& frame = QRectF(), View* superview = nullptr);
    ~TextField() override;

    QString text() const;
    virtual void setText(const QString& text);
    QString placeholder() const { return m_placeholder; }
    void setPlaceholder(const QString& text);
    int returnKeyType() const { return m_returnKeyType; }
    void setReturnKeyType(int type);
    // The keyboard settings are kept for whatever keyboard edits the field: a desktop's input
    // method is told the capitalisation and correction (as input method hints); a hardware
    // keyboard draws nothing, so the appearance is only kept.
    int autocapitalizationType() const { return m_autocapitalizationType; }
    void setAutocapitalizationType(int type);
    int autocorrectionType() const { return m_autocorrectionType; }
    void setAutocorrectionType(int type);
    int keyboardAppearance() const { return m_keyboardAppearance; }
    void setKeyboardAppearance(int appearance) { m_keyboardAppearance = appearance; }
    // The text cursor's colour; invalid (the default) leaves the platform's cursor.
    QColor tintColor() const { return m_tintColor; }
    void setTintColor(const QColor& color);
    // Puts `text` in place of the selected range, leaving the cursor after it; a caret is a
    // selected range of length 0, so without selected text it goes in where the caret stands.
    void replaceSelectedRange(const QString& text);
    // Selects `length` characters from `start` (tests, and owners restoring a selection).
    void setSelectedRange(int start, int length);
    QFont font() const;
    void setFont(const QFont& font);
    QColor textColor() const;
    void setTextColor(const QColor& color);
    Image background() const { return m_background; }
    void setBackground(const Image& image) { m_background = image; update(); }
    EdgeInsets textInsets() const { return m_textInsets; }
    void setTextInsets(const EdgeInsets& insets);
    // A view kept at the left edge, vertically centred, always shown; the text starts after it.
    // The field owns it (a replaced one is deleted).
    View* leftView() const { return m_leftView; }
    void setLeftView(View* view);
    // A clear button at the right edge while editing a non-empty text.
    bool clearsWhileEditing() const { return m_clearsWhileEditing; }
    void setClearsWhileEditing(bool on);
    Button* clearButton() const { return m_clearButton; }
    // A view shown across the window at its bottom edge while the field edits, at its own
    // height; hidden otherwise. The field owns it (a replaced one is deleted).
    View* inputAccessoryView() const { return m_inputAccessoryView; }
    void setInputAccessoryView(View* view);
    // Where the keyboard stands in the field's window while the field edits: its input accessory
    // view's frame, or 0 high at the bottom edge without one (an empty rect outside a window).
    QRectF keyboardFrameInWindow() const;
    // The area the text and the placeholder take.
    QRectF textRect() const;

    bool isFirstResponder() const { return m_editing; }
    // A field not yet shown in a window (one of an alert still being built) takes the keys
    // typed at the window as it shows there.
    void becomeFirstResponder();
    void resignFirstResponder();
    // Asked when the return key is pressed; true (the default) lets the field end editing.
    std::function<bool()> shouldReturn;
    // Asked when the clear button is tapped; true (the default) empties the field, an edit
    // that sends editing-changed after this answer.
    std::function<bool()> shouldClear;

    // Types `text` at the end as a user would, then presses return when asked to.
    void typeForTesting(const QString& text, bool pressReturn = false);
    // Taps the clear button as a finger would (only while it shows).
    void tapClearButtonForTesting();

    void layoutSubviews() override;

protected:
    void drawRect(QPainter& painter) override;
    void stateDidChange() override;
    // Draws the placeholder while the text is empty; by default in the platform's grey.
    virtual void drawPlaceholderInRect(QPainter& painter, const QRectF& rect);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setEditing(bool editing);
    void postKeyboardNotification(bool showing);
    void updateClearButton();
    void updateInputAccessoryView();

    QLineEdit* m_edit;
    Image m_background;
    EdgeInsets m_textInsets{0, 8, 0, 8};
    QString m_placeholder;
    QPointer<View> m_leftView;
    Button* m_clearButton = nullptr;
    QPointer<View> m_inputAccessoryView;
    bool m_clearsWhileEditing = false;
    bool m_editing = false;
    // First responder since before it showed in a window: the focus is taken again as it shows.
    bool m_focusWhenShown = false;
    int m_returnKeyType = ReturnKeyDefault;
    int m_autocapitalizationType = TextAutocapitalizationTypeSentences;
    int m_autocorrectionType = TextAutocorrectionTypeDefault;
    int m_keyboardAppearance = KeyboardAppearanceDefault;
    QColor m_tintColor;
};

} // namespace platform::uikit
