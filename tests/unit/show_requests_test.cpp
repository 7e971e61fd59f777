#include "platform/show_requests.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace tsr {
namespace {


TEST(ShowRequests, ASecondStartReachesEveryOtherRunningDesigner) {
    test::ScratchDir dir;
    const std::string sockets = dir / "tessora";
    ShowRequestListener first(sockets, 101);
    ShowRequestListener second(sockets, 102);
    ASSERT_TRUE(first.listening());
    ASSERT_TRUE(second.listening());
    EXPECT_FALSE(first.TakeRequest());

    // The new designer (103) reaches both; the one that sends (102) does not ask itself.
    EXPECT_EQ(SendShowRequests(sockets, 103), 2);
    EXPECT_TRUE(first.TakeRequest());
    EXPECT_TRUE(second.TakeRequest());
    EXPECT_FALSE(first.TakeRequest()) << "a request is taken once";
    EXPECT_EQ(SendShowRequests(sockets, 102), 1);
    EXPECT_TRUE(first.TakeRequest());
    EXPECT_FALSE(second.TakeRequest());
}

TEST(ShowRequests, SocketsOfEndedDesignersAreRemoved) {
    test::ScratchDir dir;
    const std::string sockets = dir / "tessora";
    { ShowRequestListener ended(sockets, 201); }
    EXPECT_FALSE(test::Exists(sockets + "/201.show")) << "the listener removes its socket";

    // A socket left by a crashed designer: bound, then closed without removal.
    const std::string stale = sockets + "/202.show";
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, stale.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    ASSERT_TRUE(test::Exists(stale));
    EXPECT_EQ(SendShowRequests(sockets, 203), 0);
    EXPECT_FALSE(test::Exists(stale));
}

TEST(ShowRequests, ADirectoryOthersCanWriteIsNotUsed) {
    test::ScratchDir dir;
    const std::string sockets = dir / "shared";
    ASSERT_EQ(mkdir(sockets.c_str(), 0777), 0);
    ASSERT_EQ(chmod(sockets.c_str(), 0777), 0);
    ShowRequestListener listener(sockets, 301);
    EXPECT_FALSE(listener.listening());
    EXPECT_FALSE(listener.TakeRequest());
}

}  // namespace
}  // namespace tsr
