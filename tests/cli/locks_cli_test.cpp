// qmrt lock and qmrt locks with real holders: child processes that keep their locks
// until told to stop, synchronised on what they print.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "lock_map.hpp"
#include "messages.hpp"
#include "scratch_dir.hpp"
#include "subprocess.hpp"

namespace qmrt::test {
namespace {

const std::string tool = QMRT_CLI;

// A `qmrt lock ... --hold` child that has taken its locks.
class Holder {
public:
    explicit Holder(const std::vector<std::string> &args) : child_(tool, with_hold(args)) {
        taken_ = child_.read_until("holding the locks until interrupted");
    }
    bool holding() const { return !taken_.empty(); }
    const std::string &taken() const { return taken_; }
    pid_t pid() const { return child_.pid(); }
    Finished stop() {
        ::kill(child_.pid(), SIGTERM);
        return child_.finish();
    }

private:
    static std::vector<std::string> with_hold(std::vector<std::string> args) {
        args.insert(args.begin(), "lock");
        args.push_back("--hold");
        return args;
    }
    Child child_;
    std::string taken_;
};

std::string row(const char *bytes, pid_t pid, const char *meaning) {
    char line[256];
    std::snprintf(line, sizeof line, ".LOCK     %-9s %7d  %-15s %s\n", bytes, static_cast<int>(pid),
                  "qmrt", meaning);
    return line;
}

TEST(LocksCommand, NamesASlotHolderAndItsConflicts) {
    ScratchDir dir;
    Holder slot({"2", "--slot", "3"});
    ASSERT_TRUE(slot.holding());
    EXPECT_NE(slot.taken().find("holds .LOCK byte 39: user slot 3, place 0"), std::string::npos)
        << slot.taken();

    Finished shown = run(tool, {"locks"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find(row("39", slot.pid(), "user slot 3, place 0")), std::string::npos)
        << shown.out;

    // The slot byte lies in the run-program range: the pair lock is refused, as the
    // suite's programs would be, and the tool says no.
    Finished pair = run(tool, {"lock", "1"});
    EXPECT_EQ(pair.status, 1);
    EXPECT_EQ(pair.out, messages::run_refusal);
    EXPECT_NE(pair.err.find("status 255"), std::string::npos) << pair.err;

    // A second holder of the same slot takes its next place.
    Holder neighbour({"2", "--slot", "3"});
    ASSERT_TRUE(neighbour.holding());
    EXPECT_NE(neighbour.taken().find("byte 40: user slot 3, place 1"), std::string::npos);

    Finished stopped = slot.stop();
    EXPECT_EQ(stopped.status, 0);
    EXPECT_EQ(stopped.out, "released\n");
    shown = run(tool, {"locks"});
    EXPECT_EQ(shown.out.find(row("39", slot.pid(), "user slot 3, place 0")), std::string::npos);
    EXPECT_NE(shown.out.find(row("40", neighbour.pid(), "user slot 3, place 1")), std::string::npos)
        << shown.out;
}

TEST(LocksCommand, NamesThePairLockAsOneMergedRange) {
    ScratchDir dir;
    Holder pair({"1"});
    ASSERT_TRUE(pair.holding());
    Finished shown = run(tool, {"locks"});
    EXPECT_NE(shown.out.find(
                  row("1-201", pair.pid(), "tovrasel/kinsoret; run-program range (bytes 2-201)")),
              std::string::npos)
        << shown.out;

    Finished slot = run(tool, {"lock", "2"});
    EXPECT_EQ(slot.status, 1);
    EXPECT_EQ(slot.out, messages::slot_refusal);
}

TEST(LocksCommand, FullSlotIsANoAndEmptyDirectoryHoldsNothing) {
    ScratchDir dir;
    EXPECT_EQ(run(tool, {"locks"}).out, "no locks held on .LOCK or .VF_LOCK here\n");
    Holder first({"2", "--slot", "0"}), second({"2", "--slot", "0"}), third({"2", "--slot", "0"});
    ASSERT_TRUE(first.holding() && second.holding() && third.holding());
    Finished fourth = run(tool, {"lock", "2", "--slot", "0"});
    EXPECT_EQ(fourth.status, 1);
    EXPECT_NE(fourth.out.find("DQ_LOCKING(2) = -2: user slot 0 is full"), std::string::npos)
        << fourth.out;
}

// The byte map as `qmrt locks` names it, merged ranges included.
TEST(ByteMap, NamesEveryKindOfRange) {
    struct Named {
        off_t first;
        std::optional<off_t> last;
        const char *meaning;
    };
    const Named basic[] = {
        {0, 0, "Pelmarin"},
        {1, 1, "tovrasel/kinsoret"},
        {1, 201, "tovrasel/kinsoret; run-program range (bytes 2-201)"},
        {0, 202,
         "Pelmarin; tovrasel/kinsoret; run-program range (bytes 2-201); user slot 57, place 1"},
        {30, 30, "user slot 0, place 0"},
        {201, 203, "user slot 57, places 0-2"},
        {31, 35, "user slots 0 (place 1) to 1 (place 2)"},
        {33, 38, "user slots 1-2"},
        {5, 31, "part of the run-program range (bytes 5-29); user slot 0, places 0-1"},
        {40, std::nullopt, "user slots from 3 to the end of the file"},
    };
    for (const Named &named : basic)
        EXPECT_EQ(qmrt::cli::describe_basic_range(named.first, named.last), named.meaning)
            << named.first;
    EXPECT_EQ(qmrt::cli::describe_verify_range(4, 4), "verify member");
    EXPECT_EQ(qmrt::cli::bytes_text(30, std::nullopt), "30-end");
}

TEST(ByteMap, ReadsHeldLocksOfTheKernelTable) {
    const auto held = qmrt::cli::parse_lock_table(
        "1: POSIX  ADVISORY  WRITE 12345 08:1f:1234567 1 201\n"
        "1: -> POSIX  ADVISORY  WRITE 777 08:1f:1234567 1 1\n"
        "2: OFDLCK ADVISORY  READ  -1 00:2a:99 40 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 55 fd:00:7 0 EOF\n"
        "garbage\n");
    ASSERT_EQ(held.size(), 3u);
    EXPECT_EQ(held[0].pid, 12345);
    EXPECT_EQ(held[0].major, 0x08u);
    EXPECT_EQ(held[0].minor, 0x1Fu);
    EXPECT_EQ(held[0].inode, 1234567u);
    EXPECT_EQ(held[0].first, 1);
    EXPECT_EQ(held[0].last, 201);
    EXPECT_EQ(held[1].pid, -1);
    EXPECT_FALSE(held[1].write);
    EXPECT_FALSE(held[1].last.has_value());
    EXPECT_EQ(held[2].kind, "FLOCK");
    EXPECT_EQ(held[2].major, 0xFDu);
}

}  // namespace
}  // namespace qmrt::test
