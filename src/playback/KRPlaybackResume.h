#pragma once

#include <QtGlobal>

// The resume decision of a page's playback: whether a saved position is worth offering, which
// check an answer belongs to, and where the next start begins once it is decided. An answer
// (the service's record, the user's choice in the offer) carries the generation of its check
// and counts only while that check is the current one.
class KRPlaybackResume {
public:
    // Our own choice: a record counts when at least 5 s were watched and, with a known
    // length, more than 5 s remain.
    static constexpr double kMinimumTime = 5.0;
    static constexpr double kEndMargin = 5.0;
    // Whether a record at `time` of a part `duration` long (0 or less: unknown) is offered.
    static bool offers(double time, double duration);

    // A new check: earlier answers stop counting.
    quint64 beginCheck() { return ++m_generation; }
    bool isCurrent(quint64 generation) const { return generation == m_generation; }
    // Forgets the decision and the start time, and drops the answers on their way.
    void resetPlaybackResumeState();

    bool isResolved() const { return m_resolved; }
    // Decided, starting where the next start already would.
    void resolve() { m_resolved = true; }
    // Decided, starting at `time`.
    void resolveAt(double time);
    // The next start asks again; the start time stays.
    void reopen() { m_resolved = false; }

    double startTime() const { return m_startTime; }
    void setStartTime(double time) { m_startTime = time; }

private:
    quint64 m_generation = 0;
    bool m_resolved = false;
    double m_startTime = 0;
};
