#pragma once
// A child process fed through its standard input: the encoder that turns raw frames into
// the video. Owns the child and the write end of the pipe; the destructor closes the pipe
// and waits, so no child outlives the program.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class VideoPipe {
public:
    VideoPipe() = default;
    ~VideoPipe();
    VideoPipe(const VideoPipe&) = delete;
    VideoPipe& operator=(const VideoPipe&) = delete;

    // Runs argv[0] (looked up on the PATH) with its stdin reading from us.
    bool start(const std::vector<std::string>& argv);
    // rows rows of rowBytes each, held bottom row first, written top row first; false once
    // the child has stopped reading (it failed or exited).
    bool writeRowsBottomUp(const uint8_t* rowData, size_t rowBytes, size_t rows);
    // Closes the pipe, waits for the child, and is true when it exited with status 0.
    bool finish();

    const std::string& error() const { return errorText; }

private:
    void closePipe();
    int wait();
    void noteWriteFailure();

    pid_t child = -1;
    int input = -1;
    std::string program;
    std::string errorText;
    bool stoppedReading = false;
};
