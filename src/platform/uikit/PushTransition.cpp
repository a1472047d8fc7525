#include "platform/uikit/PushTransition.h"

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/View.h"

#include <QByteArray>
#include <QVariant>

namespace platform::uikit {
namespace {

// The running animation is kept on the view itself, so it goes with the view.
QByteArray propertyName(const QString& key) { return QByteArrayLiteral("kr_pushTransition_") + key.toUtf8(); }

} // namespace

void PushTransition::add(View* view, TransitionSubtype subtype, double seconds, const QString& key)
{
    if (!view)
        return;
    const QByteArray name = propertyName(key);
    AnimationClock::cancel(view->property(name.constData()).value<AnimationClock::Id>());
    const qreal from = (subtype == TransitionFromRight ? 1 : -1) * view->frame().width();
    view->setPresentationOffset(QPointF(from, 0));
    const AnimationClock::Id id = AnimationClock::animate(
        view, seconds,
        [view, from](double t) {
            const double eased = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
            view->setPresentationOffset(QPointF(from * (1 - eased), 0));
        },
        [view, name](bool) {
            view->setPresentationOffset(QPointF());
            view->setProperty(name.constData(), QVariant());
        });
    // A zero duration has completed already.
    if (AnimationClock::isRunning(id))
        view->setProperty(name.constData(), QVariant::fromValue(id));
}

bool PushTransition::isRunning(const View* view, const QString& key)
{
    if (!view)
        return false;
    return AnimationClock::isRunning(view->property(propertyName(key).constData()).value<AnimationClock::Id>());
}

} // namespace platform::uikit
