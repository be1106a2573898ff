// The strace log check: what a drawing program does must pass, any write to the file system or
// connection elsewhere must be found, also when strace splits a call across lines.
#include <gtest/gtest.h>

#include "trace_check.h"

namespace e2e {
namespace {

std::vector<std::string> reasons(const std::string &log, int display = 7)
{
    std::vector<std::string> out;
    for (const TraceViolation &v : trace_violations(log, display))
        out.push_back(v.reason);
    return out;
}

TEST(TraceCheck, ReadingLoadingAndTalkingToTheXServerPass)
{
    const std::string log =
        "2096  openat(AT_FDCWD, \"/lib/x86_64-linux-gnu/libEGL.so.1\", O_RDONLY|O_CLOEXEC) = 3\n"
        "2096  openat(AT_FDCWD, \"/dev/dri\", O_RDONLY|O_NONBLOCK|O_CLOEXEC|O_DIRECTORY) = -1 ENOENT (No such file)\n"
        "2096  openat(AT_FDCWD, \"/tmp/O_CREAT|O_RDWR\", O_RDONLY) = -1 ENOENT (No such file or directory)\n"
        "2096  open(\"/dev/null\", O_RDWR) = 4\n"
        "2096  newfstatat(AT_FDCWD, \"/root/.cache\", 0x7ffd, 0) = -1 ENOENT (No such file or directory)\n"
        "2096  socket(AF_UNIX, SOCK_STREAM|SOCK_CLOEXEC, 0) = 3\n"
        "2096  connect(3, {sa_family=AF_UNIX, sun_path=@\"/tmp/.X11-unix/X7\"}, 22) = 0\n"
        "2096  connect(4, {sa_family=AF_UNIX, sun_path=\"/tmp/.X11-unix/X7\"}, 110) = 0\n"
        "2096  getpeername(3, {sa_family=AF_UNIX, sun_path=@\"/tmp/.X11-unix/X7\"}, [124 => 22]) = 0\n"
        "2096  recvmsg(3, {msg_name=NULL, msg_namelen=0, msg_iov=[{iov_base=\"\\1\\0\", iov_len=4096}]}, 0) = 32\n"
        "2097  openat(AT_FDCWD, \"/usr/share/drirc.d\", O_RDONLY <unfinished ...>\n"
        "2096  readlink(\"/proc/self/exe\", \"/x\", 4096) = 2\n"
        "2097  <... openat resumed>) = 5\n"
        "2103  --- SIGTERM {si_signo=SIGTERM, si_code=SI_USER, si_pid=2092, si_uid=0} ---\n"
        "2103  +++ exited with 0 +++\n";
    EXPECT_EQ(reasons(log), std::vector<std::string>{});
}

TEST(TraceCheck, FindsEveryWriteToTheFileSystem)
{
    EXPECT_EQ(reasons("12 openat(AT_FDCWD, \"/root/.cache/mesa/index\", O_WRONLY|O_CREAT|O_TRUNC, 0644) = 3\n"),
              std::vector<std::string>{"opens \"/root/.cache/mesa/index\" for writing"});
    EXPECT_EQ(reasons("12 openat(AT_FDCWD, \"/dev/dri/renderD128\", O_RDWR|O_CLOEXEC) = 5\n"),
              std::vector<std::string>{"opens \"/dev/dri/renderD128\" for writing"});
    EXPECT_EQ(reasons("12 open(\"/tmp/x\", O_RDONLY|O_TRUNC) = -1 EACCES (Permission denied)\n").size(), 1u);
    EXPECT_EQ(reasons("12 creat(\"/tmp/x\", 0644) = 3\n").size(), 1u);
    EXPECT_EQ(reasons("12 openat2(AT_FDCWD, \"/tmp/x\", {flags=O_RDWR|O_CREAT, mode=0600}, 24) = 3\n").size(), 1u);
    for (const char *call : {"mkdir(\"/root/.cache\", 0700) = -1 EEXIST (File exists)",
                             "unlinkat(AT_FDCWD, \"/tmp/x\", 0) = 0",
                             "renameat2(AT_FDCWD, \"/tmp/a\", AT_FDCWD, \"/tmp/b\", RENAME_NOREPLACE) = 0",
                             "symlink(\"/tmp/a\", \"/tmp/b\") = 0", "truncate(\"/tmp/a\", 0) = 0"})
        EXPECT_EQ(reasons(std::string("12 ") + call + "\n"), std::vector<std::string>{"changes the file system"})
            << call;
}

TEST(TraceCheck, FindsConnectionsToAnythingButTheXServerEvenFailedOnes)
{
    const std::string other = "connects to something other than the X server";
    EXPECT_EQ(reasons("1 connect(5, {sa_family=AF_UNIX, sun_path=\"/run/dbus/system_bus_socket\"}, 110) = -1 "
                      "ENOENT (No such file or directory)\n"),
              std::vector<std::string>{other});
    EXPECT_EQ(reasons("1 connect(3, {sa_family=AF_UNIX, sun_path=@\"/tmp/.X11-unix/X70\"}, 23) = 0\n"),
              std::vector<std::string>{other});
    EXPECT_EQ(reasons("1 connect(3, {sa_family=AF_UNIX, sun_path=@\"/tmp/.X11-unix/X7\"}, 22) = 0\n", 1),
              std::vector<std::string>{other});
    EXPECT_EQ(reasons("1 connect(3, {sa_family=AF_INET, sin_port=htons(6007), sin_addr=inet_addr(\"127.0.0.1\")}, "
                      "16) = -1 ECONNREFUSED (Connection refused)\n"),
              std::vector<std::string>{other});
    EXPECT_EQ(reasons("1 bind(3, {sa_family=AF_UNIX, sun_path=\"/tmp/s\"}, 110) = 0\n"),
              std::vector<std::string>{"takes connections"});
    EXPECT_EQ(reasons("1 sendto(3, \"x\", 1, 0, {sa_family=AF_INET, sin_port=htons(53)}, 16) = 1\n"),
              std::vector<std::string>{"sends to something other than the X server"});
}

TEST(TraceCheck, JoinsCallsThatStraceSplitAcrossLines)
{
    const std::string log = "124 openat(AT_FDCWD, \"/tmp/log\", O_WRONLY|O_CREAT <unfinished ...>\n"
                            "125 connect(3, {sa_family=AF_UNIX, sun_path=@\"/tmp/.X11-unix/X7\"}, 22) = 0\n"
                            "124 <... openat resumed>, 0644) = 5\n"
                            "126 connect(4, {sa_family=AF_UNIX, sun_path=\"/run/user/0/bus\"}, 110 <unfinished ...>\n";
    const auto found = trace_violations(log, 7);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].call, "openat(AT_FDCWD, \"/tmp/log\", O_WRONLY|O_CREAT, 0644) = 5");
    EXPECT_EQ(found[1].reason, "connects to something other than the X server");
}

}  // namespace
}  // namespace e2e
