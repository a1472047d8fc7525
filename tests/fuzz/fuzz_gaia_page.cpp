// The captcha page's template on any parts: the risk options and configuration as the
// service might send them, written as escaped JSON, and script texts. No reply text may end
// a script element or start the escaped-script state; each part lands once, in order, never
// filled again; a trusted script address stays inside the captcha SDK's folder of the static
// CDN host whatever a browser makes of it.
#include "FuzzInput.h"

#include "login/KRGaiaVerificationViewController.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"

#include <QUrl>

namespace {

const QString kFolder = QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk/");

// The escaped JSON with its escapes undone, as the script reads it.
QVariant readBack(QString escaped)
{
    escaped.replace(QStringLiteral("<\\!--"), QStringLiteral("<!--"));
    return KRJSONParse(escaped.toUtf8());
}

void checkEscaped(const QVariant& value)
{
    KROptionalError error;
    const QString escaped = KRGaiaEscapedJSONString(value, &error);
    if (escaped.isNull()) {
        fuzz::check(error.has_value(), "a value that is not written says why");
        return;
    }
    fuzz::check(!escaped.contains(QStringLiteral("</")) && !escaped.contains(QStringLiteral("<!--")),
                "escaped JSON can neither end the script element nor open a comment in it");
    fuzz::check(!escaped.contains(QChar(0x2028)) && !escaped.contains(QChar(0x2029)), "no line separators stay raw");
    fuzz::check(KRJSONData(readBack(escaped)) == KRJSONData(value), "escaped JSON reads back as the value");
}

void checkTrust(const QString& address)
{
    if (!KRGaiaIsTrustedScriptLocation(address))
        return;
    // What a browser asks for: the address resolved against a page, dot segments removed.
    const QUrl asked = QUrl(QStringLiteral("https://page.invalid/a/b")).resolved(QUrl(address));
    fuzz::check(asked.scheme() == QLatin1String("https"), "a trusted script is fetched over https");
    fuzz::check(asked.host().toLower() == KRServiceHosts::staticCDNHost(), "a trusted script comes from the static CDN host");
    fuzz::check(asked.path(QUrl::FullyEncoded).startsWith(kFolder), "a trusted script lies in the SDK's folder");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    QString parts[6];
    for (int i = 0; i < 4; ++i)
        parts[i] = QString::fromUtf8(input.chunk(48));
    const QString address = QString::fromUtf8(input.chunk(96));
    const QVariant risk = KRJSONParse(input.rest());

    checkTrust(address);
    checkEscaped(risk);
    checkEscaped(QVariantMap{{QStringLiteral("script"), address}, {QStringLiteral("risk"), risk}});
    parts[4] = KRGaiaEscapedJSONString(risk);
    parts[5] = KRGaiaEscapedJSONString(QVariantList{address, parts[0]});

    const QString empty = KRGaiaVerificationDocument({}, {}, {}, {}, {}, {});
    const QString page = KRGaiaVerificationDocument(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
    qsizetype length = empty.size();
    qsizetype at = 0;
    for (const QString& part : parts) {
        length += part.size();
        const qsizetype found = page.indexOf(part, at);
        fuzz::check(found >= 0, "every part is on the page, in order");
        at = found + part.size();
    }
    fuzz::check(page.size() == length, "each part is placed once and nothing in it is filled again");
    // The JSON parts add no end of a script element to the page's own.
    const QString withoutScripts = KRGaiaVerificationDocument({}, {}, {}, {}, parts[4], parts[5]);
    fuzz::check(withoutScripts.count(QStringLiteral("</script"), Qt::CaseInsensitive) ==
                    empty.count(QStringLiteral("</script"), Qt::CaseInsensitive),
                "reply text ends no script element");
    return 0;
}
