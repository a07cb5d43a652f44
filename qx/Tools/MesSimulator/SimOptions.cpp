#include "MesSimulator/SimOptions.h"

#include <exception>

namespace MES_SIM {

std::string Usage() {
    return "Usage: MesSimulator [options]\n"
           "  --listen ADDRESS        address to listen on (127.0.0.1)\n"
           "  --port PORT             port to listen on (5212)\n"
           "  --refuse-initialize     answer \"_INITIALIZE\" with _OK false\n"
           "  --close-on-refusal      close the connection right after that refusal\n"
           "  --refuse-checkconfig    answer \"CheckConfig\" with _OK false\n"
           "  --hold                  leave calls unanswered until the \"release\" command\n"
           "  --job FILE              print job (JSON object or array) sent once its format\n"
           "                          is registered; FormatFilename may be a reported relPath\n"
           "  --extra-format PATH     name PATH in the \"CheckConfig\" reply before the\n"
           "                          reported formats, as if the MES knew it\n"
           "  --frame-log FILE        write every frame received and sent to FILE\n"
           "  --png-dir DIR           save each received label image as DIR/label-N.png\n"
           "  --exit-after-prints N   stop after N label images\n"
           "  --load N                send N numbered copies of the first --job, each\n"
           "                          matched to its \"Print\" call, then print a summary\n"
           "  --window N              at most N jobs unanswered at a time (16)\n"
           "  --rate R                at most R jobs per second (no limit)\n"
           "  --soak SECONDS          inject faults for SECONDS while the feed runs, then\n"
           "                          settle and report (needs --load)\n"
           "  --seed N                seed of the faults (1)\n"
           "  --fault-every MS        mean wait between faults (5000)\n"
           "  --flood N               jobs sent at once to a deaf connection (20000)\n"
           "  --empty-frames N        frames of an empty fault (3000000)\n"
           "  --empty-seconds S       time an empty fault sends for at most (6)\n"
           "  --dense-values N        empty strings in each dense message (2600000)\n"
           "  --stall-seconds S       stop and fail a feed that gets no answer for S\n"
           "                          seconds, saying what it waits for (60)\n"
           "Commands on standard input, one per line:\n"
           "  print JSON  send a print job   send TEXT  send a raw text frame\n"
           "  drop        drop the connection without a close frame\n"
           "  hold        stop answering calls   release  answer the held calls\n"
           "  status      print the job feed's figures\n"
           "  go          start the soak's faults once the warm-up is measured\n"
           "  fault KIND  inject one fault into a job feed, unless a soak injects its own:\n"
           "              drop, mute, malformed, burst (drop, then drop the next 3 at\n"
           "              once) or deaf (stop reading, send --flood jobs at once, and the\n"
           "              jobs in flight again once the gateway registers anew)\n"
           "  refuse      refuse the next \"_INITIALIZE\" and drop the connection\n"
           "  quit        stop\n";
}

namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
    try {
        size_t used = 0;
        const int value = std::stoi(text, &used);
        if (used != text.size() || value < 0 || value > 65535)
            return false;
        port = static_cast<uint16_t>(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

template <typename T>
bool ParseCount(const std::string& text, T& count) {
    try {
        size_t used = 0;
        const long long value = std::stoll(text, &used);
        count = static_cast<T>(value);
        return used == text.size() && value >= 0 && static_cast<long long>(count) == value;
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseRate(const std::string& text, double& rate) {
    try {
        size_t used = 0;
        rate = std::stod(text, &used);
        return used == text.size() && rate >= 0.0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool ParseOptions(int argc, char** argv, OPTIONS& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const auto value = [&]() -> std::string { return argv[++i]; };
        if (arg == "--refuse-initialize") {
            options.m_RefuseInitialize = true;
        } else if (arg == "--close-on-refusal") {
            options.m_CloseOnRefusal = true;
        } else if (arg == "--refuse-checkconfig") {
            options.m_RefuseCheckConfig = true;
        } else if (arg == "--hold") {
            options.m_Hold = true;
        } else if (!hasValue) {
            error = "unknown option or missing value: " + arg;
            return false;
        } else if (arg == "--listen") {
            options.m_Address = value();
        } else if (arg == "--port") {
            if (!ParsePort(value(), options.m_Port)) {
                error = "bad port: " + std::string(argv[i]);
                return false;
            }
        } else if (arg == "--job") {
            options.m_JobFiles.push_back(value());
        } else if (arg == "--extra-format") {
            options.m_ExtraFormats.push_back(value());
        } else if (arg == "--frame-log") {
            options.m_FrameLog = value();
        } else if (arg == "--png-dir") {
            options.m_PngDir = value();
        } else if (arg == "--exit-after-prints") {
            if (!ParseCount(value(), options.m_ExitAfterPrints)) {
                error = "bad count: " + std::string(argv[i]);
                return false;
            }
        } else if (arg == "--load" || arg == "--window" || arg == "--soak" || arg == "--seed" ||
                   arg == "--fault-every" || arg == "--flood" || arg == "--stall-seconds" ||
                   arg == "--empty-frames" || arg == "--empty-seconds" || arg == "--dense-values") {
            const std::string text = value();
            const bool ok = arg == "--load"            ? ParseCount(text, options.m_Load)
                            : arg == "--window"        ? ParseCount(text, options.m_Window)
                            : arg == "--soak"          ? ParseCount(text, options.m_SoakSeconds)
                            : arg == "--seed"          ? ParseCount(text, options.m_Seed)
                            : arg == "--fault-every"   ? ParseCount(text, options.m_FaultEveryMs)
                            : arg == "--flood"         ? ParseCount(text, options.m_FloodJobs)
                            : arg == "--empty-frames"  ? ParseCount(text, options.m_EmptyFrames)
                            : arg == "--empty-seconds" ? ParseCount(text, options.m_EmptySeconds)
                            : arg == "--dense-values"  ? ParseCount(text, options.m_DenseValues)
                                                       : ParseCount(text, options.m_StallSeconds);
            if (!ok) {
                error = "bad count: " + text;
                return false;
            }
        } else if (arg == "--rate") {
            if (!ParseRate(value(), options.m_Rate)) {
                error = "bad rate: " + std::string(argv[i]);
                return false;
            }
        } else {
            error = "unknown option: " + arg;
            return false;
        }
    }
    if (options.m_Window < 1) {
        error = "the window must hold at least one job";
        return false;
    }
    if (options.m_StallSeconds < 1) {
        error = "a feed must be let wait at least one second";
        return false;
    }
    if (options.m_Load > 0 && options.m_JobFiles.empty()) {
        error = "--load needs a --job to copy";
        return false;
    }
    if (options.m_SoakSeconds > 0 && options.m_Load == 0) {
        error = "--soak needs --load";
        return false;
    }
    return true;
}

}  // namespace MES_SIM
