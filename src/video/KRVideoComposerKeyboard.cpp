#include "video/KRVideoComposerKeyboard.h"

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "video/KRVideoCommentComposer.h"
#include "video/KRVideoDanmakuComposer.h"


#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

const QString kFinishCancellation = QStringLiteral("finishCommentComposerCancellation");

QRectF lerp(const QRectF& from, const QRectF& to, double t)
{
    return QRectF(from.x() + (to.x() - from.x()) * t, from.y() + (to.y() - from.y()) * t,
                  from.width() + (to.width() - from.width()) * t, from.height() + (to.height() - from.height()) * t);
}

} // namespace

KRVideoComposerKeyboard::KRVideoComposerKeyboard(Parts parts, QObject* parent)
    : QObject(parent)
    , m_parts(std::move(parts))
{
}

KRVideoComposerKeyboard::~KRVideoComposerKeyboard()
{
    m_delayed.cancelAll();
    AnimationClock::cancel(m_animation);
}

double KRVideoComposerKeyboard::animationDuration(const platform::Notification& notification)
{
    const double duration = notification.userInfo.value(KeyboardAnimationDurationKey).toDouble();
    return duration > 0 && std::isfinite(duration) ? duration : 0.25;
}

void KRVideoComposerKeyboard::keyboardWillShow(const platform::Notification& notification)
{
    View* root = m_parts.root;
    if (!root)
        return;
    const QRectF keyboard = notification.userInfo.value(KeyboardFrameEndKey).toRectF();
    const double duration = animationDuration(notification);
    // The full screen's bar first: it moves right above the keyboard, or the bar a hardware
    // keyboard shows, as the keyboard comes.
    if (View* bar = m_parts.fullscreenShow ? m_parts.fullscreenShow(keyboard) : nullptr) {
        animateLayout(duration, {bar}, m_parts.fullscreenLayout);
        return;
    }
    Window* window = root->window();
    const QRectF local = window ? window->convertRectToView(keyboard, root) : keyboard;
    KRVideoDanmakuComposer* danmaku = m_parts.danmaku;
    KRVideoCommentComposer* comment = m_parts.comment;
    if (danmaku && danmaku->activeField() && danmaku->activeField() == danmaku->inputField() && m_parts.danmakuEnabled
        && m_parts.danmakuEnabled()) {
        danmaku->setKeyboardY(std::max<qreal>(local.top() - 42, 0));
        animateLayout(duration, {danmaku->composerBar()});
    } else if (comment && comment->isFieldFirstResponder()) {
        comment->setKeyboardTop(local.top());
        comment->bringBarToFront();
        animateLayout(duration, comment->keyboardMovedViews());
    }
}

void KRVideoComposerKeyboard::keyboardWillHide(const platform::Notification& notification)
{
    const double duration = animationDuration(notification);
    if (m_parts.fullscreenHide && m_parts.fullscreenHide()) {
        // Back at once: nothing is left moving it toward the keyboard.
        AnimationClock::cancel(m_animation);
        m_animation = 0;
    }
    KRVideoDanmakuComposer* danmaku = m_parts.danmaku;
    if (danmaku && danmaku->isKeyboardVisible()) {
        danmaku->setKeyboardY(std::nullopt);
        animateLayout(duration, {danmaku->composerBar()});
    }
    KRVideoCommentComposer* comment = m_parts.comment;
    if (comment && (comment->isKeyboardVisible() || comment->isCancelling())) {
        comment->setKeyboardTop(std::nullopt);
        comment->hideCommentEmotePanel();
        if (m_parts.layoutPage)
            m_parts.layoutPage();
        if (comment->isCancelling()) {
            QPointer<KRVideoCommentComposer> guard(comment);
            m_delayed.schedule(kFinishCancellation, int(std::lround(std::max(duration + 0.02, 0.05) * 1000)), [guard] {
                if (guard)
                    guard->finishCommentComposerCancellation();
            });
        }
    }
}

void KRVideoComposerKeyboard::animateLayout(double seconds, const QList<View*>& views, const std::function<void()>& layout)
{
    AnimationClock::cancel(m_animation);
    m_animation = 0;
    QList<QPointer<View>> moved;
    QList<QRectF> from;
    for (View* view : views) {
        if (!view)
            continue;
        moved << view;
        from << view->frame();
    }
    if (layout)
        layout();
    else if (m_parts.layoutPage)
        m_parts.layoutPage();
    QList<QRectF> to;
    for (int i = 0; i < moved.size(); ++i) {
        to << (moved[i] ? moved[i]->frame() : QRectF());
        if (moved[i])
            moved[i]->setFrame(from[i]);
    }
    m_animation = AnimationClock::animate(m_parts.root, seconds, [moved, from, to](double t) {
        for (int i = 0; i < moved.size(); ++i) {
            if (moved[i])
                moved[i]->setFrame(lerp(from[i], to[i], t));
        }
    });
}
