#include "Support/Scratch.h"

#include "Support/ChildScenario.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace SUPPORT {

namespace {

const char kRunVariable[] = "QX_TEST_RUN";

struct SCRATCH {
    SCRATCH() {
        if (const char* inherited = std::getenv(kRunVariable)) {
            m_Root = inherited;
            return;
        }
        std::random_device random;
        std::ostringstream name;
        name << "qx-test-" << std::hex << random() << random();
        m_Root = fs::temp_directory_path() / name.str();
        m_Owner = true;
#ifdef _WIN32
        _putenv_s(kRunVariable, m_Root.string().c_str());
#else
        setenv(kRunVariable, m_Root.c_str(), 1);
#endif
    }
    ~SCRATCH() {
        std::error_code ignored;
        if (m_Owner)
            fs::remove_all(m_Root, ignored);
    }

    fs::path TestFolder(const testing::TestInfo* test) const {
        if (!test)
            return m_Root / "global";
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        for (char& c : name) {
            if (c == '/' || c == '\\')
                c = '_';
        }
        return m_Root / name;
    }

    std::mutex m_Mutex;
    fs::path m_Root;
    bool m_Owner = false;
    std::map<fs::path, int> m_Drawn;
};

SCRATCH& Scratch() {
    static SCRATCH scratch;
    return scratch;
}

// Counts restart with every test, also when one test runs again (--gtest_repeat); a test's
// folders go when it ends. Children get no events: they run one test once.
struct LISTENER : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override {
        std::lock_guard<std::mutex> lock(Scratch().m_Mutex);
        Scratch().m_Drawn.erase(Scratch().TestFolder(&test));
    }
    void OnTestEnd(const testing::TestInfo& test) override {
        std::error_code ignored;
        fs::remove_all(Scratch().TestFolder(&test), ignored);
    }
};

// Set up before main, while the process has one thread: the environment is changed here.
const bool g_Listening = [] {
    Scratch();
    testing::UnitTest::GetInstance()->listeners().Append(new LISTENER);
    return true;
}();

}  // namespace

fs::path NextScratchPath(const std::string& kind) {
    SCRATCH& scratch = Scratch();
    const fs::path folder =
        scratch.TestFolder(testing::UnitTest::GetInstance()->current_test_info());
    std::lock_guard<std::mutex> lock(scratch.m_Mutex);
    return folder / (kind + std::to_string(scratch.m_Drawn[folder]++));
}

bool InChild() {
    return !GTEST_FLAG_GET(internal_run_death_test).empty();
}

}  // namespace SUPPORT
