// Small scope guards: work that must happen however a scope is left, by its
// end, a return or an exception, written once next to the change it undoes.
#pragma once

#include <utility>

namespace ql {

// Runs `undo` when the scope is left.
template <class F>
class [[nodiscard]] TScopeExit {
public:
    explicit TScopeExit(F undo) : m_undo(std::move(undo)) {}
    ~TScopeExit() { m_undo(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F m_undo;
};

// Gives `target` a value for the scope and puts the one before back at its end.
template <class T>
class [[nodiscard]] TScopedValue {
public:
    TScopedValue(T& target, T value)
        : m_target(target), m_saved(std::exchange(target, std::move(value))) {}
    ~TScopedValue() { m_target = std::move(m_saved); }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& m_target;
    T m_saved;
};

}  // namespace ql
