#pragma once

#include <chrono>

namespace MES_SIM {

// How long a feed has waited for progress, counted so that faults of our own making do not
// count against the gateway: time without an unmuted current connection (a mute or a drop until
// the gateway connects anew) is owed only while one such stretch lasts, time with one adds up
// until the next answer.
struct CStallClock {
    using Clock = std::chrono::steady_clock;

    explicit CStallClock(Clock::time_point now) : m_Since(now) {}

    // An answer, or a phase that waits for none: nothing is owed any more.
    void Progress(Clock::time_point now);
    // Whether an unmuted connection is current from now on.
    void SetCurrent(Clock::time_point now, bool current);
    // A connection was accepted and dropped at once: the gateway keeps trying, so a stretch
    // without a current connection starts again.
    void Attempted(Clock::time_point now);
    // The longer of the time owed while connected and the stretch without a connection so far.
    Clock::duration Idle(Clock::time_point now) const;

private:
    bool m_Current = false;
    // The start of the present state, or the last progress if later.
    Clock::time_point m_Since;
    // Connected since the last progress, up to m_Since.
    Clock::duration m_Connected{0};
};

}  // namespace MES_SIM
