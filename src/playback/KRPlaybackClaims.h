#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

// One picture and one sound at a time, whichever screen started them: each start of a playback
// session takes the claim, and the session that held it before is told to let go. A claim is
// held from the start's first step, so a start still resolving its address counts as much as
// one already playing.
class KRPlaybackClaims {
public:
    static KRPlaybackClaims& shared();

    // `holder` takes the claim; `yield` of the one that held it before runs once, after the
    // claim has moved. Taking it again while held changes nothing.
    void take(QObject* holder, std::function<void()> yield);
    // The holder lets go (its teardown): nobody is told.
    void release(QObject* holder);
    bool isHeldBy(const QObject* holder) const { return holder && m_holder == holder; }

private:
    QPointer<QObject> m_holder;
    std::function<void()> m_yield;
};
