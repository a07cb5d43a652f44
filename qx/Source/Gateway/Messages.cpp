#include "Gateway/Messages.h"

namespace MESSAGES {

nlohmann::json InitializeParams() {
    return {{"_TYPE", "Bartender"}};
}

nlohmann::json CheckConfigParams(const std::vector<FORMAT_FILE::DEF>& files) {
    nlohmann::json params = nlohmann::json::object();
    params["Items"] = files;
    return params;
}

nlohmann::json RegisterParams(nlohmann::json item, double widthInMm, double heightInMm,
                              bool isLandscape) {
    item["WidthInMm"] = widthInMm;
    item["HeightInMm"] = heightInMm;
    item["isLandscape"] = isLandscape;
    return item;
}

nlohmann::json PrintParams(const std::string& printerName, const std::string& base64PngData,
                           const PRINT_JOB::DEF& job) {
    nlohmann::json params = nlohmann::json::object();
    params["PrinterName"] = printerName;
    params["base64PngData"] = base64PngData;
    params["Job"] = job;
    return params;
}

}  // namespace MESSAGES
