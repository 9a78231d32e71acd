// The single-instance guard on the simulated machine: each outcome of the wait.
#include <gtest/gtest.h>

#include "common/instance_guard.h"
#include "sim/machine.h"

namespace {

class InstanceGuard : public ::testing::Test {
  protected:
    void SetUp() override { sim::ResetTypical(); }
};

TEST_F(InstanceGuard, OwnsAFreeMutexAndReleasesIt) {
    os::Handle mutex = nullptr;
    EXPECT_TRUE(AcquireInstanceGuard(&mutex));
    EXPECT_NE(mutex, nullptr);
    EXPECT_TRUE(sim::MutexOwned(kSetupMutexName));
    EXPECT_EQ(sim::OpenMutexHandles(kSetupMutexName), 1);

    ReleaseInstanceGuard(&mutex);
    EXPECT_EQ(mutex, nullptr);
    EXPECT_FALSE(sim::MutexOwned(kSetupMutexName));
    EXPECT_EQ(sim::OpenMutexHandles(kSetupMutexName), 0);
    ReleaseInstanceGuard(&mutex);  // nothing happens for nullptr
    EXPECT_EQ(mutex, nullptr);
}

TEST_F(InstanceGuard, HeldByAnotherProcessRefusesAndClosesTheHandle) {
    sim::HoldMutex(kSetupMutexName);
    os::Handle mutex = reinterpret_cast<os::Handle>(1);
    EXPECT_FALSE(AcquireInstanceGuard(&mutex));
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(sim::OpenMutexHandles(kSetupMutexName), 0);
    EXPECT_TRUE(sim::MutexOwned(kSetupMutexName)) << "still the other process's";
    // The wait asked for 5000 ms, not for ever.
    int waits = 0;
    for (const sim::Call& call : sim::Calls()) {
        waits += call.op == "WaitForSingleObject" ? 1 : 0;
    }
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(sim::HungWaits(), 0);
}

TEST_F(InstanceGuard, AbandonedRefusesAndLeavesTheMutexFree) {
    sim::HoldMutex(kSetupMutexName);
    sim::AbandonHeldMutex(kSetupMutexName);
    ASSERT_TRUE(sim::MutexAbandoned(kSetupMutexName));
    os::Handle mutex = nullptr;
    EXPECT_FALSE(AcquireInstanceGuard(&mutex));
    EXPECT_EQ(mutex, nullptr);
    // The wait made us owner; the guard gave it back, so the next stage is not refused.
    EXPECT_FALSE(sim::MutexOwned(kSetupMutexName));
    EXPECT_FALSE(sim::MutexAbandoned(kSetupMutexName));
    EXPECT_EQ(sim::OpenMutexHandles(kSetupMutexName), 0);
    EXPECT_TRUE(AcquireInstanceGuard(&mutex));
    ReleaseInstanceGuard(&mutex);
}

TEST_F(InstanceGuard, FailingWaitRefuses) {
    sim::AddFault({"WaitForSingleObject", 1, "", 0, true});
    os::Handle mutex = nullptr;
    EXPECT_FALSE(AcquireInstanceGuard(&mutex));
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(sim::OpenMutexHandles(kSetupMutexName), 0);
}

TEST_F(InstanceGuard, NoMutexToBeHadRunsUnguarded) {
    sim::AddFault({"CreateMutexA", 1, "", 0, true});
    os::Handle mutex = reinterpret_cast<os::Handle>(1);
    EXPECT_TRUE(AcquireInstanceGuard(&mutex));
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(sim::FaultsFired(), 1);
    ReleaseInstanceGuard(&mutex);  // releases nothing
    EXPECT_FALSE(sim::MutexOwned(kSetupMutexName));
}

}  // namespace
