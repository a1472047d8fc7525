#include "platform/foundation/BinaryPropertyListWriter.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace platform {
namespace PropertyList {
namespace {

// The most bytes an object's marker and length take (a marker, then a marked eight-byte
// number), and the most a number or a date takes (a sixteen-byte integer and its marker).
constexpr qsizetype kMostForMarkerAndLength = 10;
constexpr qsizetype kMostForNumber = 17;

// Seconds between the Unix epoch and the property-list epoch (2001-01-01T00:00:00Z).
constexpr qint64 kEpochOffsetMs = 978307200LL * 1000;

int bytesFor(quint64 value)
{
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFFULL)
        return 4;
    return 8;
}

int log2Of(int bytes) { return bytes == 1 ? 0 : bytes == 2 ? 1 : bytes == 4 ? 2 : 3; }

quint64 doubleBits(double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// `value`'s low `bytes` bytes, most significant first.
void putBigEndian(char* at, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) {
        at[i] = char(value & 0xFF);
        value >>= 8;
    }
}

// Numbers of one width, each in big-endian order: the references of a container and the
// offset table are written a run at a time rather than a number at a time.
template <typename Number>
void putRun(char* at, const Number* numbers, size_t count, int bytes)
{
    switch (bytes) {
    case 1:
        for (size_t i = 0; i < count; ++i)
            at[i] = char(numbers[i]);
        return;
    case 2:
        for (size_t i = 0; i < count; ++i, at += 2) {
            at[0] = char(numbers[i] >> 8);
            at[1] = char(numbers[i]);
        }
        return;
    default:
        for (size_t i = 0; i < count; ++i, at += bytes)
            putBigEndian(at, numbers[i], bytes);
        return;
    }
}

} // namespace

QByteArray BinaryPropertyListWriter::write(const QVariant& normalizedValue)
{
    BinaryPropertyListWriter writer;
    if (!writer.encode(normalizedValue))
        return {};
    return std::move(writer.m_out);
}

const QByteArray& BinaryPropertyListWriter::writeKeepingMemory(const QVariant& normalizedValue)
{
    if (!encode(normalizedValue))
        m_out.resize(0);
    return m_out;
}

bool BinaryPropertyListWriter::encode(const QVariant& normalizedValue)
{
    // What the last write left: its texts' addresses may be the new value's too.
    m_objects.clear();
    m_refs.clear();
    m_offsets.clear();
    std::fill(std::begin(m_recent), std::end(m_recent), Recent{});
    std::fill(m_strings.begin(), m_strings.end(), StringSlot{});
    m_stringCount = 0;
    m_bound = 0;
    m_out.resize(0); // so that growing it below copies nothing of the last write

    add(normalizedValue);
    const quint64 count = m_objects.size();
    m_refSize = bytesFor(count - 1);
    // The output is sized once, for the most the objects can take, and cut to what they took:
    // its room is kept from the last write unless a caller still shares it.
    m_out.resize(qsizetype(8 + m_bound + m_refs.size() * size_t(m_refSize) + count * 8 + 32));
    m_cursor = m_out.data();
    std::memcpy(grow(8), "bplist00", 8);
    m_offsets.reserve(count);
    for (const Object& object : m_objects) {
        m_offsets.push_back(quint64(m_cursor - m_out.constData()));
        if (!writeObject(object))
            return false;
    }
    const quint64 tableOffset = quint64(m_cursor - m_out.constData());
    const int offsetSize = bytesFor(m_offsets.empty() ? 0 : m_offsets.back());
    putRun(grow(qsizetype(m_offsets.size()) * offsetSize), m_offsets.data(), m_offsets.size(), offsetSize);
    // The trailer: six unused bytes, the two sizes, the object count, the top object (the
    // first written) and where the offsets begin.
    char* trailer = grow(32);
    std::memset(trailer, 0, 6);
    trailer[6] = char(offsetSize);
    trailer[7] = char(m_refSize);
    putBigEndian(trailer + 8, count, 8);
    putBigEndian(trailer + 16, 0, 8);
    putBigEndian(trailer + 24, tableOffset, 8);
    m_out.resize(m_cursor - m_out.constData());
    return true;
}

quint32 BinaryPropertyListWriter::add(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return addString(*static_cast<const QString*>(value.constData()));
    case QMetaType::QVariantMap: {
        const quint32 index = quint32(m_objects.size());
        const QVariantMap& map = *static_cast<const QVariantMap*>(value.constData());
        const auto size = quint32(map.size());
        const auto first = quint32(m_refs.size());
        m_objects.push_back(Object{Kind::Dictionary, nullptr, first, size * 2});
        m_bound += kMostForMarkerAndLength;
        // The container's references are reserved before its members add theirs after them.
        m_refs.resize(m_refs.size() + size_t(size) * 2);
        quint32 i = first;
        for (auto it = map.cbegin(); it != map.cend(); ++it, ++i) {
            const quint32 key = addString(it.key());
            m_refs[i] = key;
            const quint32 member = add(it.value());
            m_refs[i + size] = member;
        }
        return index;
    }
    case QMetaType::QVariantList: {
        const quint32 index = quint32(m_objects.size());
        const QVariantList& list = *static_cast<const QVariantList*>(value.constData());
        const auto size = quint32(list.size());
        const auto first = quint32(m_refs.size());
        m_objects.push_back(Object{Kind::Array, nullptr, first, size});
        m_bound += kMostForMarkerAndLength;
        m_refs.resize(m_refs.size() + size);
        quint32 i = first;
        for (const QVariant& item : list) {
            const quint32 member = add(item);
            m_refs[i++] = member;
        }
        return index;
    }
    default: {
        const quint32 index = quint32(m_objects.size());
        m_objects.push_back(Object{Kind::Leaf, &value, 0, 0, value.typeId()});
        m_bound += kMostForNumber;
        if (value.typeId() == QMetaType::QByteArray)
            m_bound += kMostForMarkerAndLength + static_cast<const QByteArray*>(value.constData())->size();
        return index;
    }
    }
}

quint32 BinaryPropertyListWriter::addString(const QString& text)
{
    // Texts sharing their characters are the same text, so the same key in every record
    // (made from one literal) is found without hashing it again.
    Recent& recent = m_recent[(quintptr(text.constData()) / alignof(QChar)) % std::size(m_recent)];
    if (recent.characters == text.constData() && recent.size == text.size())
        return recent.index;
    // One search either finds the text's object or makes its entry (0 until filled in).
    quint32& entry = stringEntry(QStringView(text));
    if (!entry) {
        entry = quint32(m_objects.size()) + 1;
        m_objects.push_back(Object{Kind::Text, &text, 0, 0});
        m_bound += kMostForMarkerAndLength + 2 * text.size();
    }
    recent = Recent{text.constData(), text.size(), entry - 1};
    return entry - 1;
}

quint32& BinaryPropertyListWriter::stringEntry(QStringView text)
{
    // Kept at most half full, so that a search ends soon at a free slot.
    if ((m_stringCount + 1) * 2 > m_strings.size()) {
        std::vector<StringSlot> old(std::max<size_t>(m_strings.size() * 2, 64));
        old.swap(m_strings);
        const size_t mask = m_strings.size() - 1;
        for (const StringSlot& slot : old) {
            if (!slot.entry)
                continue;
            size_t at = slot.hash & mask;
            while (m_strings[at].entry)
                at = (at + 1) & mask;
            m_strings[at] = slot;
        }
    }
    const size_t hash = qHash(text);
    const size_t mask = m_strings.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        StringSlot& slot = m_strings[at];
        if (!slot.entry) {
            slot = StringSlot{text.data(), text.size(), hash, 0};
            ++m_stringCount;
            return slot.entry;
        }
        if (slot.hash == hash && QStringView(slot.characters, slot.size) == text)
            return slot.entry;
    }
}

char* BinaryPropertyListWriter::grow(qsizetype bytes)
{
    char* at = m_cursor;
    m_cursor += bytes;
    Q_ASSERT(m_cursor <= m_out.data() + m_out.size());
    return at;
}

bool BinaryPropertyListWriter::writeObject(const Object& object)
{
    switch (object.kind) {
    case Kind::Text:
        writeText(*static_cast<const QString*>(object.value));
        return true;
    case Kind::Array:
    case Kind::Dictionary: {
        const bool dictionary = object.kind == Kind::Dictionary;
        writeLength(dictionary ? 0xD0 : 0xA0, dictionary ? object.refCount / 2 : object.refCount);
        putRun(grow(qsizetype(object.refCount) * m_refSize), m_refs.data() + object.firstRef, object.refCount, m_refSize);
        return true;
    }
    case Kind::Leaf:
        break;
    }
    // The type was asked when the object was added: the value is read in place, not converted.
    const QVariant& value = *static_cast<const QVariant*>(object.value);
    switch (object.type) {
    case QMetaType::Bool:
        *grow(1) = char(*static_cast<const bool*>(value.constData()) ? 0x09 : 0x08);
        return true;
    case QMetaType::LongLong: {
        const qint64 number = *static_cast<const qlonglong*>(value.constData());
        if (number >= 0)
            writeUnsigned(quint64(number));
        else
            writeMarkedBigEndian(0x13, quint64(number), 8); // eight bytes are read as signed
        return true;
    }
    case QMetaType::ULongLong: {
        // Above INT64_MAX: sixteen bytes, the upper eight zero.
        char* at = grow(17);
        at[0] = char(0x14);
        putBigEndian(at + 1, 0, 8);
        putBigEndian(at + 9, *static_cast<const qulonglong*>(value.constData()), 8);
        return true;
    }
    case QMetaType::Double:
        writeMarkedBigEndian(0x23, doubleBits(*static_cast<const double*>(value.constData())), 8);
        return true;
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kEpochOffsetMs;
        writeMarkedBigEndian(0x33, doubleBits(double(ms) / 1000.0), 8);
        return true;
    }
    case QMetaType::QByteArray: {
        const QByteArray& data = *static_cast<const QByteArray*>(value.constData());
        writeLength(0x40, quint64(data.size()));
        std::memcpy(grow(data.size()), data.constData(), size_t(data.size()));
        return true;
    }
    default:
        return false;
    }
}

void BinaryPropertyListWriter::writeText(const QString& text)
{
    // Read in place: utf16() copies a text whose characters are a literal's.
    const auto* units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype size = text.size();
    char16_t all = 0;
    for (qsizetype i = 0; i < size; ++i)
        all |= units[i];
    if (all < 0x80) {
        writeLength(0x50, quint64(size));
        char* at = grow(size);
        for (qsizetype i = 0; i < size; ++i)
            at[i] = char(units[i]);
        return;
    }
    // UTF-16, big-endian; the length counts code units.
    writeLength(0x60, quint64(size));
    char* at = grow(size * 2);
    for (qsizetype i = 0; i < size; ++i) {
        at[2 * i] = char(units[i] >> 8);
        at[2 * i + 1] = char(units[i] & 0xFF);
    }
}

void BinaryPropertyListWriter::writeLength(quint8 marker, quint64 length)
{
    if (length < 15) {
        *grow(1) = char(marker | quint8(length));
        return;
    }
    *grow(1) = char(marker | 0x0F);
    writeUnsigned(length);
}

void BinaryPropertyListWriter::writeUnsigned(quint64 value)
{
    // One, two and four bytes are read as unsigned, eight as signed: the caller keeps values
    // above INT64_MAX out of here.
    const int bytes = bytesFor(value);
    writeMarkedBigEndian(quint8(0x10 | log2Of(bytes)), value, bytes);
}

void BinaryPropertyListWriter::writeMarkedBigEndian(quint8 marker, quint64 value, int bytes)
{
    char* at = grow(1 + bytes);
    at[0] = char(marker);
    putBigEndian(at + 1, value, bytes);
}

} // namespace PropertyList
} // namespace platform
