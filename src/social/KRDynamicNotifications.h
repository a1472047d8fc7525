#pragma once

#include <QString>

// Posted after a dynamic's comment count is known anew, with a null object and the user info
// {"dynamicID": the dynamic's id, "count": the count as a qint64}; any list showing that
// dynamic brings its row up to date.
inline const QString KRDynamicCommentCountDidChangeNotification = QStringLiteral("KRDynamicCommentCountDidChangeNotification");
