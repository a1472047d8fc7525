#include "service/KRJSON.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

QVariant KRJSONParse(const QByteArray& data, QString* errorText)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        if (errorText) {
            *errorText = data.trimmed().isEmpty()
                ? QStringLiteral("empty JSON document")
                : QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset);
        }
        return QVariant();
    }
    if (errorText)
        errorText->clear();
    // QJsonValue::toVariant keeps integers as qlonglong and null as std::nullptr_t.
    if (document.isObject())
        return document.object().toVariantMap();
    return document.array().toVariantList();
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
