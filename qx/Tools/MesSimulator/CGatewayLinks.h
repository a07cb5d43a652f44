#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace MES_SIM {

struct CConnection;

// The gateway's connections and the simulator's record of them: every frame sent or received
// and every info line go to the frame log; info lines also go to standard output. Every member
// runs on the io thread.
struct CGatewayLinks {
    // Without a call no frame log is written.
    bool OpenLog(const std::string& path, std::string& error);

    void Add(const std::shared_ptr<CConnection>& connection);
    // False when the connection was not held.
    bool Remove(const std::shared_ptr<CConnection>& connection);
    bool Empty() const { return m_Connections.empty(); }
    // The newest connection that is not muted, if any: a gateway that connects anew leaves its
    // older connection behind, which may take a while to close.
    std::shared_ptr<CConnection> Current() const;

    void Send(const std::shared_ptr<CConnection>& connection, const std::string& text);
    // To every connection that is not muted.
    void SendAll(const std::string& text);
    void DropAll();
    // A gateway has one connection: a muted one it has given up is dropped.
    void DropMuted();
    void CloseAll();

    void Log(const std::string& kind, const std::string& text);
    void Info(const std::string& text);

private:
    // Oldest first.
    std::vector<std::shared_ptr<CConnection>> m_Connections;
    std::ofstream m_FrameLog;
};

}  // namespace MES_SIM
