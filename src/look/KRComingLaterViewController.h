#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"

namespace platform::uikit {
class Label;
}

// A screen whose real content this build does not have yet: its title and one line saying
// the screen comes in a later version, in the current theme's colours.
class KRComingLaterViewController : public platform::uikit::ViewController {
    Q_OBJECT
public:
    explicit KRComingLaterViewController(const QString& title, QObject* parent = nullptr);

    platform::uikit::Label* messageLabel() const { return m_messageLabel; }

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidLayoutSubviews() override;
    // Screens that add to the page lay their own views out below the line.
    virtual void applyTheme();

private:
    platform::uikit::Label* m_messageLabel = nullptr;
    platform::ObserverToken m_themeObserver;
};
