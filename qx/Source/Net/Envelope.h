#pragma once

// The envelope of every message between the gateway and the MES, one JSON object per text
// frame. A notification is {"_DATA": data, "_MAGIC": "ORACLE", "_TYPE": type}; a call is its
// parameters with "_CMD", "_ID" and "_PATH" set; a reply repeats the call's "_ID" and carries a
// boolean "_OK" beside its result.
namespace _NET {
namespace ENVELOPE {

inline constexpr char KEY_MAGIC[] = "_MAGIC";
inline constexpr char KEY_TYPE[] = "_TYPE";
inline constexpr char KEY_DATA[] = "_DATA";
inline constexpr char KEY_ID[] = "_ID";
inline constexpr char KEY_CMD[] = "_CMD";
inline constexpr char KEY_PATH[] = "_PATH";
inline constexpr char KEY_OK[] = "_OK";

// The "_MAGIC" of a notification, compared exactly; any other frame is a reply.
inline constexpr char NOTIFICATION_MAGIC[] = "ORACLE";

}  // namespace ENVELOPE
}  // namespace _NET
