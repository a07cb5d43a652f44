#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "Platform/IRoot.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace {

struct ICounted : IRoot {
    virtual ~ICounted() = default;
};

struct Code_Counted : ICounted {
    QX_REFCOUNTED
public:
    explicit Code_Counted(std::atomic<int>* destroyed) : m_Destroyed(destroyed) {}
    ~Code_Counted() override { ++*m_Destroyed; }
    static _OBJ<ICounted> Create(std::atomic<int>* destroyed, bool stepOk) {
        auto* p = new Code_Counted(destroyed);
        if (!stepOk) {
            delete p;
            return {};
        }
        return _OBJ<ICounted>(p);
    }

private:
    std::atomic<int>* m_Destroyed;
};

TEST(ObjTest, FactoryHandleTakesFirstReferenceAndLastDropDestroys) {
    std::atomic<int> destroyed{0};
    {
        _OBJ<ICounted> h = Code_Counted::Create(&destroyed, true);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->AddRef(), 2u);
        EXPECT_EQ(h->Release(), 1u);
        EXPECT_EQ(h->Zero(), 0);
        _OBJ<ICounted> copy = h;
        EXPECT_TRUE(copy == h);
        copy.reset();
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjTest, FailedFactoryStepLeavesNothing) {
    std::atomic<int> destroyed{0};
    _OBJ<ICounted> h = Code_Counted::Create(&destroyed, false);
    EXPECT_FALSE(h);
    EXPECT_EQ(destroyed, 1);
    _OBJ<ICounted> copy = h;
    EXPECT_FALSE(copy);
}

TEST(ObjTest, EmptyHandleDereferenceHalts) {
    EXPECT_EXIT(
        {
            _OBJ<ICounted> empty;
            empty->Zero();
        },
        testing::ExitedWithCode(0), "");
}

TEST(ObjTest, HaltPrintsExactlyHaltAndLineEnd) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        HALT();
    }
    close(fds[1]);
    std::string out;
    char buf[64];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out, "HALT\n");
}

TEST(ObjTest, ConcurrentLastReleasesDestroyOnce) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> destroyed{0};
        _OBJ<ICounted> a = Code_Counted::Create(&destroyed, true);
        _OBJ<ICounted> b = a;
        std::atomic<bool> go{false};
        std::thread t1([&] {
            while (!go) {
            }
            a.reset();
        });
        std::thread t2([&] {
            while (!go) {
            }
            b.reset();
        });
        go = true;
        t1.join();
        t2.join();
        ASSERT_EQ(destroyed, 1);
    }
}

}  // namespace
