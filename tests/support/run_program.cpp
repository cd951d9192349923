// fork/exec with both output streams drained through poll, and a deadline.
#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnv, double timeoutSeconds,
                       const std::function<bool()>& killNow,
                       const std::function<const char*(const ProgramRun&)>& typeNow) {
    ProgramRun run;
    int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
    // A program that ended before its keys came must not take the test down with SIGPIPE.
    if (typeNow && (signal(SIGPIPE, SIG_IGN) == SIG_ERR || pipe2(inPipe, O_CLOEXEC) != 0)) return run;
    if (pipe2(outPipe, O_CLOEXEC) != 0) return run;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return run;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(typeNow ? inPipe[0] : devNull, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        for (const std::string& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (inPipe[0] >= 0) close(inPipe[0]);
    if (pid < 0) {
        if (inPipe[1] >= 0) close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        return run;
    }
    const auto deadline = started + std::chrono::milliseconds(static_cast<long>(timeoutSeconds * 1000));
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            run.timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        if (killNow && !run.killed && killNow()) {
            kill(-pid, SIGKILL);
            run.killed = true;
        }
        if (inPipe[1] >= 0) {
            if (const char* keys = typeNow(run)) {
                const ssize_t written = write(inPipe[1], keys, std::strlen(keys));
                static_cast<void>(written);  // a program that has ended reads none
                close(inPipe[1]);
                inPipe[1] = -1;
            }
        }
        const int slice = (killNow && !run.killed) || inPipe[1] >= 0 ? 5 : 200;
        const int ready = poll(fds, 2, static_cast<int>(left > slice ? slice : left));
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    if (inPipe[1] >= 0) close(inPipe[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return run;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

namespace {

// The private root of this test process (isolate_program_state), or the folder
// test_temp_folder made; removed at exit.
char tempRoot[] = "/tmp/zorflash-state-XXXXXX";

// Makes the root, to be removed at exit: in the mount namespace of isolate_program_state a
// tmpfs covers it, which is let go first (the folder under it is the machine's, and empty).
bool MakeTempRoot() {
    if (mkdtemp(tempRoot) == nullptr) return false;
    std::atexit([] {
        umount2(tempRoot, MNT_DETACH);
        std::error_code ignored;
        std::filesystem::remove_all(tempRoot, ignored);
    });
    return true;
}

// Covers the machine's `folder` with an overlay whose changes go to `layers` (in the private
// root's tmpfs): this namespace sees every file the machine has there, and what it makes
// there (a mount point for one of the binds) stays its own and goes with it.
bool OverlayFolder(const std::string& folder, const std::string& layers) {
    const std::string options = "lowerdir=" + folder + ",upperdir=" + layers + "/upper,workdir=" + layers + "/work";
    return std::system(("mkdir -p " + layers + "/upper " + layers + "/work").c_str()) == 0 &&
           mount("overlay", folder.c_str(), "overlay", 0, options.c_str()) == 0;
}

}  // namespace

int isolate_program_state() {
    // A test program started by another one (a part run as another user) shares its state.
    if (std::getenv("ZORFLASH_TEST_STATE") != nullptr) return 1;
    if (!MakeTempRoot()) return 0;
    const std::string root = tempRoot;
    setenv("ZORFLASH_TEST_STATE", root.c_str(), 1);
    setenv("HOME", root.c_str(), 1);
    unsetenv("XDG_STATE_HOME");
    // Temporary files of the test and of what it starts (the umockdev testbed among them).
    setenv("TMPDIR", test_temp_folder().c_str(), 1);
    if (geteuid() != 0) {  // the machine's folders are not writable then anyway
        return std::system(("mkdir -m 1777 " + test_temp_folder()).c_str()) == 0;
    }
    // Private propagation, or the mounts would show in the machine's namespace too. Nothing
    // is made on the machine: the root is a tmpfs of this namespace, and /var/lib and /run
    // are overlays whose changes go into it, so a missing mount point (/var/lib/zorflash
    // without the package, /run/systemd/journal without systemd) and whatever a run makes
    // there (/run/zorflash, Xvfb's /var/lib/xkb) are this namespace's. An overlay rather than
    // a tmpfs with binds of what the machine has there: every file of /var/lib (dpkg's
    // database, which the Wine runs ask) and of /run stays readable; the mounts below /run
    // (/run/user/N) are hidden, which no test uses.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", root.c_str(), "tmpfs", 0, "mode=0755") != 0 ||
        std::system(("mkdir -m 1777 " + test_temp_folder()).c_str()) != 0 ||
        !OverlayFolder("/var/lib", root + "/overlay/var-lib") || !OverlayFolder("/run", root + "/overlay/run")) {
        return 0;
    }
    // The machine's record folder as the package makes it: root's, which a run of another
    // user reads but may not write (a record anybody may write is ignored). The journal's
    // folder too: a test may listen there as the journal would.
    // The instance lock's folder as the package makes it: root's 0755.
    for (const char* target : {"/var/lib/zorflash", "/run/lock", "/run/systemd/journal", "/run/zorflash"}) {
        const std::string folder = root + target;
        const bool rootOnly = std::strcmp(target, "/var/lib/zorflash") == 0 || std::strcmp(target, "/run/zorflash") == 0;
        const std::string mode = rootOnly ? "0755" : "1777";
        if (std::system(("mkdir -p -m " + mode + " " + folder + " " + target).c_str()) != 0 ||
            mount(folder.c_str(), target, nullptr, MS_BIND, nullptr) != 0) {
            return 0;
        }
    }
    return 1;
}

const std::string& test_temp_folder() {
    static std::string folder;
    if (folder.empty()) {
        if (const char* state = std::getenv("ZORFLASH_TEST_STATE")) {
            folder = std::string(state) + "/tmp";
        } else if (MakeTempRoot() && chmod(tempRoot, 01777) == 0) {
            folder = tempRoot;
        } else {
            std::perror("test_temp_folder");
            std::abort();
        }
    }
    return folder;
}
