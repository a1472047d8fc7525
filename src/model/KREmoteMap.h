#pragma once

#include <QVariantMap>

// Emote pictures of a comment or a dynamic: from the token exactly as it occurs in the
// message text (such as a bracketed name) to a record with "text" (that token) and "url"
// (the picture's address). Comments add "size" (1 small, 2 large). A missing, non-text or
// empty "url" means no picture. Never null on a model: an empty map when there are none.
using KREmoteMap = QVariantMap;
