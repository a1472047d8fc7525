#include "account/KRQRLoginFlow.h"

#include "account/KRAccountClient.h"
#include "model/KRTolerantValue.h"
#include "store/KRSessionStore.h"

namespace {

constexpr int kPollIntervalMs = 2000;
constexpr int kFinishAfterCheckMs = 300;
constexpr int kFinishAfterLoginMs = 550;
const QString kFinish = QStringLiteral("finish");
const QString kWaiting = QStringLiteral("等待扫码…");

} // namespace

KRQRLoginFlow::KRQRLoginFlow(Delegate delegate)
    : m_delegate(std::move(delegate))
{
}

KRQRLoginFlow::~KRQRLoginFlow() = default;

void KRQRLoginFlow::status(const QString& text)
{
    if (m_delegate.setStatus)
        m_delegate.setStatus(text);
}

void KRQRLoginFlow::spinning(bool on)
{
    if (m_delegate.setSpinning)
        m_delegate.setSpinning(on);
}

void KRQRLoginFlow::refreshVisible(bool visible)
{
    if (m_delegate.setRefreshVisible)
        m_delegate.setRefreshVisible(visible);
}

void KRQRLoginFlow::finishLater(int milliseconds)
{
    m_delayed.schedule(kFinish, milliseconds, [this] {
        m_state = State::Done;
        if (m_delegate.finish)
            m_delegate.finish();
    });
}

void KRQRLoginFlow::start()
{
    KRSessionStore& store = KRSessionStore::sharedStore();
    m_state = State::Checking;
    if (store.isLoggedIn() && store.appAccessTokenUsable()) {
        status(QStringLiteral("当前账号已完成原生授权"));
        finishLater(kFinishAfterCheckMs);
        return;
    }
    if (store.hasAppAccessToken() && store.hasAppRefreshToken()) {
        status(QStringLiteral("正在续期原生授权…"));
        spinning(true);
        KRAccountClient::sharedClient()->ensureUsableAppAuthentication(&m_replies, [this](bool usable, const KROptionalError&) {
            spinning(false);
            if (usable && KRSessionStore::sharedStore().isLoggedIn()) {
                status(QStringLiteral("原生授权续期成功"));
                finishLater(kFinishAfterCheckMs);
                return;
            }
            if (m_delegate.setInstruction)
                m_delegate.setInstruction(QStringLiteral("原生授权已失效\n请扫码重新授权并同步账号"));
            generateQRCode();
        });
        return;
    }
    if (store.isLoggedIn() && m_delegate.setInstruction)
        m_delegate.setInstruction(QStringLiteral("网页会话已登录\n请扫码补全播放与账号同步所需的原生授权"));
    generateQRCode();
}

void KRQRLoginFlow::generateQRCode()
{
    if (m_generating)
        return;
    stopPolling();
    m_generating = true;
    m_state = State::FetchingCode;
    refreshVisible(false);
    if (m_delegate.clearCode)
        m_delegate.clearCode();
    status(QStringLiteral("正在获取登录二维码…"));
    spinning(true);
    KRAccountClient::sharedClient()->generateLoginQRCode(&m_replies, [this](const QVariantMap& info, const KROptionalError& error) {
        m_generating = false;
        spinning(false);
        auto fail = [this](const QString& why) {
            m_state = State::Failed;
            status(QStringLiteral("二维码获取失败\n%1").arg(why));
            refreshVisible(true);
        };
        if (error)
            return fail(error->message());
        const QString key = KRString(info.value(QStringLiteral("qrcode_key")));
        const QString url = KRIsString(info.value(QStringLiteral("url"))) ? info.value(QStringLiteral("url")).toString() : QString();
        const bool shown = !key.isEmpty() && m_delegate.showCode && m_delegate.showCode(url);
        if (!shown)
            return fail(QStringLiteral("本地二维码生成失败"));
        m_key = key;
        m_state = State::Polling;
        status(kWaiting);
        if (m_showing)
            startPolling();
    });
}

void KRQRLoginFlow::pollTimerFired()
{
    if (m_polling || m_key.isEmpty() || m_completed)
        return;
    m_polling = true;
    KRAccountClient::sharedClient()->pollLoginQRCodeKey(m_key, &m_replies, [this](const QVariantMap& result, const KROptionalError& error) {
        m_polling = false;
        if (!m_completed)
            handlePoll(result, error);
    });
}

void KRQRLoginFlow::handlePoll(const QVariantMap& result, const KROptionalError& error)
{
    if (error) {
        status(QStringLiteral("登录检查失败：%1").arg(error->message()));
        return;
    }
    const qint64 code = KRLongLong(result.value(QStringLiteral("code")));
    KRSessionStore& store = KRSessionStore::sharedStore();
    if (code == 86090) {
        m_state = State::Scanned;
        status(QStringLiteral("已扫码，请在另一台设备上确认登录"));
    } else if (code == 86101 || code == 86039) {
        status(kWaiting);
    } else if (code == 86038) {
        stopPolling();
        m_state = State::Expired;
        status(QStringLiteral("二维码已过期，请刷新"));
        refreshVisible(true);
    } else if (code == 0 && store.isLoggedIn() && store.appAccessTokenUsable()) {
        m_completed = true;
        stopPolling();
        m_state = State::Completing;
        status(QStringLiteral("登录成功，正在同步账号…"));
        spinning(true);
        KRAccountClient::sharedClient()->loadCurrentAccount(&m_replies, [this](const QVariant&, const KROptionalError& accountError) {
            spinning(false);
            status(accountError ? QStringLiteral("登录成功，账号资料稍后同步") : QStringLiteral("登录成功"));
            finishLater(kFinishAfterLoginMs);
        });
    } else {
        const QString message = KRIsString(result.value(QStringLiteral("message"))) ? result.value(QStringLiteral("message")).toString() : QString();
        status(message.isEmpty() ? QStringLiteral("等待确认…") : message);
    }
}

void KRQRLoginFlow::stopPolling() { m_pollTimer.stop(); }

void KRQRLoginFlow::startPolling()
{
    m_pollTimer.start(kPollIntervalMs, [this] { pollTimerFired(); });
    pollTimerFired();
}

void KRQRLoginFlow::setShowing(bool showing)
{
    m_showing = showing;
    if (!showing)
        stopPolling();
    else if ((m_state == State::Polling || m_state == State::Scanned) && !m_pollTimer.isActive())
        startPolling();
}
