#pragma once

namespace _QX {

// The longest path, in UTF-16 units, that this system opens: on Windows without long-path
// support (neither the system's setting nor the program's manifest allows them) MAX_PATH less
// its terminating zero; 0, no such bound, elsewhere.
int PathLimit();

}  // namespace _QX
