#include "load/LoadSupport.h"
#include "support/LoopbackClient.h"
#include "support/LoopbackPorts.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace load {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long statusField(const std::string& status, const std::string& name) {
    const size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos)
        return -1;
    return std::strtol(status.c_str() + at + name.size() + 2, nullptr, 10);
}

// All descriptors, and those that are event counters (anonymous inodes).
std::pair<int, int> countDescriptors(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return {-1, -1};
    const int own = pid == ::getpid() ? ::dirfd(dir) : -1;
    int all = 0;
    int events = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own)
            continue;
        ++all;
        char target[256] = {};
        if (::readlink((folder + "/" + entry->d_name).c_str(), target, sizeof(target) - 1) > 0 &&
            std::string_view(target).starts_with("anon_inode:"))
            ++events;
    }
    ::closedir(dir);
    return {all, events};
}

int countQtPoolThreads(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.' &&
            readText(folder + "/" + entry->d_name + "/comm") == "Thread (pooled)\n")
            ++count;
    ::closedir(dir);
    return count;
}

End endOf(ssize_t n) {
    if (n == 0)
        return End::Closed;
    return errno == EAGAIN || errno == EWOULDBLOCK ? End::TimedOut : End::Reset;
}

std::string exitText(int status) {
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

} // namespace

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Figures FiguresOf(pid_t pid) {
    const std::string status = "\n" + readText("/proc/" + std::to_string(pid) + "/status");
    if (status.size() < 2)
        return {-1, -1, -1, 0, 0};
    const auto [all, events] = countDescriptors(pid);
    return {static_cast<int>(statusField(status, "Threads")), statusField(status, "VmRSS"), all,
            countQtPoolThreads(pid), events};
}

long PeakResidentKiB(pid_t pid) {
    const std::string status = "\n" + readText("/proc/" + std::to_string(pid) + "/status");
    return status.size() < 2 ? -1 : statusField(status, "VmHWM");
}

long VirtualKiB(pid_t pid) {
    const std::string status = "\n" + readText("/proc/" + std::to_string(pid) + "/status");
    return status.size() < 2 ? -1 : statusField(status, "VmSize");
}

double CpuMs(pid_t pid) {
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return -1;
    // After the command's closing parenthesis: state is field 3, utime 14 and stime 15.
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string Describe(const Figures& f) {
    return std::to_string(f.threads) + " threads (" + std::to_string(f.qtPoolThreads) +
           " of Qt's pool), " + std::to_string(f.descriptors) + " descriptors (" +
           std::to_string(f.eventDescriptors) + " event counters), " + std::to_string(f.rssKiB) +
           " KiB resident";
}

::testing::AssertionResult BackToIdle(const Figures& now, const Figures& idle) {
    if (now.threads >= 0 && now.OwnThreads() <= idle.OwnThreads() &&
        now.FilesAndSockets() <= idle.FilesAndSockets())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "now " << Describe(now) << "; idle " << Describe(idle);
}

Figures WaitForFigures(pid_t pid, const std::function<bool(const Figures&)>& done, int ms) {
    const auto start = Clock::now();
    Figures now = FiguresOf(pid);
    while (!done(now) && MsSince(start) < ms && now.threads >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        now = FiguresOf(pid);
    }
    return now;
}

int Connect(uint16_t port, int timeoutSeconds, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    const timeval limit{timeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    const sockaddr_in address = client::loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Reply ReadReply(int fd) {
    Reply reply;
    char buffer[65536];
    const auto start = Clock::now();
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reply.end = endOf(n);
            reply.endedMs = MsSince(start);
            return reply;
        }
        reply.bytes.append(buffer, static_cast<size_t>(n));
    }
}

Reply Exchange(uint16_t port, std::string_view request) {
    const int fd = Connect(port);
    if (fd < 0)
        return {"<not accepted>", End::Reset};
    SendAll(fd, request);
    Reply reply = ReadReply(fd);
    ::close(fd);
    return reply;
}

void CloseWithReset(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    ::close(fd);
}

std::vector<Reply> ReadReplies(const std::vector<int>& fds, int ms) {
    std::vector<Reply> replies(fds.size(), Reply{{}, End::TimedOut});
    std::vector<size_t> open(fds.size());
    for (size_t i = 0; i < fds.size(); ++i)
        open[i] = i;
    std::vector<char> buffer(65536);
    const auto start = Clock::now();
    while (!open.empty() && MsSince(start) < ms) {
        std::vector<pollfd> waiting;
        for (const size_t i : open)
            waiting.push_back({fds[i], POLLIN, 0});
        if (::poll(waiting.data(), waiting.size(), 100) <= 0)
            continue;
        std::vector<size_t> still;
        for (size_t k = 0; k < open.size(); ++k) {
            const size_t i = open[k];
            if (waiting[k].revents == 0) {
                still.push_back(i);
                continue;
            }
            const ssize_t n = ::recv(fds[i], buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) {
                replies[i].bytes.append(buffer.data(), static_cast<size_t>(n));
                still.push_back(i);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                still.push_back(i);
            } else {
                replies[i].end = n == 0 ? End::Closed : End::Reset;
                replies[i].endedMs = MsSince(start);
            }
        }
        open.swap(still);
    }
    return replies;
}

std::string FileReply(const std::string& type, const std::string& content) {
    return "HTTP/1.0 200 OK\r\nServer: Mirelton/0.3\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n" + content;
}

std::string PageReply(int code, const std::string& reason, const std::string& message) {
    const std::string body = "<HTML><h2>" + message + "</h2></HTML>";
    return "HTTP/1.0 " + std::to_string(code) + " " + reason +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent:\r\n\r\n" + body;
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

Sandbox::Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "koru-sandbox-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    base_ = root_ + "/inner/base";
    std::filesystem::create_directories(base_);
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    if (!root_.empty())
        std::filesystem::remove_all(root_, ignored);
}

void Sandbox::Write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path path = root_ + "/" + relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string Sandbox::Read(const std::string& relative) const {
    return readText(root_ + "/" + relative);
}

std::string Sandbox::Listing(const std::string& relative) const {
    std::vector<std::string> lines;
    const std::filesystem::path top = root_ + "/" + relative;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        const std::string name = std::filesystem::relative(entry.path(), top).string();
        if (entry.is_symlink())
            lines.push_back(name + " -> " + std::filesystem::read_symlink(entry.path()).string());
        else if (entry.is_directory())
            lines.push_back(name + "/");
        else
            lines.push_back(name + " " + std::to_string(entry.file_size()));
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

double BestOf(int attempts, const std::function<double()>& measure) {
    double best = measure();
    for (int i = 1; i < attempts; ++i)
        best = std::min(best, measure());
    return best;
}

ChildServer::ChildServer(Options options) : options_(std::move(options)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "koru-load-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
}

ChildServer::~ChildServer() {
    if (pid_ > 0)
        Stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool ChildServer::Start() {
    // A port found free can be taken by someone else before the program binds it: try anew.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = testnet::freePort();
        if (Spawn() && Answers(20000))
            return true;
        if (pid_ > 0)
            Stop();
    }
    return false;
}

bool ChildServer::Spawn() {
    if (folder_.empty())
        return false;
    const std::string store = folder_ + "/store";
    std::filesystem::create_directories(store + "/Quillbrook");
    std::filesystem::create_directories(folder_ + "/home");
    std::ofstream conf(store + "/Quillbrook/Projects.conf");
    conf << "[KORU]\n"
         << "Settings\\CBoxes=0110\n"
         << "Settings\\Edit1=" << options_.baseFolder << "/\n"
         << "Settings\\Edit2=index.htm\n"
         << "Settings\\Edit4=" << port_ << "\n"
         << "Settings\\Edit6=" << options_.pluginsFolder << "/\n"
         << "Settings\\Edit10=<H>\n"
         << "Settings\\Edit11=</H>\n"
         << "Settings\\Edit12=" << LogFile() << "\n"
         << "Settings\\Edit13=" << options_.idleSeconds << "\n";
    conf.close();

    // The program's own environment, with the store, the home settings and the display replaced.
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t eq = text.find('=');
        if (eq != std::string::npos)
            env[text.substr(0, eq)] = text.substr(eq + 1);
    }
    env["XDG_CONFIG_DIRS"] = store;
    env["XDG_CONFIG_HOME"] = folder_ + "/home";
    // The folder is private (mkdtemp): the program's runtime folder, so that programs started
    // side by side do not take each other for the one already running.
    env["XDG_RUNTIME_DIR"] = folder_;
    env["QT_QPA_PLATFORM"] = "offscreen";
    std::vector<std::string> texts;
    for (const auto& [name, value] : env)
        texts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : texts)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = folder_ + "/output.txt";
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string program = KORU_PROGRAM;
    char* argv[] = {program.data(), nullptr};
    const int result = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ended_.clear();
    if (result == 0 && options_.descriptorLimit > 0) {
        const rlimit limit{static_cast<rlim_t>(options_.descriptorLimit),
                           static_cast<rlim_t>(options_.descriptorLimit)};
        ::prlimit(pid_, RLIMIT_NOFILE, &limit, nullptr);
    }
    if (result != 0) {
        pid_ = -1;
        ended_ = std::string("cannot start ") + KORU_PROGRAM + ": " + std::strerror(result);
        return false;
    }
    return true;
}

// Up as soon as a request for the default document gets a reply.
bool ChildServer::Answers(int ms) {
    const auto start = Clock::now();
    while (MsSince(start) < ms && Alive()) {
        const int fd = Connect(port_, 5);
        if (fd >= 0) {
            SendAll(fd, "GET / HTTP/1.0\r\n\r\n");
            const Reply reply = ReadReply(fd);
            ::close(fd);
            if (reply.bytes.starts_with("HTTP/1.0 "))
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool ChildServer::Alive() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return true;
    ended_ = exitText(status);
    pid_ = -1;
    return false;
}

std::string ChildServer::Stop() {
    if (!Alive())
        return ended_;
    ::kill(pid_, SIGTERM);
    // The program gives busy workers a few seconds at exit; this waits a little longer.
    const auto start = Clock::now();
    while (Alive() && MsSince(start) < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Alive()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ended_ = "killed: it did not end on SIGTERM";
    }
    return ended_;
}

Figures ChildServer::Idle() const {
    // Longer than a reused thread waits for its next worker.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Figures before = Now();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Figures now = Now();
        if (now.OwnThreads() == before.OwnThreads() &&
            now.FilesAndSockets() == before.FilesAndSockets())
            return now;
        before = now;
    }
    return before;
}

Figures ChildServer::SettleTo(const Figures& idle, int ms) const {
    return WaitForFigures(
        pid_, [&](const Figures& f) { return bool(BackToIdle(f, idle)); }, ms);
}

std::string ChildServer::Failure() const {
    return "program: " + (ended_.empty() ? std::string("running") : ended_) + "\n" +
           readText(folder_ + "/output.txt");
}

} // namespace load
