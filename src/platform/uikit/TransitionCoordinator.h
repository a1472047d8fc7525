#pragma once

#include <QSizeF>

#include <functional>
#include <vector>

namespace platform::uikit {

// Collects what should run alongside a size transition's animation and after it.
class TransitionCoordinator {
public:
    TransitionCoordinator(QSizeF targetSize, double duration) : m_targetSize(targetSize), m_duration(duration) {}

    QSizeF targetSize() const { return m_targetSize; }
    double transitionDuration() const { return m_duration; }
    void animateAlongsideTransition(std::function<void()> animation, std::function<void()> completion = {})
    {
        if (animation)
            m_animations.push_back(std::move(animation));
        if (completion)
            m_completions.push_back(std::move(completion));
    }

    // For the window that runs the transition.
    void runAnimations() const
    {
        for (const auto& fn : m_animations)
            fn();
    }
    void runCompletions() const
    {
        for (const auto& fn : m_completions)
            fn();
    }

private:
    QSizeF m_targetSize;
    double m_duration;
    std::vector<std::function<void()>> m_animations;
    std::vector<std::function<void()>> m_completions;
};

} // namespace platform::uikit
