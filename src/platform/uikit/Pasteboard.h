#pragma once

#include <QString>
#include <QUrl>

namespace platform::uikit {

// The general pasteboard over the system clipboard: one text, or one address.
class Pasteboard {
public:
    static Pasteboard& general();

    QString string() const;
    void setString(const QString& text);
    // The address the pasteboard holds as its text, or an empty one.
    QUrl url() const;
    void setURL(const QUrl& url);

private:
    Pasteboard() = default;
};

} // namespace platform::uikit
