#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include <nlohmann/json.hpp>

#include "Gateway/FormatFile.h"
#include "Gateway/IBartender.h"
#include "Gateway/ISession.h"
#include "Gateway/PrintJob.h"
#include "Platform/Obj.h"

// The gateway's controller: start-up and stop, connection events, format registration,
// print execution and the tray menu's refresh.
namespace MAIN_CTRL {

// Filled once by StartUp on queue 1, released at static destruction: the session first.
// The stop on the main thread reads g_Session under the lock that StartUp holds while it makes
// the session; tasks on queue 1 run after the start-up and read it directly.
extern _OBJ<IBartender> g_Bartender;
extern _OBJ<ISession> g_Session;

// _GCD's start task on the main thread: runs the Qt application and, when it has ended,
// disconnects the session and asks _GCD to quit.
void Initialize(int argc, char** argv);
// Queue 1: waits until Qt runs, then StartUp.
void WaitQtStarted();
// Makes no session once the stop has begun.
void StartUp();
// The gateway has no configuration file.
bool ReadConfig();

// Session callback: queue 2 when the MES accepted the gateway, queue 1 when the link is lost.
void EventProc_Session_onConnection(_OBJ<ISession> session, bool up);
// Reports every format file of the format folder with "CheckConfig".
void SendConfig(_OBJ<ISession> session);
// connection: the one "CheckConfig" was sent on; its registrations are queued for it.
void EventProc_onCheckConfig(_OBJ<ISession> session, bool ok, nlohmann::json reply,
                             uint64_t connection);
// Queue 1: opens one format that the MES named and sends "Register" with its page setup. Once
// the item's connection has ended it is dropped before anything else.
void RegisterFormat(_OBJ<ISession> session, nlohmann::json item, uint64_t connection);
// Tray menu, main thread: queues the format report to the MES and returns at once.
void RefreshFormat();

// Jobs taken on and not yet answered, counted from the session's callback to the end of their
// print task: what one MES connection can make the gateway hold while queue 1 is behind. A real
// batch of several thousand labels passes; a flood beyond this is dropped as it arrives.
inline constexpr size_t MAX_WAITING_JOBS = 10000;
inline constexpr size_t MAX_WAITING_JOB_BYTES = 64 * 1024 * 1024;
// Waiting jobs, or their held bytes, that make a flood: once they have all gone, the heap's free
// memory is given back (the allocator keeps a flood's peak otherwise). The bytes catch a flood of
// big jobs that meets MAX_WAITING_JOB_BYTES before the count. A steady feed never gets near them.
inline constexpr size_t FLOOD_WAITING_JOBS = 1000;
inline constexpr size_t FLOOD_WAITING_BYTES = 8 * 1024 * 1024;

// A job's "Data": each entry costs one blocking call on the main thread (about 50 us), so
// 1,000 cost about 50 ms, well within the second a label's rendering may take. A real label has
// a few dozen named substrings, and a 2D code holds a few kilobytes at most: 1 MiB of names and
// texts in all is far beyond any label.
inline constexpr size_t MAX_JOB_DATA_ENTRIES = 1000;
inline constexpr size_t MAX_JOB_DATA_BYTES = 1024 * 1024;

// Session callback on queue 2: queues the job for ExecutePrint on queue 1, or drops it with a
// log line when the waiting jobs are at their bound.
void EventProc_Session_onPrint(_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t connection);
// Queue 1: renders the job's label and returns it to the MES as base64 PNG, on the connection
// the job came on only: once that one has ended the job is dropped before any engine call. A
// job whose data are past their bound is dropped with a log line before any engine call.
void ExecutePrint(_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t connection);

// Every regular file below base, in walk order, whose extension is ".btw" in any letter
// case. An entry or folder that cannot be read is logged and skipped.
std::vector<FORMAT_FILE::DEF> FindFormatFiles(const std::filesystem::path& base);

}  // namespace MAIN_CTRL
