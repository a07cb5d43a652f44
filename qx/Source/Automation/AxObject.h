#pragma once

// The automation container the gateway drives its label engine with: ActiveQt's on Windows,
// our own elsewhere. Nothing else differs by platform.
#ifdef _WIN32
#include <QAxObject>
namespace _QX {
using AxObject = ::QAxObject;
}
#else
#include "Automation/CAxObject.h"
namespace _QX {
using AxObject = CAxObject;
}
#endif
