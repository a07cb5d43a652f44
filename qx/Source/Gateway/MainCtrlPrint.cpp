#include <QImage>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <spdlog/fmt/fmt.h>

#include "Gateway/LabelPng.h"
#include "Gateway/MainCtrl.h"
#include "Gateway/Messages.h"
#include "Platform/FreeMemory.h"
#include "Platform/Gcd.h"
#include "Platform/Log.h"
#include "Platform/NormalPath.h"
#include "Platform/Text.h"

using nlohmann::json;

namespace MAIN_CTRL {

namespace {

// The format's path as the wrapper keys it: absolute, dot segments removed. Either separator
// is accepted on Windows; elsewhere a backslash is a character of a name, as the folder walk
// reports it.
std::u16string AbsoluteFormatPath(const std::string& formatFilename) {
    const std::u16string name = _OS::Utf8ToWide(formatFilename);
    if (name.empty())
        return name;
    return _OS::PathToWide(_OS::NormalPath(std::filesystem::path(name)));
}

// Jobs taken on and not yet answered, with their held bytes; the callbacks on queue 2 take
// them on, their tasks on queue 1 let them go.
std::mutex s_WaitingMutex;
size_t s_WaitingJobs = 0;
size_t s_WaitingBytes = 0;
// Jobs dropped for the bound since the last one taken on. A flood costs two log lines, not one
// per job: the first drop of a stretch, and the count of the others once jobs are taken again.
size_t s_Dropped = 0;
// Set once the waiting jobs or their bytes passed the flood mark; the heap's free memory goes back
// once they have all gone.
bool s_Flooded = false;

struct TAKE_ON {
    bool m_Taken = false;
    // Dropped: its number in the stretch of drops. Taken: the drops of the stretch before it.
    size_t m_Dropped = 0;
};

TAKE_ON TakeOn(size_t bytes) {
    std::lock_guard<std::mutex> lock(s_WaitingMutex);
    if (s_WaitingJobs >= MAX_WAITING_JOBS || bytes > MAX_WAITING_JOB_BYTES - s_WaitingBytes)
        return {false, ++s_Dropped};
    ++s_WaitingJobs;
    s_WaitingBytes += bytes;
    s_Flooded =
        s_Flooded || s_WaitingJobs >= FLOOD_WAITING_JOBS || s_WaitingBytes >= FLOOD_WAITING_BYTES;
    return {true, std::exchange(s_Dropped, 0)};
}

void LetGo(size_t bytes) {
    {
        std::lock_guard<std::mutex> lock(s_WaitingMutex);
        --s_WaitingJobs;
        s_WaitingBytes -= bytes;
        if (s_WaitingJobs > 0 || !std::exchange(s_Flooded, false))
            return;
    }
    // The trim walks the heap: not on queue 1, which lets the jobs go.
    _GCD::Post(_OS::ReleaseFreeMemory, _GCD::QUEUE_SPARE);
}

// A job taken on: it counts against the bound until its task is gone, run or dropped.
struct WAITING_JOB {
    WAITING_JOB(PRINT_JOB::DEF job, size_t bytes) : m_Job(std::move(job)), m_Bytes(bytes) {}
    ~WAITING_JOB() { LetGo(m_Bytes); }
    WAITING_JOB(const WAITING_JOB&) = delete;
    WAITING_JOB& operator=(const WAITING_JOB&) = delete;

    PRINT_JOB::DEF m_Job;
    const size_t m_Bytes;
};

// Entries as the substring loop takes them, and the bytes of their names and texts. The count
// is checked first, so that the sizes are summed over a bounded number of entries.
bool DataWithinBound(const json& data) {
    // The library counts null as no entry and a single value as one, and iterates it so.
    if (data.size() > MAX_JOB_DATA_ENTRIES)
        return false;
    size_t bytes = 0;
    for (auto it = data.begin(); it != data.end(); ++it) {
        if (data.is_object())
            bytes += it.key().size();
        if (it->is_string())
            bytes += it->get_ref<const std::string&>().size();
    }
    return bytes <= MAX_JOB_DATA_BYTES;
}

// Sets the job's substrings in key order (arrays by index, a single value under the empty
// name). Returns false at the first value that is not a string: what was set stays set.
bool SetSubstrings(const json& data) {
    const auto set = [](const std::string& name, const json& value) {
        if (!value.is_string())
            return false;
        g_Bartender->SetNamedSubStringValue(name, value.get<std::string>());
        return true;
    };
    if (data.is_null())
        return true;
    if (data.is_object()) {
        for (const auto& [name, value] : data.items()) {
            if (!set(name, value))
                return false;
        }
        return true;
    }
    if (data.is_array()) {
        for (size_t i = 0; i < data.size(); ++i) {
            if (!set(std::to_string(i), data[i]))
                return false;
        }
        return true;
    }
    return set(std::string(), data);
}

}  // namespace

void EventProc_Session_onPrint(_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t connection) {
    const size_t bytes = PRINT_JOB::HeldBytes(job);
    const TAKE_ON taken = TakeOn(bytes);
    if (!taken.m_Taken) {
        if (taken.m_Dropped == 1)
            _LOG::Error(fmt::format("Print job for '{}' dropped: too many jobs are waiting",
                                    job.FormatFilename));
        return;
    }
    if (taken.m_Dropped > 1)
        _LOG::Error(fmt::format("{} more print jobs were dropped while too many were waiting",
                                taken.m_Dropped - 1));
    // Shared: posting copies the task, and a copy must not copy the job.
    const auto waiting = std::make_shared<WAITING_JOB>(std::move(job), bytes);
    _GCD::Post([session, waiting,
                connection] { ExecutePrint(session, std::move(waiting->m_Job), connection); },
               _GCD::QUEUE_SERIAL);
}

void ExecutePrint(_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t connection) {
    // Escaped like a log line: the name comes from the MES and may hold control characters.
    const std::string line = _LOG::OneLine(job.FormatFilename) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    // Only the job's own connection may get its result: the jobs that a lost connection left
    // queued are not rendered, so that they never hold up the next one nor get answered there.
    // Queue 1 handles connection changes, so the connection checked here is the one the result
    // goes out on.
    if (!session->IsCurrent(connection))
        return;
    try {
        if (!DataWithinBound(job.Data)) {
            _LOG::Error(
                fmt::format("Print job for '{}' dropped: its data exceed {} entries or {} "
                            "bytes",
                            job.FormatFilename, MAX_JOB_DATA_ENTRIES, MAX_JOB_DATA_BYTES));
            return;
        }
        const std::u16string path = AbsoluteFormatPath(job.FormatFilename);
        if (!g_Bartender->Activate(path))
            return;

        bool complete = false;
        try {
            complete = SetSubstrings(job.Data);
        } catch (...) {
            // Silent by design: the MES expects no answer when a job cannot be filled, and the
            // substrings set so far stay in the format for the next job to overwrite.
        }
        if (!complete)
            return;

        QImage image(1, 1, QImage::Format_Mono);
        if (!g_Bartender->ExportImage(image, job.Dpi))
            return;
        // The MES still gets its answer, with no image; the log tells why.
        const std::string base64 = LABEL_PNG::EncodeBase64(image);
        if (base64.empty())
            _LOG::Error(fmt::format("Image for '{}' could not be made: {} x {} pixels",
                                    job.FormatFilename, image.width(), image.height()));
        else
            _LOG::Info(fmt::format("'{}' Image is generated", job.FormatName));

        const json params = MESSAGES::PrintParams(job.PrinterName, base64, job);
        session->Call(MESSAGES::PATH, MESSAGES::PRINT, params, nullptr);
    } catch (const std::exception& e) {
        _LOG::Error(fmt::format("Print job for '{}' dropped: {}", job.FormatFilename, e.what()));
    } catch (...) {
        _LOG::Error(fmt::format("Print job for '{}' dropped", job.FormatFilename));
    }
}

}  // namespace MAIN_CTRL
