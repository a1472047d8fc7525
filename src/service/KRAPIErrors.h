#pragma once

#include "model/KRError.h"

#include <QString>
#include <QVariant>

// Errors raised by the web-API client and its loaders.
inline const QString KRAPIErrorDomain = QStringLiteral("KRAPIErrorDomain");

// An error of KRAPIErrorDomain.
KRError KRAPIError(qint64 code, const QString& message);
// -3 "服务器没有返回数据，请稍后重试": a successful status with an empty body.
KRError KRAPIEmptyReplyError();
// -4 "服务器返回的数据格式异常，请稍后重试": a reply that could not be read, or that named nothing.
KRError KRAPIMalformedReplyError();
// A refused HTTP status: the status as code (-2 below 1) and "服务器返回 HTTP %ld，请稍后重试".
KRError KRHTTPStatusError(int status);
// The service error a parsed reply carries (non-zero "code"), or none.
KROptionalError KRAPIErrorFromPayload(const QVariant& payload);
// Domain KRAPIErrorDomain and code -404, 62002 or 62004; false without an error.
bool KRAPIErrorMeansArchiveUnavailable(const KROptionalError& error);
