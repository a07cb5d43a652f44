#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Support/Process.h"

// One end-to-end run: a temporary working directory with the data root beside it, the MES
// simulator on port 5212 of the gateway's compiled-in MES host and the real Quenlor process.
struct CGatewayRun {
    CGatewayRun();
    ~CGatewayRun();

    // The address the simulator listens on for the compiled-in MES host; empty when that host
    // is not this machine.
    static std::string SimulatorAddress();

    // Copies a sample format file to a path relative to the format folder.
    void PlaceSample(const std::string& sample, const std::string& relPath);
    std::filesystem::path FormatFolder() const;
    std::string AbsPath(const std::string& relPath) const;

    // Each start writes a frame log of its own; the latest one is read. A simulator that exits
    // instead of listening fails with its own words.
    testing::AssertionResult StartSimulator(const std::vector<std::string>& args = {});
    bool StartGateway(const std::vector<std::string>& env = {});
    void Simulator(const std::string& command) { m_Simulator.WriteLine(command); }
    void SendJob(const nlohmann::json& job) { Simulator("print " + job.dump()); }
    SUPPORT::CProcess& Gateway() { return m_Gateway; }
    SUPPORT::CProcess& SimulatorProcess() { return m_Simulator; }

    // How often what occurs in text, overlapping occurrences included.
    static size_t Occurrences(const std::string& text, const std::string& what);
    // Standard output and error of the gateway so far.
    std::string GatewayOutput() const;
    size_t CountInOutput(const std::string& text) const;
    bool WaitForOutput(const std::string& text, size_t count = 1) const;
    // The lines of the gateway's output that are exactly text.
    size_t CountOutputLines(const std::string& text) const;
    bool WaitForOutputLines(const std::string& text, size_t count) const;

    // Calls received by the latest simulator, with their "_CMD".
    std::vector<nlohmann::json> Calls(const std::string& command) const;
    bool WaitForCalls(const std::string& command, size_t count) const;
    std::string SimulatorLog() const;

    const std::filesystem::path& Root() const { return m_Root; }

private:
    std::filesystem::path m_Root;
    std::filesystem::path m_Work;
    SUPPORT::CProcess m_Simulator;
    SUPPORT::CProcess m_Gateway;
    int m_SimulatorRuns = 0;
};
