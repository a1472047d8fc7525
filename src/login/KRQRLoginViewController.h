#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ViewController.h"

#include <memory>

class KRQRLoginFlow;

namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class View;
}

// The QR login screen the profile tab pushes: a card with the instruction, the code, its status
// and a refresh button, driven by KRQRLoginFlow. It pops itself once the login is done (only
// while it is the top screen) and polls only while it shows. Portrait only.
class KRQRLoginViewController : public platform::uikit::ViewController {
    Q_OBJECT
public:
    explicit KRQRLoginViewController(QObject* parent = nullptr);
    ~KRQRLoginViewController() override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // The card and what lies on it (null until the view has loaded).
    platform::uikit::View* cardView() const { return m_cardView; }
    platform::uikit::Label* instructionLabel() const { return m_instructionLabel; }
    platform::uikit::ImageView* qrImageView() const { return m_qrImageView; }
    platform::uikit::Label* statusLabel() const { return m_statusLabel; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    platform::uikit::Button* refreshButton() const { return m_refreshButton; }
    const KRQRLoginFlow* flow() const { return m_flow.get(); }

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    void applyTheme();
    void refreshTapped();
    bool showCode(const QString& url);
    void finishLogin();

    platform::uikit::View* m_cardView = nullptr;
    platform::uikit::Label* m_instructionLabel = nullptr;
    platform::uikit::ImageView* m_qrImageView = nullptr;
    platform::uikit::Label* m_statusLabel = nullptr;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    platform::uikit::Button* m_refreshButton = nullptr;
    std::unique_ptr<KRQRLoginFlow> m_flow;
    platform::ObserverToken m_themeObserver;
};
