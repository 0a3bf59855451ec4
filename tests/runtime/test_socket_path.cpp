// The control socket rules that gwrt and gwctl share.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "socket_path.h"
#include "support/temp_dir.h"
#include "support/unix_socket.h"

namespace {

using gw::SocketProbe;
using gwtest::UnixSocket;

TEST(DefaultSocketPath, FollowsUserAndRuntimeFolder) {
    EXPECT_EQ(gw::default_socket_path_for(0, "/run/user/0"), "/run/gwrt/gwrt.sock");
    EXPECT_EQ(gw::default_socket_path_for(1000, "/run/user/1000"), "/run/user/1000/gwrt/gwrt.sock");
    EXPECT_EQ(gw::default_socket_path_for(1000, nullptr), "/tmp/gwrt-1000/gwrt.sock");
    // An empty or relative runtime folder is not usable: fall back to /tmp.
    EXPECT_EQ(gw::default_socket_path_for(1000, ""), "/tmp/gwrt-1000/gwrt.sock");
    EXPECT_EQ(gw::default_socket_path_for(1000, "run/user"), "/tmp/gwrt-1000/gwrt.sock");
}

TEST(ProbeSocket, TellsAbsentStaleLiveAndOtherFiles) {
    gwtest::TempDir dir;
    std::string error;
    EXPECT_EQ(gw::probe_socket(dir.file("none.sock"), error), SocketProbe::absent);

    std::string stale = dir.file("stale.sock");
    { UnixSocket bound(stale, false); }
    EXPECT_EQ(gw::probe_socket(stale, error), SocketProbe::stale);

    std::string live = dir.file("live.sock");
    UnixSocket server(live, true);
    EXPECT_EQ(gw::probe_socket(live, error), SocketProbe::live);

    EXPECT_EQ(gw::probe_socket(dir.write("plain", "x"), error), SocketProbe::not_a_socket);
}

TEST(PrepareSocketFolder, CreatesMissingFoldersPrivateAndRefusesUnsafeOnes) {
    gwtest::TempDir dir;
    std::string error;
    std::string socket = dir.path() + "/a/b/gwrt.sock";
    ASSERT_TRUE(gw::prepare_socket_folder(socket, error)) << error;
    for (const char* folder : {"/a", "/a/b"}) {
        struct stat st {};
        ASSERT_EQ(stat((dir.path() + folder).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    // Again: an existing private folder is fine.
    EXPECT_TRUE(gw::prepare_socket_folder(socket, error)) << error;

    std::string open_folder = dir.path() + "/open";
    ASSERT_EQ(mkdir(open_folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open_folder.c_str(), 0777), 0);
    EXPECT_FALSE(gw::prepare_socket_folder(open_folder + "/gwrt.sock", error));
    EXPECT_NE(error.find("writable by other users"), std::string::npos) << error;
    // Sticky like /tmp: others cannot remove what we create there.
    ASSERT_EQ(chmod(open_folder.c_str(), 01777), 0);
    EXPECT_TRUE(gw::prepare_socket_folder(open_folder + "/gwrt.sock", error)) << error;

    EXPECT_FALSE(gw::prepare_socket_folder(dir.write("file", "") + "/gwrt.sock", error));
    EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
}

}  // namespace
