#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The two request signatures of the service. Both stamp the current time from the web-API
// client's clock (KRAPIClient::currentTime).

// Web signature.
// The file name without extension of one image address of the navigation reply; null when none.
QString KRWBIFileKey(const QVariant& value);
// The mixin key from the two image addresses of the navigation reply; null when too short.
QString KRWBIMixinKeyFromFileKeys(const QString& imgKey, const QString& subKey);
// The parameters with "wts" and "w_rid" added; empty without a key.
QVariantMap KRWBISignedParameters(const QVariantMap& parameters, const QString& mixinKey);
QString KRWBISignedURLString(const QString& base, const QVariantMap& parameters, const QString& mixinKey);

// App signature.
QString KRAppSignedURLString(const QString& base, const QVariantMap& parameters);
