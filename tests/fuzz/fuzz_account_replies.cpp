// The account client's readers of replies on any JSON: the risk-control challenge (body and
// voucher header), the redacted shape kept for diagnostics, the play-information readers and
// the captcha log's redaction. What is kept for diagnostics never holds a string of the
// reply, nor a credential-like run of a detail.
#include "FuzzInput.h"

#include "account/KRAccountClient.h"
#include "account/KRAccountRiskChallenge.h"
#include "account/KRGaiaDiagnostics.h"
#include "account/KRPlaybackInfo.h"
#include "model/KRJSON.h"
#include "platform/net/HTTPExchange.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// The keys and the string values of a value, apart.
void collectKeysAndValues(const QVariant& value, QStringList* keys, QStringList* values)
{
    if (value.typeId() == QMetaType::QString) {
        values->append(value.toString());
    } else if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            keys->append(it.key());
            collectKeysAndValues(it.value(), keys, values);
        }
    } else if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant& item : value.toList())
            collectKeysAndValues(item, keys, values);
    }
}

// Whether a string of `kept` contains `secret`.
bool keeps(const QVariant& kept, const QString& secret)
{
    QStringList strings;
    collectKeysAndValues(kept, &strings, &strings);
    return std::any_of(strings.cbegin(), strings.cend(), [&](const QString& s) { return s.contains(secret); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    const uint8_t flags = input.byte();
    const QString headerVoucher = QString::fromUtf8(input.chunk(24));
    const QVariant reply = KRJSONParse(input.rest());

    platform::HTTPResponse response;
    response.status = 412;
    if (flags & 1)
        response.headers.add(QStringLiteral("X-Zant-Gaia-VVoucher"), headerVoucher);
    const platform::HTTPResponse* withResponse = (flags & 2) ? &response : nullptr;

    const std::optional<QVariantMap> options = KRAccountExtractGaiaOptions(reply, withResponse);
    const QVariantMap metadata = KRAccountGaiaChallengeMetadata(reply, withResponse);
    if (options) {
        const QString voucher = options->value(QStringLiteral("v_voucher")).toString();
        // Short texts stand for too much else ("YES", numbers) to tell a leak.
        if (voucher.size() >= 8)
            fuzz::check(!keeps(metadata, voucher), "the challenge summary never holds the voucher");
    }
    KRAccountJSONObjectFromMaybeString(reply);
    KRAccountFindNamedValue(reply, {QStringLiteral("v_voucher"), QStringLiteral("token")}, 0);

    // The shape kept of a refused reply names keys, types and counts, never a value.
    QStringList keys, values;
    collectKeysAndValues(reply, &keys, &values);
    QStringList shapeStrings, unused;
    collectKeysAndValues(KRAccountRedactedShape(reply, 0), &shapeStrings, &unused);
    shapeStrings += unused;
    for (const QString& value : values) {
        if (value.size() >= 12 && !keys.contains(value))
            fuzz::check(!shapeStrings.contains(value), "the redacted shape holds no value of the reply");
    }

    const std::optional<QVariantMap> play = KRAccountPlaybackData(reply);
    KRAccountProgressiveDataHasExactQuality(play, 80);
    KRAccountDASHDataHasExactH264AAC(play, 80);
    KRAccountPGCPlayURLHasStreams(KRAccountNormalizedPGCPlayURL(reply));

    // The captcha log's details: a credential-like run is never kept, whole or in part.
    if (reply.typeId() == QMetaType::QString) {
        const QString detail = reply.toString();
        const QString stored = KRGaiaDiagnostics::sanitizedDetail(detail);
        fuzz::check(stored.size() <= 240, "a detail is cut to its length");
        // A run of 24 or more token characters with a digit or a sign among them.
        static const QRegularExpression run(QStringLiteral("[A-Za-z0-9+/=.\\-]{24,}"));
        static const QRegularExpression nonLetter(QStringLiteral("[0-9+/=.\\-]"));
        for (auto match = run.globalMatch(stored); match.hasNext();)
            fuzz::check(!match.next().captured().contains(nonLetter), "no credential-like run survives in a detail");
    }
    return 0;
}
