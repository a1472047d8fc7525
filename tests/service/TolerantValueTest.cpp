#include "service/KRJSON.h"
#include "service/KRTolerantValue.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <locale.h>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

QVariant jsonNull() { return QVariant::fromValue(nullptr); }
QVariant text(const char* s) { return QString::fromUtf8(s); }

QVariantMap parseObject(const char* json)
{
    QString error;
    const QVariant value = KRJSONParse(QByteArray(json), &error);
    EXPECT_TRUE(value.isValid()) << error.toStdString();
    return value.toMap();
}

} // namespace

TEST(TolerantValue, MissingAndNullReadAsNothingEverywhere)
{
    for (const QVariant& v : {QVariant(), jsonNull()}) {
        EXPECT_TRUE(KRIsMissing(v));
        EXPECT_TRUE(KRString(v).isNull());
        EXPECT_EQ(KRLongLong(v), 0);
        EXPECT_EQ(KRDouble(v), 0.0);
        EXPECT_FALSE(KRBoolean(v));
        EXPECT_FALSE(KRIntegerValue(v).has_value());
        EXPECT_FALSE(KRBooleanValue(v).has_value());
        EXPECT_FALSE(KRIsNumber(v));
    }
    // A null string inside a QVariant is a present (empty) text, not a JSON null.
    EXPECT_FALSE(KRIsMissing(QVariant(QString())));
    EXPECT_FALSE(KRIsMissing(QVariant(0)));
}

TEST(TolerantValue, FirstValueSkipsAbsentAndNullButNotEmptyOrZero)
{
    const QVariantMap d = parseObject(R"({"a": null, "b": "", "c": 0, "d": "x"})");
    EXPECT_EQ(KRFirstValue(d, {"zz", "a", "b", "d"}), QVariant(QString()));
    EXPECT_EQ(KRFirstValue(d, {"a", "c", "d"}).toLongLong(), 0);
    EXPECT_EQ(KRFirstValue(d, {"a", "d"}).toString(), "x");
    EXPECT_FALSE(KRFirstValue(d, {"a", "zz"}).isValid());
    EXPECT_FALSE(KRFirstValue(d, {}).isValid());
    EXPECT_EQ(KRFirstValuePointer(d, {"a", "zz"}), nullptr);
    ASSERT_NE(KRFirstValuePointer(d, {"d"}), nullptr);
    EXPECT_EQ(KRFirstValuePointer(d, {"d"})->toString(), "x");
}

TEST(TolerantValue, FirstStringLooksPastEmptyTextButFirstValueDoesNot)
{
    const QVariantMap d = parseObject(R"({"a": "", "b": null, "c": [1], "d": 42, "e": "later"})");
    EXPECT_EQ(KRFirstString(d, {"a", "b", "c", "d", "e"}), "42");
    EXPECT_EQ(KRFirstString(d, {"a", "e"}), "later");
    EXPECT_TRUE(KRString(KRFirstValue(d, {"a", "e"})).isNull());
    EXPECT_TRUE(KRFirstString(d, {"a", "b", "c"}).isNull());
}

TEST(TolerantValue, StringOfNumbersAndOtherValues)
{
    EXPECT_EQ(KRString(text("abc")), "abc");
    EXPECT_TRUE(KRString(text("")).isNull());
    EXPECT_EQ(KRString(text("  ")), "  ");
    EXPECT_EQ(KRString(QVariant(qint64(9007199254740993LL))), "9007199254740993");
    EXPECT_EQ(KRString(QVariant(-7)), "-7");
    EXPECT_EQ(KRString(QVariant(12.0)), "12");
    EXPECT_EQ(KRString(QVariant(-3.0)), "-3");
    EXPECT_EQ(KRString(QVariant(1.5)), "1.5");
    EXPECT_EQ(KRString(QVariant(0.1)), "0.1");
    EXPECT_EQ(KRString(QVariant(1e300)), "1e+300");
    EXPECT_EQ(KRString(QVariant(true)), "1");
    EXPECT_EQ(KRString(QVariant(false)), "0");
    EXPECT_EQ(KRString(QVariant(quint64(18446744073709551615ULL))), "18446744073709551615");
    EXPECT_TRUE(KRString(QVariant(QVariantList{1})).isNull());
    EXPECT_TRUE(KRString(QVariant(QVariantMap{{"a", 1}})).isNull());
    EXPECT_TRUE(KRString(QVariant(QByteArray("12"))).isNull());
}

TEST(TolerantValue, LongLongOfTextReadsTheDecimalPrefix)
{
    EXPECT_EQ(KRLongLong(text("123abc")), 123);
    EXPECT_EQ(KRLongLong(text("  \t\n 42")), 42);
    EXPECT_EQ(KRLongLong(text("+17")), 17);
    EXPECT_EQ(KRLongLong(text("-17x")), -17);
    EXPECT_EQ(KRLongLong(text("12.9")), 12);
    EXPECT_EQ(KRLongLong(text("1e5")), 1);
    EXPECT_EQ(KRLongLong(text("007")), 7);
    EXPECT_EQ(KRLongLong(text("abc")), 0);
    EXPECT_EQ(KRLongLong(text("")), 0);
    EXPECT_EQ(KRLongLong(text("-")), 0);
    EXPECT_EQ(KRLongLong(text("--5")), 0);
    EXPECT_EQ(KRLongLong(text("- 5")), 0);
    EXPECT_EQ(KRLongLong(text("x12")), 0);
    EXPECT_EQ(KRLongLong(text("0x1F")), 0);
    // Full-width digits are not decimal digits here.
    EXPECT_EQ(KRLongLong(QVariant(QString::fromUtf8("１２"))), 0);
    // A non-breaking space is white space.
    EXPECT_EQ(KRLongLong(QVariant(QString::fromUtf8("\u00a0" "9"))), 9);
}

TEST(TolerantValue, LongLongOfTextSaturatesAtBothLimits)
{
    EXPECT_EQ(KRLongLong(text("9223372036854775807")), kMax);
    EXPECT_EQ(KRLongLong(text("9223372036854775808")), kMax);
    EXPECT_EQ(KRLongLong(text("99999999999999999999999")), kMax);
    EXPECT_EQ(KRLongLong(text("-9223372036854775808")), kMin);
    EXPECT_EQ(KRLongLong(text("-9223372036854775809")), kMin);
    EXPECT_EQ(KRLongLong(text("-99999999999999999999999")), kMin);
    EXPECT_EQ(KRLongLong(text("922337203685477580")), 922337203685477580LL);
    EXPECT_EQ(KRLongLong(text("9223372036854775806")), kMax - 1);
    EXPECT_EQ(KRLongLong(text("-9223372036854775807")), kMin + 1);
}

TEST(TolerantValue, LongLongOfNumbers)
{
    EXPECT_EQ(KRLongLong(QVariant(qint64(9007199254740993LL))), 9007199254740993LL);
    EXPECT_EQ(KRLongLong(QVariant(2.9)), 2);
    EXPECT_EQ(KRLongLong(QVariant(-2.9)), -2);
    EXPECT_EQ(KRLongLong(QVariant(1e30)), kMax);
    EXPECT_EQ(KRLongLong(QVariant(-1e30)), kMin);
    EXPECT_EQ(KRLongLong(QVariant(std::nan(""))), 0);
    EXPECT_EQ(KRLongLong(QVariant(std::numeric_limits<double>::infinity())), kMax);
    EXPECT_EQ(KRLongLong(QVariant(true)), 1);
    EXPECT_EQ(KRLongLong(QVariant(false)), 0);
    EXPECT_EQ(KRLongLong(QVariant(quint64(18446744073709551615ULL))), kMax);
    EXPECT_EQ(KRLongLong(QVariant(2.5f)), 2);
    EXPECT_EQ(KRLongLong(QVariant(QVariantList{5})), 0);
    EXPECT_EQ(KRLongLong(QVariant(QVariantMap{{"a", 5}})), 0);
}

TEST(TolerantValue, IntegerValueIsOfferedByNumbersAndTextOnly)
{
    EXPECT_EQ(KRIntegerValue(text("abc")), std::optional<qint64>(0));
    EXPECT_EQ(KRIntegerValue(text("12")), std::optional<qint64>(12));
    EXPECT_EQ(KRIntegerValue(QVariant(false)), std::optional<qint64>(0));
    EXPECT_FALSE(KRIntegerValue(QVariant(QVariantList{1})).has_value());
    EXPECT_FALSE(KRIntegerValue(QVariant(QVariantMap{})).has_value());
}

TEST(TolerantValue, ThirtyTwoBitFieldsKeepTheLowBits)
{
    EXPECT_EQ(KRTruncatedInt32(5), 5);
    EXPECT_EQ(KRTruncatedInt32(-5), -5);
    EXPECT_EQ(KRTruncatedInt32(0x100000005LL), 5);
    EXPECT_EQ(KRTruncatedInt32(2147483648LL), std::numeric_limits<qint32>::min());
    EXPECT_EQ(KRInt32(text("4294967297")), 1);
    EXPECT_EQ(KRInt32(QVariant(3.99)), 3);
}

TEST(TolerantValue, DoubleOfTextReadsAFloatingPrefix)
{
    EXPECT_DOUBLE_EQ(KRDouble(text("1.5kg")), 1.5);
    EXPECT_DOUBLE_EQ(KRDouble(text("  -2.25")), -2.25);
    EXPECT_DOUBLE_EQ(KRDouble(text("+.5")), 0.5);
    EXPECT_DOUBLE_EQ(KRDouble(text("5.")), 5.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("1e3")), 1000.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("2.5E-1x")), 0.25);
    EXPECT_DOUBLE_EQ(KRDouble(text("3e")), 3.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("3e+")), 3.0);
    EXPECT_DOUBLE_EQ(KRDouble(text(".")), 0.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("abc")), 0.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("inf")), 0.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("nan")), 0.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("0x10")), 0.0);
    EXPECT_TRUE(std::isinf(KRDouble(text("1e999"))));
    EXPECT_GT(KRDouble(text("1e999")), 0);
    EXPECT_LT(KRDouble(text("-1e999")), 0);
    EXPECT_EQ(KRDouble(text("1e-999")), 0.0);
    EXPECT_EQ(KRDouble(text("0.0000001e-999")), 0.0);
    EXPECT_DOUBLE_EQ(KRDouble(text("123456789012345678901234567890")), 1.2345678901234568e29);
}

TEST(TolerantValue, DoubleOfNumbers)
{
    EXPECT_DOUBLE_EQ(KRDouble(QVariant(qint64(42))), 42.0);
    EXPECT_DOUBLE_EQ(KRDouble(QVariant(2.75)), 2.75);
    EXPECT_DOUBLE_EQ(KRDouble(QVariant(true)), 1.0);
    EXPECT_DOUBLE_EQ(KRDouble(QVariant(QVariantList{1})), 0.0);
}

TEST(TolerantValue, BooleanOfTextFollowsTheFirstSignificantCharacter)
{
    for (const char* yes : {"YES", "yes", "true", "True", "T", "y", "1", "9", "0001", "-1", "+2", "  \n t", "00y", "-0y"})
        EXPECT_TRUE(KRBoolean(text(yes))) << yes;
    for (const char* no : {"NO", "no", "false", "False", "0", "00", "+0", "-0", "", "   ", "abc", "n", "--1", "+-1", " x1", ".5"})
        EXPECT_FALSE(KRBoolean(text(no))) << no;
}

TEST(TolerantValue, BooleanOfNumbersAndOtherValues)
{
    EXPECT_TRUE(KRBoolean(QVariant(true)));
    EXPECT_FALSE(KRBoolean(QVariant(false)));
    EXPECT_TRUE(KRBoolean(QVariant(qint64(2))));
    EXPECT_TRUE(KRBoolean(QVariant(-1)));
    EXPECT_FALSE(KRBoolean(QVariant(0)));
    EXPECT_TRUE(KRBoolean(QVariant(0.5)));
    EXPECT_FALSE(KRBoolean(QVariant(0.0)));
    EXPECT_TRUE(KRBoolean(QVariant(quint64(1ULL << 63))));
    EXPECT_FALSE(KRBoolean(QVariant(QVariantList{true})));
    EXPECT_FALSE(KRBoolean(QVariant(QVariantMap{{"a", true}})));
    EXPECT_EQ(KRBooleanValue(text("no")), std::optional<bool>(false));
    EXPECT_FALSE(KRBooleanValue(QVariant(QVariantList{})).has_value());
}

TEST(TolerantValue, KindTests)
{
    const QVariantMap d = parseObject(R"({"o": {}, "a": [], "s": "", "n": 1, "f": 1.5, "t": true, "z": null})");
    EXPECT_TRUE(KRIsDictionary(d["o"]));
    EXPECT_TRUE(KRIsArray(d["a"]));
    EXPECT_TRUE(KRIsString(d["s"]));
    EXPECT_TRUE(KRIsNumber(d["n"]));
    EXPECT_TRUE(KRIsNumber(d["f"]));
    EXPECT_TRUE(KRIsNumber(d["t"]));
    EXPECT_TRUE(KRIsBooleanValue(d["t"]));
    EXPECT_FALSE(KRIsBooleanValue(d["n"]));
    EXPECT_TRUE(KRIsMissing(d["z"]));
    EXPECT_FALSE(KRIsDictionary(d["a"]));
    EXPECT_FALSE(KRIsString(d["n"]));
}

TEST(JSON, IntegersBeyondDoublePrecisionStayExact)
{
    const QVariantMap d = parseObject(R"({"aid": 9007199254740993, "neg": -9223372036854775808, "max": 9223372036854775807})");
    EXPECT_EQ(d["aid"].typeId(), QMetaType::LongLong);
    EXPECT_EQ(KRLongLong(d["aid"]), 9007199254740993LL);
    EXPECT_EQ(KRString(d["aid"]), "9007199254740993");
    EXPECT_EQ(KRLongLong(d["neg"]), kMin);
    EXPECT_EQ(KRLongLong(d["max"]), kMax);
    EXPECT_EQ(KRJSONData(d["aid"]), QByteArray("9007199254740993"));
}

TEST(JSON, TypesAreKeptApart)
{
    const QVariantMap d = parseObject(R"({"t": true, "f": false, "z": null, "one": 1, "half": 0.5, "whole": 12.0, "s": "1"})");
    EXPECT_TRUE(KRIsBooleanValue(d["t"]));
    EXPECT_TRUE(KRIsBooleanValue(d["f"]));
    EXPECT_EQ(d["z"].typeId(), QMetaType::Nullptr);
    EXPECT_TRUE(d.contains("z"));
    EXPECT_FALSE(KRIsBooleanValue(d["one"]));
    EXPECT_EQ(KRString(d["whole"]), "12");
    EXPECT_EQ(KRString(d["half"]), "0.5");
    EXPECT_TRUE(KRIsString(d["s"]));
    // A number beyond the double range is not a readable document.
    EXPECT_FALSE(KRJSONParse(R"({"big": 1e400})").isValid());
    // Beyond the 64-bit range an integer can only be approximate; it reads saturated.
    const QVariantMap huge = parseObject(R"({"n": 12345678901234567890})");
    EXPECT_EQ(KRLongLong(huge["n"]), kMax);
}

TEST(JSON, MalformedInputGivesAnErrorNotAValue)
{
    const char* bad[] = {"", "   ", "{", "[1,", "{\"a\":}", "{\"a\":1} trailing", "5", "\"text\"", "null",
                         "{'a':1}", "{\"a\":01}", "\xff\xfe{}"};
    for (const char* json : bad) {
        QString error;
        EXPECT_FALSE(KRJSONParse(QByteArray(json), &error).isValid()) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
    QString error = "stale";
    EXPECT_TRUE(KRJSONParse("[]", &error).isValid());
    EXPECT_TRUE(error.isEmpty());
    EXPECT_FALSE(KRJSONParse("{").isValid()); // no error pointer: still safe
}

TEST(JSON, HostileNestingAndTruncationDoNotCrash)
{
    QByteArray deep(100000, '[');
    EXPECT_FALSE(KRJSONParse(deep).isValid());
    deep.append(QByteArray(100000, ']'));
    QString error;
    KRJSONParse(deep, &error); // either parsed or refused, but returns
    const QByteArray full = R"({"data":{"list":[{"aid":1,"title":"x"}]}})";
    for (qsizetype n = 0; n < full.size(); ++n)
        EXPECT_FALSE(KRJSONParse(full.left(n)).isValid()) << n;
}

TEST(JSON, WritesCompactTextThatReadsBackTheSame)
{
    QVariantMap d;
    d["id"] = qint64(9007199254740993LL);
    d["name"] = QString::fromUtf8("弹幕 \"q\"");
    d["flag"] = true;
    d["none"] = QVariant::fromValue(nullptr);
    d["list"] = QVariantList{1, 2.5, QString("x")};
    const QByteArray bytes = KRJSONData(d);
    EXPECT_FALSE(bytes.contains('\n'));
    const QVariant back = KRJSONParse(bytes);
    ASSERT_TRUE(KRIsDictionary(back));
    const QVariantMap m = back.toMap();
    EXPECT_EQ(KRLongLong(m["id"]), 9007199254740993LL);
    EXPECT_EQ(m["name"].toString(), d["name"].toString());
    EXPECT_TRUE(KRIsBooleanValue(m["flag"]));
    EXPECT_EQ(m["none"].typeId(), QMetaType::Nullptr);
    EXPECT_EQ(m["list"].toList().size(), 3);
    EXPECT_EQ(KRJSONData(QVariant(true)), QByteArray("true"));
    EXPECT_EQ(KRJSONData(QVariant::fromValue(nullptr)), QByteArray("null"));
    EXPECT_EQ(KRJSONData(QVariant(QString("a"))), QByteArray("\"a\""));
}

namespace {

// Random short texts over the characters that matter to number reading.
QList<QByteArray> randomNumberTexts(const char* alphabet, int count, unsigned seed)
{
    QList<QByteArray> texts;
    const int alphabetSize = int(std::strlen(alphabet));
    unsigned state = seed;
    auto next = [&state] { state = state * 1103515245u + 12345u; return (state >> 16) & 0x7fff; };
    for (int i = 0; i < count; ++i) {
        QByteArray text;
        const int length = int(next() % 26);
        for (int j = 0; j < length; ++j)
            text.append(alphabet[next() % alphabetSize]);
        texts.append(text);
    }
    // Long digit runs around the 64-bit limits.
    texts << "9223372036854775807" << "9223372036854775808" << "-9223372036854775808" << "-9223372036854775809"
          << "00000000000000000000000009223372036854775807" << " \t\n\v\f\r-000123";
    return texts;
}

} // namespace

TEST(TolerantValue, IntegerTextAgreesWithTheCLibraryReader)
{
    locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    for (const QByteArray& text : randomNumberTexts(" \t+-0123456789a9", 20000, 7)) {
        const long long expected = strtoll_l(text.constData(), nullptr, 10, c);
        EXPECT_EQ(KRLongLong(QVariant(QString::fromLatin1(text))), expected) << text.constData();
    }
    freelocale(c);
}

TEST(TolerantValue, FloatingTextAgreesWithTheCLibraryReader)
{
    locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    for (const QByteArray& text : randomNumberTexts(" +-.eE0123456789a", 20000, 11)) {
        const double expected = strtod_l(text.constData(), nullptr, c);
        const double actual = KRDouble(QVariant(QString::fromLatin1(text)));
        if (std::isinf(expected)) {
            EXPECT_EQ(actual, expected) << text.constData();
        } else if (std::fabs(expected) < 1e-300) {
            EXPECT_LT(std::fabs(actual), 1e-300) << text.constData();
        } else {
            EXPECT_DOUBLE_EQ(actual, expected) << text.constData();
        }
    }
    freelocale(c);
}
