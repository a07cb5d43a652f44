#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MES_SIM {

// Command-line settings of the simulator.
struct OPTIONS {
    std::string address = "127.0.0.1";
    uint16_t port = 5212;
    bool refuseInitialize = false;
    bool refuseCheckConfig = false;
    // Keep calls unanswered until the "release" command.
    bool hold = false;
    // Files with one print job (or an array of them) each, sent once their format is registered.
    std::vector<std::string> jobFiles;
    std::string frameLog;
    std::string pngDir;
    // Stop after this many label images have been received; 0 never stops.
    int exitAfterPrints = 0;
    // Job feed: sends this many numbered copies of the first job file's job (0: no feed),
    // at most window unanswered at a time and, with a rate, at most rate per second.
    int64_t load = 0;
    int window = 16;
    double rate = 0.0;
    // Soak: faults chosen by the seed for this many seconds while the feed runs.
    int soakSeconds = 0;
    uint64_t seed = 1;
    int faultEveryMs = 5000;
};

// Fills options from argv; on failure returns false with a message in error.
bool ParseOptions(int argc, char** argv, OPTIONS& options, std::string& error);
std::string Usage();

}  // namespace MES_SIM
