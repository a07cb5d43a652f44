#pragma once

#include <string>

#include "Support/Process.h"

// An Xvfb server of the test's own, so that a real window can be found and closed with
// xdotool as an operator would close it.
struct CVirtualDisplay {
    // Empty when Xvfb could not be started.
    bool Start(const std::string& logFile);
    const std::string& Name() const { return m_Name; }
    // Waits for a visible window whose title is exactly title and presses Return in it.
    bool PressReturnIn(const std::string& title, const std::string& workDir);

private:
    bool Xdotool(const std::vector<std::string>& args, const std::string& output);

    SUPPORT::CProcess m_Server;
    std::string m_Name;
};
