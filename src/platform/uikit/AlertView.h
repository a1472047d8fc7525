#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

namespace platform::uikit {

class TextField;
class View;
class Window;

enum AlertViewStyle { AlertViewStyleDefault = 0, AlertViewStylePlainTextInput = 2 };

// A modal alert with a title, a message and buttons. It is shown inside the key window, after
// any alert already showing; a tap on a button dismisses it and calls `onDismiss` with the
// button's index (cancel first when there is one), unless `owner` has gone by then. It deletes
// itself after that.
class AlertView : public QObject {
    Q_OBJECT
public:
    AlertView(const QString& title, const QString& message, const QString& cancelButtonTitle,
              const QStringList& otherButtonTitles);
    AlertView(const QString& title, const QString& message, const QString& cancelButtonTitle,
              const QStringList& otherButtonTitles, QObject* owner, std::function<void(int)> onDismiss);
    ~AlertView() override;

    QString title() const { return m_title; }
    QString message() const { return m_message; }
    QStringList buttonTitles() const { return m_buttons; }
    int cancelButtonIndex() const { return m_cancelIndex; }
    // Tells an owner's alerts apart.
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    bool isVisible() const { return m_view != nullptr; }
    View* presentationView() const { return m_view; }

    // With the plain-text style the alert carries one text field under its message; it exists
    // from the moment the style is set, so a caller can dress it before showing and read it in
    // `onDismiss`. Other styles have no field.
    int alertViewStyle() const { return m_style; }
    void setAlertViewStyle(int style);
    TextField* textFieldAtIndex(int index) const;

    void show();
    void dismissWithClickedButtonIndex(int index);
    // Taps the button as a finger would.
    void tapButtonForTesting(int index) { dismissWithClickedButtonIndex(index); }

private:
    friend class Window;
    View* makePresentation(Window* window);

    QString m_title;
    QString m_message;
    QStringList m_buttons;
    int m_cancelIndex = -1;
    int m_tag = 0;
    std::function<void(int)> m_onDismiss;
    int m_style = AlertViewStyleDefault;
    QPointer<TextField> m_textField;
    QPointer<View> m_view;
    QPointer<Window> m_window;
    bool m_dismissed = false;
};

} // namespace platform::uikit
