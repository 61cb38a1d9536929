#include "VideoPipe.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kPipeBytes = 1 << 20;
} // namespace

VideoPipe::~VideoPipe() {
    closePipe();
    wait();
}

bool VideoPipe::start(const std::vector<std::string>& argv) {
    errorText.clear();
    stoppedReading = false;
    if (argv.empty() || child != -1) {
        errorText = "the encoder is already running or has no command";
        return false;
    }
    program = argv[0];
    // A reader that dies must give us EPIPE, not kill us.
    std::signal(SIGPIPE, SIG_IGN);

    // Frames go through one pipe; the other reports a failed exec (it closes on success).
    int frames[2];
    int execStatus[2];
    if (pipe2(frames, O_CLOEXEC) != 0) {
        errorText = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(execStatus, O_CLOEXEC) != 0) {
        errorText = std::string("cannot create a pipe: ") + std::strerror(errno);
        close(frames[0]);
        close(frames[1]);
        return false;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const pid_t forked = fork();
    if (forked == 0) {
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
    if (forked < 0) {
        errorText = std::string("cannot start ") + program + ": " + std::strerror(errno);
        close(frames[1]);
        close(execStatus[0]);
        return false;
    }
    child = forked;
    input = frames[1];
    // A frame is megabytes: a larger pipe takes it in fewer wake-ups of either side. The
    // kernel's limit may refuse; the default size still works.
    fcntl(input, F_SETPIPE_SZ, kPipeBytes);

    int code = 0;
    ssize_t got = 0;
    do {
        got = read(execStatus[0], &code, sizeof code);
    } while (got < 0 && errno == EINTR);
    close(execStatus[0]);
    if (got == static_cast<ssize_t>(sizeof code)) {
        errorText = "cannot run " + program + ": " + std::strerror(code) +
                    (code == ENOENT ? " (is it installed?)" : "");
        closePipe();
        wait();
        return false;
    }
    return true;
}

bool VideoPipe::writeRowsBottomUp(const uint8_t* rowData, size_t rowBytes, size_t rows) {
    if (input < 0) {
        errorText = program + " is not running";
        return false;
    }
    // Gathered writes straight from the rows, so the frame is never flipped in a copy.
    constexpr size_t kRowsPerCall = 64;
    iovec pieces[kRowsPerCall];
    size_t nextRow = 0; // counted from the top
    size_t skip = 0;    // bytes of nextRow already written
    while (nextRow < rows) {
        size_t count = 0;
        for (; count < kRowsPerCall && nextRow + count < rows; ++count) {
            const uint8_t* row = rowData + (rows - 1 - nextRow - count) * rowBytes;
            const size_t offset = count == 0 ? skip : 0;
            pieces[count].iov_base = const_cast<uint8_t*>(row + offset);
            pieces[count].iov_len = rowBytes - offset;
        }
        ssize_t written = writev(input, pieces, static_cast<int>(count));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            noteWriteFailure();
            return false;
        }
        // Advance past whole rows, then into the row a short write stopped in.
        size_t left = static_cast<size_t>(written);
        while (left > 0) {
            const size_t rest = rowBytes - skip;
            if (left < rest) {
                skip += left;
                break;
            }
            left -= rest;
            skip = 0;
            ++nextRow;
        }
    }
    return true;
}

// Usually EPIPE: the child has exited; finish() tells how.
void VideoPipe::noteWriteFailure() {
    stoppedReading = true;
    errorText = program + " stopped taking frames (" + std::strerror(errno) + ")";
}

bool VideoPipe::finish() {
    closePipe();
    const int status = wait();
    if (status == 0 && !stoppedReading) {
        return true;
    }
    if (status < 0) {
        errorText = program + " did not run";
    } else if (status > 0) {
        errorText = program + " failed with exit status " + std::to_string(status) +
                    (stoppedReading ? " before taking every frame" : "");
    }
    return false;
}

void VideoPipe::closePipe() {
    if (input >= 0) {
        close(input);
        input = -1;
    }
}

// The child's exit status, 128 + signal when killed, -1 when there was no child.
int VideoPipe::wait() {
    if (child < 0) {
        return -1;
    }
    int status = 0;
    pid_t done = 0;
    do {
        done = waitpid(child, &status, 0);
    } while (done < 0 && errno == EINTR);
    child = -1;
    if (done < 0) {
        return -1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}
