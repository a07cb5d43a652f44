#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Gateway/FormatFile.h"
#include "Gateway/PrintJob.h"

// The gateway's messages to and from the MES: their names and the parameters they carry.
namespace MESSAGES {

// Every call of the gateway goes to this path.
inline constexpr char PATH[] = "/";

inline constexpr char INITIALIZE[] = "_INITIALIZE";
inline constexpr char CHECK_CONFIG[] = "CheckConfig";
inline constexpr char REGISTER[] = "Register";
// The MES's notification type of a print job and the gateway's call that returns its image.
inline constexpr char PRINT[] = "Print";

// {"_TYPE": "Bartender"}: the kind of client that announces itself.
nlohmann::json InitializeParams();

// {"Items": [...]}: one object per format file, in the order given.
nlohmann::json CheckConfigParams(const std::vector<FORMAT_FILE::DEF>& files);

// The "CheckConfig" reply item as received, with the format's page setup set in it.
// item is an object: any other value but null makes the library throw.
nlohmann::json RegisterParams(nlohmann::json item, double widthInMm, double heightInMm,
                              bool isLandscape);

// The rendered label of one job.
nlohmann::json PrintParams(const std::string& printerName, const std::string& base64PngData,
                           const PRINT_JOB::DEF& job);

}  // namespace MESSAGES
