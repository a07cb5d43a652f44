#pragma once

// Stop for states that must not occur: prints "HALT" and a line end on standard output,
// then ends the process through exit(0). The dispatcher's exit tasks do not run.
[[noreturn]] void HALT();
