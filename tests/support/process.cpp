#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace testsupport {

namespace {

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (argv.empty() || pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        result.err = "RunProcess: cannot start";
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            close(fd);
        }
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) {
            _exit(126);
        }
        for (const auto& name : options.unsetEnv) {
            unsetenv(name.c_str());
        }
        for (const auto& [name, value] : options.env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        result.err = "RunProcess: fork failed";
        return result;
    }
    signal(SIGPIPE, SIG_IGN);
    SetNonBlocking(inPipe[1]);
    SetNonBlocking(outPipe[0]);
    SetNonBlocking(errPipe[0]);

    size_t written = 0;
    int inFd = inPipe[1];
    if (options.input.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    char buffer[65536];
    while (outOpen || errOpen) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        pollfd fds[3];
        int n = 0;
        int outIndex = -1, errIndex = -1, inIndex = -1;
        if (outOpen) {
            outIndex = n;
            fds[n++] = {outPipe[0], POLLIN, 0};
        }
        if (errOpen) {
            errIndex = n;
            fds[n++] = {errPipe[0], POLLIN, 0};
        }
        if (inFd >= 0) {
            inIndex = n;
            fds[n++] = {inFd, POLLOUT, 0};
        }
        if (poll(fds, n, 100) < 0 && errno != EINTR) {
            break;
        }
        auto drain = [&](int index, int fd, std::string* sink, bool* open) {
            if (index < 0 || fds[index].revents == 0) {
                return;
            }
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                sink->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                *open = false;
            }
        };
        drain(outIndex, outPipe[0], &result.out, &outOpen);
        drain(errIndex, errPipe[0], &result.err, &errOpen);
        if (inIndex >= 0 && fds[inIndex].revents != 0) {
            ssize_t put =
                write(inFd, options.input.data() + written, options.input.size() - written);
            if (put > 0) {
                written += static_cast<size_t>(put);
            }
            if (written >= options.input.size() || (put < 0 && errno != EAGAIN)) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) {
        close(inFd);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!result.timedOut && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

std::string SourceDir() {
    return KIT_SOURCE_DIR;
}
std::string BinDir() {
    return KIT_BIN_DIR;
}
std::string Win32BinDir() {
    return KIT_WIN32_BIN;
}
bool WineTestsEnabled() {
    return KIT_WINE_TESTS != 0;
}

std::string WithUnixLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace testsupport
