// Millisecond clocks for the engine and its music: the system's steady
// clock, or a virtual clock that a driver advances, so that a show plays the
// same way on every run.
#pragma once

#include <atomic>
#include <cstdint>

#include "QlLib/SysObj.h"

namespace orb {

class TEngineClock : public ql::TObj {
public:
    virtual double NowMs() const = 0;
    // Waits about ms on a real clock; a virtual clock returns at once.
    virtual void Sleep(uint32_t ms) {}
    virtual bool IsVirtual() const { return false; }
};

class TSystemClock : public TEngineClock {
public:
    TSystemClock();
    double NowMs() const override;
    void Sleep(uint32_t ms) override;

private:
    int64_t m_startNs;
};

class TVirtualClock : public TEngineClock {
public:
    double NowMs() const override { return m_now.load(); }
    bool IsVirtual() const override { return true; }
    void Set(double ms) { m_now.store(ms); }
    void Advance(double ms) { m_now.store(m_now.load() + ms); }

private:
    std::atomic<double> m_now{0};
};

}  // namespace orb
