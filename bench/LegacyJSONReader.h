#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The reader KRJSONParse replaced, with the same contract: the value tree, or an invalid
// QVariant and a description with the byte offset.
QVariant LegacyJSONParse(const QByteArray& data, QString* errorText = nullptr);
