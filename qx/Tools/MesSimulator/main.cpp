#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <iostream>
#include <thread>

#include "MesSimulator/CMesSimulator.h"

int main(int argc, char** argv) {
    MES_SIM::OPTIONS options;
    std::string error;
    if (!MES_SIM::ParseOptions(argc, argv, options, error)) {
        std::cerr << "MesSimulator: " << error << "\n" << MES_SIM::Usage();
        return 2;
    }
    boost::asio::io_context io;
    MES_SIM::CMesSimulator simulator(io, options);
    if (!simulator.Start(error)) {
        std::cerr << "MesSimulator: " << error << std::endl;
        return 1;
    }
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& ec, int) {
        if (!ec)
            simulator.Stop();
    });
    // Blocks in getline for the whole run, so it is left behind rather than joined.
    std::thread([&io, &simulator] {
        std::string line;
        while (std::getline(std::cin, line)) {
            boost::asio::post(io, [&simulator, line] { simulator.Command(line); });
        }
    }).detach();
    io.run();
    return simulator.Failed() ? 1 : 0;
}
