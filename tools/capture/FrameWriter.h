#pragma once
// Hands finished frames to the encoder's pipe. With a writer thread, the program draws the
// next frame while the last one is being written; without one, each frame is written before
// submit() returns. Owns the frame buffers (bottom-up RGBA rows as GL reads them) and the
// thread; the rows go out top row first.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class VideoPipe;

class FrameWriter {
public:
    FrameWriter() = default;
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // bufferCount frames of rowBytes * rows each; a thread when threaded is true.
    void start(VideoPipe& pipe, size_t rowBytes, size_t rows, int bufferCount, bool threaded);
    // A free buffer to read the next frame into; waits while all are queued.
    uint8_t* acquire();
    // Queues the buffer last acquired; false once the pipe has failed.
    bool submit(uint8_t* frame);
    // Writes what is queued and stops the thread; false when any write failed.
    bool finish();

    // Seconds acquire() spent waiting for the encoder to take a frame.
    double waitSeconds() const { return waitedSeconds; }

private:
    void run();
    bool writeFrame(const uint8_t* frame);

    VideoPipe* pipe = nullptr;
    size_t rowBytes = 0;
    size_t rows = 0;
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<uint8_t*> freeBuffers;
    std::deque<uint8_t*> queued;
    std::mutex lock;
    std::condition_variable changed;
    std::thread writer;
    bool stopping = false;
    bool failed = false;
    double waitedSeconds = 0.0;
};
