#include "platform/foundation/PropertyListLimits.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {
namespace PropertyList {
namespace {

bool isTagEnd(char c) { return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Counts open <array> and <dict> elements. Text that merely looks like a tag (in a comment,
// say) can only make the count larger, so the check errs on the side of refusing.
bool xmlWithinLimit(const QByteArray& data)
{
    const char* p = data.constData();
    const qsizetype n = data.size();
    int depth = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != '<')
            continue;
        const bool closing = i + 1 < n && p[i + 1] == '/';
        const qsizetype name = i + (closing ? 2 : 1);
        qsizetype length = 0;
        if (n - name > 5 && std::memcmp(p + name, "array", 5) == 0 && isTagEnd(p[name + 5]))
            length = 5;
        else if (n - name > 4 && std::memcmp(p + name, "dict", 4) == 0 && isTagEnd(p[name + 4]))
            length = 4;
        if (length == 0)
            continue;
        if (closing) {
            depth = std::max(0, depth - 1);
            continue;
        }
        qsizetype end = name + length;
        while (end < n && p[end] != '>')
            ++end;
        const bool empty = end > 0 && end < n && p[end - 1] == '/';
        if (!empty && ++depth > kMaxNestingDepth)
            return false;
    }
    return true;
}

quint64 readBigEndian(const unsigned char* p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Walks the binary format's object table: every container's references must point at
// existing objects, without cycles, the longest chain of containers must fit the limit, and
// dictionary keys must be safe for the library.
bool binaryWithinLimit(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const quint64 size = quint64(data.size());
    if (size < 8 + 32)
        return false;
    const unsigned char* trailer = bytes + size - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 count = readBigEndian(trailer + 8, 8);
    const quint64 top = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 || top >= count)
        return false;
    if (tableOffset >= size - 32 || count > (size - 32 - tableOffset) / quint64(offsetSize))
        return false;

    auto offsetOf = [&](quint64 index) { return readBigEndian(bytes + tableOffset + index * offsetSize, offsetSize); };
    // The element count of the object at `at` (its marker's low nibble, or the integer that
    // follows) and where its content starts.
    auto objectLength = [&](quint64 at, quint64& length, quint64& cursor) {
        length = bytes[at] & 0x0F;
        cursor = at + 1;
        if (length != 0x0F)
            return true;
        if (cursor >= tableOffset || (bytes[cursor] >> 4) != 0x1)
            return false;
        const int width = 1 << (bytes[cursor] & 0x0F);
        if (width > 8 || cursor + 1 + width > tableOffset)
            return false;
        length = readBigEndian(bytes + cursor + 1, width);
        cursor += 1 + width;
        return true;
    };
    // The references of container `index` (empty for scalars); false when malformed.
    auto references = [&](quint64 index, quint64& first, quint64& total) {
        total = 0;
        const quint64 at = offsetOf(index);
        if (at < 8 || at >= tableOffset)
            return false;
        const unsigned char marker = bytes[at];
        const int type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD)
            return true;
        quint64 length = 0, cursor = 0;
        if (!objectLength(at, length, cursor))
            return false;
        const quint64 refs = type == 0xD ? length * 2 : length;
        if (length > tableOffset || refs > (tableOffset - cursor) / quint64(refSize))
            return false;
        first = cursor;
        total = refs;
        return true;
    };

    // Dictionary keys must be strings without a NUL: the parsing library aborts the process
    // on a key whose length disagrees with its C string.
    auto keyIsSafe = [&](quint64 index) {
        const quint64 at = offsetOf(index);
        if (at < 8 || at >= tableOffset)
            return false;
        const int type = bytes[at] >> 4;
        if (type != 0x5 && type != 0x6)
            return true;  // not a string: the library refuses it by itself
        quint64 length = 0, cursor = 0;
        if (!objectLength(at, length, cursor))
            return false;
        const quint64 unit = type == 0x6 ? 2 : 1;
        if (length > (tableOffset - cursor) / unit)
            return false;
        for (quint64 i = 0; i < length; ++i) {
            if (unit == 1 ? bytes[cursor + i] == 0 : (bytes[cursor + 2 * i] == 0 && bytes[cursor + 2 * i + 1] == 0))
                return false;
        }
        return true;
    };

    // Iterative depth-first walk; depth[i] = levels of containers from object i down,
    // values[i] = the values object i stands for, itself included, as the library expands it.
    enum : unsigned char { Unseen, Open, Done };
    std::vector<unsigned char> state(count, Unseen);
    std::vector<quint16> depth(count, 0);
    std::vector<quint64> values(count, 1);
    quint64 referenceCount = 0;
    // Held below any total a sum of two of them could overflow.
    constexpr quint64 kSaturated = quint64(1) << 62;
    struct Frame { quint64 index, first, total, next; };
    std::vector<Frame> stack;
    auto enter = [&](quint64 index) {
        Frame f{index, 0, 0, 0};
        if (!references(index, f.first, f.total))
            return false;
        state[index] = Open;
        referenceCount += f.total;
        stack.push_back(f);
        return stack.size() <= size_t(kMaxNestingDepth) + 1;
    };
    if (!enter(top))
        return false;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.total) {
            int deepest = 0;
            quint64 expanded = 1;
            for (quint64 k = 0; k < f.total; ++k) {
                const quint64 child = readBigEndian(bytes + f.first + k * refSize, refSize);
                deepest = std::max<int>(deepest, depth[child]);
                expanded = std::min(kSaturated, expanded + values[child]);
            }
            const int levels = deepest + ((bytes[offsetOf(f.index)] >> 4) >= 0xA ? 1 : 0);
            if (levels > kMaxNestingDepth)
                return false;
            depth[f.index] = quint16(levels);
            values[f.index] = expanded;
            state[f.index] = Done;
            stack.pop_back();
            continue;
        }
        const quint64 child = readBigEndian(bytes + f.first + f.next * refSize, refSize);
        const bool isKey = (bytes[offsetOf(f.index)] >> 4) == 0xD && f.next < f.total / 2;
        ++f.next;
        if (child >= count || state[child] == Open || (isKey && !keyIsSafe(child)))
            return false;
        if (state[child] == Unseen && !enter(child))
            return false;
    }
    return values[top] <= kMaxExpansionPerReference * (referenceCount + 1) + kExpansionAllowance;
}

} // namespace

bool isSafeToParse(const QByteArray& data)
{
    if (data.startsWith("bplist00"))  // the same test the parsing library makes
        return binaryWithinLimit(data);
    return xmlWithinLimit(data);
}

} // namespace PropertyList
} // namespace platform
