#include "platform/foundation/BinaryPropertyListWriter.h"

#include <QDateTime>

#include <cstring>

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

} // namespace

QByteArray BinaryPropertyListWriter::write(const QVariant& normalizedValue)
{
    BinaryPropertyListWriter writer;
    writer.add(normalizedValue);
    const quint64 count = writer.m_objects.size();
    writer.m_refSize = bytesFor(count - 1);
    QByteArray& out = writer.m_out;
    out.reserve(qsizetype(count) * 12 + 64);
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
    for (quint64 offset : offsets)
        writer.writeBigEndian(offset, offsetSize);
    // The trailer: six unused bytes, the two sizes, the object count, the top object (the
    // first written) and where the offsets begin.
    out.append(6, '\0');
    out.append(char(offsetSize));
    out.append(char(writer.m_refSize));
    writer.writeBigEndian(count, 8);
    writer.writeBigEndian(0, 8);
    writer.writeBigEndian(tableOffset, 8);
    return out;
}

quint32 BinaryPropertyListWriter::add(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return addString(value.toString());
    case QMetaType::QVariantMap: {
        const quint32 index = quint32(m_objects.size());
        m_objects.push_back(Object{Kind::Dictionary, QVariant(), {}});
        const QVariantMap map = value.toMap();
        std::vector<quint32> refs(size_t(map.size()) * 2);
        size_t i = 0;
        for (auto it = map.cbegin(); it != map.cend(); ++it, ++i) {
            refs[i] = addString(it.key());
            refs[i + size_t(map.size())] = add(it.value());
        }
        m_objects[index].refs = std::move(refs);
        return index;
    }
    case QMetaType::QVariantList: {
        const quint32 index = quint32(m_objects.size());
        m_objects.push_back(Object{Kind::Array, QVariant(), {}});
        const QVariantList list = value.toList();
        std::vector<quint32> refs;
        refs.reserve(size_t(list.size()));
        for (const QVariant& item : list)
            refs.push_back(add(item));
        m_objects[index].refs = std::move(refs);
        return index;
    }
    default: {
        const quint32 index = quint32(m_objects.size());
        m_objects.push_back(Object{Kind::Leaf, value, {}});
        return index;
    }
    }
}

quint32 BinaryPropertyListWriter::addString(const QString& text)
{
    const auto found = m_strings.constFind(text);
    if (found != m_strings.cend())
        return *found;
    const quint32 index = quint32(m_objects.size());
    m_objects.push_back(Object{Kind::Leaf, QVariant(text), {}});
    m_strings.insert(text, index);
    return index;
}

bool BinaryPropertyListWriter::writeObject(const Object& object)
{
    if (object.kind != Kind::Leaf) {
        const bool dictionary = object.kind == Kind::Dictionary;
        writeLength(dictionary ? 0xD0 : 0xA0, dictionary ? object.refs.size() / 2 : object.refs.size());
        for (quint32 ref : object.refs)
            writeBigEndian(ref, m_refSize);
        return true;
    }
    const QVariant& value = object.value;
    switch (value.typeId()) {
    case QMetaType::Bool:
        m_out.append(char(value.toBool() ? 0x09 : 0x08));
        return true;
    case QMetaType::LongLong: {
        const qint64 number = value.toLongLong();
        if (number >= 0) {
            writeUnsigned(quint64(number));
        } else {
            // Eight bytes are read as signed.
            m_out.append(char(0x13));
            writeBigEndian(quint64(number), 8);
        }
        return true;
    }
    case QMetaType::ULongLong:
        // Above INT64_MAX: sixteen bytes, the upper eight zero.
        m_out.append(char(0x14));
        writeBigEndian(0, 8);
        writeBigEndian(value.toULongLong(), 8);
        return true;
    case QMetaType::Double:
        m_out.append(char(0x23));
        writeBigEndian(doubleBits(value.toDouble()), 8);
        return true;
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kEpochOffsetMs;
        m_out.append(char(0x33));
        writeBigEndian(doubleBits(double(ms) / 1000.0), 8);
        return true;
    }
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        writeLength(0x40, quint64(data.size()));
        m_out.append(data);
        return true;
    }
    case QMetaType::QString: {
        const QString text = value.toString();
        bool ascii = true;
        for (QChar c : text) {
            if (c.unicode() >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (ascii) {
            writeLength(0x50, quint64(text.size()));
            m_out.append(text.toLatin1());
        } else {
            // UTF-16, big-endian; the length counts code units.
            writeLength(0x60, quint64(text.size()));
            const qsizetype start = m_out.size();
            m_out.resize(start + text.size() * 2);
            char* at = m_out.data() + start;
            for (QChar c : text) {
                *at++ = char(c.unicode() >> 8);
                *at++ = char(c.unicode() & 0xFF);
            }
        }
        return true;
    }
    default:
        return false;
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
    m_out.append(char(0x10 | log2Of(bytes)));
    writeBigEndian(value, bytes);
}

void BinaryPropertyListWriter::writeBigEndian(quint64 value, int bytes)
{
    char buffer[8] = {};
    for (int i = 0; i < bytes; ++i)
        buffer[i] = char((value >> ((bytes - 1 - i) * 8)) & 0xFF);
    m_out.append(buffer, bytes);
}

} // namespace PropertyList
} // namespace platform
