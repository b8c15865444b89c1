#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "files.hpp"
#include "holder.hpp"
#include "locks/byte_map.hpp"
#include "messages.hpp"
#include "scratch_dir.hpp"

namespace qmrt::test {
namespace {

using qmrt::locks::slot_byte;

using messages::pair_refusal;
using messages::pelmarin_refusal;
using messages::run_refusal;
using messages::slot_refusal;

// The call refuses: no reply, then exactly this text and status.
void expect_refused(Holder &holder, int32_t code, const char *text, int status, int16_t slot = 0,
                    int16_t wt = 0) {
    EXPECT_FALSE(holder.call(code, slot, wt).has_value()) << "code " << code;
    Ended ended = holder.finish();
    EXPECT_EQ(ended.out, text);
    EXPECT_EQ(ended.status, status);
}

int32_t result_of(Holder &holder, int32_t code, int16_t slot = 0, int16_t wt = 0) {
    auto reply = holder.call(code, slot, wt);
    return reply ? reply->result : -99;
}

TEST(PelmarinLock, OwnLockNeverConflictsAndSecondProcessIsRefused) {
    ScratchDir dir;
    Holder first;
    EXPECT_EQ(result_of(first, 0), 0);
    EXPECT_EQ(result_of(first, 0), 0);
    EXPECT_EQ(holder_of(".LOCK", 0), first.pid());
    Holder second;
    expect_refused(second, 0, pelmarin_refusal, 0);
    Ended ended = first.finish();
    EXPECT_EQ(ended.out, "");
    EXPECT_EQ(ended.status, 0);
}

TEST(PairLock, HolderRefusesSlotLockAndSecondPairLock) {
    ScratchDir dir;
    Holder pair;
    ASSERT_EQ(result_of(pair, 1), 0);
    EXPECT_EQ(holder_of(".LOCK", 1), pair.pid());
    EXPECT_EQ(holder_of(".LOCK", 2), pair.pid());
    EXPECT_EQ(holder_of(".LOCK", 201), pair.pid());
    EXPECT_EQ(holder_of(".LOCK", 202), 0);
    Holder slot, no_slot, second_pair;
    expect_refused(slot, 2, slot_refusal, 0);
    expect_refused(no_slot, 2, slot_refusal, 0, -1);
    expect_refused(second_pair, 1, pair_refusal, 0);
}

TEST(PairLock, SlotHolderRefusesItWithRunMessageAndItsByteOneIsFreed) {
    ScratchDir dir;
    Holder slot;
    auto reply = slot.call(2);  // g_slotnum as never set: slot 0
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, 0);
    EXPECT_EQ(reply->usernum, 0);
    EXPECT_EQ(holder_of(".LOCK", 30), slot.pid());
    Holder pair;
    expect_refused(pair, 1, run_refusal, 255);
    EXPECT_EQ(holder_of(".LOCK", 1), 0);
}

TEST(PairLock, OwnSlotAndPairBytesNeverConflict) {
    ScratchDir dir;
    Holder program;
    EXPECT_EQ(result_of(program, 2, 3), 0);
    EXPECT_EQ(result_of(program, 1), 0);     // not refused by its own byte 39
    EXPECT_EQ(result_of(program, 2, 3), 0);  // passes the test of its own byte 1
    EXPECT_EQ(holder_of(".LOCK", slot_byte(3, 0)), program.pid());
    EXPECT_EQ(holder_of(".LOCK", 202), 0);
}

TEST(PairLock, OnlySlotBytesUpTo201Refuse) {
    ScratchDir dir;
    Holder slot57[3];
    for (auto &holder : slot57) ASSERT_EQ(result_of(holder, 2, 57), 0);
    EXPECT_EQ(holder_of(".LOCK", 201), slot57[0].pid());
    Holder refused;
    expect_refused(refused, 1, run_refusal, 255);
    slot57[0].finish();  // bytes 202 and 203 stay held
    Holder accepted;
    EXPECT_EQ(result_of(accepted, 1), 0);
    accepted.finish();

    Holder slot58;
    ASSERT_EQ(result_of(slot58, 2, 58), 0);
    EXPECT_EQ(holder_of(".LOCK", 204), slot58.pid());
    Holder beside58;
    EXPECT_EQ(result_of(beside58, 1), 0);
}

TEST(SlotLock, ThreeProcessesShareASlotInOrderAndAFourthGetsMinusTwo) {
    ScratchDir dir;
    for (int16_t slot : {0, 9, 57, 1000}) {
        SCOPED_TRACE(slot);
        Holder holders[3];
        for (int i = 0; i < 3; ++i) {
            auto reply = holders[i].call(2, slot);
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->result, 0);
            EXPECT_EQ(reply->usernum, slot);
            EXPECT_EQ(holder_of(".LOCK", slot_byte(slot, i)), holders[i].pid());
        }
        Holder fourth;
        ASSERT_EQ(result_of(fourth, 2, static_cast<int16_t>(slot + 1)), 0);
        auto full = fourth.call(2, slot);
        ASSERT_TRUE(full);  // a full slot is no refusal
        EXPECT_EQ(full->result, -2);
        EXPECT_EQ(full->usernum, slot + 1);
        EXPECT_EQ(fourth.finish().out, "");
    }
}

TEST(SlotLock, NegativeSlotTakesNoByteAndLeavesUsernum) {
    ScratchDir dir;
    Holder program;
    ASSERT_EQ(result_of(program, 2, 2), 0);
    auto reply = program.call(2, -1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, 0);
    EXPECT_EQ(reply->usernum, 2);
    for (off_t byte = 0; byte < 36; ++byte) EXPECT_EQ(holder_of(".LOCK", byte), 0) << byte;
}

TEST(WithoutLocking, OnlyOpensExceptForTheSlotLock) {
    ScratchDir dir;
    Holder running;
    ASSERT_EQ(result_of(running, 0), 0);
    ASSERT_EQ(result_of(running, 1), 0);
    Holder testing;
    for (int32_t code : {0, 1, 5, 6, 3}) EXPECT_EQ(result_of(testing, code, 0, 1), 0) << code;
    EXPECT_EQ(holder_of(".LOCK", 1), running.pid());
    EXPECT_EQ(holder_of(".VF_LOCK", 0), 0);
    EXPECT_TRUE(std::filesystem::exists(".VF_LOCK"));
    expect_refused(testing, 2, slot_refusal, 0, 0, 1);
}

TEST(VerifyJoin, TakesLowestFreeByteAndReusesAFreedOne) {
    ScratchDir dir;
    Holder members[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(result_of(members[i], 5), 1);
        EXPECT_EQ(holder_of(".VF_LOCK", i), members[i].pid());
    }
    members[0].finish();
    Holder late;
    EXPECT_EQ(result_of(late, 5), 1);
    EXPECT_EQ(holder_of(".VF_LOCK", 0), late.pid());
}

TEST(VerifyTest, SeesOthersBelowByte200AndReleasesOnlyOwnBytesThere) {
    ScratchDir dir;
    Holder outside, member, tester;
    ASSERT_TRUE(outside.raw_verify_lock(0, 200));
    EXPECT_EQ(result_of(tester, 6), 1);
    ASSERT_EQ(result_of(member, 5), 1);
    EXPECT_EQ(holder_of(".VF_LOCK", 200), member.pid());
    outside.finish();
    EXPECT_EQ(result_of(tester, 6), 0);  // the only other holder sits at byte 200
    ASSERT_EQ(result_of(member, 5), 1);
    EXPECT_EQ(holder_of(".VF_LOCK", 0), member.pid());
    EXPECT_EQ(result_of(tester, 6), 1);
    EXPECT_EQ(result_of(member, 6), 0);
    EXPECT_EQ(holder_of(".VF_LOCK", 0), 0);
    EXPECT_EQ(holder_of(".VF_LOCK", 200), member.pid());
}

TEST(LockFiles, CreatedEmptyWithMode0600AndNeverWritten) {
    ScratchDir dir;
    std::ofstream(".LOCK_SHM") << "kept\n";
    mode_t previous = ::umask(0);
    {
        Holder program;
        for (int32_t code : {3, 0, 2, 1, 5, 6, 5}) EXPECT_GE(result_of(program, code), 0) << code;
    }
    ::umask(previous);
    for (const char *name : {".LOCK", ".VF_LOCK"}) {
        struct stat info {};
        ASSERT_EQ(::stat(name, &info), 0) << name;
        EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
        EXPECT_EQ(info.st_size, 0) << name;
    }
    EXPECT_EQ(read_file(".LOCK_SHM"), "kept\n");
}

struct Unopenable {
    const char *file;
    int32_t code;
    const char *refusal;  // nullptr: the call returns `result`
    int32_t result;
};

TEST(LockFiles, UnopenableFileActsAsHeldElsewhere) {
    const Unopenable cases[] = {
        {".LOCK", 0, pelmarin_refusal, 0}, {".LOCK", 1, pair_refusal, 0},
        {".LOCK", 2, slot_refusal, 0},     {".VF_LOCK", 6, nullptr, 1},
        {".VF_LOCK", 5, nullptr, 0},  // the scan stops instead of running forever
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " code " << c.code);
        ScratchDir dir;
        std::filesystem::create_directory(c.file);  // open fails on it, even for root
        Holder program;
        if (c.refusal) {
            expect_refused(program, c.code, c.refusal, 0);
            continue;
        }
        auto reply = program.call(c.code);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->result, c.result);
        EXPECT_EQ(reply->verify, -1);
    }
}

TEST(LockFiles, FailedOpeningIsRetriedOnlyForTheShmFile) {
    ScratchDir dir;
    std::filesystem::create_directory(".LOCK");
    std::filesystem::create_directory(".LOCK_SHM");
    Holder program;
    auto reply = program.call(3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->basic, -1);
    EXPECT_EQ(reply->shm, -1);
    std::filesystem::remove(".LOCK");
    std::filesystem::remove(".LOCK_SHM");
    reply = program.call(3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->basic, -1);
    EXPECT_GT(reply->shm, 2);
    EXPECT_FALSE(std::filesystem::exists(".LOCK"));
    EXPECT_TRUE(std::filesystem::exists(".LOCK_SHM"));
}

// With standard input closed the first lock file would open as descriptor 0, which reads
// as not yet opened: every cell holds a descriptor above the standard streams, kept.
TEST(LockFiles, DescriptorsStayAboveTheStandardStreams) {
    ScratchDir dir;
    Holder program(-1, true);
    std::optional<int32_t> basic;
    for (int32_t code : {3, 5, 3, 5, 0}) {
        auto reply = program.call(code);
        ASSERT_TRUE(reply) << code;
        EXPECT_GT(reply->basic, 2);
        EXPECT_GT(reply->shm, 2);
        if (code == 5) {
            EXPECT_GT(reply->verify, 2);
        }
        EXPECT_EQ(reply->basic, basic.value_or(reply->basic)) << "opened once";
        basic = reply->basic;
    }
    EXPECT_EQ(holder_of(".LOCK", 0), program.pid());
}

// The trace opens and closes its file at every append, and closing any descriptor of a
// lock file drops the process's locks on it: a "debug2" that is a lock file is refused.
TEST(LockFiles, TraceThatIsALockFileIsRefusedAndTheLocksStay) {
    using Link = void (*)(const std::filesystem::path &, const std::filesystem::path &);
    const Link links[] = {std::filesystem::create_symlink, std::filesystem::create_hard_link};
    for (Link link : links) {
        ScratchDir dir;
        Holder program;
        ASSERT_EQ(result_of(program, 0), 0);
        link(".LOCK", "debug2");
        auto reply = program.trace();
        ASSERT_TRUE(reply);
        EXPECT_EQ(std::string(reply->calstr), messages::trace_not_opened(16));
        EXPECT_EQ(holder_of(".LOCK", 0), program.pid());
        Holder second;
        expect_refused(second, 0, pelmarin_refusal, 0);
        EXPECT_EQ(std::filesystem::file_size(".LOCK"), 0u);
    }
}

TEST(PelmarinLock, ProcessesReleasedTogetherLeaveExactlyOneHolder) {
    ScratchDir dir;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<std::unique_ptr<Holder>> racers;
    for (int i = 0; i < 12; ++i) racers.push_back(std::make_unique<Holder>(gate[0]));
    for (auto &racer : racers) racer->call_at_gate(0);
    ::close(gate[1]);  // every racer blocked on the gate reads its end now
    ::close(gate[0]);
    pid_t winner = 0;
    int winners = 0;
    for (auto &racer : racers) {
        if (auto reply = racer->receive()) {
            EXPECT_EQ(reply->result, 0);
            winner = racer->pid();
            ++winners;
        } else {
            Ended ended = racer->finish();
            EXPECT_EQ(ended.out, pelmarin_refusal);
            EXPECT_EQ(ended.status, 0);
        }
    }
    EXPECT_EQ(winners, 1);
    EXPECT_EQ(holder_of(".LOCK", 0), winner);
}

}  // namespace
}  // namespace qmrt::test
