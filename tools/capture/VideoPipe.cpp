#include "VideoPipe.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

VideoPipe::~VideoPipe() {
    closePipe();
    wait();
}

bool VideoPipe::start(const std::vector<std::string>& argv) {
    error_.clear();
    stoppedReading_ = false;
    if (argv.empty() || child_ != -1) {
        error_ = "the encoder is already running or has no command";
        return false;
    }
    program_ = argv[0];
    // A reader that dies must give us EPIPE, not kill us.
    std::signal(SIGPIPE, SIG_IGN);

    // Frames go through one pipe; the other reports a failed exec (it closes on success).
    int frames[2];
    int execStatus[2];
    if (pipe2(frames, O_CLOEXEC) != 0) {
        error_ = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(execStatus, O_CLOEXEC) != 0) {
        error_ = std::string("cannot create a pipe: ") + std::strerror(errno);
        close(frames[0]);
        close(frames[1]);
        return false;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        // Its own process group: Ctrl-C reaches us only, and we end the video cleanly.
        setpgid(0, 0);
        dup2(frames[0], STDIN_FILENO);
        execvp(args[0], args.data());
        const int code = errno;
        ssize_t ignored = ::write(execStatus[1], &code, sizeof code);
        (void)ignored;
        _exit(127);
    }
    close(frames[0]);
    close(execStatus[1]);
    if (child < 0) {
        error_ = std::string("cannot start ") + program_ + ": " + std::strerror(errno);
        close(frames[1]);
        close(execStatus[0]);
        return false;
    }
    child_ = child;
    input_ = frames[1];

    int code = 0;
    ssize_t got = 0;
    do {
        got = read(execStatus[0], &code, sizeof code);
    } while (got < 0 && errno == EINTR);
    close(execStatus[0]);
    if (got == static_cast<ssize_t>(sizeof code)) {
        error_ = "cannot run " + program_ + ": " + std::strerror(code) +
                 (code == ENOENT ? " (is it installed?)" : "");
        closePipe();
        wait();
        return false;
    }
    return true;
}

bool VideoPipe::write(const void* data, size_t size) {
    if (input_ < 0) {
        error_ = program_ + " is not running";
        return false;
    }
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(input_, bytes, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Usually EPIPE: the child has exited; finish() tells how.
            stoppedReading_ = true;
            error_ = program_ + " stopped taking frames (" + std::strerror(errno) + ")";
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool VideoPipe::finish() {
    closePipe();
    const int status = wait();
    if (status == 0 && !stoppedReading_) {
        return true;
    }
    if (status < 0) {
        error_ = program_ + " did not run";
    } else if (status > 0) {
        error_ = program_ + " failed with exit status " + std::to_string(status) +
                 (stoppedReading_ ? " before taking every frame" : "");
    }
    return false;
}

void VideoPipe::closePipe() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
}

// The child's exit status, 128 + signal when killed, -1 when there was no child.
int VideoPipe::wait() {
    if (child_ < 0) {
        return -1;
    }
    int status = 0;
    pid_t done = 0;
    do {
        done = waitpid(child_, &status, 0);
    } while (done < 0 && errno == EINTR);
    child_ = -1;
    if (done < 0) {
        return -1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}
