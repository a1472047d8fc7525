#pragma once

// The time rules of a quality switch, kept apart from the page so they can be checked
// without playback. Elapsed times of 0 or less mean the matching start was never set.

// Seconds until the switch's watchdog fires for `phase` (1 resolving, 2 loading or
// prewarming, 3 seeking into the new stream, 4 rolling back). A switch has 60 s in all,
// at most 20 s of them for resolving and 35 s for any later phase; a rollback has 35 s
// (DASH) or 20 s (progressive) of its own. Never below 0.05 s.
double KRQualitySwitchWatchdogInterval(int phase, double elapsedSinceStart, bool rollbackInProgress, bool rollbackDASH,
                                       double elapsedSinceRollbackStart);

// Whether a finish kept back while the player was being replaced reaches the page once the
// replacement is over. `reason` 0 is an end, 1 an error (others are never delivered);
// `loadState` has the transport's bits (1 playable, 2 playthrough, 4 stalled) and
// `playbackState` its states (0 stopped, 1 playing, 2 paused); without a transport neither
// is delivered. An error counts only when the remaining player is stalled, stopped or not
// playable. An end counts only when the player really sits at its end: within a second of
// a known duration and not playing. The modern transport reports paused, not stopped, at its
// end, so a stopped state alone would never let a kept end through.
bool KRQualitySwitchShouldDeliverDeferredFinish(int reason, bool hasTransport, unsigned loadState, int playbackState,
                                                double duration, double currentTime);
