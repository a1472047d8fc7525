#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>

#include <functional>

class KRVideoCommentComposer;
class KRVideoDanmakuComposer;

namespace platform::uikit {
class View;
}

// The video page's answer to the keyboard: it lifts whichever composer is being edited above
// it (the embedded danmaku bar, or the comment bar with its emote panel) with the keyboard's
// own animation length, and puts them back when it goes. A cancelled comment composer finishes
// once the keyboard is away. The full screen's bar, when it has one, is asked first.
class KRVideoComposerKeyboard : public QObject {
    Q_OBJECT
public:
    struct Parts {
        QPointer<platform::uikit::View> root;
        KRVideoDanmakuComposer* danmaku = nullptr;
        KRVideoCommentComposer* comment = nullptr;
        std::function<bool()> danmakuEnabled;
        // The page's whole layout, which places the bars where their state says.
        std::function<void()> layoutPage;
        // The full screen's bar: takes the keyboard (frame in the window) when it is the one
        // editing and answers itself, to be moved by its layout; else null.
        std::function<platform::uikit::View*(const QRectF& keyboardInWindow)> fullscreenShow;
        std::function<void()> fullscreenLayout;
        // Told when the keyboard hides; true when the full screen has a bar (it goes back at once).
        std::function<bool()> fullscreenHide;
    };
    explicit KRVideoComposerKeyboard(Parts parts, QObject* parent = nullptr);
    ~KRVideoComposerKeyboard() override;

    void keyboardWillShow(const platform::Notification& notification);
    void keyboardWillHide(const platform::Notification& notification);

    // The notification's animation length; 0.25 s when it gives none.
    static double animationDuration(const platform::Notification& notification);

private:
    // Runs `layout` (the page's, by default) and moves `views` from where they were to where it
    // put them over `seconds`.
    void animateLayout(double seconds, const QList<platform::uikit::View*>& views, const std::function<void()>& layout = {});

    Parts m_parts;
    quint64 m_animation = 0;
    platform::DelayedCalls m_delayed;
};
