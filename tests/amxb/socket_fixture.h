// The test data model served by a bus server child process, and a client context on it.
#ifndef SOCKET_FIXTURE_H
#define SOCKET_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include <amxb/amxb.h>

#include "bus_test_support.h"

class SocketBus : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(socket_path);
        ASSERT_TRUE(server->ready());
        ASSERT_EQ(amxb_connect(&client, uri.c_str()), 0);
    }

    void TearDown() override {
        amxb_free(&client);
        if(server->ready()) {
            EXPECT_EQ(server->stop(), 0) << "the server must exit cleanly";
        }
    }

    TempDir dir;
    const std::string socket_path = dir.path("bus.sock");
    const std::string uri = "unix:" + socket_path;
    std::unique_ptr<ServerProcess> server;
    amxb_bus_ctx_t* client = nullptr;
};

#endif
