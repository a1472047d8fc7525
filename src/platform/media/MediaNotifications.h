#pragma once

#include <QString>

// Names of the player and audio-session notifications, as the phone's frameworks spell them,
// so owners observe the same names on every back end. Posted through
// platform::NotificationCenter::defaultCenter().
namespace platform::media {

inline const QString MoviePlayerLoadStateDidChangeNotification = QStringLiteral("MPMoviePlayerLoadStateDidChangeNotification");
inline const QString MoviePlayerPlaybackStateDidChangeNotification = QStringLiteral("MPMoviePlayerPlaybackStateDidChangeNotification");
inline const QString MoviePlayerPlaybackDidFinishNotification = QStringLiteral("MPMoviePlayerPlaybackDidFinishNotification");
inline const QString MoviePlayerReadyForDisplayDidChangeNotification = QStringLiteral("MPMoviePlayerReadyForDisplayDidChangeNotification");
inline const QString MoviePlayerWillEnterFullscreenNotification = QStringLiteral("MPMoviePlayerWillEnterFullscreenNotification");
inline const QString MoviePlayerDidEnterFullscreenNotification = QStringLiteral("MPMoviePlayerDidEnterFullscreenNotification");
inline const QString MoviePlayerWillExitFullscreenNotification = QStringLiteral("MPMoviePlayerWillExitFullscreenNotification");
inline const QString MoviePlayerDidExitFullscreenNotification = QStringLiteral("MPMoviePlayerDidExitFullscreenNotification");
inline const QString MoviePlayerPlaybackDidFinishReasonUserInfoKey = QStringLiteral("MPMoviePlayerPlaybackDidFinishReasonUserInfoKey");
// The error of a failed finish, under this key of the finish's user info.
inline const QString MoviePlayerPlaybackDidFinishErrorUserInfoKey = QStringLiteral("error");

inline const QString AudioSessionInterruptionNotification = QStringLiteral("AVAudioSessionInterruptionNotification");
inline const QString AudioSessionInterruptionTypeKey = QStringLiteral("AVAudioSessionInterruptionTypeKey");
inline const QString AudioSessionInterruptionOptionKey = QStringLiteral("AVAudioSessionInterruptionOptionKey");
inline const QString AudioSessionRouteChangeNotification = QStringLiteral("AVAudioSessionRouteChangeNotification");
inline const QString AudioSessionRouteChangeReasonKey = QStringLiteral("AVAudioSessionRouteChangeReasonKey");
// Posted by the audio session (object: the session) when the system volume changes.
inline const QString AudioSessionOutputVolumeDidChangeNotification = QStringLiteral("KorvaneAudioSessionOutputVolumeDidChange");

} // namespace platform::media
