#include "test_amxp_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Strings = std::vector<std::string>;

struct Pipe {
    int rd = -1;
    int wr = -1;
    Pipe() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        rd = fds[0];
        wr = fds[1];
    }
    ~Pipe() {
        close(wr);
        close(rd);
    }
    void put(const char* text) const { EXPECT_GT(write(wr, text, strlen(text)), 0); }
};

// Logs "<events>:<data read>".
void read_all(int fd, uint32_t events, void*) {
    std::string data;
    char buf[64];
    ssize_t n = 0;
    while((n = read(fd, buf, sizeof(buf))) > 0) {
        data.append(buf, static_cast<std::size_t>(n));
    }
    g_log.push_back(std::to_string(events) + ":" + data);
}

using FdTest = LoopTest;

TEST_F(FdTest, RemovingItselfInsideTheCallbackStopsFurtherCalls) {
    Pipe p;
    amxp_loop_add_fd(p.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        g_log.emplace_back("once");
        EXPECT_EQ(amxp_loop_remove_fd(fd), 0);
    }, nullptr);
    p.put("x"); // never read: still readable afterwards
    amxp_loop_run_once(0);
    amxp_loop_run_once(0);
    EXPECT_EQ(g_log, Strings{"once"});
}

int g_replaced_fd = -1;

TEST_F(FdTest, EventCollectedForAReplacedWatchIsNotGivenToTheNewOne) {
    Pipe a;
    Pipe b;
    g_replaced_fd = b.rd;
    amxp_loop_add_fd(a.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        char c;
        EXPECT_EQ(read(fd, &c, 1), 1);
        amxp_loop_remove_fd(g_replaced_fd);
        amxp_loop_add_fd(g_replaced_fd, AMXP_FD_READ, read_all, nullptr);
    }, nullptr);
    amxp_loop_add_fd(b.rd, AMXP_FD_READ, [](int, uint32_t, void*) { g_log.emplace_back("old"); }, nullptr);
    a.put("1"); // ready first, so reported first: b's event is collected in the same wait
    b.put("2");
    EXPECT_EQ(amxp_loop_run_once(-1), 1);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(amxp_loop_run_once(0), 1); // the new watch takes over from the next wait on
    EXPECT_EQ(g_log, Strings{"1:2"});
    amxp_loop_remove_fd(a.rd);
    amxp_loop_remove_fd(b.rd);
}

using DeferTest = LoopTest;

void log_text(void* priv) {
    g_log.emplace_back(static_cast<const char*>(priv));
}

void* text(const char* t) {
    return const_cast<char*>(t);
}

void defer_again(void*) {
    g_log.emplace_back("again");
    amxp_loop_defer(defer_again, nullptr);
}

TEST_F(DeferTest, QueueAndDrainsAreBounded) {
    amxp_loop_defer(defer_again, nullptr);
    // Two drains per pass, each running its one queued entry plus the extra allowance.
    EXPECT_EQ(amxp_loop_run_pending(), 2 * (1 + AMXP_LOOP_DRAIN_EXTRA_MAX));
    EXPECT_GT(amxp_loop_run_once(-1), 0); // still queued: an unbounded wait returns at once
    amxp_loop_reset();

    for(int i = 0; i < AMXP_LOOP_QUEUE_MAX; ++i) {
        ASSERT_EQ(amxp_loop_defer(log_text, text("x")), 0);
    }
    EXPECT_EQ(amxp_loop_defer(log_text, text("refused")), -ENOSPC);
    EXPECT_EQ(amxp_loop_defer(nullptr, nullptr), -EINVAL);
    g_log.clear();
    EXPECT_EQ(amxp_loop_run_pending(), AMXP_LOOP_QUEUE_MAX);
    EXPECT_EQ(std::count(g_log.begin(), g_log.end(), "x"), AMXP_LOOP_QUEUE_MAX);
}

using RunTest = LoopTest;

TEST_F(RunTest, StopFromACallbackEndsRunAndNestedRunIsRefused) {
    Pipe p;
    amxp_loop_add_fd(p.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        char c;
        EXPECT_EQ(read(fd, &c, 1), 1);
        EXPECT_TRUE(amxp_loop_is_running());
        EXPECT_EQ(amxp_loop_run(), -EBUSY);
        g_log.emplace_back("stop");
        amxp_loop_stop();
    }, nullptr);
    p.put("ab"); // two bytes: the loop must not come back for the second
    EXPECT_EQ(amxp_loop_run(), 0);
    EXPECT_FALSE(amxp_loop_is_running());
    EXPECT_EQ(g_log, Strings{"stop"});
    amxp_loop_remove_fd(p.rd);
}

} // namespace
