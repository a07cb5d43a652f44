#pragma once

#include <string>

#include "Platform/IRoot.h"

class QWidget;

namespace _QX {

// The MES web interface in a view of its own profile; GUI thread only.
struct IWebView : IRoot {
    // Starts loading the UTF-8 URL (tolerant parsing); the result is not reported.
    virtual void Load(const std::string& url) = 0;
    // The view widget, without a parent until the caller puts it into a layout.
    virtual QWidget* Widget() = 0;
};

}  // namespace _QX
