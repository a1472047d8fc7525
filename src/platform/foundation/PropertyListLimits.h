#pragma once

#include <QByteArray>

namespace platform {
namespace PropertyList {

// Nesting of containers beyond this is refused: the parsing library recurses once per level
// and a hostile file could otherwise exhaust the stack.
constexpr int kMaxNestingDepth = 512;

// The values a binary document may stand for once each reference is read as a value of its
// own, as the parsing library reads it: in a document whose containers are each referred to
// once, one value per reference and the top; shared containers may add this many times as
// many again (and kExpansionAllowance more), no further. A file of a few hundred bytes whose
// containers refer to one another twice over each would otherwise stand for billions.
constexpr quint64 kMaxExpansionPerReference = 4;
constexpr quint64 kExpansionAllowance = 4096;

// Whether `data` (XML or binary) may be handed to the parsing library: containers nest no
// deeper than kMaxNestingDepth, and nothing in it would make the library abort (a dictionary
// key holding NUL). For binary input also false when its object graph is malformed or
// cyclic, or stands for more values than its references allow (above). Cheap: one pass.
bool isSafeToParse(const QByteArray& data);

} // namespace PropertyList
} // namespace platform
