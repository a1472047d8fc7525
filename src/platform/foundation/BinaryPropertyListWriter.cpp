#include "platform/foundation/BinaryPropertyListWriter.h"

#include <QDateTime>

#include <cstring>
#include <iterator>

namespace platform {
namespace PropertyList {
namespace {

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
    writer.add(normalizedValue);
    const quint64 count = writer.m_objects.size();
    writer.m_refSize = bytesFor(count - 1);
    QByteArray& out = writer.m_out;
    // Most objects are short texts and small numbers: a guess that rarely has to grow.
    out.reserve(qsizetype(count * 12 + writer.m_refs.size() * size_t(writer.m_refSize) + 64));
    out.append("bplist00", 8);
    std::vector<quint64> offsets;
    offsets.reserve(count);
    for (const Object& object : writer.m_objects) {
        offsets.push_back(quint64(out.size()));
        if (!writer.writeObject(object))
            return {};
    }
    const quint64 tableOffset = quint64(out.size());
    const int offsetSize = bytesFor(offsets.empty() ? 0 : offsets.back());
    putRun(writer.grow(qsizetype(offsets.size()) * offsetSize), offsets.data(), offsets.size(), offsetSize);
    // The trailer: six unused bytes, the two sizes, the object count, the top object (the
    // first written) and where the offsets begin.
    char* trailer = writer.grow(32);
    std::memset(trailer, 0, 6);
    trailer[6] = char(offsetSize);
    trailer[7] = char(writer.m_refSize);
    putBigEndian(trailer + 8, count, 8);
    putBigEndian(trailer + 16, 0, 8);
    putBigEndian(trailer + 24, tableOffset, 8);
    return out;
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
    quint32& entry = m_strings[QStringView(text)];
    if (!entry) {
        entry = quint32(m_objects.size()) + 1;
        m_objects.push_back(Object{Kind::Text, &text, 0, 0});
    }
    recent = Recent{text.constData(), text.size(), entry - 1};
    return entry - 1;
}

char* BinaryPropertyListWriter::grow(qsizetype bytes)
{
    const qsizetype at = m_out.size();
    m_out.resize(at + bytes);
    return m_out.data() + at;
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
    const QVariant& value = *static_cast<const QVariant*>(object.value);
    switch (object.type) {
    case QMetaType::Bool:
        m_out.append(char(value.toBool() ? 0x09 : 0x08));
        return true;
    case QMetaType::LongLong: {
        const qint64 number = value.toLongLong();
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
        putBigEndian(at + 9, value.toULongLong(), 8);
        return true;
    }
    case QMetaType::Double:
        writeMarkedBigEndian(0x23, doubleBits(value.toDouble()), 8);
        return true;
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kEpochOffsetMs;
        writeMarkedBigEndian(0x33, doubleBits(double(ms) / 1000.0), 8);
        return true;
    }
    case QMetaType::QByteArray: {
        const QByteArray& data = *static_cast<const QByteArray*>(value.constData());
        writeLength(0x40, quint64(data.size()));
        m_out.append(data);
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
        m_out.append(char(marker | quint8(length)));
        return;
    }
    m_out.append(char(marker | 0x0F));
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
