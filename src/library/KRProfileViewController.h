#pragma once

#include "look/KRComingLaterViewController.h"

namespace platform::uikit {
class Button;
}

// The root screen of the "我的" tab. Until the account card and the library lists arrive it
// offers the QR login while nobody is logged in.
class KRProfileViewController : public KRComingLaterViewController {
    Q_OBJECT
public:
    explicit KRProfileViewController(QObject* parent = nullptr);

    platform::uikit::Button* loginButton() const { return m_loginButton; }

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void applyTheme() override;

private:
    void updateLoginButton();

    platform::uikit::Button* m_loginButton = nullptr;
    platform::ObserverToken m_sessionObserver;
};
