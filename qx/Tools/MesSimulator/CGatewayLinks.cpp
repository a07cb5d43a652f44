#include "MesSimulator/CGatewayLinks.h"

#include <algorithm>
#include <iostream>

#include "MesSimulator/CConnection.h"

namespace MES_SIM {

bool CGatewayLinks::OpenLog(const std::string& path, std::string& error) {
    m_FrameLog.open(path, std::ios::out | std::ios::trunc);
    if (m_FrameLog)
        return true;
    error = "cannot write the frame log " + path;
    return false;
}

void CGatewayLinks::Add(const std::shared_ptr<CConnection>& connection) {
    m_Connections.push_back(connection);
}

bool CGatewayLinks::Remove(const std::shared_ptr<CConnection>& connection) {
    const auto it = std::find(m_Connections.begin(), m_Connections.end(), connection);
    if (it == m_Connections.end())
        return false;
    m_Connections.erase(it);
    return true;
}

std::shared_ptr<CConnection> CGatewayLinks::Current() const {
    for (auto it = m_Connections.rbegin(); it != m_Connections.rend(); ++it) {
        if (!(*it)->Muted())
            return *it;
    }
    return nullptr;
}

void CGatewayLinks::Send(const std::shared_ptr<CConnection>& connection, const std::string& text) {
    Log("send", text);
    connection->Send(text);
}

void CGatewayLinks::SendAll(const std::string& text) {
    for (const auto& connection : m_Connections) {
        if (!connection->Muted())
            Send(connection, text);
    }
}

// Dropping reports the closed connection back here, so each loop walks a copy.
void CGatewayLinks::DropAll() {
    const auto connections = m_Connections;
    for (const auto& connection : connections)
        connection->Drop();
}

void CGatewayLinks::DropMuted() {
    const auto connections = m_Connections;
    for (const auto& connection : connections) {
        if (connection->Muted())
            connection->Drop();
    }
}

void CGatewayLinks::CloseAll() {
    for (const auto& connection : m_Connections)
        connection->Close();
}

void CGatewayLinks::Log(const std::string& kind, const std::string& text) {
    if (!m_FrameLog.is_open())
        return;
    m_FrameLog << kind << ' ' << text << '\n';
    m_FrameLog.flush();
}

void CGatewayLinks::Info(const std::string& text) {
    std::cout << "MesSimulator: " << text << std::endl;
    Log("info", text);
}

}  // namespace MES_SIM
