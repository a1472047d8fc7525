#include "platform/foundation/PropertyList.h"

#include "platform/foundation/PropertyListLimits.h"

#include <QDateTime>
#include <QStringList>

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace platform {
namespace PropertyList {
namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01T00:00:00Z).
constexpr qint64 kEpochOffset = 978307200;
constexpr int kMaxDepth = kMaxNestingDepth;

enum ErrorCode { EmptyInput = 1, CorruptInput = 2, UnsupportedValue = 3, TooLarge = 4 };

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

bool hasNul(const QString& s) { return s.contains(QChar(u'\0')); }

QVariant normalizedAt(const QVariant& value, int depth);

QVariant normalizedMap(const auto& map, int depth)
{
    QVariantMap out;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (hasNul(it.key()))
            return {};
        QVariant v = normalizedAt(it.value(), depth + 1);
        if (!v.isValid())
            return {};
        out.insert(it.key(), std::move(v));
    }
    return out;
}

QVariant normalizedAt(const QVariant& value, int depth)
{
    // `depth` counts the containers above; a container here is level depth + 1.
    const bool roomForContainer = depth < kMaxDepth;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return QVariant::fromValue<qint64>(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 u = value.toULongLong();
        if (u > quint64(std::numeric_limits<qint64>::max()))
            return QVariant::fromValue<quint64>(u);
        return QVariant::fromValue<qint64>(qint64(u));
    }
    case QMetaType::Float:
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString: {
        const QString s = value.toString();
        return hasNul(s) ? QVariant() : QVariant(s);
    }
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        if (!dt.isValid())
            return {};
        const qint64 ms = dt.toMSecsSinceEpoch();
        const qint64 secs = qint64(std::floor(double(ms) / 1000.0)) - kEpochOffset;
        if (secs < std::numeric_limits<qint32>::min() || secs > std::numeric_limits<qint32>::max())
            return {};
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }
    case QMetaType::QVariantMap:
        return roomForContainer ? normalizedMap(value.toMap(), depth) : QVariant();
    case QMetaType::QVariantHash:
        return roomForContainer ? normalizedMap(value.toHash(), depth) : QVariant();
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        if (!roomForContainer)
            return {};
        QVariantList out;
        const QVariantList list = value.toList();
        out.reserve(list.size());
        for (const QVariant& item : list) {
            QVariant v = normalizedAt(item, depth + 1);
            if (!v.isValid())
                return {};
            out.append(std::move(v));
        }
        return out;
    }
    default:
        return {};
    }
}

// An integer node holding a value above INT64_MAX. This library version offers no public
// constructor for one, but reads it from XML.
plist_t newLargeUnsigned(quint64 value)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><integer>"
        + QByteArray::number(value) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node;
}

// Builds from a normalized value.
plist_t toNode(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::LongLong:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::ULongLong:
        return newLargeUnsigned(value.toULongLong());
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), uint64_t(data.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch();
        const qint64 unixSecs = qint64(std::floor(double(ms) / 1000.0));
        const qint64 remainderMs = ms - unixSecs * 1000;
        return plist_new_date(int32_t(unixSecs - kEpochOffset), int32_t(remainderMs * 1000));
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = toNode(it.value());
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList()) {
            plist_t child = toNode(item);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    default:
        return nullptr;
    }
}

// Whether an integer node with the top bit set was written as a negative number. This
// library version keeps the sign only internally; its XML form tells.
bool integerIsNegative(plist_t node)
{
    PlistPtr copy(plist_copy(node));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(copy.get(), &xml, &length);
    if (!xml)
        return true;
    const bool negative = QByteArray::fromRawData(xml, int(length)).contains("<integer>-");
    plist_to_xml_free(xml);
    return negative;
}

// Milliseconds since 2001 of a date node. This library version hands the seconds back
// truncated toward zero and the fraction as a magnitude, so within the second before 2001
// the sign is lost; the binary form of the node still holds the exact double.
qint64 dateMilliseconds(plist_t node)
{
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    const qint64 fraction = std::abs(usec);
    if (sec != 0 || fraction == 0)
        return qint64(sec) * 1000 + std::llround((sec < 0 ? -fraction : fraction) / 1000.0);
    PlistPtr copy(plist_copy(node));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(copy.get(), &bin, &length);
    double seconds = fraction / 1e6;
    // "bplist00", then the date's marker 0x33 and its big-endian double.
    if (bin && length >= 17 && quint8(bin[8]) == 0x33) {
        quint64 bits = 0;
        for (int i = 9; i < 17; ++i)
            bits = (bits << 8) | quint8(bin[i]);
        std::memcpy(&seconds, &bits, sizeof seconds);
    }
    if (bin)
        plist_to_bin_free(bin);
    return std::llround(seconds * 1000);
}

QVariant fromNode(plist_t node, int depth, QString* problem)
{
    const plist_type type = plist_get_node_type(node);
    if ((type == PLIST_ARRAY || type == PLIST_DICT) && depth >= kMaxDepth) {
        *problem = QStringLiteral("nesting too deep");
        return {};
    }
    switch (type) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        if (u > uint64_t(std::numeric_limits<qint64>::max()) && !integerIsNegative(node))
            return QVariant::fromValue<quint64>(u);
        return QVariant::fromValue<qint64>(qint64(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return s ? QString::fromUtf8(s, qsizetype(length)) : QString(QLatin1String(""));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* d = plist_get_data_ptr(node, &length);
        return d ? QByteArray(d, qsizetype(length)) : QByteArray("");
    }
    case PLIST_DATE:
        return QDateTime::fromMSecsSinceEpoch(kEpochOffset * 1000 + dateMilliseconds(node), Qt::UTC);
    case PLIST_ARRAY: {
        QVariantList list;
        plist_array_iter iter = nullptr;
        plist_array_new_iter(node, &iter);
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, iter, &item);
            if (!item)
                break;
            QVariant v = fromNode(item, depth + 1, problem);
            if (!v.isValid()) {
                std::free(iter);
                return {};
            }
            list.append(std::move(v));
        }
        std::free(iter);
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            const QString k = QString::fromUtf8(key ? key : "");
            std::free(key);
            QVariant v = fromNode(item, depth + 1, problem);
            if (!v.isValid()) {
                std::free(iter);
                return {};
            }
            map.insert(k, std::move(v));
        }
        std::free(iter);
        return map;
    }
    default:
        *problem = QStringLiteral("unsupported value type");
        return {};
    }
}

QByteArray serialize(const QVariant& value, bool binary)
{
    const QVariant normal = normalized(value);
    if (!normal.isValid())
        return {};
    PlistPtr root(toNode(normal));
    if (!root)
        return {};
    char* out = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(root.get(), &out, &length);
    else
        plist_to_xml(root.get(), &out, &length);
    if (!out)
        return {};
    QByteArray result(out, qsizetype(length));
    binary ? plist_to_bin_free(out) : plist_to_xml_free(out);
    return result;
}

void setError(Error* error, int code, const QString& message)
{
    if (error)
        *error = Error(errorDomain(), code, message);
}

} // namespace

QByteArray toXML(const QVariant& value) { return serialize(value, false); }

QByteArray toBinary(const QVariant& value) { return serialize(value, true); }

QVariant parse(const QByteArray& data, Error* error)
{
    if (data.isEmpty()) {
        setError(error, EmptyInput, QStringLiteral("empty property list"));
        return {};
    }
    if (quint64(data.size()) > std::numeric_limits<uint32_t>::max()) {
        setError(error, TooLarge, QStringLiteral("property list too large"));
        return {};
    }
    if (!isSafeToParse(data)) {
        setError(error, CorruptInput, QStringLiteral("corrupt or too deeply nested property list"));
        return {};
    }
    plist_t raw = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &raw);
    PlistPtr root(raw);
    if (!root) {
        setError(error, CorruptInput, QStringLiteral("corrupt property list"));
        return {};
    }
    QString problem;
    QVariant value = fromNode(root.get(), 0, &problem);
    if (!value.isValid())
        setError(error, UnsupportedValue, QStringLiteral("unreadable property list: ") + problem);
    return value;
}

bool isRepresentable(const QVariant& value) { return normalizedAt(value, 0).isValid(); }

QVariant normalized(const QVariant& value) { return normalizedAt(value, 0); }

} // namespace PropertyList
} // namespace platform
