#pragma once

#include <QString>

// What the player's engine is pointed at. The audio output is read once from
// KORVANE_AUDIO_OUTPUT (an engine output name such as "null"; empty means the engine's own
// choice); tests set "null" so that nothing is heard and no sound device is needed.
namespace platform::media::MediaSeams {

QString audioOutput();
void setAudioOutput(const QString& output);

// The file the engine's file output ("pcm") writes, for players made afterwards: a sound
// device tests can open, or fail to open (a file in a folder that is missing), and take away.
// Empty by default.
QString audioOutputFileForTesting();
void setAudioOutputFileForTesting(const QString& path);

// The authorities the engine's TLS trusts, as one PEM file: the system's plus the network
// seam's extra bundle. Written once per extra bundle into the sandbox's tmp folder; empty
// when neither exists.
QString trustedAuthoritiesFile();

} // namespace platform::media::MediaSeams
