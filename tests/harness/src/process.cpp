#include "harness/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace harness {

namespace {

// Process groups to kill if the test process is stopped by a signal; plain atomics so the
// handler may read them.
constexpr int kSlots = 256;
std::atomic<pid_t> g_groups[kSlots];

void register_group(pid_t pgid)
{
    for (auto &slot : g_groups) {
        pid_t expected = 0;
        if (slot.compare_exchange_strong(expected, pgid))
            return;
    }
}

void unregister_group(pid_t pgid)
{
    for (auto &slot : g_groups) {
        pid_t expected = pgid;
        if (slot.compare_exchange_strong(expected, 0))
            return;
    }
}

// Commands for the signal handler, prepared in full beforehand: it may only fork, exec and wait.
struct PreparedCommand {
    std::vector<std::string> strings;
    std::vector<char *> argv;
    std::vector<char *> envp;
};
constexpr int kMaxSignalCommands = 4;
PreparedCommand *g_signal_commands[kMaxSignalCommands];
std::atomic<int> g_signal_command_count{0};

void run_signal_commands()
{
    const int n = g_signal_command_count.load();
    for (int i = 0; i < n && i < kMaxSignalCommands; ++i) {
        PreparedCommand *c = g_signal_commands[i];
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            ::execve(c->argv[0], c->argv.data(), c->envp.data());
            ::_exit(127);
        }
        if (pid < 0)
            continue;
        for (int waited = 0; waited < 500; ++waited) {
            if (::waitpid(pid, nullptr, WNOHANG) != 0)
                break;
            struct timespec tick = {0, 10 * 1000 * 1000};
            ::nanosleep(&tick, nullptr);
        }
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, WNOHANG);
    }
}

extern "C" void kill_groups_and_die(int sig)
{
    run_signal_commands();
    kill_all_children();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

ExitStatus decode(int wstatus)
{
    ExitStatus s;
    if (WIFEXITED(wstatus)) {
        s.exited = true;
        s.code = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        s.signal = WTERMSIG(wstatus);
    }
    return s;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The fields of /proc/PID/stat after the parenthesised command name, which may itself hold ')':
// state, ppid, pgrp, ...
std::vector<std::string> stat_fields(pid_t pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos)
        return fields;
    std::istringstream rest(stat.substr(close + 1));
    std::string f;
    while (fields.size() < 3 && rest >> f)
        fields.push_back(f);
    return fields;
}

bool is_zombie(pid_t pid)
{
    auto fields = stat_fields(pid);
    return fields.empty() || fields[0] == "Z" || fields[0] == "X";
}

template <class Match>
std::vector<pid_t> scan_processes(Match &&match)
{
    std::vector<pid_t> found;
    DIR *proc = ::opendir("/proc");
    if (proc == nullptr)
        return found;
    const pid_t self = ::getpid();
    while (dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == self)
            continue;
        auto p = static_cast<pid_t>(pid);
        if (match(p) && !is_zombie(p))
            found.push_back(p);
    }
    ::closedir(proc);
    return found;
}

// This process's environment with the options' changes.
std::map<std::string, std::string> child_environment(const SpawnOptions &options)
{
    std::map<std::string, std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto &name : options.unset_env)
        env.erase(name);
    for (const auto &kv : options.env)
        env[kv.first] = kv.second;
    return env;
}

}  // namespace

void run_on_signal(const SpawnOptions &command)
{
    if (command.argv.empty() || command.argv[0].empty() || command.argv[0][0] != '/')
        throw std::invalid_argument("run_on_signal: needs an absolute program path");
    if (g_signal_command_count.load() >= kMaxSignalCommands)
        throw std::length_error("run_on_signal: too many commands");
    auto *c = new PreparedCommand;  // lives as long as the process: the handler may need it at any time
    const std::map<std::string, std::string> env = child_environment(command);
    c->strings = command.argv;
    const std::size_t args = c->strings.size();
    for (const auto &kv : env)
        c->strings.push_back(kv.first + "=" + kv.second);
    for (std::size_t i = 0; i < c->strings.size(); ++i)
        (i < args ? c->argv : c->envp).push_back(c->strings[i].data());
    c->argv.push_back(nullptr);
    c->envp.push_back(nullptr);
    g_signal_commands[g_signal_command_count.load()] = c;
    ++g_signal_command_count;
    install_child_cleanup_on_signals();
}

void kill_all_children()
{
    for (auto &slot : g_groups) {
        pid_t pgid = slot.load();
        if (pgid > 0)
            ::kill(-pgid, SIGKILL);
    }
}

std::string ExitStatus::describe() const
{
    if (exited)
        return "exit code " + std::to_string(code);
    if (signal != 0)
        return std::string("killed by signal ") + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
    return "no exit status";
}

void install_child_cleanup_on_signals()
{
    static std::atomic<bool> installed{false};
    if (installed.exchange(true))
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = kill_groups_and_die;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGABRT, SIGQUIT})
        ::sigaction(sig, &action, nullptr);
}

Process Process::spawn(const SpawnOptions &options)
{
    if (options.argv.empty())
        throw std::invalid_argument("spawn: empty command");
    install_child_cleanup_on_signals();

    // Everything the child needs is prepared here: after fork it may only make async-signal-safe calls.
    const std::map<std::string, std::string> env = child_environment(options);
    std::vector<std::string> env_strings;
    for (const auto &kv : env)
        env_strings.push_back(kv.first + "=" + kv.second);
    std::vector<char *> envp;
    for (auto &s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = options.argv;
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const char *out_path = options.output_path.empty() ? "/dev/null" : options.output_path.c_str();
    int out_fd = ::open(out_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out_fd < 0)
        throw std::runtime_error("spawn: cannot open " + std::string(out_path) + ": " + std::strerror(errno));
    int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int error_pipe[2];
    if (null_fd < 0 || ::pipe2(error_pipe, O_CLOEXEC) != 0) {
        ::close(out_fd);
        if (null_fd >= 0)
            ::close(null_fd);
        throw std::runtime_error("spawn: cannot create descriptors");
    }
    const pid_t parent = ::getpid();
    const char *dir = options.working_dir.empty() ? nullptr : options.working_dir.c_str();
    const int death_signal = options.parent_death_signal;

    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out_fd);
        ::close(null_fd);
        ::close(error_pipe[0]);
        ::close(error_pipe[1]);
        throw std::runtime_error(std::string("spawn: fork failed: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        if (death_signal > 0)
            ::prctl(PR_SET_PDEATHSIG, death_signal);
        if (::getppid() != parent)
            ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGABRT, SIGQUIT, SIGPIPE, SIGCHLD})
            ::signal(sig, SIG_DFL);
        ::dup2(null_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(out_fd, 2);
        if (dir != nullptr && ::chdir(dir) != 0) {
            int err = errno;
            ssize_t ignored = ::write(error_pipe[1], &err, sizeof err);
            (void)ignored;
            ::_exit(127);
        }
        ::execvpe(argv[0], argv.data(), envp.data());
        int err = errno;
        ssize_t ignored = ::write(error_pipe[1], &err, sizeof err);
        (void)ignored;
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also here, so the group exists before anyone signals it
    register_group(pid);
    ::close(out_fd);
    ::close(null_fd);
    ::close(error_pipe[1]);
    int child_errno = 0;
    ssize_t n;
    do {
        n = ::read(error_pipe[0], &child_errno, sizeof child_errno);
    } while (n < 0 && errno == EINTR);
    ::close(error_pipe[0]);
    Process process(pid);
    if (n == static_cast<ssize_t>(sizeof child_errno)) {
        process.wait_for(std::chrono::milliseconds(1000));
        throw std::runtime_error("spawn: cannot run " + options.argv[0] + ": " + std::strerror(child_errno));
    }
    return process;
}

Process::Process(Process &&other) noexcept : pid_(other.pid_), status_(other.status_)
{
    other.pid_ = -1;
    other.status_.reset();
}

Process &Process::operator=(Process &&other) noexcept
{
    if (this != &other) {
        release();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
        other.status_.reset();
    }
    return *this;
}

Process::~Process() { release(); }

void Process::release()
{
    if (pid_ <= 0)
        return;
    kill_group();
    pid_ = -1;
}

bool Process::running()
{
    if (pid_ <= 0 || status_)
        return false;
    int wstatus = 0;
    pid_t r = ::waitpid(pid_, &wstatus, WNOHANG);
    if (r == pid_) {
        status_ = decode(wstatus);
        return false;
    }
    if (r < 0 && errno == ECHILD) {
        status_ = ExitStatus{};
        return false;
    }
    return true;
}

std::optional<ExitStatus> Process::wait_for(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

ExitStatus Process::terminate(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return ExitStatus{};
    if (running()) {
        ::kill(-pid_, SIGTERM);
        if (!wait_for(grace))
            kill_group();
    }
    if (group_alive())
        ::kill(-pid_, SIGKILL);
    return status_ ? *status_ : ExitStatus{};
}

void Process::kill_group()
{
    if (pid_ <= 0)
        return;
    ::kill(-pid_, SIGKILL);
    if (!status_) {
        int wstatus = 0;
        pid_t r;
        do {
            r = ::waitpid(pid_, &wstatus, 0);
        } while (r < 0 && errno == EINTR);
        status_ = r == pid_ ? decode(wstatus) : ExitStatus{};
    }
    unregister_group(pid_);
}

bool Process::group_alive() const { return pid_ > 0 && ::kill(-pid_, 0) == 0; }

ExitStatus run(const SpawnOptions &options, std::chrono::milliseconds timeout)
{
    Process p = Process::spawn(options);
    if (auto s = p.wait_for(timeout))
        return *s;
    p.kill_group();
    ExitStatus timed_out;
    timed_out.signal = SIGKILL;
    return timed_out;
}

std::string command_line(pid_t pid)
{
    std::string raw = read_file("/proc/" + std::to_string(pid) + "/cmdline");
    for (char &c : raw)
        if (c == '\0')
            c = ' ';
    while (!raw.empty() && raw.back() == ' ')
        raw.pop_back();
    return raw;
}

std::vector<pid_t> find_processes(const std::string &needle)
{
    return scan_processes([&](pid_t pid) { return command_line(pid).find(needle) != std::string::npos; });
}

std::vector<pid_t> processes_in_group(pid_t pgid)
{
    const std::string group = std::to_string(pgid);
    return scan_processes([&](pid_t pid) {
        auto fields = stat_fields(pid);
        return fields.size() == 3 && fields[2] == group;
    });
}

std::vector<pid_t> find_processes_with_env(const std::string &name, const std::string &value)
{
    const std::string wanted = name + "=" + value;
    return scan_processes([&](pid_t pid) {
        std::string env = read_file("/proc/" + std::to_string(pid) + "/environ");
        std::size_t start = 0;
        while (start < env.size()) {
            std::size_t end = env.find('\0', start);
            if (end == std::string::npos)
                end = env.size();
            if (env.compare(start, end - start, wanted) == 0)
                return true;
            start = end + 1;
        }
        return false;
    });
}

}  // namespace harness
