#pragma once

#include <functional>
#include <optional>
#include <utility>

namespace Hub::Kit {

// Hands a view each change of a value it watches together with the value
// it saw before, for decisions that depend on where the value came from
// (a list that was empty and is no longer). The owner calls appear() when
// it is first shown and changed() whenever the watched value changes.
template<class T>
class OnChangeWithOld {
public:
    using Action = std::function<void(const T& old, const T& now)>;

    explicit OnChangeWithOld(Action action)
        : m_action(std::move(action))
    {
    }

    void appear(const T& value) { m_seen = value; }

    // The old value is the one last seen; before anything was seen, the
    // new value stands in for it.
    void changed(const T& value)
    {
        const T old = m_seen.value_or(value);
        m_seen = value;
        if (m_action)
            m_action(old, value);
    }

private:
    Action m_action;
    std::optional<T> m_seen;
};

} // namespace Hub::Kit
