#pragma once

#include "support/FakeService.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

namespace testsupport {

// The identity-bound side of the fake service: the passport host, the play-information
// switches, signed and CSRF-checked action routes, and the sessions the account client is
// tested under.
class AccountFixtures {
public:
    AccountFixtures() = delete;

    // ---- Sessions ----
    // Web cookies only (SESSDATA, DedeUserID 4242 or the given account, zant_jct "c5rf").
    static void logInWebOnly(qint64 userID = 4242);
    // App token pair (expiring in `expiresIn` seconds from the store's clock, 0: never) and
    // the same web cookies.
    static void logInAppAndWeb(qint64 expiresIn = 0, const QString& access = QStringLiteral("acc-1"),
                               const QString& refresh = QStringLiteral("ref-1"));
    // Another account's QR login confirmed while one is signed in: its tokens and web cookies
    // replace the last account's at once, with no sign-out between.
    static void logInAnotherAccount(qint64 userID);
    // A keychain item holding only the token pair, read back as a new process would.
    static void logInAppOnly(qint64 expiresAt = 0);
    static QString csrfToken(); // "c5rf"

    // ---- Checks ----
    // The app signature over a form body or a query, as it arrived.
    static bool verifyAppSignedForm(const FakeRequest& request, QString* why = nullptr);
    static bool verifyAppSignedQuery(const FakeRequest& request, QString* why = nullptr);
    // A form value of a request body (decoded); null when absent.
    static QString formValue(const FakeRequest& request, const QString& name);
    // Answers only app-signed requests (query for GET, body for POST); 403 / -403 otherwise.
    static FakeService::Handler appSigned(FakeService::Handler handler);
    // Answers only when "csrf" and "csrf_token" (form or query) equal the "zant_jct" cookie
    // sent; otherwise code -111.
    static FakeService::Handler csrfChecked(FakeService::Handler handler);

    // The fingerprint endpoint handing out the risk-control cookies; refusing, it answers
    // without them.
    static void routeRiskCookies(FakeService& service, bool handOut = true);

    // ---- Replies ----
    static FakeReply ok(const QVariant& data = QVariant());
    static FakeReply refusal(qint64 code, const QString& message = QString(), const QVariant& data = QVariant());
    // A progressive play information of the quality with `segments` segments.
    static QVariantMap progressiveInfo(int quality, int segments = 1);
    // A DASH play information: one picture stream of the quality and codec id, and sound
    // streams unless `withAudio` is false.
    static QVariantMap dashInfo(int quality, int codecID = 7, bool withAudio = true);
    // The confirmed poll / refresh data: tokens and the web cookies of the account.
    static QVariantMap loginData(const QString& access, const QString& refresh, qint64 expiresIn = 3600, qint64 userID = 4242);

    // The account a confirmed login signs in (4242, the session of `loginData`), served the way
    // the screens read it: its profile and coins in the navigation read (the not-logged-in
    // answer for any other request), follow state per uploader (changed by follow and
    // unfollow), and per video the coins it gave (coins given on the web or app route come
    // off its purse). For the demo service, together with a Passport confirming on its own.
    // `likeAndFavoriteOf` (when given) answers the archive relation's "like" and "favorite" for
    // an aid, so what the user did elsewhere shows in it.
    static void installDemoAccount(FakeService& service, std::function<QVariantMap(qint64 aid)> likeAndFavoriteOf = {});
    static constexpr qint64 kDemoAccountID = 4242;

    // The passport's TV login, scripted per code: it hands out "code-1", "code-2", … (app
    // signatures checked) and answers each poll of the current code by its stage: 86039 until
    // marked scanned, 86090, then 0 with the tokens and cookies of `loginData` once confirmed;
    // 86038 once expired; 86101 while waiting. A poll may be dropped (connection closed).
    class Passport {
    public:
        enum class Stage { NotScanned, Scanned, Confirmed, Expired, Waiting };
        explicit Passport(FakeService& service);
        void setStage(Stage stage) { m_state->stage.store(stage); }
        // Polls are dropped (connection closed without a reply) until this is turned off.
        void setDroppingPolls(bool dropping) { m_state->dropping.store(dropping); }
        // The code fetch fails with this service code (0: it succeeds).
        void refuseCodes(qint64 code) { m_state->refuseCode.store(code); }
        // As a phone would, on its own: the first poll of each code finds it not scanned, the
        // second scanned, the third and later confirmed (with the demo account's session).
        void setConfirmingOnItsOwn(bool on) { m_state->confirmingOnItsOwn.store(on); }
        int polls() const { return m_state->polls.load(); }
        int codesIssued() const { return m_state->codes.load(); }

    private:
        struct State {
            std::atomic<Stage> stage{Stage::NotScanned};
            std::atomic_bool dropping{false};
            std::atomic<qint64> refuseCode{0};
            std::atomic_int polls{0};
            std::atomic_int codes{0};
            std::atomic_bool confirmingOnItsOwn{false};
            std::atomic_int pollsOfCode{0};
        };
        std::shared_ptr<State> m_state = std::make_shared<State>();
    };
};

} // namespace testsupport
