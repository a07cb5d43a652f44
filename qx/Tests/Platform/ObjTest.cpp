#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/IRoot.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"
#include "Support/ChildScenario.h"

namespace {

struct ICounted : IRoot {
    virtual ~ICounted() = default;
};

struct Code_Counted : ICounted {
    QX_REFCOUNTED
public:
    explicit Code_Counted(std::atomic<int>* destroyed) : m_Destroyed(destroyed) {}
    ~Code_Counted() override { ++*m_Destroyed; }
    static _OBJ<ICounted> Create(std::atomic<int>* destroyed) {
        return _OBJ<ICounted>(new Code_Counted(destroyed));
    }

private:
    std::atomic<int>* m_Destroyed;
};

TEST(ObjTest, FactoryHandleTakesFirstReferenceAndLastDropDestroys) {
    std::atomic<int> destroyed{0};
    {
        _OBJ<ICounted> h = Code_Counted::Create(&destroyed);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->AddRef(), 2u);
        EXPECT_EQ(h->Release(), 1u);
        _OBJ<ICounted> copy = h;
        EXPECT_TRUE(copy == h);
        copy.reset();
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjTest, EmptyHandleDereferenceHaltsPrintingExactlyHalt) {
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild([] {
        _OBJ<ICounted> empty;
        return empty->Zero();
    });
    EXPECT_FALSE(result.m_Returned);
    EXPECT_EQ(result.m_ExitCode, 0);
    EXPECT_EQ(result.m_Out, "HALT\n");
}

TEST(ObjTest, ConcurrentLastReleasesDestroyOnce) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> destroyed{0};
        _OBJ<ICounted> a = Code_Counted::Create(&destroyed);
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
