// The JSON reader against the road it replaced (QJsonDocument and its conversion to
// QVariant): the same documents accepted, the same values of the same types made, the same
// documents refused. Then the edges spelled out one by one.
#include "service/KRJSON.h"
#include "support/ServiceFixtures.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

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

// Same types all the way down, same UTF-16 units, same bits of every double.
testing::AssertionResult sameTree(const QVariant& a, const QVariant& b, const QString& path = QStringLiteral("$"))
{
    if (a.typeId() != b.typeId())
        return testing::AssertionFailure() << path.toStdString() << ": " << a.typeName() << " against " << b.typeName();
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return testing::AssertionFailure() << path.toStdString() << ": different names";
        for (auto it = x.begin(); it != x.end(); ++it) {
            if (auto result = sameTree(it.value(), y.value(it.key()), path + QLatin1Char('.') + it.key()); !result)
                return result;
        }
        return testing::AssertionSuccess();
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return testing::AssertionFailure() << path.toStdString() << ": " << x.size() << " items against " << y.size();
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (auto result = sameTree(x[i], y[i], path + QStringLiteral("[%1]").arg(i)); !result)
                return result;
        }
        return testing::AssertionSuccess();
    }
    case QMetaType::QString: {
        const QString x = a.toString(), y = b.toString();
        if (x.size() != y.size() || std::memcmp(x.utf16(), y.utf16(), size_t(x.size()) * 2) != 0 || x.isNull() != y.isNull())
            return testing::AssertionFailure() << path.toStdString() << ": text " << x.toStdString() << " against " << y.toStdString();
        return testing::AssertionSuccess();
    }
    case QMetaType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        if (std::memcmp(&x, &y, sizeof x) != 0)
            return testing::AssertionFailure() << path.toStdString() << ": " << x << " against " << y;
        return testing::AssertionSuccess();
    }
    case QMetaType::LongLong:
    case QMetaType::Bool:
    case QMetaType::Nullptr:
        if (a != b)
            return testing::AssertionFailure() << path.toStdString() << ": " << a.toString().toStdString() << " against "
                                               << b.toString().toStdString();
        return testing::AssertionSuccess();
    default:
        return testing::AssertionFailure() << path.toStdString() << ": unexpected type " << a.typeName();
    }
}

// Returns whether the document was accepted.
bool expectSameAsReference(const QByteArray& data)
{
    QString error = QStringLiteral("stale");
    const QVariant ours = KRJSONParse(data, &error);
    const QVariant reference = referenceParse(data);
    EXPECT_EQ(ours.isValid(), reference.isValid()) << printable(data) << " — " << error.toStdString();
    if (ours.isValid() && reference.isValid()) {
        EXPECT_TRUE(sameTree(ours, reference)) << printable(data);
        EXPECT_TRUE(error.isEmpty()) << printable(data);
    } else if (!ours.isValid()) {
        EXPECT_TRUE(error.contains(QLatin1String("offset")) || error == QLatin1String("empty JSON document"))
            << printable(data) << " — " << error.toStdString();
    }
    return ours.isValid();
}

QVariant parse(const QByteArray& data)
{
    QString error;
    const QVariant value = KRJSONParse(data, &error);
    EXPECT_TRUE(value.isValid()) << printable(data) << " — " << error.toStdString();
    return value;
}

QVariant only(const QByteArray& arrayText) { return parse(arrayText).toList().value(0); }

// Random documents over everything the grammar allows, written with random spacing.
class DocumentWriter {
public:
    explicit DocumentWriter(unsigned seed) : m_random(seed) {}

    QByteArray document()
    {
        QByteArray out;
        space(out);
        container(out, 0, pick(2));
        space(out);
        return out;
    }

    int pick(int n) { return int(m_random() % unsigned(n)); }

private:
    void space(QByteArray& out)
    {
        static const char spaces[] = " \t\n\r";
        while (pick(4) == 0)
            out += spaces[pick(4)];
    }

    void value(QByteArray& out, int depth)
    {
        space(out);
        switch (depth > 4 ? 2 + pick(4) : pick(7)) {
        case 0: container(out, depth + 1, true); break;
        case 1: container(out, depth + 1, false); break;
        case 2: string(out); break;
        case 3: number(out); break;
        case 4: out += pick(2) ? "true" : "false"; break;
        case 5: out += "null"; break;
        default: number(out); break;
        }
        space(out);
    }

    void container(QByteArray& out, int depth, bool object)
    {
        out += object ? '{' : '[';
        const int count = pick(6);
        for (int i = 0; i < count; ++i) {
            if (i)
                out += ',';
            if (object)
                name(out);
            value(out, depth);
        }
        space(out);
        out += object ? '}' : ']';
    }

    void name(QByteArray& out)
    {
        space(out);
        if (pick(3) == 0) {
            string(out);
        } else {
            static const char* names[] = {"aid", "title", "owner", "stat", "pic", "a", "b", "", "\\u0061id", "名字"};
            out += '"';
            out += names[pick(10)];
            out += '"';
        }
        space(out);
        out += ':';
    }

    void string(QByteArray& out)
    {
        out += '"';
        const int pieces = pick(8);
        for (int i = 0; i < pieces; ++i) {
            switch (pick(9)) {
            case 0: {
                static const char* escapes[] = {"\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\q", "\\x"};
                out += escapes[pick(10)];
                break;
            }
            case 1: {
                // Any UTF-16 unit, surrogates of both halves alone or paired included.
                static const unsigned units[] = {0x0000, 0x001F, 0x00E9, 0x4E2D, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF};
                const unsigned unit = pick(2) ? units[pick(9)] : unsigned(pick(0x10000));
                out += QStringLiteral("\\u%1").arg(unit, 4, 16, QLatin1Char('0')).toLatin1();
                if (pick(2))
                    out = out.left(out.size() - 4) + out.right(4).toUpper();
                break;
            }
            case 2:
                out += "\\ud83d\\ude00";
                break;
            case 3: {
                // Any scalar value in UTF-8.
                char32_t code = char32_t(pick(4) ? pick(0x800) : pick(0x110000));
                if (code >= 0xD800 && code <= 0xDFFF)
                    code = 0xFFFD;
                out += QString::fromUcs4(&code, 1).toUtf8();
                break;
            }
            case 4:
                out += char(pick(0x20)); // a raw control character
                break;
            default:
                for (int n = pick(12); n > 0; --n)
                    out += char('a' + pick(26));
                break;
            }
        }
        out += '"';
    }

    void number(QByteArray& out)
    {
        static const char* edges[] = {"0", "-0", "9223372036854775807", "-9223372036854775808", "9223372036854775808",
                                      "-9223372036854775809", "18446744073709551616", "9007199254740993",
                                      "9007199254740993.0", "1e308", "1.7976931348623157e308", "4.9e-324",
                                      "2.2250738585072014e-308", "0.1", "-0.0", "1e-7", "123456789012345678901234567890"};
        if (pick(4) == 0) {
            out += edges[pick(17)];
            return;
        }
        if (pick(3) == 0)
            out += '-';
        const int digits = 1 + pick(pick(4) ? 6 : 24);
        out += char('1' + pick(9));
        for (int i = 1; i < digits; ++i)
            out += char('0' + pick(10));
        if (pick(3) == 0) {
            out += '.';
            const bool zeros = pick(3) == 0; // a whole value written with a fraction
            for (int i = 1 + pick(8); i > 0; --i)
                out += zeros ? '0' : char('0' + pick(10));
        }
        if (pick(4) == 0) {
            out += pick(2) ? 'e' : 'E';
            if (pick(2))
                out += pick(2) ? '+' : '-';
            out += QByteArray::number(pick(pick(4) ? 30 : 400));
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

} // namespace

TEST(JSONReader, AgreesWithQJsonDocumentOnHandPickedDocuments)
{
    const char* documents[] = {
        // Numbers in and out of shape.
        "[1.]", "[1.e5]", "[-]", "[-0]", "[-0.0]", "[1e]", "[1e+]", "[.5]", "[-.5]", "[.]", "[-.]", "[.e1]", "[1E5]",
        "[12.0]", "[1e400]", "[1e-400]", "[-1e400]", "[0e400]", "[-0e-400]", "[0.0e-99999999999]", "[2e-324]",
        "[2.5e-324]", "[4.9e-324]", "[1.7976931348623157e308]", "[1.7976931348623159e308]", "[00]", "[-01]",
        "[+1]", "[1.5e3]", "[1.5.3]", "[1e5.5]", "[0x10]", "[Infinity]", "[NaN]", "[--1]", "[- 1]", "[1e+-5]",
        "[9223372036854775807]", "[9223372036854775808]", "[-9223372036854775808]", "[-9223372036854775809]",
        "[99999999999999999999999999999]", "[9007199254740993.0]", "[1e18]", "[9.3e18]", "[-9.3e18]",
        // Strings and escapes.
        R"(["\ud800"])", R"(["\ud83d\ude00"])", R"(["\ude00\ud83d"])", R"(["\uD834\uDD1E"])", R"(["\ud800\u0041"])",
        R"(["\u00e9\u00C9"])", R"(["\x"])", R"(["\/"])", R"(["\u12"])", R"(["\uzzzz"])", R"(["\u"])",
        R"(["\u0000"])", "[\"\\", "[\"\\\"]", "[\"a\tb\x01\x7f\"]", "[\"a\\\xc3\"]", "[\"a\\\xc3\xa9\"]",
        // UTF-8: good, overlong, surrogates, past U+10FFFF, cut short, stray continuation.
        "[\"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\xef\xbf\xbf\xf4\x8f\xbf\xbf\"]", "[\"\xc3\"]", "[\"\xc0\x80\"]",
        "[\"\xc1\xbf\"]", "[\"\xe0\x80\xaf\"]", "[\"\xe0\x9f\xbf\"]", "[\"\xed\xa0\x80\"]", "[\"\xed\xbf\xbf\"]",
        "[\"\xf0\x8f\xbf\xbf\"]", "[\"\xf4\x90\x80\x80\"]", "[\"\xf5\x80\x80\x80\"]", "[\"\x80\"]", "[\"\xe4\xb8\"]",
        "[\"\xf0\x9f\x98\"]", "[\"\xff\"]", "{\"\xe5\x90\x8d\":1}", "{\"\xe5\x90\":1}",
        // Structure, spacing, marks before and after.
        "\xef\xbb\xbf[]", " \xef\xbb\xbf[]", "\xef\xbb[]", "[] ", "[]x", "\x0c[]", "\v[]", "[1,]", "[,]", "[,1]",
        R"({"a":1,})", R"({"a":1,"a":2})", R"({"b":1,"a":2,"b":3})", R"({"a"})", R"({1:2})", R"({"a" 1})",
        R"({"a":1 "b":2})", "{,}", "[nul]", "[truex]", "[tru]", "[true,false,null]", R"({"":1})", "[1 2]",
        "[\"abc]", "[\"abc", "[[]", "[]]", "  ", "", "{}", "[]", "[{}]", " {\"a\" : [ 1 , { } ] } ", "5", "\"s\"",
        "null", "true"};
    for (const char* document : documents)
        expectSameAsReference(QByteArray(document));
    expectSameAsReference(QByteArray("[]\0", 3));
    expectSameAsReference(QByteArray("[\"a\0b\"]", 7));
    expectSameAsReference(QByteArray("{\"a\0\":\"\0\"}", 10));
}

TEST(JSONReader, AgreesWithQJsonDocumentOnRandomAndDamagedDocuments)
{
    DocumentWriter writer(20240607);
    int accepted = 0, damagedAccepted = 0, damagedRefused = 0;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray document = writer.document();
        accepted += expectSameAsReference(document);
        for (int j = 0; j < 8; ++j) {
            if (expectSameAsReference(damaged(document, writer)))
                ++damagedAccepted;
            else
                ++damagedRefused;
        }
        if (testing::Test::HasFailure())
            break;
    }
    // The corpus must exercise both roads, or agreeing proves nothing.
    EXPECT_GT(accepted, 2000);
    EXPECT_GT(damagedAccepted, 1000);
    EXPECT_GT(damagedRefused, 10000);
}

TEST(JSONReader, AgreesWithQJsonDocumentOnAFeedReply)
{
    QVariantList items;
    for (int i = 0; i < 20; ++i)
        items.append(testsupport::ServiceFixtures::archiveItem(170001 + i));
    const QByteArray reply = KRJSONData(testsupport::ServiceFixtures::envelope(QVariantMap{{"list", items}}));
    ASSERT_TRUE(expectSameAsReference(reply));
    // And with the same reply written indented.
    ASSERT_TRUE(expectSameAsReference(QJsonDocument::fromJson(reply).toJson(QJsonDocument::Indented)));
}

TEST(JSONReader, IntegersAtThe64BitEdges)
{
    const QVariantList n = parse("[9223372036854775807, -9223372036854775808, 9223372036854775808, "
                                 "-9223372036854775809, 9007199254740993, 9007199254740993.0, -0, 18446744073709551616]")
                               .toList();
    ASSERT_EQ(n.size(), 8);
    EXPECT_EQ(n[0].typeId(), QMetaType::LongLong);
    EXPECT_EQ(n[0].toLongLong(), kMax);
    EXPECT_EQ(n[1].typeId(), QMetaType::LongLong);
    EXPECT_EQ(n[1].toLongLong(), kMin);
    // 2^63 has no 64-bit signed form: the double.
    EXPECT_EQ(n[2].typeId(), QMetaType::Double);
    EXPECT_EQ(n[2].toDouble(), 9223372036854775808.0);
    // The nearest double of −2^63 − 1 is −2^63, which is whole and in range.
    EXPECT_EQ(n[3].typeId(), QMetaType::LongLong);
    EXPECT_EQ(n[3].toLongLong(), kMin);
    EXPECT_EQ(n[4].toLongLong(), 9007199254740993LL);
    // Written with a fraction it goes through the double, and 2^53 + 1 has none.
    EXPECT_EQ(n[5].typeId(), QMetaType::LongLong);
    EXPECT_EQ(n[5].toLongLong(), 9007199254740992LL);
    EXPECT_EQ(n[6].typeId(), QMetaType::LongLong);
    EXPECT_EQ(n[6].toLongLong(), 0);
    EXPECT_EQ(n[7].typeId(), QMetaType::Double);
}

TEST(JSONReader, FractionsAndExponents)
{
    EXPECT_EQ(only("[1e3]"), QVariant(qlonglong(1000)));
    EXPECT_EQ(only("[1E+2]").toLongLong(), 100);
    EXPECT_EQ(only("[1.5e3]").typeId(), QMetaType::LongLong);
    EXPECT_EQ(only("[12.0]").typeId(), QMetaType::LongLong);
    EXPECT_EQ(only("[0.5]").typeId(), QMetaType::Double);
    EXPECT_EQ(only("[1.5e-3]").toDouble(), 0.0015);
    EXPECT_EQ(only("[-2.5E-1]").toDouble(), -0.25);
    EXPECT_EQ(only("[1e300]").toDouble(), 1e300);
    EXPECT_EQ(only("[1.7976931348623157e308]").toDouble(), std::numeric_limits<double>::max());
    EXPECT_EQ(only("[4.9e-324]").toDouble(), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(only("[0.1]").toDouble(), 0.1);
    EXPECT_EQ(only("[0e999]").toLongLong(), 0);
    // Beyond the double range, or rounding to nothing from real digits: refused, not inf or 0.
    for (const char* bad : {"[1e309]", "[-1e309]", "[1e-400]", "[2e-324]", "[1e99999999999999999999]", "[1.7976931348623159e308]"})
        EXPECT_FALSE(KRJSONParse(bad).isValid()) << bad;
    for (const char* bad : {"[01]", "[-]", "[1e]", "[1e+]", "[+1]", "[.]", "[1.2.3]", "[0x1]", "[NaN]", "[-Infinity]"})
        EXPECT_FALSE(KRJSONParse(bad).isValid()) << bad;
}

TEST(JSONReader, EscapesAndSurrogates)
{
    EXPECT_EQ(only(R"(["\"\\\/\b\f\n\r\t"])").toString(), QString::fromUtf8("\"\\/\b\f\n\r\t"));
    EXPECT_EQ(only(R"(["\u00e9\u4E2D"])").toString(), QString::fromUtf8("é中"));
    // A pair of escapes is one character outside the basic plane.
    const QString pair = only(R"(["\ud83d\ude00"])").toString();
    EXPECT_EQ(pair, QString::fromUtf8("😀"));
    EXPECT_EQ(pair.toUcs4().value(0), 0x1F600u);
    // A lone surrogate is kept as the unit it is, neither dropped nor replaced.
    const QString lone = only(R"(["a\ud800b"])").toString();
    ASSERT_EQ(lone.size(), 3);
    EXPECT_EQ(lone[1].unicode(), 0xD800);
    const QString nul = only(R"(["\u0000"])").toString();
    ASSERT_EQ(nul.size(), 1);
    EXPECT_EQ(nul[0].unicode(), 0);
    // An unknown escape stands for its character, as before.
    EXPECT_EQ(only(R"(["\q"])").toString(), "q");
    for (const char* bad : {R"(["\u12"])", R"(["\uzzzz"])", R"(["\u"])", "[\"\\", "[\"abc\\\"]"})
        EXPECT_FALSE(KRJSONParse(bad).isValid()) << bad;
}

TEST(JSONReader, TextOutsideAndInsideTheBasicPlane)
{
    EXPECT_EQ(only("[\"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\"]").toString(), QString::fromUtf8("é中😀"));
    const QVariantMap named = parse("{\"\xe5\x90\x8d\":\"\xe5\x80\xbc\"}").toMap();
    EXPECT_EQ(named.value(QString::fromUtf8("名")).toString(), QString::fromUtf8("值"));
    // Overlong forms, encoded surrogates, code points past U+10FFFF, cut sequences and stray
    // continuation bytes are refused, in values and in names.
    for (const char* bad : {"[\"\xc0\x80\"]", "[\"\xe0\x80\xaf\"]", "[\"\xed\xa0\x80\"]", "[\"\xf4\x90\x80\x80\"]",
                            "[\"\xf5\x80\x80\x80\"]", "[\"\xc3\"]", "[\"\xe4\xb8\"]", "[\"\x80\"]", "[\"\xff\"]",
                            "{\"\xe5\x90\":1}"}) {
        QString error;
        EXPECT_FALSE(KRJSONParse(bad, &error).isValid()) << bad;
        EXPECT_TRUE(error.contains(QLatin1String("UTF-8"))) << error.toStdString();
    }
}

TEST(JSONReader, NestingIsBoundedAtTheSameDepthAsBefore)
{
    auto nested = [](int depth, bool objects) {
        QByteArray text;
        for (int i = 0; i < depth; ++i)
            text += objects ? "{\"a\":" : "[";
        text += "1";
        for (int i = 0; i < depth; ++i)
            text += objects ? "}" : "]";
        return text;
    };
    for (bool objects : {false, true}) {
        EXPECT_TRUE(expectSameAsReference(nested(1024, objects)));
        QString error;
        EXPECT_FALSE(KRJSONParse(nested(1025, objects), &error).isValid());
        EXPECT_TRUE(error.contains(QLatin1String("nested too deep"))) << error.toStdString();
    }
    EXPECT_FALSE(KRJSONParse(QByteArray(1000000, '[')).isValid());
}

TEST(JSONReader, OnlySpaceMayFollowTheDocument)
{
    EXPECT_TRUE(KRJSONParse("{} \r\n\t").isValid());
    EXPECT_TRUE(KRJSONParse("\xef\xbb\xbf{}").isValid());
    for (const QByteArray& bad : {QByteArray("{}}"), QByteArray("[] x"), QByteArray("[]\0", 3), QByteArray("[][]"),
                                  QByteArray("{}\v"), QByteArray("[] \xef\xbb\xbf")}) {
        QString error;
        EXPECT_FALSE(KRJSONParse(bad, &error).isValid()) << printable(bad);
        EXPECT_TRUE(error.startsWith(QLatin1String("text after the end of the document at offset"))) << error.toStdString();
    }
}

TEST(JSONReader, RepeatedNamesKeepTheLastValue)
{
    const QVariantMap d = parse(R"({"a": 1, "b": {"x": 1}, "a": [2], "b": "s"})").toMap();
    EXPECT_EQ(d.size(), 2);
    EXPECT_EQ(d["a"].toList().value(0).toLongLong(), 2);
    EXPECT_EQ(d["b"].toString(), "s");
}

TEST(JSONReader, ErrorsNameWhatAndWhere)
{
    QString error;
    EXPECT_FALSE(KRJSONParse(R"({"a":01})", &error).isValid());
    EXPECT_EQ(error, "a ',' or '}' is missing after a member at offset 6");
    EXPECT_FALSE(KRJSONParse(R"([1, "ab)", &error).isValid());
    EXPECT_EQ(error, "unterminated string at offset 4");
    EXPECT_FALSE(KRJSONParse("\t", &error).isValid());
    EXPECT_EQ(error, "empty JSON document");
}
