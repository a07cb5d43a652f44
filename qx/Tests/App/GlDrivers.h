#pragma once

// Keeps the OpenGL drivers loaded so far in memory until the process ends. Closing the X
// display otherwise unloads Mesa's driver, and what it still holds is then reported as a leak
// from code the leak checker can no longer name or tell apart from ours.
void KeepGlDriversLoaded();
