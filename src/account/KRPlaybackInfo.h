#pragma once

#include "service/KRPlaybackInfoProvider.h"

#include <QVariant>
#include <QVariantMap>

#include <optional>

// Reading the service's play-information replies.

// The play-information object of a reply: its "data", else its "result", else the reply
// itself when it holds "durl" or "dash".
std::optional<QVariantMap> KRAccountPlaybackData(const QVariant& payload);
// The served quality is the asked one and at least one progressive segment came.
bool KRAccountProgressiveDataHasExactQuality(const std::optional<QVariantMap>& info, qint32 quality);
// An H.264 picture stream of the asked quality and at least one sound stream.
bool KRAccountDASHDataHasExactH264AAC(const std::optional<QVariantMap>& info, qint32 quality);
// A series reply flattened so that "durl" or "dash" stands at the top.
std::optional<QVariantMap> KRAccountNormalizedPGCPlayURL(const QVariant& payload);
bool KRAccountPGCPlayURLHasStreams(const std::optional<QVariantMap>& info);
