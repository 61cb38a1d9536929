#include "FrameWriter.h"

#include <chrono>

#include "VideoPipe.h"

FrameWriter::~FrameWriter() {
    finish();
}

void FrameWriter::start(VideoPipe& target, size_t frameRowBytes, size_t frameRows, int bufferCount,
                        bool threaded) {
    pipe = &target;
    rowBytes = frameRowBytes;
    rows = frameRows;
    buffers.assign(static_cast<size_t>(bufferCount < 1 ? 1 : bufferCount),
                   std::vector<uint8_t>(rowBytes * rows));
    freeBuffers.clear();
    for (std::vector<uint8_t>& buffer : buffers) {
        freeBuffers.push_back(buffer.data());
    }
    queued.clear();
    stopping = false;
    failed = false;
    waitedSeconds = 0.0;
    if (threaded) {
        writer = std::thread(&FrameWriter::run, this);
    }
}

uint8_t* FrameWriter::acquire() {
    std::unique_lock<std::mutex> guard(lock);
    if (freeBuffers.empty()) {
        const auto begin = std::chrono::steady_clock::now();
        changed.wait(guard, [this] { return !freeBuffers.empty(); });
        waitedSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    uint8_t* frame = freeBuffers.back();
    freeBuffers.pop_back();
    return frame;
}

bool FrameWriter::submit(uint8_t* frame) {
    if (!writer.joinable()) {
        const bool written = !failed && writeFrame(frame);
        failed = !written;
        freeBuffers.push_back(frame);
        return written;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (failed) {
        freeBuffers.push_back(frame);
        return false;
    }
    queued.push_back(frame);
    changed.notify_all();
    return true;
}

bool FrameWriter::finish() {
    if (writer.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        writer.join();
    }
    return !failed;
}

// The writer thread: one frame at a time, in the order submitted.
void FrameWriter::run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return stopping || !queued.empty(); });
        if (queued.empty()) {
            return; // stopping, and everything is written
        }
        uint8_t* frame = queued.front();
        queued.pop_front();
        const bool skip = failed;
        guard.unlock();
        const bool written = !skip && writeFrame(frame);
        guard.lock();
        failed = failed || !written;
        freeBuffers.push_back(frame);
        changed.notify_all();
    }
}

bool FrameWriter::writeFrame(const uint8_t* frame) {
    return pipe->writeRowsBottomUp(frame, rowBytes, rows);
}
