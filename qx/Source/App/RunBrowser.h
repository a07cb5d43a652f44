#pragma once

#include <string>

namespace _QX::APP {

// The browser's whole Qt life on the main thread: lock file, application, clean-up of
// leftovers (again when about to quit), identity, translator, style, the hidden window, the
// Qt-started flag and the event loop. Returns after the application has been shut down.
void RunBrowser(int argc, char** argv, const std::string& translatorName,
                const std::string& language);

}  // namespace _QX::APP
