#include "platform/device/BackgroundTask.h"

#include <QList>

#include <map>

namespace platform {

namespace {

struct OpenTask {
    QString name;
    std::function<void()> expirationHandler;
};

struct Registry {
    BackgroundTask::Identifier next = 1;
    std::map<BackgroundTask::Identifier, OpenTask> open;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

BackgroundTask::Identifier BackgroundTask::begin(const QString& name, std::function<void()> expirationHandler)
{
    Registry& tasks = registry();
    const Identifier identifier = tasks.next++;
    tasks.open.emplace(identifier, OpenTask{name, std::move(expirationHandler)});
    return identifier;
}

void BackgroundTask::end(Identifier identifier)
{
    registry().open.erase(identifier);
}

int BackgroundTask::openTaskCount() { return int(registry().open.size()); }

void BackgroundTask::expireAllForTesting()
{
    QList<Identifier> identifiers;
    for (const auto& entry : registry().open)
        identifiers.append(entry.first);
    for (Identifier identifier : identifiers) {
        auto found = registry().open.find(identifier);
        if (found == registry().open.end())
            continue; // ended by an earlier handler
        std::function<void()> handler = std::move(found->second.expirationHandler);
        if (handler)
            handler();
        end(identifier);
    }
}

} // namespace platform
