#include "platform/uikit/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace platform::uikit {

Pasteboard& Pasteboard::general()
{
    static Pasteboard pasteboard;
    return pasteboard;
}

QString Pasteboard::string() const
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text() : QString();
}

void Pasteboard::setString(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

QUrl Pasteboard::url() const
{
    const QUrl url(string().trimmed(), QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty() ? url : QUrl();
}

void Pasteboard::setURL(const QUrl& url) { setString(url.toString(QUrl::FullyEncoded)); }

} // namespace platform::uikit
