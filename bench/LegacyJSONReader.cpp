// The hand-written one-pass reader the system used before it read replies with simdjson, kept
// as it was so the benchmark measures the new reader against it in the same run.
#include "LegacyJSONReader.h"

#include <QVariantList>
#include <QVariantMap>

#include <charconv>
#include <cstring>
#include <limits>
#include <map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Hostile nesting must not exhaust the stack. The same depth the platform's reader allows.
constexpr int kMaximumDepth = 1024;

bool isDigit(uchar c) { return c >= '0' && c <= '9'; }

// The first '"', '\\' or non-ASCII byte at or after `p`, or `end`.
const uchar* scanPlainText(const uchar* p, const uchar* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // A byte's own high bit marks it non-ASCII.
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)), chunk);
        if (const int mask = _mm_movemask_epi8(special))
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#endif
    while (p < end && *p != '"' && *p != '\\' && *p < 0x80)
        ++p;
    return p;
}

int hexValue(uchar c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes one well-formed UTF-8 sequence (no overlong forms, no surrogates, nothing past
// U+10FFFF) starting at `p`; returns its length, or 0 when the bytes are not one.
int decodeUTF8(const uchar* p, const uchar* end, char32_t* code)
{
    const uchar lead = p[0];
    int length;
    uchar low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        *code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        *code = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        *code = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    *code = (*code << 6) | (p[1] & 0x3F);
    for (int i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        *code = (*code << 6) | (p[i] & 0x3F);
    }
    return length;
}

// A whole double within the signed 64-bit range, as an integer.
bool wholeNumber(double value, qint64* integer)
{
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (!(value >= -limit && value < limit))
        return false;
    *integer = qint64(value);
    return double(*integer) == value;
}

// Every item of a reply repeats the same few dozen member names: one shared string each.
class NameCache {
public:
    QString name(const uchar* bytes, qsizetype size)
    {
        if (size > kLongestName)
            return QString::fromLatin1(reinterpret_cast<const char*>(bytes), size);
        quint32 hash = quint32(size);
        for (qsizetype i = 0; i < size; ++i)
            hash = hash * 31 + bytes[i];
        Entry& entry = m_entries[(hash ^ (hash >> 9)) % kSlots];
        if (entry.size != size || !entry.bytes || std::memcmp(entry.bytes, bytes, size_t(size)) != 0) {
            entry.bytes = bytes;
            entry.size = size;
            entry.name = QString::fromLatin1(reinterpret_cast<const char*>(bytes), size);
        }
        return entry.name;
    }

private:
    static constexpr qsizetype kLongestName = 40;
    static constexpr int kSlots = 256;
    struct Entry {
        const uchar* bytes = nullptr; // into the document, which outlives the cache
        qsizetype size = 0;
        QString name;
    };
    Entry m_entries[kSlots];
};

class JSONReader {
public:
    explicit JSONReader(const QByteArray& data)
        : m_begin(reinterpret_cast<const uchar*>(data.constData()))
        , m_p(m_begin)
        , m_end(m_begin + data.size())
    {
    }

    // The document, or an invalid value and `*errorText` set.
    QVariant document(QString* errorText);

private:
    bool fail(const char* what, const uchar* at)
    {
        m_error = what;
        m_errorAt = at;
        return false;
    }
    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }
    // Where a container stands after an item.
    enum class Next { More, Closed, Failed };
    // Enters the container whose opening bracket `m_p` is at.
    bool open(uchar close, Next* next);
    // Past an item: the closing bracket, a ',' before more, or an error.
    Next afterItem(const uchar* at, uchar close);
    bool value(QVariant& out);
    bool object(QVariant& out);
    bool array(QVariant& out);
    bool name(QString& out);
    bool string(QString& out);
    bool escapedString(const uchar* start, QString& out);
    bool number(QVariant& out);
    bool literal(const char* word, qsizetype size, QVariant&& literalValue, QVariant& out);

    const uchar* const m_begin;
    const uchar* m_p;
    const uchar* const m_end;
    int m_depth = 0;
    const char* m_error = nullptr;
    const uchar* m_errorAt = nullptr;
    NameCache m_names;
};

QVariant JSONReader::document(QString* errorText)
{
    if (m_end - m_p > 3 && m_p[0] == 0xEF && m_p[1] == 0xBB && m_p[2] == 0xBF)
        m_p += 3; // a byte-order mark
    skipSpace();
    QVariant result;
    bool ok;
    if (m_p < m_end && *m_p == '{')
        ok = object(result);
    else if (m_p < m_end && *m_p == '[')
        ok = array(result);
    else
        ok = fail("the document is not an object or an array", m_p);
    if (ok) {
        skipSpace();
        if (m_p < m_end)
            ok = fail("text after the end of the document", m_p);
    }
    if (!ok) {
        if (errorText)
            *errorText = QStringLiteral("%1 at offset %2").arg(QLatin1String(m_error)).arg(m_errorAt - m_begin);
        return QVariant();
    }
    if (errorText)
        errorText->clear();
    return result;
}

bool JSONReader::value(QVariant& out)
{
    skipSpace();
    if (m_p >= m_end)
        return fail("the document ends where a value should be", m_p);
    switch (*m_p) {
    case '{':
        return object(out);
    case '[':
        return array(out);
    case '"': {
        QString text;
        if (!string(text))
            return false;
        out = QVariant(text);
        return true;
    }
    case 't':
        return literal("true", 4, QVariant(true), out);
    case 'f':
        return literal("false", 5, QVariant(false), out);
    case 'n':
        return literal("null", 4, QVariant::fromValue(nullptr), out);
    case ',':
    case ']':
    case '}':
        return fail("a value is missing", m_p);
    default:
        return number(out);
    }
}

bool JSONReader::literal(const char* word, qsizetype size, QVariant&& literalValue, QVariant& out)
{
    if (m_end - m_p < size || std::memcmp(m_p, word, size_t(size)) != 0)
        return fail("invalid value", m_p);
    m_p += size;
    out = std::move(literalValue);
    return true;
}

bool JSONReader::open(uchar close, Next* next)
{
    const uchar* at = m_p++;
    if (++m_depth > kMaximumDepth)
        return fail("objects and arrays nested too deep", at);
    skipSpace();
    *next = m_p < m_end && *m_p == close ? Next::Closed : Next::More;
    if (*next == Next::Closed) {
        ++m_p;
        --m_depth;
    }
    return true;
}

JSONReader::Next JSONReader::afterItem(const uchar* at, uchar close)
{
    const bool object = close == '}';
    skipSpace();
    if (m_p >= m_end) {
        fail(object ? "unterminated object" : "unterminated array", at);
        return Next::Failed;
    }
    if (*m_p == close) {
        ++m_p;
        --m_depth;
        return Next::Closed;
    }
    if (*m_p != ',') {
        fail(object ? "a ',' or '}' is missing after a member" : "a ',' or ']' is missing after an item", m_p);
        return Next::Failed;
    }
    ++m_p;
    return Next::More;
}

bool JSONReader::object(QVariant& out)
{
    const uchar* at = m_p;
    Next next;
    if (!open('}', &next))
        return false;
    // Filled as std::map and handed over whole: QMap would copy every value in.
    std::map<QString, QVariant> members;
    while (next == Next::More) {
        skipSpace();
        if (m_p >= m_end)
            return fail("unterminated object", at);
        if (*m_p != '"')
            return fail("a member name in quotes is missing", m_p);
        QString key;
        if (!name(key))
            return false;
        skipSpace();
        if (m_p >= m_end || *m_p != ':')
            return fail("the ':' after a member name is missing", m_p);
        ++m_p;
        // A repeated name keeps its last value.
        if (!value(members[std::move(key)]))
            return false;
        next = afterItem(at, '}');
    }
    if (next == Next::Failed)
        return false;
    out = QVariant(QVariantMap(std::move(members)));
    return true;
}

bool JSONReader::array(QVariant& out)
{
    const uchar* at = m_p;
    Next next;
    if (!open(']', &next))
        return false;
    QVariantList items;
    while (next == Next::More) {
        if (!value(items.emplaceBack()))
            return false;
        next = afterItem(at, ']');
    }
    if (next == Next::Failed)
        return false;
    out = QVariant(items);
    return true;
}

// A member name; `m_p` is at its opening quote.
bool JSONReader::name(QString& out)
{
    const uchar* start = m_p + 1;
    const uchar* stop = scanPlainText(start, m_end);
    if (stop < m_end && *stop == '"') {
        out = m_names.name(start, stop - start);
        m_p = stop + 1;
        return true;
    }
    return escapedString(start, out);
}

// A string value; `m_p` is at its opening quote.
bool JSONReader::string(QString& out)
{
    const uchar* start = m_p + 1;
    const uchar* stop = scanPlainText(start, m_end);
    if (stop < m_end && *stop == '"') {
        out = QString::fromLatin1(reinterpret_cast<const char*>(start), stop - start);
        m_p = stop + 1;
        return true;
    }
    return escapedString(start, out);
}

// A string with escapes or non-ASCII text, from just past its opening quote.
bool JSONReader::escapedString(const uchar* start, QString& out)
{
    // Find the closing quote first: the text is never longer in UTF-16 units than in bytes.
    const uchar* close = start;
    for (;;) {
        close = scanPlainText(close, m_end);
        if (close >= m_end)
            return fail("unterminated string", start - 1);
        if (*close == '"')
            break;
        if (*close == '\\') {
            if (m_end - close < 2)
                return fail("unterminated string", start - 1);
            close += 2; // whatever follows a backslash is escaped, a quote included
        } else {
            ++close;
        }
    }

    out = QString(close - start, Qt::Uninitialized);
    char16_t* const first = reinterpret_cast<char16_t*>(out.data());
    char16_t* units = first;
    for (const uchar* p = start; p < close;) {
        const uchar c = *p;
        if (c < 0x80 && c != '\\') {
            *units++ = c;
            ++p;
        } else if (c == '\\') {
            const uchar escaped = p[1];
            p += 2;
            switch (escaped) {
            case 'b': *units++ = 0x08; break;
            case 'f': *units++ = 0x0C; break;
            case 'n': *units++ = 0x0A; break;
            case 'r': *units++ = 0x0D; break;
            case 't': *units++ = 0x09; break;
            case 'u': {
                // One UTF-16 unit per escape: a surrogate pair is two escapes, and a lone
                // surrogate stays what it is.
                if (close - p < 4)
                    return fail("invalid escape sequence", p - 2);
                char16_t unit = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexValue(p[i]);
                    if (digit < 0)
                        return fail("invalid escape sequence", p - 2);
                    unit = char16_t((unit << 4) | digit);
                }
                *units++ = unit;
                p += 4;
                break;
            }
            default:
                // '"', '\\', '/' and, leniently, any other byte stand for themselves.
                *units++ = escaped;
                break;
            }
        } else {
            char32_t code;
            const int length = decodeUTF8(p, close, &code);
            if (!length)
                return fail("invalid UTF-8 in a string", p);
            p += length;
            if (code > 0xFFFF) {
                *units++ = char16_t(0xD800 + ((code - 0x10000) >> 10));
                *units++ = char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
            } else {
                *units++ = char16_t(code);
            }
        }
    }
    out.truncate(units - first);
    m_p = close + 1;
    return true;
}

bool JSONReader::number(QVariant& out)
{
    // The shape first: [-] (0 | digits) [. digits] [e|E [+|-] digits], any part may come
    // out empty and is judged below.
    const uchar* start = m_p;
    const uchar* p = start;
    const bool negative = p < m_end && *p == '-';
    if (negative)
        ++p;
    const uchar* digits = p;
    if (p < m_end && *p == '0') {
        ++p;
    } else {
        while (p < m_end && isDigit(*p))
            ++p;
    }
    const uchar* digitsEnd = p;
    bool integral = true;
    if (p < m_end && *p == '.') {
        integral = false;
        ++p;
        while (p < m_end && isDigit(*p))
            ++p;
    }
    if (p < m_end && (*p == 'e' || *p == 'E')) {
        integral = false;
        ++p;
        if (p < m_end && (*p == '+' || *p == '-'))
            ++p;
        while (p < m_end && isDigit(*p))
            ++p;
    }
    if (p >= m_end)
        return fail("the document ends in a number", start);

    if (integral && digitsEnd > digits) {
        // Exact when it fits in 64 bits; larger magnitudes go the double way below.
        quint64 magnitude = 0;
        bool overflow = false;
        for (const uchar* d = digits; d < digitsEnd && !overflow; ++d)
            overflow = __builtin_mul_overflow(magnitude, 10u, &magnitude)
                || __builtin_add_overflow(magnitude, quint64(*d - '0'), &magnitude);
        constexpr quint64 largest = quint64(std::numeric_limits<qint64>::max());
        if (!overflow && magnitude <= largest + (negative ? 1 : 0)) {
            m_p = p;
            out = QVariant(qlonglong(negative ? 0 - magnitude : magnitude));
            return true;
        }
    }

    double parsed = 0;
    const auto [used, status] =
        std::from_chars(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(p), parsed);
    if (status == std::errc::result_out_of_range)
        return fail("number out of range", start);
    if (status != std::errc() || used != reinterpret_cast<const char*>(p))
        return fail("invalid number", start);
    m_p = p;
    qint64 whole;
    if (wholeNumber(parsed, &whole))
        out = QVariant(qlonglong(whole));
    else
        out = QVariant(parsed);
    return true;
}

} // namespace

QVariant LegacyJSONParse(const QByteArray& data, QString* errorText)
{
    JSONReader reader(data);
    QString why;
    QVariant result = reader.document(errorText ? &why : nullptr);
    if (errorText) {
        if (!result.isValid() && data.trimmed().isEmpty())
            why = QStringLiteral("empty JSON document");
        *errorText = why;
    }
    return result;
}
