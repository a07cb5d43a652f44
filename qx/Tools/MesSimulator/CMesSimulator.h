#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <string>

#include "MesSimulator/CGatewayLinks.h"
#include "MesSimulator/CLoadFeed.h"
#include "MesSimulator/CMesDialogue.h"
#include "MesSimulator/SimOptions.h"

namespace MES_SIM {

struct CConnection;
struct CListener;

// The simulator as a program: listens for the gateway, hands its frames to the MES dialogue,
// runs the job feed of load and soak runs, and obeys the commands read from standard input.
// Every member runs on the io thread.
struct CMesSimulator {
    CMesSimulator(boost::asio::io_context& io, OPTIONS options);

    bool Start(std::string& error);
    void Command(const std::string& line);
    void Stop();
    // The port listened on, once started.
    uint16_t Port() const;
    // True when a load or soak run stopped for want of progress.
    bool Failed() const { return m_Feed.Failed(); }

    void OnOpen(const std::shared_ptr<CConnection>& connection);
    void OnFrame(const std::shared_ptr<CConnection>& connection, const std::string& text);
    void OnClosed(const std::shared_ptr<CConnection>& connection, const std::string& reason);

private:
    void Refuse();

    boost::asio::io_context& m_Io;
    OPTIONS m_Options;
    CGatewayLinks m_Links;
    CMesDialogue m_Dialogue;
    CLoadFeed m_Feed;
    std::shared_ptr<CListener> m_Listener;
    bool m_Stopping = false;
    boost::asio::steady_timer m_StopTimer;
};

}  // namespace MES_SIM
