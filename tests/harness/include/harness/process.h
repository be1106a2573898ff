// Child processes for the end-to-end suites: each in a process group of its own, killed with its
// whole group when the owner goes away, on an exception, or when the test process is stopped.
#ifndef TOVIX_HARNESS_PROCESS_H
#define TOVIX_HARNESS_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace harness {

struct ExitStatus {
    bool exited = false;  // false: ended by a signal
    int code = -1;        // exit code when exited
    int signal = 0;       // the signal otherwise
    bool ok() const { return exited && code == 0; }
    std::string describe() const;
};

struct SpawnOptions {
    std::vector<std::string> argv;                  // argv[0] is looked up in PATH when it has no '/'
    std::map<std::string, std::string> env;         // set on top of this process's environment
    std::vector<std::string> unset_env;             // removed from it
    std::string output_path;                        // stdout and stderr appended here; empty: /dev/null
    std::string working_dir;                        // empty: this process's
    int parent_death_signal = 9;                    // sent to the child if the test process dies
};

// Options for just this command line.
inline SpawnOptions command(std::vector<std::string> argv)
{
    SpawnOptions o;
    o.argv = std::move(argv);
    return o;
}

class Process {
public:
    static Process spawn(const SpawnOptions &options);

    Process() = default;
    Process(Process &&other) noexcept;
    Process &operator=(Process &&other) noexcept;
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    ~Process();

    pid_t pid() const { return pid_; }
    bool valid() const { return pid_ > 0; }

    // Reaps the child if it has ended; true while it runs.
    bool running();
    // The exit status once the child has ended and been reaped.
    const std::optional<ExitStatus> &status() const { return status_; }
    // Waits for the child to end; nullopt when it still runs after timeout.
    std::optional<ExitStatus> wait_for(std::chrono::milliseconds timeout);
    // SIGTERM to the group, SIGKILL after grace; the status afterwards.
    ExitStatus terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    // SIGKILL to the whole group and reap the child.
    void kill_group();
    // True while any process of the child's group still exists (zombies included).
    bool group_alive() const;

private:
    explicit Process(pid_t pid) : pid_(pid) {}
    void release();

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
};

// Runs a command to its end (killed after timeout) and returns its status.
ExitStatus run(const SpawnOptions &options, std::chrono::milliseconds timeout);

// Processes (not zombies) whose command line contains needle, except this process.
std::vector<pid_t> find_processes(const std::string &needle);
// Processes (not zombies) whose environment has exactly NAME=value.
std::vector<pid_t> find_processes_with_env(const std::string &name, const std::string &value);
// Processes (not zombies) in process group pgid.
std::vector<pid_t> processes_in_group(pid_t pgid);
std::string command_line(pid_t pid);

// SIGKILL to the group of every child spawned and not yet reaped; async-signal-safe.
void kill_all_children();

// Registers a command to run (for at most 5 s) when the test process is stopped by a signal,
// before its children are killed: e.g. to end processes that left the children's groups. argv[0]
// must be an absolute path. At most four.
void run_on_signal(const SpawnOptions &command);

// Kills every registered child group on SIGINT, SIGTERM, SIGHUP and SIGABRT, then dies by the
// same signal. Installed on the first spawn; safe to call again.
void install_child_cleanup_on_signals();

}  // namespace harness

#endif
