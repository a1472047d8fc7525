// The JSON reader against QJsonDocument and its conversion to QVariant: the same values of the
// same types made, the same documents refused, except where QJsonDocument is lenient and the
// reader is strict JSON (unknown escapes, raw control characters, lone surrogates, numbers
// that start or end with their decimal point). Then the edges that matter to replies pinned
// on their own.
#include "model/KRJSON.h"
#include "support/ServiceFixtures.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

QVariant referenceParse(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return {};
    return document.isObject() ? QVariant(document.object().toVariantMap()) : QVariant(document.array().toVariantList());
}

std::string printable(const QByteArray& data)
{
    const QByteArray shown = data.size() > 160 ? data.left(160) + "…" : data;
    return QString::fromLatin1(shown.toPercentEncoding(" {}[]:,\"-+.")).toStdString();
}

// A type-strict picture of a value tree: L integer, D double (every bit: %.17g round-trips),
// strings with every unit outside printable ASCII (and quote and backslash) as \uXXXX.
QString dump(const QVariant& v)
{
    auto text = [](const QString& s) {
        if (s.isNull())
            return QStringLiteral("<null>");
        QString out = QStringLiteral("\"");
        for (QChar c : s) {
            const bool plain = c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'"' && c != u'\\';
            out += plain ? QString(c) : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
        return out + QLatin1Char('"');
    };
    QStringList parts;
    switch (v.typeId()) {
    case QMetaType::QVariantMap:
        for (const auto& [key, value] : v.toMap().asKeyValueRange())
            parts << text(key) + QLatin1Char(':') + dump(value);
        return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
    case QMetaType::QVariantList:
        for (const QVariant& item : v.toList())
            parts << dump(item);
        return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
    case QMetaType::QString: return text(v.toString());
    case QMetaType::LongLong: return QLatin1Char('L') + QString::number(v.toLongLong());
    case QMetaType::Double: return QLatin1Char('D') + QString::asprintf("%.17g", v.toDouble());
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Nullptr: return QStringLiteral("null");
    default: return QStringLiteral("?") + QLatin1String(v.typeName());
    }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether the text uses what QJsonDocument tolerates and JSON does not: inside strings an
// unknown escape, a raw control character or a \u escape of a lone surrogate; outside them a
// decimal point without a digit on either side.
bool usesLeniency(const QByteArray& data)
{
    bool inString = false;
    bool highPending = false; // a high surrogate escape waiting for its low half
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (!inString) {
            if (c == '"')
                inString = true;
            else if (c == '.' && (i == 0 || !isDigit(data[i - 1]) || i + 1 == data.size() || !isDigit(data[i + 1])))
                return true;
            continue;
        }
        const bool escapedUnit = c == '\\' && data.mid(i + 1, 1) == "u" && data.size() >= i + 6
            && std::all_of(data.begin() + i + 2, data.begin() + i + 6, isHex);
        const uint unit = escapedUnit ? data.mid(i + 2, 4).toUInt(nullptr, 16) : 0;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (highPending != low)
            return true;
        highPending = unit >= 0xD800 && unit <= 0xDBFF;
        if (uchar(c) < 0x20)
            return true;
        if (c == '"') {
            inString = false;
        } else if (c == '\\') {
            if (i + 1 < data.size() && !std::memchr("\"\\/bfnrtu", data[i + 1], 9))
                return true;
            i += escapedUnit ? 5 : 1;
        }
    }
    return false;
}

// Returns whether the document was accepted.
bool expectSameAsReference(const QByteArray& data)
{
    QString error = QStringLiteral("stale");
    const QVariant ours = KRJSONParse(data, &error);
    const QVariant lenientReference = referenceParse(data);
    const bool lenient = usesLeniency(data);
    EXPECT_FALSE(lenient && ours.isValid()) << printable(data);
    const QVariant reference = lenient ? QVariant() : lenientReference;
    EXPECT_EQ(ours.isValid(), reference.isValid()) << printable(data) << " — " << error.toStdString();
    if (ours.isValid() && reference.isValid()) {
        EXPECT_EQ(dump(ours).toStdString(), dump(reference).toStdString()) << printable(data);
        EXPECT_TRUE(error.isEmpty()) << printable(data);
    } else if (!ours.isValid()) {
        EXPECT_TRUE(error.contains(QLatin1String("offset")) || error == QLatin1String("empty JSON document"))
            << printable(data) << " — " << error.toStdString();
    }
    return ours.isValid();
}

// Random documents from a small grammar over everything JSON allows and, rarely, leniencies
// JSON refuses. Upper-case letters expand; '~' is random white space, '#' a digit, '@' a digit
// other than 0, '^' a hex digit of either case, '$' any scalar value in UTF-8, '`' a raw
// control character, '&' a letter; everything else stands for itself.
class DocumentWriter {
public:
    explicit DocumentWriter(unsigned seed) : m_random(seed) {}
    int pick(int n) { return int(m_random() % unsigned(n)); }
    QByteArray document()
    {
        QByteArray out;
        expand('D', 0, out);
        return out;
    }

private:
    void expand(char symbol, int depth, QByteArray& out)
    {
        static const std::map<char, std::vector<const char*>> rules = {
            {'D', {"~O~", "~A~"}},
            // Values; containers (the last two) only down to a depth of seven.
            {'V', {"S", "N", "N", "true", "false", "null", "O", "A"}},
            {'O', {"{~}", "{M~}", "{M~}"}}, {'M', {"~K~:~V~", "~K~:~V~,M", "~K~:~V~,M", "~K~:~V~,M"}},
            {'K', {"\"aid\"", "\"title\"", "\"owner\"", "\"\"", "\"\\u0061id\"", "\"名字\"", "S"}},
            {'A', {"[~]", "[L~]", "[L~]"}}, {'L', {"~V~", "~V~,L", "~V~,L", "~V~,L"}},
            // One string in twelve holds what only a lenient reader takes (Q).
            {'S', {"\"T\"", "\"TQT\""}},
            {'T', {"", "PT", "PPT"}},
            {'P', {"&", "&&&&", "&&&&&&&&&&", "\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u^^^^",
                   "\\u0000", "\\u001f", "\\uffff", "\\ud83d\\ude00", "$", "$$"}},
            {'Q', {"\\q", "\\x", "\\ud800", "\\udbff", "\\udc00", "\\udfff", "\\ud800\\u0041", "`"}},
            {'N', {"I", "-I", "I.F", "-I.F", "I.000", "IX", "I.FX", "9223372036854775807", "-9223372036854775808",
                   "9223372036854775808", "-9223372036854775809", "18446744073709551616", "9007199254740993",
                   "9007199254740993.0", "1e308", "1.7976931348623157e308", "4.9e-324", "2.2250738585072014e-308", "-0",
                   "0", "-0.0", "1e-7", "123456789012345678901234567890", "@#################"}},
            {'I', {"@", "@F"}}, {'F', {"#", "#F", "##F"}},
            {'X', {"eY", "EY", "e+Y", "e-Y", "E-Y"}}, {'Y', {"#", "##", "@##"}},
        };
        const std::vector<const char*>& alternatives = rules.at(symbol);
        const int choices = symbol == 'V' && depth > 6 ? 6 : int(alternatives.size());
        if (symbol == 'O' || symbol == 'A')
            ++depth;
        const int choice = symbol == 'S' ? pick(12) == 0 : pick(choices);
        for (const char* p = alternatives[size_t(choice)]; *p; ++p) {
            switch (*p) {
            case '~':
                while (pick(4) == 0)
                    out += " \t\n\r"[pick(4)];
                break;
            case '#': out += char('0' + pick(10)); break;
            case '@': out += char('1' + pick(9)); break;
            case '^': out += "0123456789abcdefABCDEF"[pick(22)]; break;
            case '`': out += char(pick(0x20)); break;
            case '&': out += char('a' + pick(26)); break;
            case '$': {
                char32_t code = char32_t(pick(4) ? pick(0x800) : pick(0x110000));
                if (code >= 0xD800 && code <= 0xDFFF)
                    code = 0xFFFD;
                out += QString::fromUcs4(&code, 1).toUtf8();
                break;
            }
            default:
                if (*p >= 'A' && *p <= 'Z' && *p != 'E')
                    expand(*p, depth, out);
                else
                    out += *p;
            }
        }
    }

    std::mt19937 m_random;
};

// A damaged copy: bytes deleted, inserted, replaced or the text cut short.
QByteArray damaged(QByteArray data, DocumentWriter& random)
{
    static const char alphabet[] = "{}[]\",:\\0123456789.-+eE tfnu\x80\xbf\xc0\xc1\xc3\xe0\xe4\xed\xf0\xf4\xf5\xff\x01";
    for (int edits = 1 + random.pick(2); edits > 0 && !data.isEmpty(); --edits) {
        const qsizetype at = random.pick(int(data.size()));
        const char byte = alphabet[random.pick(int(sizeof alphabet) - 1)];
        switch (random.pick(4)) {
        case 0: data.remove(at, 1); break;
        case 1: data.insert(at, byte); break;
        case 2: data[at] = byte; break;
        default: data.truncate(at); break;
        }
    }
    return data;
}

QByteArray nested(int depth, bool objects, const char* leaf = "1")
{
    return QByteArray(objects ? "{\"a\":" : "[").repeated(depth) + leaf + QByteArray(objects ? "}" : "]").repeated(depth);
}

} // namespace

// Every document agrees with QJsonDocument. Where an outcome is given it is pinned as well, so
// that it holds whatever the reference does: the value tree (ids past 2^53 stay exact, whole
// numbers become integers, text keeps every UTF-16 unit) or, after '!', part of the error.
TEST(JSONReader, HandPickedDocuments)
{
    const struct { QByteArray json, outcome = {}; } cases[] = {
        {"[9223372036854775807, -9223372036854775808, 9007199254740993, -0]",
         "[L9223372036854775807,L-9223372036854775808,L9007199254740993,L0]"},
        // 2^63 has no signed 64-bit form; the nearest double of −2^63 − 1 is −2^63, whole and in range.
        {"[9223372036854775808, -9223372036854775809, 18446744073709551616]",
         "[D9.2233720368547758e+18,L-9223372036854775808,D1.8446744073709552e+19]"},
        // Written with a fraction or exponent a number goes through the double (2^53 + 1 has none).
        {"[9007199254740993.0, 1e3, 1E+2, 1.5e3, 12.0, 0e999]", "[L9007199254740992,L1000,L100,L1500,L12,L0]"},
        {"[0.5, 1.5e-3, -2.5E-1, 0.1, 1e300]", "[D0.5,D0.0015,D-0.25,D0.10000000000000001,D1.0000000000000001e+300]"},
        {"[1.7976931348623157e308, 4.9e-324]", "[D1.7976931348623157e+308,D4.9406564584124654e-324]"},
        // More than 19 significant digits: still the nearest double.
        {"[69047.7370660731620124231, 3.14159265358979323846264338327950288, 1.00000000000000000000000001e2]",
         "[D69047.737066073169,D3.1415926535897931,L100]"},
        // Beyond the double range, or rounding to nothing from real digits: refused, not inf or 0.
        {"[1e309]", "!number out of range"}, {"[-1e309]", "!number out of range"}, {"[1e-400]", "!number out of range"},
        {"[2e-324]", "!number out of range"}, {"[1e99999999999999999999]", "!number out of range"},
        {"[1.7976931348623159e308]", "!number out of range"},
        {"[01]", "!missing after an item"}, {"[-]", "!invalid"}, {"[1e]", "!invalid"}, {"[1e+]", "!invalid"},
        {"[+1]", "!invalid"}, {"[.]", "!invalid"}, {"[1.2.3]", "!missing after an item"}, {"[0x1]", "!missing after an item"},
        {"[NaN]", "!invalid"}, {"[-Infinity]", "!invalid"},
        // A decimal point needs a digit on both sides.
        {"[1.]", "!invalid number at offset 1"}, {"[1.e5]", "!invalid number"}, {"[.5]", "!invalid value at offset 1"},
        {"[-.5]", "!invalid number"},
        {"[-0.0]"}, {"[-.]"}, {"[.e1]"}, {"[1E5]"}, {"[1e400]"}, {"[-1e400]"},
        {"[0e400]"}, {"[-0e-400]"}, {"[0.0e-99999999999]"}, {"[2.5e-324]"}, {"[00]"}, {"[-01]"}, {"[1.5.3]"}, {"[1e5.5]"},
        {"[Infinity]"}, {"[--1]"}, {"[- 1]"}, {"[1e+-5]"}, {"[99999999999999999999999999999]"}, {"[1e18]"}, {"[9.3e18]"},
        {"[-9.3e18]"},
        // Escapes: a pair is one character past the basic plane; an unknown escape, a lone
        // surrogate and a raw control character are refused.
        {R"(["\"\\\/\b\f\n\r\t", "\u00e9\u4E2D"])", R"(["\u0022\u005c/\u0008\u000c\u000a\u000d\u0009","\u00e9\u4e2d"])"},
        {R"(["\ud83d\ude00", "\u0000"])", R"(["\ud83d\ude00","\u0000"])"},
        {R"(["ok", "\q"])", "!invalid escape sequence at offset 8"}, {R"(["\x"])", "!invalid escape sequence at offset 2"},
        {R"(["a\ud800b"])", "!invalid escape sequence at offset 3"}, {R"(["\ude00\ud83d"])", "!invalid escape sequence at offset 2"},
        {R"(["\ud800"])", "!invalid escape"}, {R"(["\ud800\u0041"])", "!invalid escape"}, {R"({"\q":1})", "!invalid escape"},
        {"[\"a\tb\x01\x7f\"]", "!unescaped control character in a string at offset 3"},
        {QByteArray("[\"a\0b\"]", 7), "!unescaped control character"}, {QByteArray("{\"a\0\":1}", 8), "!unescaped control character"},
        {"[\"a\\\xc3\"]", "!invalid escape"}, {"[\"a\\\xc3\xa9\"]", "!invalid escape"}, {"[\"\x7f\"]", R"(["\u007f"])"},
        {R"(["\u12"])", "!invalid escape"}, {R"(["\uzzzz"])", "!invalid escape"}, {R"(["\u"])", "!invalid escape"},
        {"[\"\\", "!unterminated string"}, {"[\"abc\\\"]", "!unterminated string"},
        {R"(["\uD834\uDD1E"])", R"(["\ud834\udd1e"])"},
        // UTF-8: good, then overlong, encoded surrogates, past U+10FFFF, cut short, stray continuation; in names too.
        {"[\"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\"]", R"(["\u00e9\u4e2d\ud83d\ude00"])"},
        {"{\"\xe5\x90\x8d\":\"\xe5\x80\xbc\", \"t\": true, \"n\": null}", R"({"n":null,"t":true,"\u540d":"\u503c"})"},
        {"[\"\xef\xbf\xbf\xf4\x8f\xbf\xbf\"]"}, {"[\"\xc1\xbf\"]"}, {"[\"\xe0\x9f\xbf\"]"}, {"[\"\xed\xbf\xbf\"]"},
        {"[\"\xf0\x8f\xbf\xbf\"]"}, {"[\"\xf0\x9f\x98\"]"},
        {"[\"\xc0\x80\"]", "!UTF-8"}, {"[\"\xe0\x80\xaf\"]", "!UTF-8"}, {"[\"\xed\xa0\x80\"]", "!UTF-8"},
        {"[\"\xf4\x90\x80\x80\"]", "!UTF-8"}, {"[\"\xf5\x80\x80\x80\"]", "!UTF-8"}, {"[\"\xc3\"]", "!UTF-8"},
        {"[\"\xe4\xb8\"]", "!UTF-8"}, {"[\"\x80\"]", "!UTF-8"}, {"[\"\xff\"]", "!UTF-8"}, {"{\"\xe5\x90\":1}", "!UTF-8"},
        // Structure: the last repeated name wins; only space may follow the document.
        {R"({"a": 1, "b": {"x": 1}, "a": [2], "b": "s"})", R"({"a":[L2],"b":"s"})"},
        {"{} \r\n\t", "{}"}, {"\xef\xbb\xbf{}", "{}"},
        {"{}}", "!text after the end of the document at offset 2"}, {"[] x", "!text after the end of the document at offset 3"},
        {QByteArray("[]\0", 3), "!text after the end"}, {"[][]", "!text after the end"}, {"{}\v", "!text after the end"},
        {"[] \xef\xbb\xbf", "!text after the end"},
        {R"({"a":01})", "!a ',' or '}' is missing after a member at offset 6"},
        {R"([1, "ab)", "!unterminated string at offset 4"}, {"\t", "!empty JSON document"},
        {" \xef\xbb\xbf[]"}, {"\xef\xbb[]"}, {"\x0c[]"}, {"\v[]"}, {"[1,]"}, {"[,]"}, {"[,1]"}, {R"({"a":1,})"},
        {R"({"b":1,"a":2,"b":3})"}, {R"({"a"})"}, {R"({1:2})"}, {R"({"a" 1})"}, {R"({"a":1 "b":2})"}, {"{,}"}, {"[nul]"},
        {"[truex]"}, {"[tru]"}, {"[true,false,null]"}, {R"({"":1})"}, {"[1 2]"}, {"[\"abc]"}, {"[[]"}, {"[]]"}, {""},
        {"[{}]"}, {" {\"a\" : [ 1 , { } ] } "}, {"5"}, {"\"s\""}, {"null"}, {"true"},
        // Hostile nesting is bounded at the depth QJsonDocument allows.
        {nested(1024, false), nested(1024, false, "L1")}, {nested(1024, true), nested(1024, true, "L1")},
        {nested(1025, false), "!nested too deep"}, {nested(1025, true), "!nested too deep"},
        {QByteArray(1000000, '['), "!nested too deep"},
    };
    for (const auto& c : cases) {
        expectSameAsReference(c.json);
        QString error;
        const std::string value = dump(KRJSONParse(c.json, &error)).toStdString();
        EXPECT_EQ(dump(KRJSONParse(c.json)).toStdString(), value) << "without an error pointer";
        if (c.outcome.startsWith('!')) {
            EXPECT_TRUE(error.contains(QLatin1String(c.outcome.mid(1)))) << printable(c.json) << " — " << error.toStdString();
        } else if (!c.outcome.isEmpty()) {
            EXPECT_EQ(value, c.outcome.toStdString()) << printable(c.json);
        }
    }
}

TEST(JSONReader, AgreesWithQJsonDocumentOnRandomDamagedAndRealDocuments)
{
    DocumentWriter writer(20240607);
    int accepted = 0, lenient = 0, damagedAccepted = 0, damagedRefused = 0;
    for (int i = 0; i < 3000 && !testing::Test::HasFailure(); ++i) {
        const QByteArray document = writer.document();
        accepted += expectSameAsReference(document);
        lenient += usesLeniency(document);
        for (int j = 0; j < 8; ++j)
            (expectSameAsReference(damaged(document, writer)) ? damagedAccepted : damagedRefused)++;
    }
    // The corpus must exercise both roads, or agreeing proves nothing.
    EXPECT_GT(accepted, 2000);
    EXPECT_GT(lenient, 250);
    EXPECT_GT(damagedAccepted, 1000);
    EXPECT_GT(damagedRefused, 10000);
    // A feed reply as the service writes it, compact and indented.
    QVariantList items;
    for (int i = 0; i < 20; ++i)
        items.append(testsupport::ServiceFixtures::archiveItem(170001 + i));
    const QByteArray reply = KRJSONData(testsupport::ServiceFixtures::envelope(QVariantMap{{"list", items}}));
    EXPECT_TRUE(expectSameAsReference(reply));
    EXPECT_TRUE(expectSameAsReference(QJsonDocument::fromJson(reply).toJson(QJsonDocument::Indented)));
    // Every cut of a reply is refused, never read as a shorter value.
    const QByteArray one = KRJSONData(testsupport::ServiceFixtures::envelope(testsupport::ServiceFixtures::archiveItem(170001)));
    for (qsizetype n = 0; n < one.size(); ++n)
        ASSERT_FALSE(KRJSONParse(one.left(n)).isValid()) << n;
}

TEST(JSONReader, WritesCompactTextThatReadsBackTheSame)
{
    const QVariantMap tree{{"id", qint64(9007199254740993LL)}, {"name", QString::fromUtf8("弹幕 \"q\"\n")}, {"flag", true},
                           {"none", QVariant::fromValue(nullptr)}, {"list", QVariantList{1, 2.5, QString("x")}}};
    const QByteArray bytes = KRJSONData(tree);
    EXPECT_EQ(bytes, R"({"flag":true,"id":9007199254740993,"list":[1,2.5,"x"],"name":"弹幕 \"q\"\n","none":null})");
    EXPECT_EQ(dump(KRJSONParse(bytes)).toStdString(),
              R"({"flag":true,"id":L9007199254740993,"list":[L1,D2.5,"x"],"name":"\u5f39\u5e55 \u0022q\u0022\u000a","none":null})");
    // A scalar at the top level is written bare.
    EXPECT_EQ(KRJSONData(QVariant(true)), "true");
    EXPECT_EQ(KRJSONData(QVariant::fromValue(nullptr)), "null");
    EXPECT_EQ(KRJSONData(QVariant(QString("a"))), "\"a\"");
}

// The reader needs room after the text it reads; a reply with none (held as raw data, or sized
// exactly) is read from a padded copy, and one with room where it stands. Either way the same
// tree, and nothing read past the bytes (the sanitizer build would see it).
TEST(JSONReader, ReadsTextWithOrWithoutRoomAfterIt)
{
    const QByteArray text = R"({"list":[{"aid":9007199254740993,"title":"标题","ok":true,"none":null}],"n":1.5})";
    const std::string expected = dump(KRJSONParse(text)).toStdString();
    ASSERT_EQ(expected, R"({"list":[{"aid":L9007199254740993,"none":null,"ok":true,"title":"\u6807\u9898"}],"n":D1.5})");

    const std::unique_ptr<char[]> exact(new char[size_t(text.size())]);
    std::memcpy(exact.get(), text.constData(), size_t(text.size()));
    EXPECT_EQ(dump(KRJSONParse(QByteArray::fromRawData(exact.get(), text.size()))).toStdString(), expected);

    QByteArray roomy = text;
    roomy.reserve(text.size() + 4096);
    EXPECT_EQ(dump(KRJSONParse(roomy)).toStdString(), expected);
    // Cut short with the rest of the text still in the room after it: refused.
    QByteArray cut = text;
    cut.reserve(text.size() + 4096);
    cut.chop(20);
    EXPECT_FALSE(KRJSONParse(cut).isValid());
}

// Replies past a megabyte (large comment threads) read the same as small ones.
TEST(JSONReader, ReadsLargeReplies)
{
    QVariantList items;
    for (int i = 0; i < 4000; ++i)
        items.append(testsupport::ServiceFixtures::archiveItem(170001 + i));
    const QByteArray reply = KRJSONData(testsupport::ServiceFixtures::envelope(QVariantMap{{"list", items}}));
    ASSERT_GT(reply.size(), 1 << 20);
    EXPECT_TRUE(expectSameAsReference(reply));
    EXPECT_FALSE(expectSameAsReference(reply.left(reply.size() - 1)));
    EXPECT_EQ(KRJSONParse(reply).toMap().value("data").toMap().value("list").toList().size(), 4000);
}

// U+FEFF is a character like any other inside a string or a member name, at its start too:
// only a mark before the whole document is skipped.
TEST(JSONReader, KeepsALeadingU_FEFFOfStringsAndNames)
{
    const QString mark(QChar(0xFEFF));
    const QVariantMap members = KRJSONParse("{\"\\uFEFFm\":1,\"m\":2}").toMap();
    EXPECT_EQ(members.size(), 2);
    EXPECT_EQ(members.value(mark + u'm'), QVariant(qint64(1)));
    EXPECT_EQ(members.value(QStringLiteral("m")), QVariant(qint64(2)));
    // Raw UTF-8 marks, escaped or not, one or two of them, in values and in names.
    const QVariantMap raw = KRJSONParse("\xef\xbb\xbf{\"\xef\xbb\xbf\xef\xbb\xbfk\":\"\xef\xbb\xbfv\",\"e\":\"\\ufeff\\u0041\"}").toMap();
    EXPECT_EQ(raw.value(mark + mark + u'k').toString(), mark + u'v');
    EXPECT_EQ(raw.value(QStringLiteral("e")).toString(), mark + u'A');
    // What is written reads back the same.
    const QVariantMap tree{{mark + u'n', mark}, {QStringLiteral("n"), mark + mark + u'x'}};
    EXPECT_EQ(KRJSONParse(KRJSONData(tree)).toMap(), tree);
}
