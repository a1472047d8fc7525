#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ViewController.h"

#include <QFont>

namespace platform::uikit {
class Button;
class Label;
class ScrollView;
}

// Posted (object: the notice) once the user has acknowledged the first-run notice.
inline const QString KRUsageNoticeDidAcknowledgeNotification = QStringLiteral("KRUsageNoticeDidAcknowledgeNotification");
// The user-defaults integer holding the acknowledged version of the notice (absent: 0).
inline const QString KRUsageNoticeAcceptedVersionKey = QStringLiteral("KRUsageNoticeAcceptedVersion");

// The page that says how the installation package may be passed on, what the software is and
// is not, and where updates and contact come from. On first run it must be acknowledged once
// (the application presents it until then and checks for no update); the about page shows it
// read-only, without the button. Portrait only; main thread only.
class KRUsageNoticeViewController : public platform::uikit::ViewController {
    Q_OBJECT
public:
    explicit KRUsageNoticeViewController(bool acknowledgementRequired = false, QObject* parent = nullptr);
    ~KRUsageNoticeViewController() override;

    // Whether the stored acknowledged version is below the current one (1).
    static bool needsInitialAcknowledgement();

    bool acknowledgementRequired() const { return m_acknowledgementRequired; }
    // ceil(height of the label's text wrapped to `width`) + 2; 2 without text.
    static qreal heightForLabel(const platform::uikit::Label* label, qreal width);

    bool shouldAutorotateToInterfaceOrientation(int orientation) override;
    int supportedInterfaceOrientations() override;

    platform::uikit::ScrollView* scrollView() const { return m_scrollView; }
    platform::uikit::Label* introLabel() const { return m_introLabel; }
    platform::uikit::Label* distributionTitleLabel() const { return m_distributionTitleLabel; }
    platform::uikit::Label* distributionBodyLabel() const { return m_distributionBodyLabel; }
    platform::uikit::Label* disclaimerTitleLabel() const { return m_disclaimerTitleLabel; }
    platform::uikit::Label* disclaimerBodyLabel() const { return m_disclaimerBodyLabel; }
    platform::uikit::Label* updateTitleLabel() const { return m_updateTitleLabel; }
    platform::uikit::Label* updateBodyLabel() const { return m_updateBodyLabel; }
    // Null on the read-only page.
    platform::uikit::Button* acknowledgeButton() const { return m_acknowledgeButton; }

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    void applyTheme();
    void acknowledgeTapped();

    platform::uikit::ScrollView* m_scrollView = nullptr;
    platform::uikit::Label* m_introLabel = nullptr;
    platform::uikit::Label* m_distributionTitleLabel = nullptr;
    platform::uikit::Label* m_distributionBodyLabel = nullptr;
    platform::uikit::Label* m_disclaimerTitleLabel = nullptr;
    platform::uikit::Label* m_disclaimerBodyLabel = nullptr;
    platform::uikit::Label* m_updateTitleLabel = nullptr;
    platform::uikit::Label* m_updateBodyLabel = nullptr;
    platform::uikit::Button* m_acknowledgeButton = nullptr;
    bool m_acknowledgementRequired = false;
    platform::ObserverToken m_themeObserver;
};

// A zero-frame label on a clear background with the font and line count, word-wrapped.
platform::uikit::Label* KRUsageNoticeLabel(const QFont& font, int numberOfLines);
