#include "MesSimulator/CMesDialogue.h"

#include <QByteArray>
#include <filesystem>
#include <fstream>

#include "MesSimulator/CConnection.h"
#include "MesSimulator/CGatewayLinks.h"
#include "Net/Envelope.h"
#include "Platform/Text.h"

using nlohmann::json;
namespace ENVELOPE = _NET::ENVELOPE;

namespace MES_SIM {

namespace {

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string StringMember(const json& object, const char* key) {
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "FormatId" stands for the MES's own bookkeeping that must come back in "Register".
void AddItem(json& items, const std::string& displayName, const std::string& absPath) {
    items.push_back({{"DisplayName", displayName},
                     {"Type", "Bartender"},
                     {"absPath", absPath},
                     {"FormatId", static_cast<int>(items.size()) + 1}});
}

}  // namespace

CMesDialogue::CMesDialogue(CGatewayLinks& links, OPTIONS options, std::function<void()> stop)
    : m_Links(links), m_Options(std::move(options)), m_Stop(std::move(stop)) {}

bool CMesDialogue::ReadJobs(const std::vector<std::string>& files, std::vector<json>& jobs,
                            std::string& error) {
    for (const auto& file : files) {
        std::ifstream in(file);
        json value = json::parse(in, nullptr, false);
        if (!in || value.is_discarded()) {
            error = "cannot read the print job " + file;
            return false;
        }
        if (!value.is_array())
            value = json::array({value});
        for (auto& job : value)
            jobs.push_back(std::move(job));
    }
    return true;
}

void CMesDialogue::Queue(std::vector<json> jobs) {
    for (auto& job : jobs)
        m_Jobs.push_back({std::move(job), false});
}

void CMesDialogue::Watch(std::function<void()> onRegistered,
                         std::function<void(const json&)> onPrint) {
    m_OnRegistered = std::move(onRegistered);
    m_OnPrint = std::move(onPrint);
}

void CMesDialogue::OnFrame(const std::shared_ptr<CConnection>& connection,
                           const std::string& text) {
    const json call = json::parse(text, nullptr, false);
    if (call.is_discarded() || StringMember(call, ENVELOPE::KEY_CMD).empty()) {
        m_Links.Info("not a call: " + text.substr(0, 200));
        return;
    }
    if (m_Options.m_Hold) {
        m_Held.push_back({connection, call});
        return;
    }
    Answer(connection, call);
}

void CMesDialogue::Hold() {
    m_Options.m_Hold = true;
}

void CMesDialogue::Release() {
    m_Options.m_Hold = false;
    auto held = std::move(m_Held);
    m_Held.clear();
    for (const auto& call : held) {
        if (auto connection = call.m_Connection.lock())
            Answer(connection, call.m_Call);
    }
}

void CMesDialogue::RefuseInitialize() {
    m_Options.m_RefuseInitialize = true;
}

void CMesDialogue::ForgetRegistrations(const CConnection& connection) {
    m_Registered.erase(connection.Id());
}

void CMesDialogue::Answer(const std::shared_ptr<CConnection>& connection, const json& call) {
    const std::string command = StringMember(call, ENVELOPE::KEY_CMD);
    if (command == "_INITIALIZE") {
        const bool refuse = m_Options.m_RefuseInitialize;
        Reply(connection, call, !refuse);
        if (refuse)
            m_Links.Info("refused _INITIALIZE on #" + std::to_string(connection->Id()));
        if (refuse && m_Options.m_CloseOnRefusal)
            connection->Close();
    } else if (command == "CheckConfig") {
        if (m_Options.m_RefuseCheckConfig) {
            Reply(connection, call, false);
        } else {
            Reply(connection, call, true, AnswerCheckConfig(call));
        }
    } else if (command == "Register") {
        Reply(connection, call, true);
        AnswerRegister(*connection, call);
    } else if (command == "Print") {
        Reply(connection, call, true);
        AnswerPrint(call);
    } else {
        Reply(connection, call, false);
    }
}

json CMesDialogue::AnswerCheckConfig(const json& call) {
    m_Reported.clear();
    json items = json::array();
    for (const auto& path : m_Options.m_ExtraFormats)
        AddItem(items, path, path);
    const auto reported = call.find("Items");
    if (reported == call.end() || !reported->is_array())
        return {{"Items", items}};
    for (const auto& item : *reported) {
        const std::string relPath = StringMember(item, "relPath");
        const std::string absPath = StringMember(item, "absPath");
        if (relPath.empty() || absPath.empty())
            continue;
        m_Reported[relPath] = absPath;
        AddItem(items, relPath, absPath);
    }
    return {{"Items", items}};
}

void CMesDialogue::AnswerRegister(const CConnection& connection, const json& call) {
    const std::string absPath = StringMember(call, "absPath");
    if (absPath.empty())
        return;
    m_Registered[connection.Id()].insert(absPath);
    SendDueJobs();
    if (m_OnRegistered)
        m_OnRegistered();
}

void CMesDialogue::SendDueJobs() {
    for (auto& job : m_Jobs) {
        if (job.m_Sent)
            continue;
        const std::string format = ResolveFormat(StringMember(job.m_Data, "FormatFilename"));
        if (!IsRegistered(format))
            continue;
        job.m_Data["FormatFilename"] = format;
        job.m_Sent = true;
        SendPrint(job.m_Data);
    }
}

std::string CMesDialogue::ResolveFormat(const std::string& name) const {
    const auto reported = m_Reported.find(name);
    return reported == m_Reported.end() ? name : reported->second;
}

bool CMesDialogue::IsRegistered(const std::string& absPath) const {
    const auto current = m_Links.Current();
    if (!current)
        return false;
    const auto registered = m_Registered.find(current->Id());
    return registered != m_Registered.end() && registered->second.count(absPath) > 0;
}

void CMesDialogue::SendPrint(const json& job) {
    if (const auto current = m_Links.Current())
        SendPrintTo(current, job);
}

void CMesDialogue::SendPrintTo(const std::shared_ptr<CConnection>& connection, const json& job) {
    m_Links.Send(connection, Dump({{ENVELOPE::KEY_MAGIC, ENVELOPE::NOTIFICATION_MAGIC},
                                   {ENVELOPE::KEY_TYPE, "Print"},
                                   {ENVELOPE::KEY_DATA, job}}));
}

void CMesDialogue::AnswerPrint(const json& call) {
    ++m_Prints;
    if (m_OnPrint) {
        m_OnPrint(call);
        return;
    }
    SaveImage(call);
    if (m_Options.m_ExitAfterPrints > 0 && m_Prints >= m_Options.m_ExitAfterPrints)
        m_Stop();
}

void CMesDialogue::SaveImage(const json& call) {
    const std::string base64 = StringMember(call, "base64PngData");
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(base64),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        m_Links.Info("label image " + std::to_string(m_Prints) + " is not valid base64");
        return;
    }
    if (m_Options.m_PngDir.empty())
        return;
    const auto file =
        std::filesystem::path(m_Options.m_PngDir) / ("label-" + std::to_string(m_Prints) + ".png");
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(decoded.decoded.constData(), decoded.decoded.size());
    out.close();
    const std::string name = _OS::PathToUtf8(file);
    m_Links.Info(out ? "saved " + name + " (" + std::to_string(decoded.decoded.size()) + " bytes)"
                     : "cannot write " + name);
}

void CMesDialogue::Reply(const std::shared_ptr<CConnection>& connection, const json& call, bool ok,
                         json reply) {
    reply[ENVELOPE::KEY_ID] = call.contains(ENVELOPE::KEY_ID) ? call[ENVELOPE::KEY_ID] : json();
    reply[ENVELOPE::KEY_OK] = ok;
    m_Links.Send(connection, Dump(reply));
}

}  // namespace MES_SIM
