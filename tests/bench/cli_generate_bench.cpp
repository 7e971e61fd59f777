// The whole process of `tessora-cli generate` for large projects, start-up included: the median
// of 20 runs for 2,000 and 8,000 objects (the ratio shows whether the cost stays linear), and of
// `tessora-cli catalogue`, which starts the program and does almost nothing else.
// Usage: bench_cli_generate TESSORA_CLI [RUNS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/project_file.h"
#include "platform/fs.h"
#include "populate.h"

extern char** environ;

namespace {

// Runs `args` with its output sent to /dev/null; returns the wall time in milliseconds, or a
// negative value when it could not run or failed.
double RunOnce(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The median of `runs` runs (after one run that warms the page cache), or -1 on a failure.
double Median(const std::vector<std::string>& args, int runs) {
    if (RunOnce(args) < 0) return -1;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double t = RunOnce(args);
        if (t < 0) return -1;
        times.push_back(t);
    }
    std::sort(times.begin(), times.end());
    return times.size() % 2 ? times[times.size() / 2]
                            : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TESSORA_CLI [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string cli = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    char dirTemplate[] = "/tmp/tessora-bench-cli-XXXXXX";
    if (!mkdtemp(dirTemplate)) return 1;
    const std::string dir = dirTemplate;
    int rc = 0;
    const double start = Median({cli, "catalogue"}, runs);
    std::printf("tessora-cli catalogue (start-up):       median %7.2f ms of %d runs\n", start,
                runs);
    std::fflush(stdout);
    if (start < 0) rc = 1;
    double previous = 0;
    for (int objects : {2000, 8000}) {
        tsr::Project project;
        const std::string work = tsr::JoinPath(dir, "work" + std::to_string(objects));
        mkdir(work.c_str(), 0700);
        if (project.Start(work) != 0) {
            std::fprintf(stderr, "cannot make the project's working directory %s\n", work.c_str());
            return 1;
        }
        tsr::Populate(project.document(), objects);
        const std::string path = tsr::JoinPath(dir, std::to_string(objects) + ".tsr");
        if (!project.Save(path)) {
            std::fprintf(stderr, "cannot save %s\n", path.c_str());
            return 1;
        }
        const double t = Median({cli, "generate", path, "--out", tsr::JoinPath(dir, "out")}, runs);
        std::printf("tessora-cli generate, %5d objects:    median %7.2f ms of %d runs", objects, t,
                    runs);
        if (previous > 0 && t > 0) std::printf("  (x%.2f for x4 objects)", t / previous);
        std::printf("\n");
        std::fflush(stdout);
        if (t < 0) rc = 1;
        previous = t;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return rc;
}
