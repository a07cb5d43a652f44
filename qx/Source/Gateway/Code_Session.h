#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "Gateway/ISession.h"
#include "Net/IJsonRpcClient.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

// Announces the gateway with "_INITIALIZE" on every up event of its client, reports the
// accepted connection and each loss, and hands every "Print" job to the print callback.
// Its handlers hold plain pointers to it: it must outlive every event its client still has
// queued.
struct Code_Session : ISession {
    QX_REFCOUNTED
public:
    // onConnection must not be empty. Connecting starts at once; the first event comes later on
    // queue 1, or, when created on another thread, possibly before Create returns.
    static _OBJ<ISession> Create(const std::string& url, const ConnectionCallback& onConnection);

    void Call(const std::string& path, const std::string& method, const nlohmann::json& params,
              const ReplyCallback& onReply) override;
    void SetOnPrint(const PrintCallback& onPrint) override;
    void Disconnect() override;
    bool IsConnected() override;
    uint64_t Connection() override;
    bool IsCurrent(uint64_t connection) override;

    void EventProc_onConnection(_OBJ<_NET::IJsonRpcClient> client, bool up);
    void EventProc_onPrint(_OBJ<_NET::IJsonRpcClient> client, nlohmann::json data,
                           uint64_t connection);
    void EventProc_onInitialize(bool ok, nlohmann::json reply);

private:
    Code_Session() = default;
    ~Code_Session() override = default;

    // An accepted "up" that a loss overtook on queue 1 is followed by that loss once more.
    void RestateLoss(uint64_t upEvent);

    // Destroyed in reverse: onPrint, then the client, then onConnection.
    ConnectionCallback m_OnConnection;
    _OBJ<_NET::IJsonRpcClient> m_Client;
    std::atomic<bool> m_Stopping{false};
    std::atomic<bool> m_Connected{false};
    // Connection events handled on queue 1: tells a reply whether its connection is still the
    // latest.
    std::atomic<uint64_t> m_Events{0};
    PrintCallback m_OnPrint;
};
