#include "model/KRJSON.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariantList>
#include <QVariantMap>

#include <simdjson.h>

#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// simdjson finds the structure and checks the text (UTF-8, strings, escapes, numbers); this
// file turns what it finds into the value tree and words its refusals. The reader is strict
// JSON, as the platform's own reader is: unknown escapes, raw control characters in strings,
// lone UTF-16 surrogates and numbers that start or end with their decimal point are refused.
// Beyond strict JSON it keeps what replies rely on:
// - a leading UTF-8 byte-order mark is skipped;
// - every number that has a whole value within the signed 64-bit range becomes an integer
//   (12.0 and 1e3 included), exactly when written as an integer, otherwise through the
//   nearest double; an integer beyond the 64-bit range becomes the nearest double;
// - a number that only has a value beyond the double range, or that rounds to zero from
//   non-zero digits, is refused.

namespace {

using simdjson::error_code;
namespace ondemand = simdjson::ondemand;

// Hostile nesting must not exhaust the stack. The same depth the platform's reader allows.
constexpr int kMaximumDepth = 1024;

// simdjson's own depth limit sits above the reader's, which refuses first (debug builds of
// simdjson assert on passing their own).
constexpr size_t kParserDepth = kMaximumDepth + 2;

// Parsers keep their buffers between documents; one that grew for a very large reply is
// not kept.
constexpr size_t kLargestKeptCapacity = size_t(1) << 20;

// Nor is a reader's stack of open containers that grew deeper than replies nest.
constexpr size_t kKeptLevels = 64;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Every character of a string or member name, a leading U+FEFF included: QString::fromUtf8
// drops one as a byte-order mark, which would merge "\uFEFFm" with "m".
QString textOf(std::string_view bytes)
{
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return QChar(0xFEFF) + textOf(bytes.substr(3));
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
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

QVariant numberValue(double value)
{
    qint64 whole;
    return wholeNumber(value, &whole) ? QVariant(qlonglong(whole)) : QVariant(value);
}

// The end of the longest prefix of `p` shaped like a JSON number, or nullptr when even that
// prefix is malformed (no digits, or a '.' or exponent without digits).
const char* numberShapeEnd(const char* p, const char* end)
{
    if (p < end && *p == '-')
        ++p;
    if (p >= end || !isDigit(*p))
        return nullptr;
    if (*p == '0') {
        ++p;
    } else {
        while (p < end && isDigit(*p))
            ++p;
    }
    if (p < end && *p == '.') {
        if (++p >= end || !isDigit(*p))
            return nullptr;
        while (p < end && isDigit(*p))
            ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (p >= end || !isDigit(*p))
            return nullptr;
        while (p < end && isDigit(*p))
            ++p;
    }
    return p;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The length of the well-formed UTF-8 sequence at `p` (no overlong forms, no surrogates,
// nothing past U+10FFFF), or 0 when the bytes are not one.
int utf8Length(const uchar* p, const uchar* end)
{
    const uchar lead = p[0];
    int length;
    uchar low = 0x80, high = 0xBF; // the range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// A refusal: what is wrong and the byte offset where.
struct Fault {
    const char* what = nullptr;
    qsizetype at = 0;
};

// simdjson says what is wrong with a document's text but not where. This walk over the text
// finds the first fault of the kinds simdjson reports without a place (bad UTF-8, a string
// left open, a raw control character, an escape that is no escape), and where the top-level
// value ends. Only refused documents are walked.
class TextSurvey {
public:
    TextSurvey(const char* begin, const char* end)
        : m_begin(reinterpret_cast<const uchar*>(begin))
        , m_end(reinterpret_cast<const uchar*>(end))
    {
        walk();
    }
    // The first fault in the text, if any.
    const std::optional<Fault>& fault() const { return m_fault; }
    // The offset just past the top-level object or array, or -1 when it never closes.
    qsizetype rootEnd() const { return m_rootEnd; }

private:
    void walk()
    {
        int depth = 0;
        for (const uchar* p = m_begin; p < m_end && !m_fault;) {
            const uchar c = *p;
            if (c == '"') {
                p = string(p);
                continue;
            }
            if (c >= 0x80) {
                const int length = utf8Length(p, m_end);
                if (!length) {
                    setFault("invalid UTF-8", p);
                    return;
                }
                p += length;
                continue;
            }
            if (c == '[' || c == '{') {
                ++depth;
            } else if ((c == ']' || c == '}') && depth > 0 && --depth == 0 && m_rootEnd < 0) {
                m_rootEnd = p + 1 - m_begin;
            }
            ++p;
        }
    }

    // Past the string whose opening quote is at `open`.
    const uchar* string(const uchar* open)
    {
        const uchar* pendingHigh = nullptr; // a high surrogate escape still waiting for its low half
        for (const uchar* p = open + 1; p < m_end;) {
            const uchar c = *p;
            if (pendingHigh && c != '\\')
                return setFault("invalid escape sequence", pendingHigh);
            if (c == '"')
                return p + 1;
            if (c < 0x20)
                return setFault("unescaped control character in a string", p);
            if (c >= 0x80) {
                const int length = utf8Length(p, m_end);
                if (!length)
                    return setFault("invalid UTF-8 in a string", p);
                p += length;
                continue;
            }
            if (c != '\\') {
                ++p;
                continue;
            }
            if (m_end - p < 2)
                break;
            const uchar escaped = p[1];
            if (escaped != 'u') {
                if (pendingHigh || !std::memchr("\"\\/bfnrt", escaped, 8))
                    return setFault("invalid escape sequence", pendingHigh ? pendingHigh : p);
                p += 2;
                continue;
            }
            unsigned unit = 0;
            for (int i = 2; i < 6; ++i) {
                const int digit = p + i < m_end ? hexValue(char(p[i])) : -1;
                if (digit < 0)
                    return setFault("invalid escape sequence", p);
                unit = unit << 4 | unsigned(digit);
            }
            const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
            if (pendingHigh ? !low : low)
                return setFault("invalid escape sequence", pendingHigh ? pendingHigh : p);
            pendingHigh = high ? p : nullptr;
            p += 6;
        }
        return setFault("unterminated string", open);
    }

    const uchar* setFault(const char* what, const uchar* at)
    {
        m_fault = Fault{what, at - m_begin};
        return m_end;
    }

    const uchar* const m_begin;
    const uchar* const m_end;
    std::optional<Fault> m_fault;
    qsizetype m_rootEnd = -1;
};

// Every item of a reply repeats the same few dozen member names: one shared string each.
class NameCache {
public:
    QString name(std::string_view bytes)
    {
        if (bytes.size() > kLongestName)
            return textOf(bytes);
        quint32 hash = quint32(bytes.size());
        for (char c : bytes)
            hash = hash * 31 + uchar(c);
        Entry& entry = m_entries[(hash ^ (hash >> 9)) % kSlots];
        if (entry.name.isNull() || entry.bytes != bytes) {
            entry.bytes = bytes;
            entry.name = textOf(bytes);
        }
        return entry.name;
    }

private:
    static constexpr size_t kLongestName = 40;
    static constexpr int kSlots = 256;
    struct Entry {
        std::string_view bytes; // into the text or the parser's buffer, which outlive the cache
        QString name;
    };
    Entry m_entries[kSlots];
};

class Reader {
public:
    Reader(const char* begin, const char* end) : m_begin(begin), m_end(end) {}

    // The document, or an invalid value with the fault.
    QVariant read(ondemand::parser& parser, const simdjson::padded_string_view& text, Fault* fault);

private:
    // Where a value stands, for wording what is missing around it.
    enum class Container { None, Array, Object };

    // An object or array being filled, its iteration where it stands.
    struct Open {
        Container kind = Container::None;
        QVariant* slot = nullptr; // where the finished container goes: a parent's item or member, or the result
        ondemand::array_iterator item;
        ondemand::object_iterator member;
        QVariantList items;
        std::map<QString, QVariant> members; // handed over whole: QMap would copy every value in
    };

    bool tree(ondemand::value& root, ondemand::json_type type, QVariant& out);
    bool fill(ondemand::value& root, ondemand::json_type type, QVariant& out);
    enum class Step { Descended, Finished, Failed };
    Step fillArray(Open& top);
    Step fillObject(Open& top);
    bool open(ondemand::value& v, ondemand::json_type type, QVariant& slot);
    Open& push();
    void close();
    bool scalar(ondemand::value& v, ondemand::json_type type, QVariant& out, Container in);
    bool number(ondemand::value& v, QVariant& out, Container in);
    bool numberFromText(std::string_view token, QVariant& out, Container in);

    bool fail(const char* what, const char* at)
    {
        m_fault = Fault{what, at - m_begin};
        return false;
    }
    bool fail(const char* what, qsizetype at)
    {
        m_fault = Fault{what, at};
        return false;
    }
    // A refusal simdjson reported, worded from where reading stopped and what it was inside.
    bool failAt(error_code error, Container in);
    const char* location(ondemand::document& doc);
    // The last byte before `at` that is not space, or 0.
    char byteBefore(const char* at) const
    {
        while (at > m_begin && isSpace(at[-1]))
            --at;
        return at > m_begin ? at[-1] : 0;
    }

    const char* const m_begin;
    const char* const m_end;
    ondemand::document* m_doc = nullptr;
    Fault m_fault;
    NameCache m_names;
    // The containers from the root down to the one being filled: the first m_depth entries.
    // Kept here rather than on the call stack: replies are read on worker threads, whose
    // stacks are not made for nesting at the depth the reader allows. The entries are kept,
    // emptied, for the next container at their level and, one set per thread, for the next
    // document, so that opening a container allocates nothing.
    static thread_local std::vector<Open> t_open;
    std::vector<Open>& m_open = t_open;
    size_t m_depth = 0;
    Open& innermost() { return m_open[m_depth - 1]; }
};

thread_local std::vector<Reader::Open> Reader::t_open;

QVariant Reader::read(ondemand::parser& parser, const simdjson::padded_string_view& text, Fault* fault)
{
    ondemand::document doc;
    m_doc = &doc;
    QVariant result;
    ondemand::json_type type;
    ondemand::value root;
    if (parser.max_depth() != kParserDepth) {
        if (error_code error = parser.allocate(text.size(), kParserDepth)) {
            *fault = Fault{simdjson::error_message(error), 0};
            return QVariant();
        }
    }
    if (error_code error = parser.iterate(text).get(doc)) {
        // Faults found before any value is read: the survey knows where.
        const TextSurvey survey(m_begin, m_end);
        m_fault = survey.fault().value_or(Fault{simdjson::error_message(error), 0});
    } else if (doc.type().get(type) || (type != ondemand::json_type::array && type != ondemand::json_type::object)) {
        fail("the document is not an object or an array", location(doc));
    } else if (error_code error = doc.get_value().get(root)) {
        failAt(error, Container::None);
    } else if (tree(root, type, result)) {
        const char* trailing = location(doc);
        if (trailing >= m_end)
            return result;
        fail("text after the end of the document", trailing);
    }
    *fault = m_fault;
    return QVariant();
}

const char* Reader::location(ondemand::document& doc)
{
    const char* at = nullptr;
    if (doc.current_location().get(at) || !at)
        return m_end;
    return at;
}

bool Reader::failAt(error_code error, Container in)
{
    ondemand::document& doc = *m_doc;
    if (error == simdjson::STRING_ERROR || error == simdjson::UNCLOSED_STRING) {
        const TextSurvey survey(m_begin, m_end);
        if (survey.fault())
            return fail(survey.fault()->what, survey.fault()->at);
        return fail("invalid string", location(doc));
    }
    const char* at = location(doc);
    if (at >= m_end) {
        // The top-level value's last bracket is not its own: either it never closes or text
        // follows it.
        const TextSurvey survey(m_begin, m_end);
        if (survey.fault())
            return fail(survey.fault()->what, survey.fault()->at);
        if (survey.rootEnd() >= 0)
            return fail("text after the end of the document", survey.rootEnd());
        return fail(in == Container::Array    ? "unterminated array"
                    : in == Container::Object ? "unterminated object"
                                              : "the document ends where a value should be",
                    m_end);
    }
    const char before = byteBefore(at);
    if (in == Container::Array) // between the items of an array
        return fail("a ',' or ']' is missing after an item", at);
    if (in == Container::Object) { // between the members of an object
        if (before == ',' || before == '{')
            return fail("a member name in quotes is missing", at);
        if (before == '"' && *at != '"')
            return fail("the ':' after a member name is missing", at);
        return fail("a ',' or '}' is missing after a member", at);
    }
    if (*at == ',' || *at == ']' || *at == '}')
        return fail("a value is missing", at);
    return fail(error == simdjson::DEPTH_ERROR ? "objects and arrays nested too deep" : "invalid value", at);
}

bool Reader::tree(ondemand::value& root, ondemand::json_type type, QVariant& out)
{
    // A document refused, or left by an exception, leaves its containers behind; a hostile
    // one many of them.
    struct Tidy {
        std::vector<Open>& open;
        bool read = false;
        ~Tidy()
        {
            if (!read || open.size() > kKeptLevels)
                open.clear();
            if (open.capacity() > kKeptLevels)
                open.shrink_to_fit();
        }
    } tidy{m_open};
    m_depth = 0;
    tidy.read = fill(root, type, out);
    return tidy.read;
}

bool Reader::fill(ondemand::value& root, ondemand::json_type type, QVariant& out)
{
    if (!open(root, type, out))
        return false;
    while (m_depth > 0) {
        Open& top = innermost();
        switch (top.kind == Container::Array ? fillArray(top) : fillObject(top)) {
        case Step::Failed:
            return false;
        case Step::Finished:
            close();
            break;
        case Step::Descended:
            break;
        }
    }
    return true;
}

// Reads the items of the innermost array to its end, or to its next object or array, which
// is opened above it. `top` is not used once that is done: the stack may have moved.
Reader::Step Reader::fillArray(Open& top)
{
    // simdjson's iterators are their own end: they compare unequal while the array is open.
    for (ondemand::array_iterator it = top.item; it != it; ++it) {
        auto item = *it;
        if (error_code error = item.error())
            return failAt(error, Container::Array), Step::Failed;
        ondemand::value& v = item.value_unsafe();
        ondemand::json_type type;
        if (error_code error = v.type().get(type))
            return failAt(error, Container::None), Step::Failed;
        QVariant& slot = top.items.emplaceBack();
        if (type == ondemand::json_type::array || type == ondemand::json_type::object) {
            top.item = it; // moved past once the inner one closes
            return open(v, type, slot) ? Step::Descended : Step::Failed;
        }
        if (!scalar(v, type, slot, Container::Array))
            return Step::Failed;
    }
    return Step::Finished;
}

// As fillArray, for the members of the innermost object.
Reader::Step Reader::fillObject(Open& top)
{
    for (ondemand::object_iterator it = top.member; it != it; ++it) {
        auto field = *it;
        if (error_code error = field.error())
            return failAt(error, Container::Object), Step::Failed;
        // A name without escapes is taken from the text as it stands (simdjson has checked its
        // UTF-8 and characters); only one with escapes is decoded.
        std::string_view key;
        ondemand::field& member = field.value_unsafe();
        const char* name = member.key().raw();
        const char* stop = name;
        while (stop < m_end && *stop != '"' && *stop != '\\')
            ++stop;
        if (stop < m_end && *stop == '"')
            key = std::string_view(name, size_t(stop - name));
        else if (error_code error = member.unescaped_key().get(key))
            return failAt(error, Container::Object), Step::Failed;
        ondemand::value& v = member.value();
        ondemand::json_type type;
        if (error_code error = v.type().get(type))
            return failAt(error, Container::None), Step::Failed;
        // A repeated name keeps its last value.
        QVariant& slot = top.members[m_names.name(key)];
        if (type == ondemand::json_type::array || type == ondemand::json_type::object) {
            top.member = it;
            return open(v, type, slot) ? Step::Descended : Step::Failed;
        }
        if (!scalar(v, type, slot, Container::Object))
            return Step::Failed;
    }
    return Step::Finished;
}

// Starts filling the object or array `v`; the finished container goes to `slot`. The items and
// members of a container keep their addresses while the stack grows (QList and std::map
// move their storage whole), so a slot stays valid until its container is closed.
bool Reader::open(ondemand::value& v, ondemand::json_type type, QVariant& slot)
{
    if (m_depth >= size_t(kMaximumDepth))
        return fail("objects and arrays nested too deep", location(*m_doc));
    if (type == ondemand::json_type::array) {
        ondemand::array items;
        if (error_code error = v.get_array().get(items))
            return failAt(error, Container::Array);
        Open& opened = push();
        opened.kind = Container::Array;
        opened.slot = &slot;
        if (error_code error = items.begin().get(opened.item))
            return failAt(error, Container::Array);
    } else {
        ondemand::object fields;
        if (error_code error = v.get_object().get(fields))
            return failAt(error, Container::Object);
        Open& opened = push();
        opened.kind = Container::Object;
        opened.slot = &slot;
        if (error_code error = fields.begin().get(opened.member))
            return failAt(error, Container::Object);
    }
    return true;
}

Reader::Open& Reader::push()
{
    if (m_depth == m_open.size())
        m_open.emplace_back();
    return m_open[m_depth++];
}

// Hands the innermost container, now closed, to its slot and moves its parent past it.
void Reader::close()
{
    Open& done = innermost();
    if (done.kind == Container::Array) {
        *done.slot = QVariant(std::move(done.items));
        done.items = QVariantList(); // empty for the next one whatever the move left
    } else {
        *done.slot = QVariant(QVariantMap(std::move(done.members)));
        done.members.clear();
    }
    if (--m_depth == 0)
        return;
    Open& parent = innermost();
    if (parent.kind == Container::Array)
        ++parent.item;
    else
        ++parent.member;
}

bool Reader::scalar(ondemand::value& v, ondemand::json_type type, QVariant& out, Container in)
{
    switch (type) {
    case ondemand::json_type::string: {
        // The token runs from the opening quote to the next structural character, so its last
        // byte that is not space is the closing quote. Text without escapes is taken from
        // where it stands (simdjson has checked its UTF-8 and characters); only text with
        // escapes is decoded.
        std::string_view text = v.raw_json_token();
        while (text.size() > 1 && isSpace(text.back()))
            text.remove_suffix(1);
        text = text.substr(1, text.size() - 2);
        ondemand::raw_json_string consumed;
        if (!std::memchr(text.data(), '\\', text.size()) && !v.get_raw_json_string().get(consumed)) {
            out = QVariant(textOf(text));
            return true;
        }
        if (error_code error = v.get_string().get(text))
            return failAt(error, Container::None);
        out = QVariant(textOf(text));
        return true;
    }
    case ondemand::json_type::number:
        return number(v, out, in);
    case ondemand::json_type::boolean: {
        bool flag;
        if (error_code error = v.get_bool().get(flag))
            return failAt(error, Container::None);
        out = QVariant(flag);
        return true;
    }
    case ondemand::json_type::null: {
        bool null = false;
        if (v.is_null().get(null) || !null)
            return failAt(simdjson::N_ATOM_ERROR, Container::None);
        out = QVariant::fromValue(nullptr);
        return true;
    }
    case ondemand::json_type::array:
    case ondemand::json_type::object:
        break; // the tree's to open, not a scalar's
    }
    return failAt(simdjson::TAPE_ERROR, Container::None);
}

bool Reader::number(ondemand::value& v, QVariant& out, Container in)
{
    ondemand::number parsed;
    if (v.get_number().get(parsed))
        return numberFromText(v.raw_json_token(), out, in);
    switch (parsed.get_number_type()) {
    case ondemand::number_type::signed_integer:
        out = QVariant(qlonglong(parsed.get_int64()));
        return true;
    case ondemand::number_type::unsigned_integer:
        out = QVariant(double(parsed.get_uint64()));
        return true;
    case ondemand::number_type::floating_point_number:
        break;
    }
    // simdjson gives 0 for a number that underflows and for one with more than 19 significant
    // digits (its slow road writes the value elsewhere): the text decides.
    const double value = parsed.get_double();
    if (value == 0)
        return numberFromText(v.raw_json_token(), out, in);
    out = numberValue(value);
    return true;
}

// A number simdjson would not read or read as 0: an integer beyond 64 bits becomes the nearest
// double, a long or tiny one is read again here, and text that is no number is described as
// the platform's reader describes it.
bool Reader::numberFromText(std::string_view token, QVariant& out, Container in)
{
    const char* start = token.data();
    const char* tokenEnd = start + token.size();
    const char* end = numberShapeEnd(start, tokenEnd);
    if (!end)
        return fail("invalid number", start);
    if (end < tokenEnd && !isSpace(*end))
        return fail(in == Container::Array ? "a ',' or ']' is missing after an item" : "a ',' or '}' is missing after a member",
                    end);
    double value = 0;
    const auto [used, status] = std::from_chars(start, end, value);
    if (status == std::errc::result_out_of_range)
        return fail("number out of range", start);
    if (status != std::errc() || used != end)
        return fail("invalid number", start);
    out = numberValue(value);
    return true;
}

// simdjson reads up to SIMDJSON_PADDING bytes past the text. A byte array with that much
// room after its bytes is read in place; any other is copied into a padded buffer.
simdjson::padded_string_view paddedView(const QByteArray& data, qsizetype skip, simdjson::padded_string& copy)
{
    const size_t size = size_t(data.size() - skip);
    QByteArray shared = data; // data_ptr() has no const form; a shared copy does not detach
    if (shared.data_ptr().freeSpaceAtEnd() >= qsizetype(simdjson::SIMDJSON_PADDING))
        return simdjson::padded_string_view(data.constData() + skip, size, size + simdjson::SIMDJSON_PADDING);
    copy = simdjson::padded_string(data.constData() + skip, size);
    return copy;
}

} // namespace

QVariant KRJSONParse(const QByteArray& data, QString* errorText)
{
    thread_local ondemand::parser keptParser;
    std::optional<ondemand::parser> ownParser;
    ondemand::parser* parser = &keptParser;
    if (size_t(data.size()) > kLargestKeptCapacity)
        parser = &ownParser.emplace();

    const qsizetype skip = data.startsWith("\xEF\xBB\xBF") && data.size() > 3 ? 3 : 0; // a byte-order mark
    simdjson::padded_string copy;
    const simdjson::padded_string_view text = paddedView(data, skip, copy);
    Reader reader(text.data(), text.data() + text.size());
    Fault fault;
    QVariant result = reader.read(*parser, text, &fault);
    fault.at += skip;
    if (errorText) {
        if (result.isValid())
            errorText->clear();
        else if (data.trimmed().isEmpty())
            *errorText = QStringLiteral("empty JSON document");
        else
            *errorText = QStringLiteral("%1 at offset %2").arg(QLatin1String(fault.what)).arg(fault.at);
    }
    return result;
}

QByteArray KRJSONData(const QVariant& value)
{
    const QJsonValue json = QJsonValue::fromVariant(value);
    if (json.isObject())
        return QJsonDocument(json.toObject()).toJson(QJsonDocument::Compact);
    if (json.isArray())
        return QJsonDocument(json.toArray()).toJson(QJsonDocument::Compact);
    // Scalars: write a one-element array and take the element's text.
    const QByteArray wrapped = QJsonDocument(QJsonArray{json}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

KRError KRJSONReaderError(const QString& detail)
{
    return KRError(QStringLiteral("NSCocoaErrorDomain"), 3840, QStringLiteral("未能读取数据，因为它的格式不正确。"),
                   {{QStringLiteral("NSDebugDescription"), detail}});
}
