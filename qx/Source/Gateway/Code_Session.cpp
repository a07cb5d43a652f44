#include "Gateway/Code_Session.h"

#include <functional>
#include <utility>

#include "Gateway/Messages.h"
#include "Net/Code_JsonRpcClient.h"
#include "Platform/Gcd.h"

_OBJ<ISession> Code_Session::Create(const std::string& url,
                                    const ConnectionCallback& onConnection) {
    auto* session = new Code_Session();
    // The first reference, taken before anything can call back: off queue 1, the first events
    // may be handled before Create returns, and each hands the callbacks a handle of its own.
    _OBJ<ISession> handle(session);
    session->m_Client = _NET::Code_JsonRpcClient::Create(url);
    if (!session->m_Client)
        return {};
    session->m_OnConnection = onConnection;

    using namespace std::placeholders;
    session->m_Client->SetConnectionHandler(
        std::bind(&Code_Session::EventProc_onConnection, session, _1, _2));
    session->m_Client->RegisterHandler(
        MESSAGES::PRINT, std::bind(&Code_Session::EventProc_onPrint, session, _1, _2, _3));
    session->m_Client->Connect();
    return handle;
}

void Code_Session::Call(const std::string& path, const std::string& method,
                        const nlohmann::json& params, const ReplyCallback& onReply) {
    if (!m_Connected.load())
        return;
    m_Client->Call(path, method, params, onReply);
}

void Code_Session::SetOnPrint(const PrintCallback& onPrint) {
    m_OnPrint = onPrint;
}

void Code_Session::Disconnect() {
    if (!m_Connected.load())
        return;
    m_Stopping.store(true);
    m_Client->Close();
}

bool Code_Session::IsConnected() {
    return m_Connected.load();
}

uint64_t Code_Session::Connection() {
    return m_Connected.load() ? m_Client->Connection() : 0;
}

bool Code_Session::IsCurrent(uint64_t connection) {
    return m_Connected.load() && m_Client->IsCurrent(connection);
}

void Code_Session::EventProc_onConnection(_OBJ<_NET::IJsonRpcClient> client, bool up) {
    m_Connected.store(up);
    const uint64_t event = ++m_Events;
    if (up) {
        client->Call(MESSAGES::PATH, MESSAGES::INITIALIZE, MESSAGES::InitializeParams(),
                     [this, event](bool ok, nlohmann::json reply) {
                         // A reply runs beside queue 1: its connection may be gone already.
                         if (ok && m_Events.load() != event)
                             return;
                         EventProc_onInitialize(ok, std::move(reply));
                         if (ok)
                             RestateLoss(event);
                     });
    } else if (!m_Stopping.load()) {
        m_OnConnection(_OBJ<ISession>(this), false);
    }
}

void Code_Session::EventProc_onInitialize(bool ok, nlohmann::json) {
    if (ok) {
        m_OnConnection(_OBJ<ISession>(this), true);
    } else {
        // A refusal ends the link for good, also when its connection has been lost already and
        // the socket is trying again.
        m_Stopping.store(true);
        m_Client->Close();
    }
}

void Code_Session::RestateLoss(uint64_t upEvent) {
    if (m_Events.load() == upEvent)
        return;
    // The loss may have been reported before this "up": queue 1 says it again, after it, unless
    // a later connection is up by then.
    _GCD::Post(
        [self = _OBJ<ISession>(this), this] {
            if (!m_Connected.load() && !m_Stopping.load())
                m_OnConnection(self, false);
        },
        _GCD::QUEUE_SERIAL);
}

void Code_Session::EventProc_onPrint(_OBJ<_NET::IJsonRpcClient>, nlohmann::json data,
                                     uint64_t connection) {
    if (!m_OnPrint)
        return;
    try {
        m_OnPrint(_OBJ<ISession>(this), PRINT_JOB::Take(std::move(data)), connection);
    } catch (...) {
        // Silent by design: a notification gets no answer, and the print task reports its own
        // failures; the session goes on with the next job.
    }
}
