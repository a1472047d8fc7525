#include "login/KRGaiaVerificationViewController.h"

#include "account/KRGaiaDiagnostics.h"
#include "look/KRTheme.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"
#include "service/KRAsyncRequest.h"
#include "service/KRRequestPipeline.h"

#include <QPointer>
#include <QStringDecoder>

#include <atomic>
#include <cmath>

using namespace platform::uikit;

namespace {

const QString kScheme = QStringLiteral("korvane-gaia");
const QString kUserAgentKey = QStringLiteral("UserAgent");
// The captcha is served to desktop browsers only.
const QString kDesktopChrome = QStringLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/140.0.0.0 "
    "Safari/537.36");
const QString kTrustedScriptFolder = QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk/");
const QString kLoaderPath = QStringLiteral("/bfs/seed/jinkela/risk-captcha-sdk/CaptchaLoader.js");
const QString kRiskConfigurationPath = QStringLiteral("/x/web-frontend/risk/config");
const QString kIncomplete = QStringLiteral("安全验证组件不完整");
const QString kCancelled = QStringLiteral("已取消安全验证");
const QString kSoftTimeout = QStringLiteral("soft-load-timeout");
const QString kHardTimeout = QStringLiteral("hard-load-timeout");
constexpr int kSoftTimeoutMs = 20000;
constexpr int kHardTimeoutMs = 45000;
constexpr qreal kStatusHeight = 48;
constexpr qint64 kScriptBytes = 8 * 1024 * 1024;

std::atomic<int> gSoftTimeoutMs{0};
std::atomic<int> gHardTimeoutMs{0};

const QString kStatusOpening = QStringLiteral("正在打开安全验证…");
const QString kStatusPreparing = QStringLiteral("正在准备安全验证…");
const QString kStatusSlow = QStringLiteral("验证组件连接较慢，正在继续等待…");
const QString kStatusImageWaiting = QStringLiteral("验证图片仍在加载，请稍候…");
const QString kStatusUnfinished = QStringLiteral("安全验证未完成，请点右上角重试");

// The page. Six "%@" parts in order: polyfills, fingerprint script, logic script, source
// script, risk options JSON, configuration JSON; "%%" is a literal percent sign. "@STATIC@"
// is the static CDN host, put in once when the template is first used.
//
// The loader's load result is window.CaptchaLoader.load() when that is a function (through
// Promise.resolve, so a plain value and a promise are alike), else undefined.
//
// Events travel as hidden iframes whose navigation the app reads and cancels. Chromium starts
// an iframe's navigation only after the element was added, asynchronously, so an iframe is
// removed once the app has answered its numbered event, and "success" navigates the page away
// only after every earlier event was answered (or after 3 s, should an answer be lost).
const char kTemplate[] = R"KRGAIA(<!DOCTYPE html>
<html><head><meta charset='utf-8'>
<meta name='viewport' content='width=device-width,initial-scale=1,maximum-scale=1,user-scalable=no'>
<style>html,body{margin:0;padding:0;width:100%%;min-height:100%%;font-family:-apple-system,Helvetica,Arial,sans-serif;background:#f7f7f9}#boot{padding:68px 20px 20px;text-align:center;color:#777;font-size:14px;line-height:22px}</style>
<script>%@</script>
<script>window.__USER_FP_CONFIG__={activityEvents:['mousemove','click','touchmove'],logStackMaxLength:10,samplingTime:100};</script>
<script>%@</script>
<script type="text/plain" id="kr-gaia-logic-es5">%@</script>
<script type="text/plain" id="kr-gaia-source-es5">%@</script>
</head><body><div id="boot">正在载入岚帆视频安全验证…</div>
<script>
(function () {
  var completed = false, initialized = false;
  var risk = %@;
  var fallbackConfig = %@;
  var sequence = 0, pending = {}, pendingCount = 0, waiting = [];
  function flushWaiting() {
    if (pendingCount > 0) return;
    var callbacks = waiting; waiting = [];
    for (var i = 0; i < callbacks.length; i++) callbacks[i]();
  }
  window.__KRGaiaAnswered = function (number) {
    var frame = pending[number];
    if (!frame) return;
    delete pending[number]; pendingCount--;
    if (frame.parentNode) frame.parentNode.removeChild(frame);
    flushWaiting();
  };
  function bridge(path, value) {
    if (completed) return;
    completed = true;
    var address = 'korvane-gaia://' + path;
    if (value !== undefined && value !== null) address += '?token=' + encodeURIComponent(String(value));
    var gone = false;
    var go = function () { if (gone) return; gone = true; window.location.href = address; };
    waiting.push(go);
    setTimeout(go, 3000);
    flushWaiting();
  }
  function event(stage, detail) {
    try {
      var number = ++sequence;
      var frame = document.createElement('iframe');
      frame.style.display = 'none';
      frame.src = 'korvane-gaia://event?stage=' + encodeURIComponent(stage || 'unknown') + '&detail=' +
        encodeURIComponent(detail || '') + '&seq=' + number;
      pending[number] = frame; pendingCount++;
      (document.body || document.documentElement).appendChild(frame);
    } catch (e) {}
  }
  window.__KRGaiaTrace = event;
  function status(text) {
    var boot = document.getElementById('boot');
    if (boot) boot.innerHTML = text;
  }
  function errorInfo(error) {
    if (!error) return 'unknown';
    var parts = [];
    try {
      if (error.name !== undefined) parts.push('name=' + error.name);
      if (error.ecode !== undefined) parts.push('ecode=' + error.ecode);
      if (error.code !== undefined) parts.push('code=' + error.code);
      if (error.message !== undefined) parts.push('message=' + String(error.message).slice(0, 120));
      if (error.line !== undefined) parts.push('line=' + error.line);
      if (error.stack !== undefined) parts.push('stack=' + String(error.stack).slice(0, 160));
    } catch (e) {}
    return parts.length ? parts.join(';') : 'unknown';
  }
  window.onerror = function (message, source, line) {
    event('window-error', 'line=' + line + ';message=' + String(message).slice(0, 120));
    status('验证组件仍在准备，请稍候…');
  };
  window.addEventListener('unhandledrejection', function (e) { event('unhandled-rejection', errorInfo(e && e.reason)); });
  function normalizeRunner(value) {
    if (typeof value === 'function') return value;
    if (value && typeof value.run === 'function') return function (options) { return value.run(options); };
    if (value && typeof value['default'] === 'function') return value['default'];
    return null;
  }
  function evaluateInline(id, stage) {
    var element = document.getElementById(id);
    var text = element ? element.text : '';
    if (!text) { event(stage + '-execute-error', 'empty'); return; }
    try {
      (0, eval)(text + '\n//# sourceURL=' + stage + '.js');
      event(stage + '-executed', '');
    } catch (e) {
      event(stage + '-execute-error', errorInfo(e));
    }
  }
  function fallback() {
    event('config-fallback', '');
    evaluateInline('kr-gaia-logic-es5', 'logic-inline');
    evaluateInline('kr-gaia-source-es5', 'source-inline');
    if (typeof window.useCaptcha !== 'function') throw new Error('window.useCaptcha is not a function');
    event('fallback-runner-ready', '');
    return window.useCaptcha;
  }
  function failed(error) {
    event('run-rejected', errorInfo(error));
    status(initialized ? '验证未完成，请点右上角重试' : '验证组件仍在准备，请稍候…');
  }
  function run(runner) {
    event('loader-ready', '');
    var result;
    try {
      result = runner({
        riskParams: risk, businessSpmid: '333.788.0.0', fromSpmid: '333.788.0.0', language: 'zh-CN', platform: 'web',
        onInit: function () { initialized = true; event('captcha-init', ''); status(''); },
        onDestroy: function () { event('captcha-destroy', ''); }
      });
    } catch (e) {
      result = Promise.reject(e);
    }
    Promise.resolve(result).then(function (token) {
      if (typeof token === 'string' && token.length) {
        event('captcha-resolved', '');
        bridge('success', token);
      } else {
        event('resolved-empty', '');
        status('未返回验证结果，请点右上角重试');
      }
    }, failed);
  }
  var script = document.createElement('script');
  script.src = 'https://@STATIC@@LOADER@';
  script.onerror = function () {
    event('loader-script-error', '');
    status('验证组件连接较慢，正在继续等待…');
  };
  script.onload = function () {
    event('loader-script-loaded', '');
    status('正在准备安全验证…');
    var loader = window.CaptchaLoader, loaded;
    try {
      loaded = loader && typeof loader.load === 'function' ? Promise.resolve(loader.load()) : Promise.resolve(undefined);
    } catch (e) {
      loaded = Promise.reject(e);
    }
    loaded.then(function (value) {
      var runner = normalizeRunner(value);
      if (runner) return runner;
      event('loader-runner-invalid', value === null ? 'null' : typeof value);
      return fallback();
    }, function (error) {
      event('loader-config-rejected', errorInfo(error));
      return fallback();
    }).then(run, failed);
  };
  document.body.appendChild(script);
  setTimeout(function () {
    if (initialized || completed) return;
    event('init-waiting', '');
    status('验证图片仍在加载，请稍候…');
  }, 20000);
  setTimeout(function () {
    if (initialized || completed) return;
    event('init-timeout', '');
    status('验证图片加载超时，请点右上角重试');
  }, 45000);
})();
</script></body></html>
)KRGAIA";

const QString& pageTemplate()
{
    static const QString text = [] {
        QString t = QString::fromUtf8(kTemplate);
        t.replace(QStringLiteral("@STATIC@"), KRServiceHosts::staticCDNHost());
        t.replace(QStringLiteral("@LOADER@"), kLoaderPath);
        return t;
    }();
    return text;
}

std::optional<QString> utf8Text(const std::optional<QByteArray>& data)
{
    if (!data)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(*data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// JSON can hold only these; anything else (a date, bytes, a NaN) cannot be written.
bool isWritableJSON(const QVariant& value, int depth)
{
    if (depth > 64)
        return false;
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (!isWritableJSON(it.value(), depth + 1))
                return false;
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant& item : list)
            if (!isWritableJSON(item, depth + 1))
                return false;
        return true;
    }
    case QMetaType::QStringList:
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Nullptr:
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        return std::isfinite(value.toDouble());
    default:
        return false;
    }
}

bool isNonEmptyText(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString)
        return !value.toString().isEmpty();
    return false;
}

bool isNonEmptyCollection(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return !value.toList().isEmpty();
    if (value.typeId() == QMetaType::QVariantMap)
        return !value.toMap().isEmpty();
    return false;
}

QString riskShape(const QVariantMap& options)
{
    const QVariant context = options.value(QStringLiteral("decision_ctx"));
    const bool contextIsMap = context.typeId() == QMetaType::QVariantMap;
    const QVariant grisk = options.value(QStringLiteral("grisk_id"));
    const bool hasGrisk = isNonEmptyText(grisk)
                          || ((grisk.typeId() == QMetaType::LongLong || grisk.typeId() == QMetaType::Int) && grisk.toLongLong() != 0);
    return QStringLiteral("topVoucher=%1;decisions=%2;grisk=%3;decisionCtx=%4;ctxVoucher=%5")
        .arg(isNonEmptyText(options.value(QStringLiteral("v_voucher"))) ? 1 : 0)
        .arg(isNonEmptyCollection(options.value(QStringLiteral("decisions"))) ? 1 : 0)
        .arg(hasGrisk ? 1 : 0)
        .arg(contextIsMap ? QStringLiteral("dict") : QStringLiteral("missing"))
        .arg(contextIsMap && isNonEmptyText(context.toMap().value(QStringLiteral("v_voucher"))) ? 1 : 0);
}

// Name/value items of a private-scheme address's query, values percent-decoded (a "+" stays
// a plus sign: tokens are base64).
QList<QPair<QString, QString>> queryItems(const QUrl& url)
{
    QList<QPair<QString, QString>> items;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QString& item : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        items.append({item.left(equals), QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8())});
    }
    return items;
}

int effective(const std::atomic<int>& testing, int normal)
{
    const int value = testing.load();
    return value > 0 ? value : normal;
}

} // namespace

QString KRGaiaEscapedJSONString(const QVariant& object, KROptionalError* error)
{
    const int type = object.typeId();
    if ((type != QMetaType::QVariantMap && type != QMetaType::QVariantList && type != QMetaType::QStringList)
        || !isWritableJSON(object, 0)) {
        if (error)
            *error = KRError(QStringLiteral("NSCocoaErrorDomain"), 3851, QStringLiteral("风险参数无法写成 JSON"));
        return QString();
    }
    QString text = QString::fromUtf8(KRJSONData(object));
    text.replace(QStringLiteral("</"), QStringLiteral("<\\/"));
    // "<!--" followed by "<script" would put the HTML parser into its double-escaped script
    // state, in which the element's end tag no longer ends it and the page never runs.
    text.replace(QStringLiteral("<!--"), QStringLiteral("<\\!--"));
    text.replace(QChar(0x2028), QStringLiteral("\\u2028"));
    text.replace(QChar(0x2029), QStringLiteral("\\u2029"));
    if (error)
        error->reset();
    return text;
}

QString KRGaiaInlineScriptNamed(const QString& name)
{
    const auto text = utf8Text(platform::Bundle::contentsOfResource(name, QStringLiteral("js"), QStringLiteral("Gaia/Transpiled"), kScriptBytes));
    if (!text)
        return QString();
    QString script = *text;
    // The HTML parser ends a script element at "</script" in any letter case.
    script.replace(QStringLiteral("</script"), QStringLiteral("<\\/script"), Qt::CaseInsensitive);
    return script;
}

bool KRGaiaIsTrustedScriptLocation(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return false;
    QString text = value.toString();
    if (text.isEmpty())
        return false;
    if (text.startsWith(QLatin1String("//")))
        text.prepend(QLatin1String("https:"));
    if (!text.startsWith(QLatin1String("https://")))
        return false;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().toLower() != KRServiceHosts::staticCDNHost())
        return false;
    const QString path = url.path(QUrl::FullyDecoded);
    // The browser asks for the path as written: a folder spelt with encoded slashes is not the
    // folder, whatever it decodes to.
    if (!path.startsWith(kTrustedScriptFolder) || !url.path(QUrl::FullyEncoded).startsWith(kTrustedScriptFolder))
        return false;
    // A browser resolves dot segments (also written %2e), which could step out of the folder.
    const QStringList segments = path.split(QLatin1Char('/'));
    return !segments.contains(QStringLiteral("..")) && !segments.contains(QStringLiteral("."))
           && !path.contains(QLatin1Char('\\'));
}

bool KRGaiaIsTrustedConfiguration(const QVariantMap& configuration)
{
    // The page loads both scripts the configuration names; one from elsewhere is as bad as two.
    const QVariant source = configuration.value(QStringLiteral("source"));
    const bool sourceEmpty = !source.isValid() || source.isNull()
                             || (source.typeId() == QMetaType::QString && source.toString().isEmpty());
    return KRGaiaIsTrustedScriptLocation(configuration.value(QStringLiteral("logic")))
           && (sourceEmpty || KRGaiaIsTrustedScriptLocation(source));
}

QString KRGaiaVerificationDocument(const QString& polyfills, const QString& fingerprintScript, const QString& logicScript,
                                   const QString& sourceScript, const QString& riskJSON, const QString& configurationJSON)
{
    const QString* const parts[] = {&polyfills, &fingerprintScript, &logicScript, &sourceScript, &riskJSON, &configurationJSON};
    const QString& tmpl = pageTemplate();
    qsizetype size = tmpl.size();
    for (const QString* part : parts)
        size += part->size();
    QString page;
    page.reserve(size);
    const QChar* data = tmpl.constData();
    const qsizetype length = tmpl.size();
    qsizetype runStart = 0;
    size_t next = 0;
    for (qsizetype i = 0; i < length; ++i) {
        if (data[i] != QLatin1Char('%') || i + 1 >= length)
            continue;
        const QChar marker = data[i + 1];
        if (marker == QLatin1Char('%')) {
            page.append(data + runStart, i + 1 - runStart);
            runStart = i + 2;
            ++i;
        } else if (marker == QLatin1Char('@') && next < std::size(parts)) {
            page.append(data + runStart, i - runStart);
            page.append(*parts[next++]);
            runStart = i + 2;
            ++i;
        }
    }
    page.append(data + runStart, length - runStart);
    return page;
}

KRGaiaVerificationViewController::KRGaiaVerificationViewController(const QVariantMap& riskOptions,
                                                                   KRGaiaVerificationCompletion completion, QObject* parent)
    : ViewController(parent)
    , m_riskOptions(riskOptions)
    , m_completion(std::move(completion))
{
    setTitle(QStringLiteral("安全验证"));
}

KRGaiaVerificationViewController::~KRGaiaVerificationViewController()
{
    m_delayedCalls.cancelAll();
    if (m_webView) {
        m_webView->setDelegate(nullptr);
        m_webView->stopLoading();
    }
    if (m_userAgentOverridden) {
        platform::UserDefaults& defaults = platform::UserDefaults::standard();
        if (m_previousUserAgent.isValid())
            defaults.setObject(kUserAgentKey, m_previousUserAgent);
        else
            defaults.remove(kUserAgentKey);
    }
}

void KRGaiaVerificationViewController::setLoadTimeoutsForTesting(int softMilliseconds, int hardMilliseconds)
{
    gSoftTimeoutMs = softMilliseconds;
    gHardTimeoutMs = hardMilliseconds;
}

bool KRGaiaVerificationViewController::isLoadTimeoutScheduled() const
{
    return m_delayedCalls.isScheduled(kSoftTimeout) || m_delayedCalls.isScheduled(kHardTimeout);
}

void KRGaiaVerificationViewController::viewDidLoad()
{
    KRTheme* theme = KRTheme::sharedTheme();
    view()->setBackgroundColor(theme->backgroundColor());
    auto* cancel = new BarButtonItem(QStringLiteral("取消"), BarButtonItemStyleBordered, [this] { cancelTapped(); }, this);
    auto* retry = new BarButtonItem(QStringLiteral("重试"), BarButtonItemStyleBordered, [this] { reloadTapped(); }, this);
    navigationItem()->setLeftBarButtonItem(cancel);
    navigationItem()->setRightBarButtonItem(retry);
    setRetryAvailable(false);

    // The web view reads the agent when it is made.
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    m_previousUserAgent = defaults.object(kUserAgentKey);
    defaults.setObject(kUserAgentKey, kDesktopChrome);
    m_userAgentOverridden = true;

    const QRectF bounds = view()->bounds();
    m_webView = new platform::web::WebView(bounds, view());
    m_webView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_webView->setDelegate(this);
    m_webView->setOpaque(false);
    m_webView->setBackgroundColor(theme->backgroundColor());

    m_statusLabel = new Label(QRectF(0, 0, bounds.width(), kStatusHeight), view());
    m_statusLabel->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.72));
    m_statusLabel->setTextColor(QColor(Qt::white));
    m_statusLabel->setTextAlignment(TextAlignmentCenter);
    m_statusLabel->setFont(Label::systemFont(14));
    m_statusLabel->setNumberOfLines(2);
    m_statusLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleBottomMargin);
    m_statusLabel->setHidden(true);

    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleWhite, view());
    m_spinner->setCenter(QPointF(bounds.width() / 2, kStatusHeight / 2));
    m_spinner->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin);

    KRGaiaDiagnostics::beginVerifierRun();
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("view-ready"), QString());
    loadVerificationDocument();
}

void KRGaiaVerificationViewController::viewDidLayoutSubviews()
{
    if (!m_webView)
        return;
    const QRectF bounds = view()->bounds();
    m_webView->setFrame(bounds);
    m_statusLabel->setFrame(QRectF(0, 0, bounds.width(), kStatusHeight));
    m_spinner->setCenter(QPointF(bounds.width() / 2, kStatusHeight / 2));
}

void KRGaiaVerificationViewController::viewWillDisappear(bool animated)
{
    ViewController::viewWillDisappear(animated);
    if (m_finished || m_poppingInternally)
        return;
    NavigationController* navigation = navigationController();
    const bool leaving = !navigation || !navigation->viewControllers().contains(this);
    if (leaving)
        finishWithToken(QString(), KRError(KRGaiaVerificationError, 1, kCancelled));
}

void KRGaiaVerificationViewController::loadVerificationDocument()
{
    if (m_finished)
        return;
    beginVerifierLoadingWindow();
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("document-build"), QString());
    KROptionalError jsonError;
    const QString riskJSON = KRGaiaEscapedJSONString(m_riskOptions, &jsonError);
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("risk-shape"), riskShape(m_riskOptions));

    // Asked off the main thread so that the screen keeps drawing while the service is slow.
    const quint64 build = ++m_build;
    const QString address = QStringLiteral("https://") + KRServiceHosts::apiHost() + kRiskConfigurationPath;
    struct Answer {
        QVariantMap configuration;
        bool answered = false;
    };
    auto work = [address](const KRAsyncRequest&) {
        const platform::HTTPResponse response = KRRequestPipeline::perform(KRRequestKind::RiskConfiguration, address);
        QVariantMap configuration;
        bool answered = false;
        // An error status means the request failed, whatever its body reads as.
        if (response.ok() && response.status >= 200 && response.status < 300 && !response.body.isEmpty()) {
            const QVariant parsed = KRJSONParse(response.body);
            if (parsed.typeId() == QMetaType::QVariantMap) {
                configuration = parsed.toMap();
                answered = true;
            }
        }
        return Answer{configuration, answered};
    };
    KRAsyncRequest(this).run(std::move(work), [this, build, riskJSON, jsonError](const Answer& answer) {
        if (m_finished || build != m_build)
            return;
        QVariantMap chosen = answer.configuration;
        if (!answer.answered) {
            const auto bundled = KRJSONParse(platform::Bundle::contentsOfResource(QStringLiteral("risk-config"),
                                                                                   QStringLiteral("json"), QStringLiteral("Gaia"), kScriptBytes)
                                                 .value_or(QByteArray()));
            chosen = bundled.typeId() == QMetaType::QVariantMap ? bundled.toMap() : QVariantMap();
        }
        continueVerificationDocument(riskJSON, jsonError, chosen);
    });
}

void KRGaiaVerificationViewController::continueVerificationDocument(const QString& riskJSON, const KROptionalError& jsonError,
                                                                    const QVariantMap& configuration)
{
    const QString configurationJSON = KRGaiaIsTrustedConfiguration(configuration) ? KRGaiaEscapedJSONString(configuration) : QString();

    const QString logic = KRGaiaInlineScriptNamed(QStringLiteral("CaptchaLoader.logic.81da10a8.es5"));
    const QString sourceScript = KRGaiaInlineScriptNamed(QStringLiteral("img.81da10a8.es5"));
    const QString fingerprint = KRGaiaInlineScriptNamed(QStringLiteral("zant-user-fingerprint.es5"));
    const QString polyfills = utf8Text(platform::Bundle::contentsOfResource(QStringLiteral("legacy-polyfills"), QStringLiteral("js"),
                                                                            QStringLiteral("Gaia"), kScriptBytes))
                                  .value_or(QString());

    if (riskJSON.isEmpty() || configurationJSON.isEmpty() || polyfills.isEmpty() || logic.isEmpty() || sourceScript.isEmpty()
        || fingerprint.isEmpty()) {
        const QString message = jsonError ? jsonError->description() : kIncomplete;
        finishWithToken(QString(), KRError(KRGaiaVerificationError, 2, message));
        return;
    }
    if (!m_webView)
        return;
    const QString page = KRGaiaVerificationDocument(polyfills, fingerprint, logic, sourceScript, riskJSON, configurationJSON);
    setStatusText(QStringLiteral("正在载入安全验证…"), true);
    m_webView->loadHTMLString(page, QUrl(QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/")));
}

bool KRGaiaVerificationViewController::shouldStartLoad(platform::web::WebView* view, const QUrl& url, bool)
{
    if (url.scheme().toLower() != kScheme)
        return true;
    const QString host = url.host().toLower();
    const auto items = queryItems(url);
    if (host == QLatin1String("event")) {
        QString stage, detail, sequence;
        for (const auto& [name, value] : items) {
            if (name == QLatin1String("stage"))
                stage = value;
            else if (name == QLatin1String("detail"))
                detail = value;
            else if (name == QLatin1String("seq"))
                sequence = value;
        }
        handleDiagnosticStage(stage, detail);
        if (view && view == m_webView && !m_finished)
            answerPageEvent(sequence);
    } else if (host == QLatin1String("success")) {
        QString token;
        for (const auto& [name, value] : items) {
            if (name == QLatin1String("token")) {
                token = value;
                break;
            }
        }
        if (!token.isEmpty()) {
            finishWithToken(token, std::nullopt);
        } else {
            setStatusText(QStringLiteral("验证未返回有效凭据，请重试"), false);
            setRetryAvailable(true);
        }
    }
    return false;
}

// Lets the page remove the event's iframe and, once nothing is outstanding, report success.
void KRGaiaVerificationViewController::answerPageEvent(const QString& sequence)
{
    bool ok = false;
    const qint64 number = sequence.toLongLong(&ok);
    if (!ok || number <= 0 || !m_webView)
        return;
    m_webView->evaluateJavaScript(QStringLiteral("window.__KRGaiaAnswered&&window.__KRGaiaAnswered(%1)").arg(number));
}

void KRGaiaVerificationViewController::didFinishLoad(platform::web::WebView*)
{
    if (m_finished)
        return;
    if (!m_captchaInitialized)
        setStatusText(kStatusPreparing, true);
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("document-loaded"), QString());
}

void KRGaiaVerificationViewController::didFailLoad(platform::web::WebView*, const platform::Error& error)
{
    if (m_finished || error.code() == -999)
        return;
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("webview-load-error"),
                                           QStringLiteral("domain=%1;code=%2").arg(error.domain()).arg(error.code()));
    if (!m_captchaInitialized) {
        setStatusText(kStatusSlow, true);
        setRetryAvailable(false);
    }
}

void KRGaiaVerificationViewController::handleDiagnosticStage(const QString& stage, const QString& detail)
{
    KRGaiaDiagnostics::recordVerifierStage(stage, detail);
    if (m_finished)
        return;
    if (stage == QLatin1String("loader-script-loaded") || stage == QLatin1String("loader-ready")) {
        setStatusText(kStatusOpening, true);
    } else if (stage == QLatin1String("captcha-init")) {
        m_captchaInitialized = true;
        m_delayedCalls.cancel(kSoftTimeout);
        m_delayedCalls.cancel(kHardTimeout);
        setStatusText(QString(), false);
        setRetryAvailable(true);
    } else if (stage == QLatin1String("init-waiting")) {
        setStatusText(kStatusImageWaiting, true);
        setRetryAvailable(false);
    } else if (stage == QLatin1String("init-timeout")) {
        setStatusText(kStatusUnfinished, false);
        setRetryAvailable(true);
    } else if ((stage == QLatin1String("resolved-empty") || stage == QLatin1String("run-rejected")) && m_captchaInitialized) {
        setStatusText(kStatusUnfinished, false);
        setRetryAvailable(true);
    } else if (!m_captchaInitialized
               && (stage == QLatin1String("run-rejected") || stage == QLatin1String("resolved-empty")
                   || stage == QLatin1String("window-error") || stage == QLatin1String("loader-script-error"))) {
        // Only while loading: once the captcha shows, a stray page error must not cover it.
        setStatusText(kStatusSlow, true);
        setRetryAvailable(false);
    }
}

void KRGaiaVerificationViewController::setRetryAvailable(bool available)
{
    m_retryAvailable = available;
    if (BarButtonItem* retry = navigationItem()->rightBarButtonItem())
        retry->setEnabled(available);
}

void KRGaiaVerificationViewController::beginVerifierLoadingWindow()
{
    m_delayedCalls.cancel(kSoftTimeout);
    m_delayedCalls.cancel(kHardTimeout);
    m_captchaInitialized = false;
    setRetryAvailable(false);
    m_delayedCalls.schedule(kSoftTimeout, effective(gSoftTimeoutMs, kSoftTimeoutMs), [this] { softLoadTimeout(); });
    m_delayedCalls.schedule(kHardTimeout, effective(gHardTimeoutMs, kHardTimeoutMs), [this] { hardLoadTimeout(); });
}

void KRGaiaVerificationViewController::softLoadTimeout()
{
    if (m_finished || m_captchaInitialized)
        return;
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("native-init-waiting"), QString());
    setStatusText(kStatusImageWaiting, true);
    setRetryAvailable(false);
}

void KRGaiaVerificationViewController::hardLoadTimeout()
{
    if (m_finished || m_captchaInitialized)
        return;
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("native-init-timeout"), QString());
    setStatusText(QStringLiteral("验证图片加载超时，请点右上角重试"), false);
    setRetryAvailable(true);
}

void KRGaiaVerificationViewController::setStatusText(const QString& text, bool spinning)
{
    if (!m_statusLabel || !m_spinner)
        return;
    m_statusLabel->setText(text);
    m_statusLabel->setHidden(text.isEmpty());
    m_spinner->setHidden(!spinning);
    if (spinning)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
    if (!text.isEmpty())
        view()->bringSubviewToFront(m_statusLabel);
    if (spinning)
        view()->bringSubviewToFront(m_spinner);
}

void KRGaiaVerificationViewController::reloadTapped()
{
    if (!m_retryAvailable || m_finished)
        return;
    if (m_webView)
        m_webView->stopLoading();
    KRGaiaDiagnostics::beginVerifierRun();
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("manual-retry"), QString());
    loadVerificationDocument();
}

void KRGaiaVerificationViewController::cancelTapped()
{
    finishWithToken(QString(), KRError(KRGaiaVerificationError, 1, kCancelled));
}

void KRGaiaVerificationViewController::finishWithToken(const QString& token, const KROptionalError& error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_delayedCalls.cancelAll();
    if (m_webView)
        m_webView->stopLoading();
    KRGaiaVerificationCompletion completion = std::move(m_completion);
    m_completion = nullptr;
    // Popping hands the screen to the event loop for destruction, so it lives until the
    // completion below has returned.
    NavigationController* navigation = navigationController();
    if (navigation && navigation->topViewController() == this) {
        m_poppingInternally = true;
        navigation->popViewControllerAnimated(true);
        m_poppingInternally = false;
    }
    if (completion)
        completion(token, error);
}
