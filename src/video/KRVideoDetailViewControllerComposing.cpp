// Writing on the page: the comment composer and the danmaku composer (each a part's), the
// keyboard that lifts them, and the comment a message jump points at.

#include "video/KRVideoDetailViewController.h"

#include "model/KRComment.h"
#include "model/KRVideo.h"
#include "nav/KRRouter.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "playback/KRPlaybackSession.h"

#include <QDebug>

using namespace platform::uikit;

KRVideoDanmakuComposer::Actions KRVideoDetailViewController::makeDanmakuComposerActions()
{
    KRVideoDanmakuComposer::Actions actions;
    actions.isPlaying = [this] { return m_session && m_session->playsNow(); };
    // The composer holds playback while it is open; closing it lifts only its own hold, so a
    // pulled headphone or an interruption meanwhile still keeps the player paused. The controls
    // show the change at once.
    actions.pause = [this] {
        if (m_session)
            m_session->setHold(KRPlaybackSession::HoldComposer, true);
        refreshControlsNow();
    };
    actions.resume = [this] {
        if (m_session)
            m_session->setHold(KRPlaybackSession::HoldComposer, false);
        refreshControlsNow();
    };
    actions.playbackTime = [this] { return m_session ? m_session->currentTime() : 0.0; };
    actions.cid = [this] { return m_part.video() ? m_part.video()->cid() : 0; };
    actions.aid = [this] { return accountAID(); };
    actions.display = [this](const std::shared_ptr<KRDanmaku>& danmaku, double time) {
        if (KRDanmakuRenderer* renderer = danmakuRenderer())
            renderer->insertAndDisplayDanmaku(danmaku, time);
    };
    actions.showStatus = [this](const QString& text) { showDanmakuStatus(text); };
    actions.loginAlertAnswered = [this](AlertView* alert, int index) { danmakuLoginAlertAnswered(alert, index); };
    actions.controlsChanged = [this] { updateDanmakuControls(); };
    return actions;
}

KRVideoCommentComposer::Actions KRVideoDetailViewController::makeCommentComposerActions()
{
    KRVideoCommentComposer::Actions actions;
    actions.showLoginGate = [this](const QString& message) { showLoginGateWithTitle(QStringLiteral("登录后可操作"), message, 7200); };
    actions.present = [this](ViewController* controller) { presentViewController(controller, true); };
    actions.dismissPresented = [this] { dismissViewControllerAnimated(true); };
    actions.layoutPage = [this] {
        if (m_loadedView)
            viewDidLayoutSubviews();
    };
    return actions;
}

void KRVideoDetailViewController::installComposerKeyboard()
{
    KRVideoComposerKeyboard::Parts parts;
    parts.root = view();
    parts.danmaku = m_area->danmakuComposer();
    parts.comment = m_comments->composer();
    parts.danmakuEnabled = [this] { return m_area->isDanmakuEnabled(); };
    parts.layoutPage = [this] {
        if (m_loadedView)
            viewDidLayoutSubviews();
    };
    parts.fullscreenShow = [this](const QRectF& keyboard) { return m_fullscreen ? m_fullscreen->composerKeyboardWillShow(keyboard) : nullptr; };
    parts.fullscreenLayout = [this] {
        if (m_fullscreen)
            m_fullscreen->layoutFullscreenControls();
    };
    parts.fullscreenHide = [this] { return m_fullscreen && m_fullscreen->composerKeyboardWillHide(); };
    m_keyboard = std::make_unique<KRVideoComposerKeyboard>(std::move(parts));
}

// ---- the comment composer ----

void KRVideoDetailViewController::commentComposerTapped() { m_comments->composer()->commentComposerTapped(); }

void KRVideoDetailViewController::commentEmoteTapped() { m_comments->composer()->commentEmoteTapped(); }

void KRVideoDetailViewController::cancelCommentComposer() { m_comments->composer()->cancelCommentComposer(); }

void KRVideoDetailViewController::finishCommentComposerCancellation() { m_comments->composer()->finishCommentComposerCancellation(); }

void KRVideoDetailViewController::updateCommentPictureButton() { m_comments->composer()->updateCommentPictureButton(); }

void KRVideoDetailViewController::commentTrailingButtonTapped() { m_comments->composer()->commentTrailingButtonTapped(); }

void KRVideoDetailViewController::hideCommentEmotePanel() { m_comments->composer()->hideCommentEmotePanel(); }

// ---- the comment a message points at ----

void KRVideoDetailViewController::openFocusedCommentThreadIfPossible()
{
    const qint64 root = m_part.focusedCommentRpid();
    const qint64 aid = accountAID();
    if (root < 1 || m_comments->isFocusedCommentLoading() || m_tabs->selectedPage() != 1 || !isViewLoaded() || !view()->window()
        || aid < 1)
        return;
    const qint64 target = m_part.focusedReplyRpid() > 0 ? m_part.focusedReplyRpid() : root;
    m_comments->loadFocusedComment(aid, root, [this, root, target, aid](const std::shared_ptr<KRComment>& comment,
                                                                       const KROptionalError& error) {
        // Another jump has come since: this answer is not wanted, the newer one is asked for.
        if (m_part.focusedCommentRpid() != root) {
            openFocusedCommentThreadIfPossible();
            return;
        }
        m_part.focusComment(0, 0);
        if (!comment || error) {
            qInfo().noquote() << QStringLiteral("[KorvaneMessageJump] oid=%1 root=%2 error=%3")
                                     .arg(aid)
                                     .arg(root)
                                     .arg(error ? error->localizedDescription() : QStringLiteral("unknown"));
            return;
        }
        if (target >= 1 && target != root) {
            m_comments->composer()->close();
            KRRouter::openReplyThread(navigationController(), comment, target);
            return;
        }
        m_comments->setFocusedComment(comment);
    });
}

void KRVideoDetailViewController::applyFocusedRootCommentIfPossible() { m_comments->applyFocusedRootCommentIfPossible(); }

void KRVideoDetailViewController::clearFocusedRootCommentHighlight() { m_comments->clearFocusedRootCommentHighlight(); }

// ---- the keyboard ----

void KRVideoDetailViewController::keyboardWillShow(const platform::Notification& notification)
{
    if (m_keyboard)
        m_keyboard->keyboardWillShow(notification);
}

void KRVideoDetailViewController::keyboardWillHide(const platform::Notification& notification)
{
    if (m_keyboard)
        m_keyboard->keyboardWillHide(notification);
}

// ---- the danmaku entry ----

void KRVideoDetailViewController::embeddedAddDanmakuTapped()
{
    m_area->danmakuComposer()->embeddedAddDanmakuTapped(m_area->isDanmakuEnabled());
}

void KRVideoDetailViewController::textFieldDidBeginEditing(TextField* field) { m_area->danmakuComposer()->textFieldDidBeginEditing(field); }

void KRVideoDetailViewController::danmakuInputChanged(TextField* field) { m_area->danmakuComposer()->danmakuInputChanged(field); }

void KRVideoDetailViewController::cancelDanmakuComposer() { m_area->danmakuComposer()->cancelDanmakuComposer(); }

void KRVideoDetailViewController::sendDanmakuTapped() { m_area->danmakuComposer()->sendDanmakuTapped(); }

void KRVideoDetailViewController::resumeAfterDanmakuComposerIfNeeded() { m_area->danmakuComposer()->resumeAfterDanmakuComposerIfNeeded(); }

void KRVideoDetailViewController::updateDanmakuControls()
{
    if (m_loadedView) {
        updateDetailTabs();
        viewDidLayoutSubviews();
    }
}

void KRVideoDetailViewController::danmakuLoginAlertAnswered(AlertView* alert, int buttonIndex)
{
    // "继续播放": the draft stays for later, playback goes on; "前往“我的”" as every login alert.
    if (alert && buttonIndex == alert->cancelButtonIndex())
        cancelDanmakuComposer();
    else
        alertViewClickedButtonAtIndex(alert, buttonIndex);
}

