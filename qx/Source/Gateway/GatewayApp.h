#pragma once

#include <string>

// The gateway's own part of the Qt host, beside the shared one in Qx/QxApp.h.
namespace _QX::APP {

// The gateway's whole Qt life on the main thread; returns after the loop ended and
// ShutdownApp ran.
void Run(int argc, char** argv, const std::string& appId, const std::string& language);
// Shows the connection state in the gateway's window; waits for the main thread.
void NotifyConnected(bool connected);

}  // namespace _QX::APP
