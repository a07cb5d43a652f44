#pragma once

namespace MAIN_CTRL {

// Tray menu, main thread: queues the format report to the MES and returns at once.
void RefreshFormat();

}  // namespace MAIN_CTRL
