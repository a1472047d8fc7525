#include "shared/KRCommentThreadTap.h"

#include "model/KRComment.h"

#include <QCoreApplication>
#include <QMetaObject>

struct KRCommentThreadTap::State {
    std::shared_ptr<KRComment> openedThisPress;
};

KRCommentThreadTap::KRCommentThreadTap()
    : m_state(std::make_shared<State>())
{
}

KRCommentThreadTap::~KRCommentThreadTap() = default;

bool KRCommentThreadTap::claim(const std::shared_ptr<KRComment>& comment)
{
    if (!comment || comment->replyCount() < 1 || comment == m_state->openedThisPress)
        return false;
    m_state->openedThisPress = comment;
    // Posted now, behind what the press itself has posted, so it runs once the press has been
    // handled; a list gone by then leaves nothing to forget.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state = std::weak_ptr<State>(m_state)] {
            if (const std::shared_ptr<State> held = state.lock())
                held->openedThisPress.reset();
        },
        Qt::QueuedConnection);
    return true;
}
