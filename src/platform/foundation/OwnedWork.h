#pragma once

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/ReplyOwner.h"

#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace platform {

class OperationQueue;

// The one way to run work for an owner: the work runs on a worker, what it returns hops to the
// main thread, and the delivery runs there exactly once, unless the owner has gone (or the work
// was cancelled) by then. A dropped delivery is still released on the main thread, so what it
// holds is never destroyed on a worker. An answer known at once goes the same way, later and
// never inside the call that asked (answerLater).
//
//     OwnedWork(owner).onQueue(queue).run([path](const OwnedWork&) { return decode(path); },
//                                          [completion](QImage image) { completion(image); });
class OwnedWork {
public:
    // A null owner stands for a caller that lives as long as the process. Made on the main
    // thread, where owners live and die.
    explicit OwnedWork(ReplyOwner owner = {});

    // The queue the work runs on; without one (or another start), a worker thread of its own.
    OwnedWork& onQueue(OperationQueue* queue);
    // Starts the work some other way, answering whether it did (the request pipeline's one-off
    // workers, which refuse work once the pipeline has closed).
    OwnedWork& startedBy(std::function<bool(std::function<void()>)> start);
    // A further reason nobody waits any more, asked on any thread (a request handle's cancel()).
    OwnedWork& cancelledBy(std::function<bool()> cancelled);

    // Whether nobody waits for the result any more (any thread; final once true). Work that does
    // several steps may ask it between them.
    bool abandoned() const;

    // Runs `work(const OwnedWork&)` on the worker and hands what it returns to `deliver(result)`
    // on the main thread. The work runs even when nobody waits any more (a picture the user
    // asked to save is saved whoever asked). False when the work could not be started: then
    // neither runs, and both are released here.
    template <typename Work, typename Deliver>
    bool run(Work work, Deliver deliver) const
    {
        return dispatch(std::move(work), std::move(deliver), false);
    }

    // As run, but a worker that finds nobody waiting any more skips the work altogether.
    template <typename Work, typename Deliver>
    bool runUnlessAbandoned(Work work, Deliver deliver) const
    {
        return dispatch(std::move(work), std::move(deliver), true);
    }

    // Calls `deliver(arguments…)` on the main thread later, never inside this call, unless
    // nobody waits any more by then; an empty completion stays a no-op.
    template <typename Deliver, typename... Arguments>
    void answerLater(Deliver deliver, Arguments... arguments) const
    {
        dispatchMain([owned = *this, deliver = std::move(deliver),
                      arguments = std::make_tuple(std::move(arguments)...)]() mutable {
            if (owned.abandoned())
                return;
            if constexpr (std::is_constructible_v<bool, const Deliver&>) {
                if (!deliver)
                    return;
            }
            std::apply(deliver, std::move(arguments));
        });
    }

private:
    template <typename Work, typename Deliver>
    bool dispatch(Work work, Deliver deliver, bool skipWhenAbandoned) const
    {
        using Result = std::decay_t<std::invoke_result_t<Work&, const OwnedWork&>>;
        return start([owned = *this, work = std::move(work), deliver = std::move(deliver), skipWhenAbandoned]() mutable {
            if (skipWhenAbandoned && owned.abandoned())
                return releaseOnMain(std::move(deliver));
            Result result = work(std::as_const(owned));
            dispatchMain([owned, deliver = std::move(deliver), result = std::move(result)]() mutable {
                if (!owned.abandoned())
                    deliver(std::move(result));
            });
        });
    }

    bool start(std::function<void()> operation) const;

    ReplyOwner m_owner;
    OperationQueue* m_queue = nullptr;
    std::function<bool(std::function<void()>)> m_start;
    std::function<bool()> m_cancelled;
};

} // namespace platform
