// The captcha page's pieces without a web view: escaping, trust, the bundle's scripts, the
// template and the verifier log.

#include "account/KRGaiaDiagnostics.h"
#include "login/KRGaiaVerificationViewController.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Bundle.h"
#include "support/GaiaFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

using namespace testsupport;
using GaiaFixtures::loggedStages;
using GaiaFixtures::verifierLog;

namespace {

TEST(GaiaFunctionsTest, EscapedJSONCannotLeaveTheScriptElement)
{
    const QVariantMap options{{QStringLiteral("v_voucher"), QStringLiteral("</script><!--<script>")},
                              {QStringLiteral("lines"), QString(QChar(0x2028)) + QChar(0x2029)},
                              {QStringLiteral("mid"), qint64(9007199254740993LL)}};
    KROptionalError error = KRError(QStringLiteral("stale"), 9, QString());
    EXPECT_EQ(KRGaiaEscapedJSONString(options, &error),
              QStringLiteral(R"({"lines":"\u2028\u2029","mid":9007199254740993,"v_voucher":"<\/script><\!--<script>"})"));
    EXPECT_FALSE(error);
    EXPECT_EQ(KRGaiaEscapedJSONString(QVariantList{1, QStringLiteral("a")}), QStringLiteral(R"([1,"a"])"));

    // Only collections of JSON values can be written.
    const QVariant unwritable[] = {
        QVariant(QStringLiteral("text")),
        QVariant(QVariantMap{{QStringLiteral("x"), std::numeric_limits<double>::quiet_NaN()}}),
        QVariant(QVariantMap{{QStringLiteral("x"), QVariantList{QDateTime::currentDateTime()}}}),
        QVariant(),
    };
    for (const QVariant& value : unwritable) {
        KROptionalError failure;
        EXPECT_TRUE(KRGaiaEscapedJSONString(value, &failure).isNull()) << value.typeName();
        ASSERT_TRUE(failure);
        EXPECT_FALSE(failure->description().isEmpty());
    }
}

TEST(GaiaFunctionsTest, OnlyTheStaticHostsCaptchaFolderOverHTTPSIsTrusted)
{
    const QString host = KRServiceHosts::staticCDNHost();
    const QString folder = QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk/");
    const struct {
        QVariant value;
        bool trusted;
    } cases[] = {
        {QStringLiteral("https://") + host + folder + QStringLiteral("logic.js"), true},
        {QStringLiteral("//") + host + folder + QStringLiteral("logic.js"), true},
        {QStringLiteral("https://") + host.toUpper() + folder + QStringLiteral("a.js?v=1"), true},
        {QStringLiteral("http://") + host + folder + QStringLiteral("logic.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("/bfs/static/other/logic.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("/bfs/seed/jinkela/risk-captcha-sdk/CaptchaLoader.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("../../evil.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("%2e%2e/evil.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("@evil.test") + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://evil.test") + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://") + KRServiceHosts::webHost() + folder + QStringLiteral("a.js"), false},
        // Forms a browser reads differently from a plain parser, or that reach another host.
        {QStringLiteral("HTTPS://") + host + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("%2E%2e/%2e./evil.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("a/..%2fb.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("..\\evil.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("%5c..%5cevil.js"), false},
        {QStringLiteral("https://evil.test\\@") + host + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https:\\\\") + host + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("%40evil.test") + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral(".evil.test") + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral(".\t./evil.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral(".\n./evil.js"), false},
        {QStringLiteral(" https://") + host + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("///") + host + folder + QStringLiteral("a.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk"), false},
        {QStringLiteral("https://") + host + QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk-evil/a.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("/bfs/static/jinkela%2Frisk-captcha-sdk/a.js"), false},
        {QStringLiteral("https://") + host + QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk%2F..%2F..%2Fx/a.js"), false},
        {QStringLiteral("https://") + host + folder + QStringLiteral("%61.js"), true},
        {QStringLiteral(""), false},
        {QVariant(), false},
        {QVariant(42), false},
        {QVariantList{QStringLiteral("https://") + host + folder}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KRGaiaIsTrustedScriptLocation(c.value), c.trusted) << c.value.toString().toStdString();
}

TEST(GaiaFunctionsTest, AConfigurationIsTrustedOnlyWhenBothItsScriptsAre)
{
    const QString host = KRServiceHosts::staticCDNHost();
    const QString folder = QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk/");
    const QString logic = QStringLiteral("https://") + host + folder + QStringLiteral("logic.js");
    const QString source = QStringLiteral("https://") + host + folder + QStringLiteral("img.js");
    const QString logicKey = QStringLiteral("logic"), sourceKey = QStringLiteral("source");
    const struct {
        QVariantMap configuration;
        bool trusted;
    } cases[] = {
        {{{logicKey, logic}, {sourceKey, source}}, true},
        {{{logicKey, logic}}, true},
        {{{logicKey, logic}, {sourceKey, QString()}}, true},
        {{{logicKey, logic}, {sourceKey, QVariant::fromValue(nullptr)}}, true},
        // A trusted logic script does not vouch for the source script beside it.
        {{{logicKey, logic}, {sourceKey, QStringLiteral("https://evil.test") + folder + QStringLiteral("img.js")}}, false},
        {{{logicKey, logic}, {sourceKey, QStringLiteral("http://") + host + folder + QStringLiteral("img.js")}}, false},
        {{{logicKey, logic}, {sourceKey, QStringLiteral("https://") + host + QStringLiteral("/bfs/static/other/img.js")}}, false},
        {{{logicKey, logic}, {sourceKey, 42}}, false},
        {{{logicKey, logic}, {sourceKey, QVariantList{source}}}, false},
        {{{logicKey, QStringLiteral("https://evil.test/logic.js")}, {sourceKey, source}}, false},
        {{{sourceKey, source}}, false},
        {{}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KRGaiaIsTrustedConfiguration(c.configuration), c.trusted)
            << c.configuration.value(logicKey).toString().toStdString() << " / " << c.configuration.value(sourceKey).toString().toStdString();
}

TEST(GaiaFunctionsTest, BundleScriptsAndTheShippedConfiguration)
{
    // The compiled-in bundle: every page part is there and the configuration is trusted.
    for (const QString& name : {QStringLiteral("CaptchaLoader.logic.81da10a8.es5"), QStringLiteral("img.81da10a8.es5"),
                                QStringLiteral("zant-user-fingerprint.es5")})
        EXPECT_FALSE(KRGaiaInlineScriptNamed(name).isEmpty()) << name.toStdString();
    EXPECT_TRUE(KRGaiaInlineScriptNamed(QStringLiteral("absent")).isNull());
    const QVariantMap shipped = QJsonDocument::fromJson(
        platform::Bundle::contentsOfResource(QStringLiteral("risk-config"), QStringLiteral("json"), QStringLiteral("Gaia")).value_or(QByteArray()))
                                    .object().toVariantMap();
    EXPECT_TRUE(KRGaiaIsTrustedScriptLocation(shipped.value(QStringLiteral("logic"))));
    EXPECT_TRUE(KRGaiaIsTrustedScriptLocation(shipped.value(QStringLiteral("source"))));

    // A script of a replaced bundle cannot end its element, whatever the letter case.
    const QString root = testHome() + QStringLiteral("/bundle");
    ASSERT_TRUE(platform::writeFileAtomically(root + QStringLiteral("/Gaia/Transpiled/x.js"), "a('</script>');b('</SCRIPT>');"));
    ASSERT_TRUE(platform::writeFileAtomically(root + QStringLiteral("/Gaia/Transpiled/bad.js"), QByteArray("\xff\xfe", 2)));
    platform::Bundle::setRootForTesting(root);
    EXPECT_EQ(KRGaiaInlineScriptNamed(QStringLiteral("x")), QStringLiteral("a('<\\/script>');b('<\\/script>');"));
    EXPECT_TRUE(KRGaiaInlineScriptNamed(QStringLiteral("bad")).isNull());
    EXPECT_TRUE(KRGaiaInlineScriptNamed(QStringLiteral("../Transpiled/x")).isNull());
    platform::Bundle::setRootForTesting({});
}

TEST(GaiaFunctionsTest, TheTemplateTakesEachPartOnceInOrder)
{
    const QString page = KRGaiaVerificationDocument(QStringLiteral("P1%@"), QStringLiteral("F2"), QStringLiteral("L3"),
                                                    QStringLiteral("S4"), QStringLiteral("{\"r\":5}"), QStringLiteral("{\"c\":6}"));
    const qsizetype p = page.indexOf(QStringLiteral("<script>P1%@</script>"));
    const qsizetype f = page.indexOf(QStringLiteral("<script>F2</script>"));
    const qsizetype l = page.indexOf(QStringLiteral("id=\"kr-gaia-logic-es5\">L3</script>"));
    const qsizetype s = page.indexOf(QStringLiteral("id=\"kr-gaia-source-es5\">S4</script>"));
    const qsizetype r = page.indexOf(QStringLiteral("var risk = {\"r\":5};"));
    const qsizetype c = page.indexOf(QStringLiteral("var fallbackConfig = {\"c\":6};"));
    EXPECT_TRUE(p > 0 && p < f && f < l && l < s && s < r && r < c) << p << " " << f << " " << l << " " << s << " " << r << " " << c;
    EXPECT_TRUE(page.contains(QStringLiteral("width:100%;min-height:100%;")));
    EXPECT_FALSE(page.contains(QStringLiteral("%%")));
    EXPECT_TRUE(page.contains(QStringLiteral("https://") + KRServiceHosts::staticCDNHost()
                              + QStringLiteral("/bfs/seed/jinkela/risk-captcha-sdk/CaptchaLoader.js")));
}

TEST(GaiaFunctionsTest, HostileRiskOptionsCannotEndTheScriptOrAddMarkup)
{
    const auto page = [](const QVariantMap& options) {
        const QString json = KRGaiaEscapedJSONString(options);
        return KRGaiaVerificationDocument(QStringLiteral("p"), QStringLiteral("f"), QStringLiteral("l"), QStringLiteral("s"), json, json);
    };
    const QString plain = page({{QStringLiteral("v"), QStringLiteral("x")}});
    const QString hostile = page({{QStringLiteral("</ScRiPt ><img src=x onerror=alert(1)>"),
                                   QVariantList{QStringLiteral("<!--<script>"), QStringLiteral("</script\t>"),
                                                QStringLiteral("\"};alert(1);//"), QStringLiteral("%@%%"),
                                                QString(QChar(0x2028)) + QStringLiteral("<!-- -->")}}});
    // Whatever the options hold, the page has the same element ends and comment openings.
    for (const QString& marker : {QStringLiteral("</script"), QStringLiteral("<!--"), QStringLiteral("</")})
        EXPECT_EQ(hostile.count(marker, Qt::CaseInsensitive), plain.count(marker, Qt::CaseInsensitive)) << marker.toStdString();
    EXPECT_FALSE(hostile.contains(QChar(0x2028)));
    EXPECT_TRUE(hostile.contains(QStringLiteral(R"("\"};alert(1);//")"))) << "quotes stay inside the JSON string";
}

TEST(GaiaDiagnosticsTest, KeepsFortySanitisedEventsOfTheCurrentRun)
{
    KRGaiaDiagnostics::beginVerifierRun();
    QJsonObject log = verifierLog();
    EXPECT_EQ(log.value(QStringLiteral("format_version")).toInt(), 1);
    EXPECT_NEAR(log.value(QStringLiteral("started_at")).toDouble(), QDateTime::currentMSecsSinceEpoch() / 1000.0, 60);
    EXPECT_TRUE(log.value(QStringLiteral("events")).toArray().isEmpty());

    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("bad stage!*"), QStringLiteral("token=abcdefghijklmnopqrstuvwx1234 end"));
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("!?"), QString());
    KRGaiaDiagnostics::recordVerifierStage(QString(49, QLatin1Char('a')) + QStringLiteral("b"),
                                           QStringLiteral("plain_words_that_are_long_but_hold_no_digit x") + QString(300, QLatin1Char(' ')));
    QJsonArray events = verifierLog().value(QStringLiteral("events")).toArray();
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].toObject().value(QStringLiteral("stage")).toString(), QStringLiteral("badstage"));
    EXPECT_EQ(events[0].toObject().value(QStringLiteral("detail")).toString(), QStringLiteral("<redacted> end"));
    EXPECT_EQ(events[1].toObject().value(QStringLiteral("stage")).toString(), QStringLiteral("unknown"));
    EXPECT_EQ(events[1].toObject().value(QStringLiteral("detail")).toString(), QStringLiteral(""));
    EXPECT_EQ(events[2].toObject().value(QStringLiteral("stage")).toString(), QString(48, QLatin1Char('a')));
    const QString detail = events[2].toObject().value(QStringLiteral("detail")).toString();
    EXPECT_EQ(detail.size(), 240);
    EXPECT_TRUE(detail.startsWith(QStringLiteral("plain_words_that_are_long_but_hold_no_digit x")));

    // A credential running across the cut is not left behind in part.
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("cut"), QString(230, QLatin1Char(' ')) + QStringLiteral("abcdefghijklmnopqrstuvwx1234"));
    const QString cut = verifierLog().value(QStringLiteral("events")).toArray().last().toObject().value(QStringLiteral("detail")).toString();
    EXPECT_LE(cut.size(), 240);
    EXPECT_FALSE(cut.contains(QStringLiteral("abcde"))) << cut.toStdString();

    for (int i = 0; i < 40; ++i)
        KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("s%1").arg(i), QString());
    events = verifierLog().value(QStringLiteral("events")).toArray();
    ASSERT_EQ(events.size(), 40);
    EXPECT_EQ(events.first().toObject().value(QStringLiteral("stage")).toString(), QStringLiteral("s0"));
    EXPECT_EQ(events.last().toObject().value(QStringLiteral("stage")).toString(), QStringLiteral("s39"));

    // A damaged file starts a new log instead of failing.
    ASSERT_TRUE(platform::writeFileAtomically(KRGaiaDiagnostics::filePath(), "[1,2"));
    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("after"), QString());
    log = verifierLog();
    EXPECT_EQ(log.value(QStringLiteral("format_version")).toInt(), 1);
    EXPECT_EQ(loggedStages(), QStringList{QStringLiteral("after")});
}

TEST(GaiaDiagnosticsTest, AForeignLogKeepsOnlyItsLastEventsInTheStoredForm)
{
    // Another writer's log: a version of its own, a key of its own, events that are no
    // objects, a stage and a detail never sanitised, and more events than the log keeps.
    QJsonArray foreign{5, QStringLiteral("text")};
    for (int i = 0; i < 45; ++i)
        foreign.append(QJsonObject{{QStringLiteral("at"), 1700000000 + i},
                                   {QStringLiteral("stage"), QStringLiteral("bad stage %1!").arg(i)},
                                   {QStringLiteral("detail"), QStringLiteral("token=abcdefghijklmnopqrstuvwx1234")},
                                   {QStringLiteral("cookie"), QStringLiteral("SESSDATA=s3ssion")}});
    const QJsonObject planted{{QStringLiteral("format_version"), 7},
                              {QStringLiteral("started_at"), 1700000000.5},
                              {QStringLiteral("cookie_dump"), QStringLiteral("SESSDATA=s3ssion")},
                              {QStringLiteral("events"), foreign}};
    ASSERT_TRUE(platform::writeFileAtomically(KRGaiaDiagnostics::filePath(), QJsonDocument(planted).toJson()));

    KRGaiaDiagnostics::recordVerifierStage(QStringLiteral("after"), QString());
    const QJsonObject log = verifierLog();
    EXPECT_EQ(log.keys(), (QStringList{QStringLiteral("events"), QStringLiteral("format_version"), QStringLiteral("started_at")}));
    EXPECT_EQ(log.value(QStringLiteral("format_version")).toInt(), 1);
    EXPECT_EQ(log.value(QStringLiteral("started_at")).toDouble(), 1700000000.5);
    const QJsonArray events = log.value(QStringLiteral("events")).toArray();
    ASSERT_EQ(events.size(), 40);
    EXPECT_EQ(events.first().toObject().value(QStringLiteral("stage")).toString(), QStringLiteral("badstage6"));
    for (qsizetype i = 0; i + 1 < events.size(); ++i) {
        const QJsonObject event = events.at(i).toObject();
        EXPECT_EQ(event.keys(), (QStringList{QStringLiteral("at"), QStringLiteral("detail"), QStringLiteral("stage")}));
        EXPECT_EQ(event.value(QStringLiteral("detail")).toString(), QStringLiteral("<redacted>"));
    }
    EXPECT_EQ(events.last().toObject().value(QStringLiteral("stage")).toString(), QStringLiteral("after"));
}

} // namespace
