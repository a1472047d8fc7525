#pragma once

#include <QVariant>

// Free functions the video page and its helpers share.

// The first component of the emulated system version; 0 when it has none.
int KRVideoSystemMajorVersion();
// A text address of a local copy ("file://…"); anything else, an address object included, is not.
bool KRDetailPlaybackURLIsLocalFile(const QVariant& value);
// The page never needs a picture player of its own beside the movie player: there is no
// system movie player here, and the transport's own back end draws the picture on every system.
bool KRNeedsAppOwnedAVLayerCompatibility();
bool KRIOS15NeedsAVLayerCompatibility();
