// The input watcher's view of a Wayland connection: only messages to the seat's pointer or keyboard
// are input, what it looks at stays for the reader, and a connection that failed counts as input.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "wl_input_peek.h"

namespace {

constexpr uint32_t kPointer = 12, kKeyboard = 13, kCallback = 7, kDisplay = 1;

// A message as the wire carries it: the object, size and opcode, then one argument.
void Send(int fd, uint32_t object, uint16_t opcode)
{
    uint32_t words[3] = {object, 12u << 16 | opcode, 42};
    ASSERT_EQ(write(fd, words, sizeof words), static_cast<ssize_t>(sizeof words));
}

class WlInputPeekTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends_), 0);
        ASSERT_EQ(pipe(wake_), 0);
    }
    void TearDown() override
    {
        for (int fd : {ends_[0], ends_[1], wake_[0], wake_[1]})
            if (fd >= 0)
                close(fd);
    }
    int ends_[2] = {-1, -1};
    int wake_[2] = {-1, -1};
};

TEST_F(WlInputPeekTest, OnlyThePointersAndKeyboardsMessagesAreInputAndTheyStayForTheReader)
{
    winport::detail::WlInputPeek peek(ends_[0]);
    peek.SetInputObjects(kPointer, kKeyboard);
    EXPECT_FALSE(peek.InputPending());
    Send(ends_[1], kCallback, 0);  // a frame callback's done
    Send(ends_[1], kDisplay, 1);   // its id deleted
    EXPECT_FALSE(peek.InputPending());
    Send(ends_[1], kKeyboard, 3);  // a key, behind them
    EXPECT_TRUE(peek.InputPending());
    unsigned char all[64];
    EXPECT_EQ(recv(ends_[0], all, sizeof all, MSG_DONTWAIT), 36) << "looking took something away";
    Send(ends_[1], kPointer, 2);
    EXPECT_TRUE(peek.InputPending());
    ASSERT_EQ(recv(ends_[0], all, sizeof all, MSG_DONTWAIT), 12);
    uint32_t cut[2] = {kPointer, 12u << 16};  // the rest of it not there yet
    ASSERT_EQ(write(ends_[1], cut, 4), 4);
    EXPECT_FALSE(peek.InputPending());
    ASSERT_EQ(write(ends_[1], cut + 1, 4), 4);
    EXPECT_TRUE(peek.InputPending());
    peek.SetInputObjects(0, kKeyboard);  // the pointer gone, its id free again
    EXPECT_FALSE(peek.InputPending());
    close(ends_[1]);
    ends_[1] = -1;
    EXPECT_TRUE(peek.InputPending()) << "a compositor that went away is for the reader to find";
}

// Behind unread messages that are not input the connection stays readable: the wait must still
// come back for input, and for its wake-up, and must not take the messages.
TEST_F(WlInputPeekTest, TheWaitComesBackForInputBehindOtherMessagesAndForItsWakeUp)
{
    winport::detail::WlInputPeek peek(ends_[0]);
    peek.SetInputObjects(kPointer, kKeyboard);
    Send(ends_[1], kCallback, 0);
    std::thread later([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Send(ends_[1], kPointer, 3);
    });
    EXPECT_TRUE(peek.WaitForInput(wake_[0]));
    later.join();
    unsigned char all[64];
    ASSERT_EQ(recv(ends_[0], all, sizeof all, MSG_DONTWAIT), 24);
    Send(ends_[1], kCallback, 0);
    ASSERT_EQ(write(wake_[1], "w", 1), 1);
    EXPECT_FALSE(peek.WaitForInput(wake_[0]));
}

}  // namespace
