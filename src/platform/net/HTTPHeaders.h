#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <initializer_list>

namespace platform {

// Header fields in the order they were given; names compare case-insensitively and keep
// the spelling they were first given with.
class HTTPHeaders {
public:
    HTTPHeaders() = default;
    HTTPHeaders(std::initializer_list<QPair<QString, QString>> fields);

    // Replaces every field of that name (in the place of the first one) with one field.
    void set(const QString& name, const QString& value);
    void add(const QString& name, const QString& value);
    // The field's value; several fields of one name are joined with ", " as the platform
    // does (read Set-Cookie through values()). Null when absent.
    QString value(const QString& name) const;
    QStringList values(const QString& name) const;
    bool contains(const QString& name) const;
    void remove(const QString& name);
    QList<QPair<QString, QString>> all() const { return m_fields; }

    bool isEmpty() const { return m_fields.isEmpty(); }

    // A field that can go on the wire as given: the name a token, the value free of CR, LF
    // and NUL (so no field can smuggle in another).
    static bool isSafeField(const QString& name, const QString& value);
    // An HTTP token (a field name or a method).
    static bool isToken(const QString& text);
    // One line of a received header block, as libcurl hands it over (line ending included): a
    // status line starts the block afresh (only the last block, after any 1xx, counts), a
    // folded line continues the last field, a field line adds its field. Answers whether it
    // was the empty line that ends the block.
    bool readWireLine(QByteArray line);
    // A received name or value: UTF-8 when it decodes cleanly, else Latin-1 as servers mean it.
    static QString textFromWire(const QByteArray& bytes);
    qsizetype size() const { return m_fields.size(); }
    void clear() { m_fields.clear(); }

private:
    QList<QPair<QString, QString>> m_fields;
};

} // namespace platform
