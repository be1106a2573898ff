#include "trace_check.h"

#include <cctype>
#include <map>
#include <set>
#include <sstream>

namespace e2e {

namespace {

// The first double-quoted string at or after from, escapes kept; end is set past its closing quote.
std::string quoted(const std::string &call, std::size_t from, std::size_t &end)
{
    const std::size_t open = call.find('"', from);
    if (open == std::string::npos) {
        end = std::string::npos;
        return std::string();
    }
    std::size_t i = open + 1;
    while (i < call.size() && call[i] != '"')
        i += call[i] == '\\' ? 2 : 1;
    end = i < call.size() ? i + 1 : std::string::npos;
    return call.substr(open + 1, i - open - 1);
}

bool has_token(const std::string &text, const std::string &token)
{
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + 1)) {
        const std::size_t after = at + token.size();
        const bool starts = at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_');
        const bool ends = after == text.size() ||
                          !(std::isalnum(static_cast<unsigned char>(text[after])) || text[after] == '_');
        if (starts && ends)
            return true;
    }
    return false;
}

// The X server's socket, by path or by abstract name; nothing else.
bool to_x_server(const std::string &call, int display)
{
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display) + "\"";
    return call.find("sa_family=AF_UNIX") != std::string::npos &&
           (call.find("sun_path=\"" + path) != std::string::npos ||
            call.find("sun_path=@\"" + path) != std::string::npos);
}

// Why a whole call breaks the rule, or "".
std::string judge(const std::string &call, int display)
{
    static const std::set<std::string> kChanges = {
        "mkdir",   "mkdirat", "rmdir",     "rename", "renameat",  "renameat2", "unlink",    "unlinkat",
        "link",    "linkat",  "symlink",   "symlinkat", "truncate", "mknod",   "mknodat",   "chmod",
        "fchmodat", "chown",  "lchown",    "fchownat", "utime",    "utimes",  "utimensat", "futimesat",
        "setxattr", "lsetxattr", "removexattr", "lremovexattr"};
    const std::size_t paren = call.find('(');
    if (paren == std::string::npos)
        return std::string();
    const std::string name = call.substr(0, paren);
    for (char c : name)
        if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '_'))
            return std::string();

    if (kChanges.count(name) != 0)
        return "changes the file system";
    if (name == "creat" || name == "open" || name == "openat" || name == "openat2") {
        std::size_t end = 0;
        const std::string path = quoted(call, paren, end);
        const std::string flags = end == std::string::npos ? std::string() : call.substr(end);
        const bool writes = name == "creat" || has_token(flags, "O_WRONLY") || has_token(flags, "O_RDWR") ||
                            has_token(flags, "O_CREAT") || has_token(flags, "O_TRUNC");
        // Whatever goes to /dev/null is kept nowhere.
        return writes && path != "/dev/null" ? "opens \"" + path + "\" for writing" : std::string();
    }
    if (name == "connect")
        return to_x_server(call, display) ? std::string() : "connects to something other than the X server";
    if (name == "bind" || name == "listen" || name == "accept" || name == "accept4")
        return "takes connections";
    if ((name == "sendto" || name == "sendmsg") && call.find("sa_family=") != std::string::npos &&
        !to_x_server(call, display))
        return "sends to something other than the X server";
    return std::string();
}

}  // namespace

std::vector<TraceViolation> trace_violations(const std::string &log, int display)
{
    static const std::string kUnfinished = " <unfinished ...>";
    static const std::string kResumed = " resumed>";
    std::vector<TraceViolation> out;
    std::map<std::string, std::string> pending;  // pid -> the first part of an interrupted call
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t at = 0;
        while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])))
            ++at;
        const std::string pid = line.substr(0, at);
        while (at < line.size() && line[at] == ' ')
            ++at;
        std::string call = line.substr(at);
        // Signals and exits.
        if (call.rfind("---", 0) == 0 || call.rfind("+++", 0) == 0)
            continue;
        if (call.rfind("<... ", 0) == 0) {
            const std::size_t resumed = call.find(kResumed);
            if (resumed == std::string::npos)
                continue;
            call = pending[pid] + call.substr(resumed + kResumed.size());
            pending.erase(pid);
        }
        if (call.size() >= kUnfinished.size() &&
            call.compare(call.size() - kUnfinished.size(), kUnfinished.size(), kUnfinished) == 0) {
            pending[pid] = call.substr(0, call.size() - kUnfinished.size());
            continue;
        }
        std::string reason = judge(call, display);
        if (!reason.empty())
            out.push_back(TraceViolation{call, reason});
    }
    // A call cut off by the end of the log is judged by what it shows.
    for (const auto &[pid, call] : pending) {
        std::string reason = judge(call, display);
        if (!reason.empty())
            out.push_back(TraceViolation{call, reason});
    }
    return out;
}

}  // namespace e2e
