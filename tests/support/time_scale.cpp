// The preload's word that it loaded comes on a pipe: each process it loads into writes a
// line "<scale> <program>" at load to the descriptor ZORFLASH_TEST_TIME_SCALE_MARK_FD names.
#include "time_scale.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

ProgramRun run_time_scaled(const TimeScale& scale, const std::string& program,
                           const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv, double timeoutSeconds,
                           bool* loaded, const std::function<bool()>& killNow,
                           const std::function<const char*(const ProgramRun&)>& typeNow) {
    *loaded = false;
    // Both ends non-blocking: no process waits on the pipe. The write end alone outlives the
    // program's exec, and only until the run ends.
    int mark[2];
    if (pipe2(mark, O_CLOEXEC | O_NONBLOCK) != 0) return ProgramRun{};
    fcntl(mark[1], F_SETFD, 0);
    const char* preloads = std::getenv("LD_PRELOAD");
    std::vector<std::string> env = {
        "LD_PRELOAD=" + (preloads != nullptr ? std::string(preloads) + " " : "") + scale.preload,
        "ZORFLASH_TEST_TIME_SCALE=" + std::to_string(scale.scale),
        "ZORFLASH_TEST_TIME_SCALE_MARK_FD=" + std::to_string(mark[1])};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    const ProgramRun run = run_program(argv, env, timeoutSeconds, killNow, typeNow);
    close(mark[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t n; (n = read(mark[0], buffer, sizeof buffer)) > 0;) {
        said.append(buffer, static_cast<size_t>(n));
    }
    close(mark[0]);
    for (const std::string& line : split_lines(said)) {
        if (line == std::to_string(scale.scale) + " " + program) *loaded = true;
    }
    return run;
}
