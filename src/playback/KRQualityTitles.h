#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Names of the service's quality codes (qn). 0 or less is automatic.

// The server's own title for the code when it listed one (its titles index-aligned with its
// codes), else the fixed table ("240P" … "4K"), else "<code>P".
QString KRQualityTitleForValue(int quality, const QList<int>& serverQualities = {}, const QStringList& serverTitles = {});
// The fixed table alone: short enough for the controls, whatever the server calls the code.
QString KRCompactQualityTitleForValue(int quality);
// The code whose fixed-table title stands as a word in `title` ("720P", or a server's
// "高清 720P"); 0 when it names none.
int KRQualityValueForTitle(const QString& title);
