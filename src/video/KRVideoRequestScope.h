#pragma once

#include <QObject>
#include <QPointer>

// The owner a part gives its requests: a QObject made anew at each begin or reload (the one
// before it goes, and with it every reply still on its way) and a child of the part's view,
// so that replies arriving after the view has gone are never delivered.
class KRVideoRequestScope {
public:
    explicit KRVideoRequestScope(QObject* view = nullptr) : m_view(view) {}
    ~KRVideoRequestScope() { end(); }
    KRVideoRequestScope(const KRVideoRequestScope&) = delete;
    KRVideoRequestScope& operator=(const KRVideoRequestScope&) = delete;

    void setView(QObject* view)
    {
        end();
        m_view = view;
    }
    // A new owner; replies of the previous one are dropped. Null once the view has gone.
    QObject* begin()
    {
        end();
        if (m_view)
            m_owner = new QObject(m_view);
        return m_owner;
    }
    // The current owner, made when there is none yet; null once the view has gone.
    QObject* owner() { return m_owner ? m_owner.data() : begin(); }
    // Drops every reply still on its way.
    void end() { delete m_owner.data(); }

private:
    QPointer<QObject> m_view;
    QPointer<QObject> m_owner;
};
