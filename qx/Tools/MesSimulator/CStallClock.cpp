#include "MesSimulator/CStallClock.h"

#include <algorithm>

namespace MES_SIM {

void CStallClock::Progress(Clock::time_point now) {
    m_Connected = Clock::duration(0);
    m_Since = now;
}

void CStallClock::SetCurrent(Clock::time_point now, bool current) {
    if (current == m_Current)
        return;
    if (m_Current)
        m_Connected += now - m_Since;
    m_Current = current;
    m_Since = now;
}

void CStallClock::Attempted(Clock::time_point now) {
    if (!m_Current)
        m_Since = now;
}

CStallClock::Clock::duration CStallClock::Idle(Clock::time_point now) const {
    if (m_Current)
        return m_Connected + (now - m_Since);
    return std::max(m_Connected, now - m_Since);
}

}  // namespace MES_SIM
