#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class KRVideo;

// A map from synthetic archive ids to real ones that an outside component of the process
// may provide. Both sides are written as decimal text. When none is installed (the usual
// case), registering videos only fills their resolved aid from their aid.
class KRCompatibilityAIDMap {
public:
    virtual ~KRCompatibilityAIDMap() = default;

    // Whether entries can be stored; a read-only map is left untouched.
    virtual bool isWritable() const = 0;
    // The keys in the map's own order.
    virtual QStringList keys() const = 0;
    // The value under a key; invalid when absent.
    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QString& value) = 0;

    // The installed map, or none. Main thread.
    static std::shared_ptr<KRCompatibilityAIDMap> installed();
    static void install(std::shared_ptr<KRCompatibilityAIDMap> map);
};

// Records each video's real archive id in the installed map and gives it the synthetic one
// (without a map: fills the resolved aid from the aid). Main thread.
void KRRegisterCompatibilityMappings(const QList<std::shared_ptr<KRVideo>>& videos);
// Sets the resolved aid of videos whose aid the installed map knows as a synthetic one.
void KRApplyResolvedAIDs(const QList<std::shared_ptr<KRVideo>>& videos);
