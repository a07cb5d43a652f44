#include <QImage>
#include <cstdio>
#include <exception>
#include <string>

#include <spdlog/fmt/fmt.h>

#include "Gateway/LabelPng.h"
#include "Gateway/MainCtrl.h"
#include "Gateway/Messages.h"
#include "Platform/Gcd.h"
#include "Platform/Log.h"
#include "Platform/NormalPath.h"
#include "Platform/Text.h"

using nlohmann::json;

namespace MAIN_CTRL {

namespace {

// The format's path as the wrapper keys it: absolute, dot segments removed; either separator
// is accepted in the job.
std::u16string AbsoluteFormatPath(const std::string& formatFilename) {
    std::u16string name = _OS::Utf8ToWide(formatFilename);
    if (name.empty())
        return name;
#ifndef _WIN32
    for (char16_t& c : name) {
        if (c == u'\\')
            c = u'/';
    }
#endif
    return _OS::PathToWide(_OS::NormalPath(std::filesystem::path(name)));
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

void EventProc_Session_onPrint(_OBJ<ISession> session, PRINT_JOB::DEF job) {
    _GCD::Post([session, job] { ExecutePrint(session, job); }, _GCD::QUEUE_SERIAL);
}

void ExecutePrint(_OBJ<ISession> session, PRINT_JOB::DEF job) {
    const std::string line = job.FormatFilename + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    try {
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
