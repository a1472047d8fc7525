#include "store/KRBinaryPropertyListWriter.h"

#include <QDateTime>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Seconds between the Unix epoch and the format's reference date, 2001-01-01 UTC.
constexpr double kReferenceDateOffset = 978307200.0;

// Appends bytes to a buffer sized ahead; grows only when an estimate fell short.
class Output {
public:
    explicit Output(qsizetype estimate) { m_data.resize(std::max<qsizetype>(estimate, 64)); }

    void reserve(qsizetype bytes)
    {
        if (m_size + bytes > m_data.size())
            m_data.resize(std::max(m_data.size() * 2, m_size + bytes));
    }
    void byte(quint8 value)
    {
        reserve(1);
        m_data.data()[m_size++] = char(value);
    }
    void bigEndian(quint64 value, int bytes)
    {
        reserve(bytes);
        char* out = m_data.data() + m_size;
        for (int i = bytes - 1; i >= 0; --i, value >>= 8)
            out[i] = char(value & 0xFF);
        m_size += bytes;
    }
    void raw(const char* data, qsizetype length)
    {
        reserve(length);
        std::memcpy(m_data.data() + m_size, data, size_t(length));
        m_size += length;
    }
    qsizetype size() const { return m_size; }
    QByteArray take()
    {
        m_data.truncate(m_size);
        return std::move(m_data);
    }

private:
    QByteArray m_data;
    qsizetype m_size = 0;
};

void appendBigEndian(QByteArray& out, quint64 value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

// An integer object: the smallest of 1, 2, 4 bytes for values below 2^32, otherwise 8;
// negative values always take 8 bytes, values above the signed range 16.
void appendInteger(QByteArray& out, qint64 value)
{
    if (value >= 0 && value <= 0xFF) {
        out.append(char(0x10));
        appendBigEndian(out, quint64(value), 1);
    } else if (value >= 0 && value <= 0xFFFF) {
        out.append(char(0x11));
        appendBigEndian(out, quint64(value), 2);
    } else if (value >= 0 && value <= 0xFFFFFFFFLL) {
        out.append(char(0x12));
        appendBigEndian(out, quint64(value), 4);
    } else {
        out.append(char(0x13));
        appendBigEndian(out, quint64(value), 8);
    }
}

void appendUnsigned(QByteArray& out, quint64 value)
{
    if (value <= quint64(std::numeric_limits<qint64>::max())) {
        appendInteger(out, qint64(value));
        return;
    }
    out.append(char(0x14));
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, value, 8);
}

// A type marker with its element count: the count in the low nibble when below 15,
// otherwise 0xF there and the count as an integer object after the marker.
void appendMarker(QByteArray& out, quint8 type, quint64 count)
{
    if (count < 15) {
        out.append(char((type << 4) | count));
        return;
    }
    out.append(char((type << 4) | 0xF));
    appendUnsigned(out, count);
}

void appendMarker(Output& out, quint8 type, quint64 count)
{
    if (count < 15) {
        out.byte(quint8((type << 4) | count));
        return;
    }
    QByteArray encoded;
    appendMarker(encoded, type, count);
    out.raw(encoded.constData(), encoded.size());
}

void appendDouble(QByteArray& out, quint8 marker, double value)
{
    out.append(char(marker));
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    appendBigEndian(out, bits, 8);
}

// Strings are written as ASCII when they can be, else as UTF-16.
bool isASCII(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0x7F; });
}

bool appendString(QByteArray& out, const QString& text)
{
    if (text.contains(QChar(u'\0')))
        return false;
    if (isASCII(text)) {
        appendMarker(out, 0x5, quint64(text.size()));
        out.append(text.toLatin1());
        return true;
    }
    appendMarker(out, 0x6, quint64(text.size()));
    const qsizetype start = out.size();
    out.resize(start + text.size() * 2);
    qToBigEndian<quint16>(text.utf16(), text.size(), out.data() + start);
    return true;
}

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

} // namespace

quint32 KRBinaryPropertyListWriter::keyNumber(const QString& key, bool* ok)
{
    const auto found = m_keyNumbers.constFind(key);
    if (found != m_keyNumbers.cend())
        return found.value();
    QByteArray encoded;
    if (!appendString(encoded, key)) {
        *ok = false;
        return 0;
    }
    const quint32 number = quint32(m_encodedKeys.size());
    m_encodedKeys.push_back(encoded);
    m_keyNumbers.insert(key, number);
    return number;
}

quint32 KRBinaryPropertyListWriter::add(Fragment& fragment, const QVariant& value, bool* ok)
{
    const quint32 index = quint32(fragment.m_objects.size());
    fragment.m_objects.push_back({});
    const int type = value.typeId();

    if (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash || type == QMetaType::QVariantList
        || type == QMetaType::QStringList) {
        std::vector<quint32> refs;
        quint32 elements = 0;
        if (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash) {
            std::vector<quint32> values;
            auto addPair = [&](const QString& key, const QVariant& child) {
                const quint32 number = keyNumber(key, ok);
                refs.push_back(kSharedKey | number);
                if (std::find(fragment.m_keys.begin(), fragment.m_keys.end(), number) == fragment.m_keys.end())
                    fragment.m_keys.push_back(number);
                values.push_back(add(fragment, child, ok));
            };
            if (type == QMetaType::QVariantMap) {
                const QVariantMap map = value.toMap();
                for (auto it = map.cbegin(); it != map.cend(); ++it)
                    addPair(it.key(), it.value());
            } else {
                const QVariantHash hash = value.toHash();
                for (auto it = hash.cbegin(); it != hash.cend(); ++it)
                    addPair(it.key(), it.value());
            }
            elements = quint32(values.size());
            refs.insert(refs.end(), values.begin(), values.end());
        } else {
            for (const QVariant& child : value.toList())
                refs.push_back(add(fragment, child, ok));
            elements = quint32(refs.size());
        }
        Fragment::Object& object = fragment.m_objects[index];
        object.containerType = (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash) ? 0xD : 0xA;
        object.elementCount = elements;
        object.firstRef = quint32(fragment.m_refs.size());
        object.refCount = quint32(refs.size());
        fragment.m_refs.insert(fragment.m_refs.end(), refs.begin(), refs.end());
        return index;
    }

    QByteArray& out = fragment.m_leaves;
    const qsizetype start = out.size();
    switch (type) {
    case QMetaType::Bool:
        out.append(char(value.toBool() ? 0x09 : 0x08));
        break;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        appendInteger(out, value.toLongLong());
        break;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        appendUnsigned(out, value.toULongLong());
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        appendDouble(out, 0x23, value.toDouble());
        break;
    case QMetaType::QString:
        if (!appendString(out, value.toString()))
            *ok = false;
        break;
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        appendMarker(out, 0x4, quint64(data.size()));
        out.append(data);
        break;
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            *ok = false;
        appendDouble(out, 0x33, double(date.toMSecsSinceEpoch()) / 1000.0 - kReferenceDateOffset);
        break;
    }
    default:
        *ok = false;
        break;
    }
    Fragment::Object& object = fragment.m_objects[index];
    object.leafOffset = quint32(start);
    object.leafLength = quint32(out.size() - start);
    return index;
}

KRBinaryPropertyListWriter::Fragment KRBinaryPropertyListWriter::encode(const QVariant& value)
{
    Fragment fragment;
    bool ok = true;
    add(fragment, value, &ok);
    if (!ok)
        return {};
    return fragment;
}

QByteArray KRBinaryPropertyListWriter::dictionaryDocument(const QList<std::pair<QString, const Fragment*>>& entries) const
{
    const quint64 entryCount = quint64(entries.size());
    // Numbering: 0 the root, 1…n the root's keys, then the shared keys in use, then each
    // fragment's objects in turn.
    std::vector<quint64> keyObjects(m_encodedKeys.size(), 0);
    std::vector<quint32> keysInUse;
    quint64 total = 1 + entryCount;
    for (const auto& entry : entries) {
        for (quint32 key : entry.second->m_keys) {
            if (keyObjects[key] == 0) {
                keyObjects[key] = total++;
                keysInUse.push_back(key);
            }
        }
    }
    std::vector<quint64> bases;
    bases.reserve(entries.size());
    qsizetype estimate = 64;
    for (const auto& entry : entries) {
        bases.push_back(total);
        total += quint64(entry.second->m_objects.size());
        estimate += entry.second->m_leaves.size() + qsizetype(entry.second->m_refs.size()) * 2
            + qsizetype(entry.second->m_objects.size()) * 5 + entry.first.size() * 2 + 16;
    }
    for (quint32 key : keysInUse)
        estimate += m_encodedKeys[key].size() + 4;
    const int refSize = bytesFor(total);

    Output out(estimate + qsizetype(total) * 4 + 32);
    out.raw("bplist00", 8);
    std::vector<quint64> offsets;
    offsets.reserve(total);

    offsets.push_back(quint64(out.size()));
    appendMarker(out, 0xD, entryCount);
    for (quint64 i = 0; i < entryCount; ++i)
        out.bigEndian(1 + i, refSize);
    for (quint64 base : bases)
        out.bigEndian(base, refSize);
    for (const auto& entry : entries) {
        offsets.push_back(quint64(out.size()));
        const QString& key = entry.first;
        const bool ascii = isASCII(key);
        appendMarker(out, ascii ? 0x5 : 0x6, quint64(key.size()));
        out.reserve(key.size() * 2);
        for (QChar c : key) {
            if (ascii)
                out.byte(quint8(c.unicode()));
            else
                out.bigEndian(c.unicode(), 2);
        }
    }
    for (quint32 key : keysInUse) {
        offsets.push_back(quint64(out.size()));
        out.raw(m_encodedKeys[key].constData(), m_encodedKeys[key].size());
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Fragment& fragment = *entries[i].second;
        const quint64 base = bases[size_t(i)];
        const char* leaves = fragment.m_leaves.constData();
        for (const Fragment::Object& object : fragment.m_objects) {
            offsets.push_back(quint64(out.size()));
            if (object.containerType == 0) {
                out.raw(leaves + object.leafOffset, object.leafLength);
                continue;
            }
            appendMarker(out, object.containerType, object.elementCount);
            const quint32* refs = fragment.m_refs.data() + object.firstRef;
            for (quint32 r = 0; r < object.refCount; ++r) {
                const quint32 ref = refs[r];
                out.bigEndian((ref & kSharedKey) ? keyObjects[ref & ~kSharedKey] : base + ref, refSize);
            }
        }
    }

    const quint64 offsetTableStart = quint64(out.size());
    const int offsetSize = bytesFor(offsetTableStart);
    for (quint64 offset : offsets)
        out.bigEndian(offset, offsetSize);
    // Trailer: six unused bytes, the two sizes, object count, top object, table offset.
    out.bigEndian(0, 6);
    out.byte(quint8(offsetSize));
    out.byte(quint8(refSize));
    out.bigEndian(total, 8);
    out.bigEndian(0, 8);
    out.bigEndian(offsetTableStart, 8);
    return out.take();
}
