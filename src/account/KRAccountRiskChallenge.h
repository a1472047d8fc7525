#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform {
struct HTTPResponse;
}

// Finding the service's risk-control challenge wherever a refusal put it: several key names,
// nested objects, JSON written as text, or the voucher response header.

// The summary kept for diagnostics: "source", "present", the two voucher lengths and a
// validated "decision_type"; never a voucher itself.
QVariantMap KRAccountGaiaChallengeMetadata(const QVariant& reply, const platform::HTTPResponse* response);
// The risk options the captcha screen takes; none when nothing was found.
std::optional<QVariantMap> KRAccountExtractGaiaOptions(const QVariant& reply, const platform::HTTPResponse* response);
// The first usable value under one of the names, searched below the value to depth 7.
QVariant KRAccountFindNamedValue(const QVariant& value, const QStringList& names, int depth);
// The same on the top level only.
QVariant KRAccountDirectNamedValue(const QVariant& value, const QStringList& names);
// The "x-zant-gaia-vvoucher" header (any case); null without one.
QString KRAccountHeaderValue(const platform::HTTPResponse* response);
// The value, or the JSON it holds when it is JSON written as text.
QVariant KRAccountJSONObjectFromMaybeString(const QVariant& value);
