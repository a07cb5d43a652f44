#pragma once

namespace _QX::APP {

// Removes leftovers of earlier web-engine runs ("QtWebEngine*", "qutebrowser-*", any letter
// case) from the temporary folder; main thread, after the application object exists.
void CleanupWebEngine();

}  // namespace _QX::APP
