#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"

namespace tsr {
namespace {

constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The path to exec for argv[0]: looked up on PATH when it has no '/', else as given (exec then
// reports what is wrong with it).
std::optional<std::string> ResolveProgram(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos) return name;
    return FindProgramOnPath(name);
}

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    out.reserve(argv.size() + 1);
    for (const std::string& arg : argv) out.push_back(const_cast<char*>(arg.c_str()));
    out.push_back(nullptr);
    return out;
}

// A pipe whose two ends close on exec.
bool MakePipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Child side, between fork and exec (only async-signal-safe calls): sets up stdin (and stdout and
// stderr when `outFd` >= 0), marks every other descriptor close-on-exec, restores the default
// signal handling, then execs. On failure the errno goes to `errorFd` and the child exits 127.
[[noreturn]] void ExecChild(const char* path, char* const* argv, int stdinFd, int outFd,
                            int errorFd) {
    if (dup2(stdinFd, STDIN_FILENO) < 0) goto fail;
    if (outFd >= 0 && (dup2(outFd, STDOUT_FILENO) < 0 || dup2(outFd, STDERR_FILENO) < 0))
        goto fail;
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        struct rlimit limit;
        int maxFd = 65536;
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
            limit.rlim_cur < static_cast<rlim_t>(maxFd))
            maxFd = static_cast<int>(limit.rlim_cur);
        for (int fd = 3; fd < maxFd; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    {
        // Ignored signals (the web server ignores SIGPIPE) and the blocked mask survive exec.
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
    }
    execv(path, argv);
fail:
    int error = errno;
    ssize_t ignored = write(errorFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Reads the errno a child reports through its close-on-exec pipe; 0 when exec succeeded (the
// pipe closed without data).
int ReadExecError(int fd) {
    int error = 0;
    size_t got = 0;
    while (got < sizeof error) {
        ssize_t n = read(fd, reinterpret_cast<char*>(&error) + got, sizeof error - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got == sizeof error ? (error ? error : EIO) : 0;
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

Status LaunchFailure(const std::string& program, int error) {
    return Status::Fail(-1, "Cannot start " + program + ": " + std::strerror(error));
}

}  // namespace

std::optional<std::string> FindProgramOnPath(std::string_view name) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string_view::npos) {
        std::string path(name);
        if (IsExecutableFile(path)) return path;
        return std::nullopt;
    }
    const char* env = std::getenv("PATH");
    std::string_view dirs = env ? env : kDefaultPath;
    while (true) {
        size_t colon = dirs.find(':');
        std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty()) {
            std::string candidate = JoinPath(dir, name);
            if (IsExecutableFile(candidate)) return candidate;
        }
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

Status LaunchDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return Status::Fail(-1, "No program to start");
    std::optional<std::string> program = ResolveProgram(argv[0]);
    if (!program) return Status::Fail(-1, "Cannot find the program " + argv[0]);
    std::vector<char*> args = ArgvPointers(argv);

    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0) return LaunchFailure(argv[0], errno);
    int errorPipe[2];
    if (!MakePipe(errorPipe)) {
        int error = errno;
        close(devNull);
        return LaunchFailure(argv[0], error);
    }

    // Fork twice: the intermediate child exits at once and is reaped here, so the program is
    // adopted by init (or the session's subreaper) and never becomes our zombie.
    pid_t middle = fork();
    if (middle == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) ExecChild(program->c_str(), args.data(), devNull, -1, errorPipe[1]);
        if (grandchild < 0) {
            int error = errno;
            ssize_t ignored = write(errorPipe[1], &error, sizeof error);
            (void)ignored;
        }
        _exit(0);
    }
    int forkError = middle < 0 ? errno : 0;
    close(errorPipe[1]);
    close(devNull);
    if (middle < 0) {
        close(errorPipe[0]);
        return LaunchFailure(argv[0], forkError);
    }
    int error = ReadExecError(errorPipe[0]);
    close(errorPipe[0]);
    WaitForExit(middle);
    if (error) return LaunchFailure(argv[0], error);
    return Status::Ok();
}

std::optional<ProcessResult> RunAndCapture(const std::vector<std::string>& argv,
                                           const std::function<void(std::string_view)>& onLine) {
    if (argv.empty()) return std::nullopt;
    std::optional<std::string> program = ResolveProgram(argv[0]);
    if (!program) return std::nullopt;
    std::vector<char*> args = ArgvPointers(argv);

    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int outPipe[2] = {-1, -1};
    int errorPipe[2] = {-1, -1};
    if (devNull < 0 || !MakePipe(outPipe) || !MakePipe(errorPipe)) {
        CloseFd(devNull);
        CloseFd(outPipe[0]);
        CloseFd(outPipe[1]);
        CloseFd(errorPipe[0]);
        CloseFd(errorPipe[1]);
        return std::nullopt;
    }

    pid_t pid = fork();
    if (pid == 0) ExecChild(program->c_str(), args.data(), devNull, outPipe[1], errorPipe[1]);
    CloseFd(devNull);
    CloseFd(outPipe[1]);
    CloseFd(errorPipe[1]);
    if (pid < 0) {
        CloseFd(outPipe[0]);
        CloseFd(errorPipe[0]);
        return std::nullopt;
    }
    int execError = ReadExecError(errorPipe[0]);
    CloseFd(errorPipe[0]);
    if (execError) {
        CloseFd(outPipe[0]);
        WaitForExit(pid);
        return std::nullopt;
    }

    ProcessResult result;
    size_t lineStart = 0;  // where the line not yet passed to onLine starts in result.output
    auto emit = [&](size_t end) {
        std::string_view line(result.output.data() + lineStart, end - lineStart);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        onLine(line);
    };
    char buf[4096];
    while (true) {
        ssize_t n = read(outPipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size_t scanFrom = result.output.size();
        result.output.append(buf, static_cast<size_t>(n));
        if (!onLine) continue;
        for (size_t nl = result.output.find('\n', scanFrom); nl != std::string::npos;
             nl = result.output.find('\n', nl + 1)) {
            emit(nl);
            lineStart = nl + 1;
        }
    }
    CloseFd(outPipe[0]);
    if (onLine && lineStart < result.output.size()) emit(result.output.size());
    result.exitCode = WaitForExit(pid);
    return result;
}

}  // namespace tsr
