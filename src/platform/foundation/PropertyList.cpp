#include "platform/foundation/PropertyList.h"

#include "platform/foundation/BinaryPropertyListWriter.h"
#include "platform/foundation/PropertyListLimits.h"

#include <QDateTime>
#include <QStringDecoder>
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
// The dates both forms write and read back unchanged: 0001-01-01T00:00:00Z up to
// 9999-12-31T23:59:59.999Z (the XML form has room for four-digit years only).
constexpr qint64 kFirstDateMs = -62135596800000LL;
constexpr qint64 kLastDateMs = 253402300799999LL;

enum ErrorCode { EmptyInput = 1, CorruptInput = 2, UnsupportedValue = 3, TooLarge = 4 };

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

bool hasNul(const QString& s) { return s.contains(QChar(u'\0')); }

// A surrogate without its partner cannot be written as UTF-8, and each writer would make
// something else of it; every store gets U+FFFD in its place instead.
QString withLoneSurrogatesReplaced(QString s)
{
    const qsizetype n = s.size();
    QChar* c = nullptr;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = s.at(i);
        if (!ch.isSurrogate())
            continue;
        if (ch.isHighSurrogate() && i + 1 < n && s.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (!c)
            c = s.data();
        c[i] = QChar::ReplacementCharacter;
    }
    return s;
}

// Text as the library hands it over. A leading U+FEFF is text, not a byte-order mark.
QString fromLibraryUtf8(const char* s, qsizetype length)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless
                                                       | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(s, length));
}

bool dateInRange(qint64 ms) { return ms >= kFirstDateMs && ms <= kLastDateMs; }

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
        out.insert(withLoneSurrogatesReplaced(it.key()), std::move(v));
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
        return hasNul(s) ? QVariant() : QVariant(withLoneSurrogatesReplaced(s));
    }
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        if (!dt.isValid())
            return {};
        const qint64 ms = dt.toMSecsSinceEpoch();
        if (!dateInRange(ms))
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

// A date node holding `seconds` since 2001 exactly. This library version's date constructor
// takes 32-bit seconds (1932..2069 around its epoch) although the node keeps a double, so
// the node is read from a one-object binary list instead.
plist_t newDate(double seconds)
{
    quint64 bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    // "bplist00", the date object (marker 0x33, big-endian double) at offset 8, a one-byte
    // offset table, then the trailer: sizes 1 and 1, one object, top 0, table at 17.
    unsigned char bin[8 + 9 + 1 + 32] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x33};
    for (int i = 0; i < 8; ++i)
        bin[9 + i] = (unsigned char)(bits >> (56 - 8 * i));
    bin[17] = 8;
    unsigned char* trailer = bin + 18;
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 1;
    trailer[31] = 17;
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bin), sizeof bin, &node);
    return node;
}

// Builds from a normalized value. The XML form holds whole seconds, and this library
// version cuts a fraction toward 2001 rather than down: XML dates get whole seconds here.
plist_t toNode(const QVariant& value, bool wholeSecondDates)
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
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kEpochOffset * 1000;
        if (wholeSecondDates)
            return newDate(std::floor(double(ms) / 1000.0));
        return newDate(double(ms) / 1000.0);
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = toNode(it.value(), wholeSecondDates);
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
            plist_t child = toNode(item, wholeSecondDates);
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

// Seconds since 2001 of a date node, exactly. This library version hands them back through
// 32-bit seconds, wrong outside 1932..2069 and without the sign within the second before
// 2001; the binary form of the node still holds the double.
double dateSeconds(plist_t node)
{
    PlistPtr copy(plist_copy(node));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(copy.get(), &bin, &length);
    double seconds = std::numeric_limits<double>::quiet_NaN();
    // "bplist00", then the date's marker 0x33 and its big-endian double.
    if (bin && length >= 17 && quint8(bin[8]) == 0x33) {
        quint64 bits = 0;
        for (int i = 9; i < 17; ++i)
            bits = (bits << 8) | quint8(bin[i]);
        std::memcpy(&seconds, &bits, sizeof seconds);
    }
    if (bin)
        plist_to_bin_free(bin);
    return seconds;
}

// How a document is read: what stopped it, and whether a value that cannot be written back
// is left out (with its key) instead of refusing the whole document.
struct Reading {
    QString problem;
    bool dropUnreadable = false;
    bool structural = false; // a problem no dropping gets past
    int dropped = 0;
};

QVariant fromNode(plist_t node, int depth, Reading* reading)
{
    QString* const problem = &reading->problem;
    const plist_type type = plist_get_node_type(node);
    if ((type == PLIST_ARRAY || type == PLIST_DICT) && depth >= kMaxDepth) {
        *problem = QStringLiteral("nesting too deep");
        reading->structural = true;
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
        const QString text = s ? fromLibraryUtf8(s, qsizetype(length)) : QString(QLatin1String(""));
        // The writers could not give it back: a string ends at U+0000 for this library.
        if (hasNul(text)) {
            *problem = QStringLiteral("string holding U+0000");
            return {};
        }
        return text;
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* d = plist_get_data_ptr(node, &length);
        return d ? QByteArray(d, qsizetype(length)) : QByteArray("");
    }
    case PLIST_DATE: {
        // Refused rather than changed when it could not be written back as read.
        const double ms = std::round(dateSeconds(node) * 1000.0) + double(kEpochOffset) * 1000.0;
        if (!(ms >= double(kFirstDateMs) && ms <= double(kLastDateMs))) {
            *problem = QStringLiteral("date outside the years 1 to 9999");
            return {};
        }
        return QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        plist_array_iter iter = nullptr;
        plist_array_new_iter(node, &iter);
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, iter, &item);
            if (!item)
                break;
            QVariant v = fromNode(item, depth + 1, reading);
            if (!v.isValid()) {
                if (reading->dropUnreadable && !reading->structural) {
                    ++reading->dropped;
                    continue;
                }
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
            const QString k = key ? fromLibraryUtf8(key, qsizetype(std::strlen(key))) : QString(QLatin1String(""));
            std::free(key);
            QVariant v = fromNode(item, depth + 1, reading);
            if (!v.isValid()) {
                if (reading->dropUnreadable && !reading->structural) {
                    ++reading->dropped;
                    continue;
                }
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
    if (binary)
        return BinaryPropertyListWriter::write(normal);
    PlistPtr root(toNode(normal, true));
    if (!root)
        return {};
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &out, &length);
    if (!out)
        return {};
    QByteArray result(out, qsizetype(length));
    plist_to_xml_free(out);
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

QByteArray toBinaryOfNormalized(const QVariant& normalizedValue) { return BinaryPropertyListWriter::write(normalizedValue); }

namespace {

QVariant parseReading(const QByteArray& data, Error* error, Reading* reading)
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
    QVariant value = fromNode(root.get(), 0, reading);
    if (!value.isValid())
        setError(error, UnsupportedValue, QStringLiteral("unreadable property list: ") + reading->problem);
    return value;
}

} // namespace

QVariant parse(const QByteArray& data, Error* error)
{
    Reading reading;
    return parseReading(data, error, &reading);
}

QVariant parseDroppingUnreadable(const QByteArray& data, int* dropped, Error* error)
{
    Reading reading;
    reading.dropUnreadable = true;
    QVariant value = parseReading(data, error, &reading);
    if (dropped)
        *dropped = reading.dropped;
    return value;
}

bool isRepresentable(const QVariant& value) { return normalizedAt(value, 0).isValid(); }

QVariant normalized(const QVariant& value) { return normalizedAt(value, 0); }

} // namespace PropertyList
} // namespace platform
