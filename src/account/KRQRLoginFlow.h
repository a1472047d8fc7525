#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/RepeatingTimer.h"
#include "model/KRError.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// What the QR login screen does, without its widgets: decides whether a code is needed at all
// (a usable or refreshable app token needs none), fetches the code, polls it every 2 s with
// one poll in flight, words every answer, reads the account after a confirmed login and asks
// the screen to finish. Main thread only; destroying the flow stops the polling, drops every
// outstanding answer and cancels a pending finish.
class KRQRLoginFlow {
public:
    enum class State { Checking, FetchingCode, Polling, Scanned, Expired, Failed, Completing, Done };
    // The login screen implements these; any may be empty.
    struct Delegate {
        std::function<void(const QString&)> setInstruction, setStatus;
        std::function<void(bool)> setSpinning, setRefreshVisible;
        std::function<bool(const QString& url)> showCode; // false: no image could be made
        std::function<void()> clearCode, finish;
    };

    explicit KRQRLoginFlow(Delegate delegate);
    ~KRQRLoginFlow();
    KRQRLoginFlow(const KRQRLoginFlow&) = delete;
    KRQRLoginFlow& operator=(const KRQRLoginFlow&) = delete;

    // The screen has loaded.
    void start();
    // A new code (the refresh button); ignored while one is being fetched.
    void generateQRCode();
    // One tick of the poll timer.
    void pollTimerFired();
    // The screen is leaving.
    void stopPolling();
    // The screen is going away (another covers it, its tab is left) or showing again. Hidden,
    // it does not poll, not even a code that arrives meanwhile; shown again, it polls the code
    // it shows at once and then on the timer.
    void setShowing(bool showing);
    State state() const { return m_state; }
    // Whether the poll timer runs (it stops on expiry, completion, a new code or stopPolling).
    bool isPollTimerRunning() const { return m_pollTimer.isActive(); }
    // Whether a poll has been sent and its answer has not come back yet.
    bool isPollInFlight() const { return m_polling; }

private:
    void status(const QString& text);
    void spinning(bool on);
    void refreshVisible(bool visible);
    void finishLater(int milliseconds);
    void handlePoll(const QVariantMap& result, const KROptionalError& error);
    void startPolling();

    Delegate m_delegate;
    State m_state = State::Checking;
    QString m_key;
    bool m_generating = false;
    bool m_polling = false;
    bool m_completed = false;
    bool m_showing = true;
    platform::RepeatingTimer m_pollTimer;
    platform::DelayedCalls m_delayed;
    QObject m_replies; // the owner of every answer: gone with the flow
};
