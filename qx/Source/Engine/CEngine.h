#pragma once

namespace _ENGINE {

// State of one engine instance, shared by all of its objects. After "Quit(int)" every object
// of the instance answers nothing. The engine's objects are used from one thread at a time.
struct CEngine {
    bool m_Running = true;
};

}  // namespace _ENGINE
