#pragma once

#include "model/KRError.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ViewController.h"
#include "platform/web/WebView.h"

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>

inline const QString KRGaiaVerificationError = QStringLiteral("KRGaiaVerificationError");
using KRGaiaVerificationCompletion = std::function<void(const QString& token, const KROptionalError& error)>;

// Compact JSON of `object` that is safe inside an inline script element: "</", "<!--", U+2028
// and U+2029 are escaped, so a value from a reply can neither end the element nor put the HTML
// parser into its escaped-script state. Null (and `error` set) when the object is not a map or
// a list of JSON values.
QString KRGaiaEscapedJSONString(const QVariant& object, KROptionalError* error = nullptr);
// The text of "Gaia/Transpiled/<name>.js" in the bundle with "</script" made harmless; null
// when missing or not UTF-8.
QString KRGaiaInlineScriptNamed(const QString& name);
// Only https addresses of the static CDN host inside the captcha SDK's folder ("//…" counts
// as https).
bool KRGaiaIsTrustedScriptLocation(const QVariant& value);
// A configuration the page may use: its "logic" address trusted, and its "source" address
// trusted too unless it has none.
bool KRGaiaIsTrustedConfiguration(const QVariantMap& configuration);
// The verification page: the template with its six parts filled in one pass.
QString KRGaiaVerificationDocument(const QString& polyfills, const QString& fingerprintScript, const QString& logicScript,
                                   const QString& sourceScript, const QString& riskJSON, const QString& configurationJSON);

// The captcha screen a page pushes when the service asks for a verification. It builds the
// verification page from the risk options, the service's risk configuration (the bundled
// one when the service gives none) and the bundled scripts, and listens to the page only
// through the "korvane-gaia" scheme. The completion runs once: the token, error 1 when the
// user cancels or leaves, error 2 when the page cannot be built. While it is open the web
// view presents itself as desktop Chrome through the "UserAgent" default, which is put back
// as it was when the screen goes away.
class KRGaiaVerificationViewController : public platform::uikit::ViewController, public platform::web::WebViewDelegate {
    Q_OBJECT
public:
    KRGaiaVerificationViewController(const QVariantMap& riskOptions, KRGaiaVerificationCompletion completion,
                                     QObject* parent = nullptr);
    ~KRGaiaVerificationViewController() override;

    // The page's navigation filter: the private scheme never loads.
    bool shouldStartLoad(platform::web::WebView* view, const QUrl& url, bool isMainFrame) override;
    void didFinishLoad(platform::web::WebView* view) override;
    void didFailLoad(platform::web::WebView* view, const platform::Error& error) override;

    void reloadTapped();
    void cancelTapped();

    platform::web::WebView* webView() const { return m_webView; }
    platform::uikit::Label* statusLabel() const { return m_statusLabel; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }
    bool isRetryAvailable() const { return m_retryAvailable; }
    bool isFinished() const { return m_finished; }
    bool isCaptchaInitialized() const { return m_captchaInitialized; }
    bool isLoadTimeoutScheduled() const;

    // Shorter native time-outs for tests (0 restores 20 s and 45 s).
    static void setLoadTimeoutsForTesting(int softMilliseconds, int hardMilliseconds);

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewWillDisappear(bool animated) override;

private:
    void loadVerificationDocument();
    void continueVerificationDocument(const QString& riskJSON, const KROptionalError& jsonError,
                                      const QVariantMap& configuration);
    void handleDiagnosticStage(const QString& stage, const QString& detail);
    void setRetryAvailable(bool available);
    void beginVerifierLoadingWindow();
    void softLoadTimeout();
    void hardLoadTimeout();
    void setStatusText(const QString& text, bool spinning);
    void finishWithToken(const QString& token, const KROptionalError& error);
    void answerPageEvent(const QString& sequence);

    QVariantMap m_riskOptions;
    KRGaiaVerificationCompletion m_completion;
    // The views go with the view tree, which a container may destroy before this screen.
    QPointer<platform::web::WebView> m_webView;
    QPointer<platform::uikit::ActivityIndicatorView> m_spinner;
    QPointer<platform::uikit::Label> m_statusLabel;
    QVariant m_previousUserAgent;
    bool m_userAgentOverridden = false;
    bool m_finished = false;
    bool m_poppingInternally = false;
    bool m_captchaInitialized = false;
    bool m_retryAvailable = false;
    // Each page build's number: a configuration answer for an older build is dropped.
    quint64 m_build = 0;
    platform::DelayedCalls m_delayedCalls;
};
