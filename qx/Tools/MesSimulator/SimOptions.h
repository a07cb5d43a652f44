#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MES_SIM {

// Command-line settings of the simulator.
struct OPTIONS {
    std::string m_Address = "127.0.0.1";
    uint16_t m_Port = 5212;
    bool m_RefuseInitialize = false;
    // Close the connection right after the refusal of "_INITIALIZE" is sent.
    bool m_CloseOnRefusal = false;
    bool m_RefuseCheckConfig = false;
    // Keep calls unanswered until the "release" command.
    bool m_Hold = false;
    // Files with one print job (or an array of them) each, sent once their format is registered.
    std::vector<std::string> m_JobFiles;
    // Paths the "CheckConfig" reply names ahead of the gateway's own formats.
    std::vector<std::string> m_ExtraFormats;
    std::string m_FrameLog;
    std::string m_PngDir;
    // Stop after this many label images have been received; 0 never stops.
    int m_ExitAfterPrints = 0;
    // Job feed: sends this many numbered copies of the first job file's job (0: no feed),
    // at most window unanswered at a time and, with a rate, at most rate per second.
    int64_t m_Load = 0;
    int m_Window = 16;
    double m_Rate = 0.0;
    // Soak: faults chosen by the seed for this many seconds while the feed runs.
    int m_SoakSeconds = 0;
    uint64_t m_Seed = 1;
    int m_FaultEveryMs = 5000;
    // Jobs sent at once to a deaf connection, more than a bounded gateway takes on.
    int64_t m_FloodJobs = 20000;
    // Empty frames of an empty-frame fault, sent for at most m_EmptySeconds.
    int64_t m_EmptyFrames = 3000000;
    int m_EmptySeconds = 6;
    // Empty strings in each message of a dense fault (7.8 MB).
    int64_t m_DenseValues = 2600000;
    // Empty strings of the job sent before a resend's drop: just within the values a gateway
    // reads of one frame (32,768), so that the job is read, and is still on its way through
    // the gateway when the next connection registers.
    int64_t m_ResendValues = 30000;
    // A load or soak run whose jobs get no answer for this long stops and fails.
    int m_StallSeconds = 60;
};

// Fills options from argv; on failure returns false with a message in error.
bool ParseOptions(int argc, char** argv, OPTIONS& options, std::string& error);
std::string Usage();

}  // namespace MES_SIM
