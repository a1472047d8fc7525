#include "platform/uikit/AttributedString.h"

#include <algorithm>

namespace platform::uikit {

// Spans are kept split at every boundary ever set, so each one carries whole attributes and a
// run is a maximal stretch of one span (or of the plain text between spans).
template <typename Apply>
void AttributedString::apply(int location, int length, Apply change)
{
    const int start = std::max(0, location);
    const int end = std::min(int(m_text.size()), location + std::max(0, length));
    if (start >= end)
        return;
    if (m_spans.isEmpty() || m_spans.constLast().location + m_spans.constLast().length <= start) {
        // Past every span, as ranges set in text order are (an inline box after another):
        // nothing to split.
        Span added{start, end - start, {}};
        change(added.attributes);
        m_spans << added;
        return;
    }
    QList<Span> result;
    int cursor = start;
    const auto plain = [&](int from, int to) {
        for (int i = from; i < to;) {
            Span s{i, to - i, {}};
            change(s.attributes);
            result << s;
            i = to;
        }
    };
    for (const Span& span : std::as_const(m_spans)) {
        const int spanEnd = span.location + span.length;
        if (spanEnd <= start || span.location >= end) {
            result << span;
            continue;
        }
        if (span.location < start)
            result << Span{span.location, start - span.location, span.attributes};
        if (cursor < span.location)
            plain(cursor, span.location);
        const int innerStart = std::max(start, span.location);
        const int innerEnd = std::min(end, spanEnd);
        Span inner{innerStart, innerEnd - innerStart, span.attributes};
        change(inner.attributes);
        result << inner;
        cursor = innerEnd;
        if (spanEnd > end)
            result << Span{end, spanEnd - end, span.attributes};
    }
    if (cursor < end)
        plain(cursor, end);
    std::sort(result.begin(), result.end(), [](const Span& a, const Span& b) { return a.location < b.location; });
    m_spans = result;
}

void AttributedString::setColor(int location, int length, const QColor& color)
{
    apply(location, length, [&](Attributes& a) { a.color = color; });
}

void AttributedString::setRunDelegate(int location, const TextRunDelegate& delegate)
{
    apply(location, 1, [&](Attributes& a) { a.delegate = delegate; });
}

void AttributedString::setAttribute(int location, int length, const QString& name, const QVariant& value)
{
    apply(location, length, [&](Attributes& a) { a.custom.insert(name, value); });
}

AttributedString::Attributes AttributedString::attributesAt(int index) const
{
    for (const Span& span : m_spans)
        if (index >= span.location && index < span.location + span.length)
            return span.attributes;
    return {};
}

} // namespace platform::uikit
