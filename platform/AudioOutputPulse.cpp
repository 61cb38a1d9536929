// The desktop's sound server through libpulse (PulseAudio, or PipeWire's server for the same
// clients). The stream is made for each run at the music's own rate, so nothing is resampled
// here. The server's timing reports say how far it has read and how much of that the device
// still holds; every report is taken as it arrives, and the position is the line through the
// recent ones (ReportLine), read on the monotonic clock. (libpulse's own interpolation is not
// used: it runs on from one report at a time, and PipeWire's reports are as of its last cycle,
// up to a cycle older than their time stamps.) PipeWire's server also counts as read the cycle
// it has queued for the next cycle, which its reported latency leaves out: that cycle is taken
// off here.

#include "platform/AudioClock.h"
#include "platform/AudioOutput.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <sys/time.h>
#include <time.h>

namespace {

constexpr auto kAnswerTimeout = std::chrono::seconds(3);
// Enough sound queued that a busy machine does not starve the server; the clock counts
// whatever is queued, so this costs no accuracy.
constexpr pa_usec_t kTargetLatency = 200 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRequestSize = 20 * PA_USEC_PER_MSEC;
constexpr int kBytesPerFrame = 4;
// Timing reports are asked for on a timer of their own, 12 to 20 ms apart in a fixed
// pseudo-random order: PipeWire's figures are as of its last cycle, so reports at every phase
// of the cycle are what lets the freshest of them show where the cycle begins.
constexpr pa_usec_t kUpdateShortest = 12 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kUpdateSpread = 8 * PA_USEC_PER_MSEC;

// Seconds on the monotonic clock, which the rest of the clock counts in, and the wall clock's
// lead over it at the same moment (libpulse stamps its reports with the wall clock).
double monotonicSeconds(double& wallLead) {
    timespec mono{};
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    const double monoSeconds = static_cast<double>(mono.tv_sec) + mono.tv_nsec * 1e-9;
    wallLead = static_cast<double>(wall.tv_sec) + wall.tv_nsec * 1e-9 - monoSeconds;
    return monoSeconds;
}

class PulseOutput final : public AudioOutput {
public:
    PulseOutput() = default;
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    bool connect(const char* clientName);

    bool begin(int rate, Feed newFeed) override;
    void pause(bool paused) override;
    bool playedFrames(double& frames) override;
    bool lost() const override { return gone.load(); }
    int rate() const override { return streamRate; }
    const char* name() const override { return "sound server"; }
    void lock() override { pa_threaded_mainloop_lock(mainloop); }
    void unlock() override { pa_threaded_mainloop_unlock(mainloop); }

private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, size_t bytes, void* self);
    static void onTiming(pa_stream* stream, void* self);
    static void onUpdateTimer(pa_mainloop_api* api, pa_time_event* event, const timeval* when,
                              void* self);
    // Lock held. Adds the latest timing report to the line, once.
    void takeReport();
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    // PipeWire only: the frames of one server cycle, the least the read index moved between
    // two of the recent reports.
    double queuedCycleFrames(int64_t readIndex);
    // Lock held. Waits, letting the server's thread run, until `done` says so or time is up.
    template <typename Done> bool waitUntil(Done done);
    void closeStream();

    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    Feed feed = nullptr;
    uint64_t written = 0; // output frames handed to the server since begin
    int streamRate = 44100;
    bool corked = false;
    pa_time_event* updateTimer = nullptr;
    uint32_t updateDraw = 1; // the timer's pseudo-random spacing
    // The reports seen since the stream last started or stopped playing.
    ReportLine line;
    timeval latestStamp{};     // the latest report's time stamp
    double latestFrames = 0.0; // and the speaker position it gave
    bool reportsPlaying = false;
    bool serverQueuesACycle = false; // PipeWire's server
    int serverInfoState = 0;         // 0 asked, 1 answered
    int64_t previousReadIndex = 0;
    std::array<int64_t, 16> readSteps{}; // the latest steps of the read index, in bytes
    size_t readStepCount = 0;
    double cycleFrames = 0.0; // the cycle taken off the reports now
    std::atomic<bool> gone{false};
};

PulseOutput::~PulseOutput() {
    if (mainloop == nullptr) {
        return;
    }
    lock();
    closeStream();
    if (context != nullptr) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    unlock();
    pa_threaded_mainloop_stop(mainloop);
    pa_threaded_mainloop_free(mainloop);
}

template <typename Done> bool PulseOutput::waitUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    while (!done()) {
        if (gone.load() || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        lock();
    }
    return true;
}

bool PulseOutput::connect(const char* clientName) {
    mainloop = pa_threaded_mainloop_new();
    if (mainloop == nullptr) {
        return false;
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(mainloop), clientName);
    if (context == nullptr) {
        return false;
    }
    pa_context_set_state_callback(context, onContextState, this);
    // No server of our own: a desktop without one is a desktop without one.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(mainloop) < 0) {
        return false;
    }
    lock();
    bool ready = waitUntil([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
    if (ready) {
        if (pa_operation* info = pa_context_get_server_info(context, onServerInfo, this)) {
            pa_operation_unref(info);
            ready = waitUntil([this] { return serverInfoState != 0; });
        }
    }
    unlock();
    return ready;
}

void PulseOutput::onServerInfo(pa_context* /*context*/, const pa_server_info* info, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    output->serverQueuesACycle = info != nullptr && info->server_name != nullptr &&
                                 std::strstr(info->server_name, "PipeWire") != nullptr;
    output->serverInfoState = 1;
}

double PulseOutput::queuedCycleFrames(int64_t readIndex) {
    const int64_t step = readIndex - previousReadIndex;
    previousReadIndex = readIndex;
    if (step > 0) {
        readSteps[readStepCount % readSteps.size()] = step;
        ++readStepCount;
    }
    const size_t known = std::min(readStepCount, readSteps.size());
    if (known == 0) {
        return 0.0;
    }
    // Reports come less often than cycles, so each step is a whole number of cycles (give or
    // take a frame of resampling): the cycle is the longest share of the shortest step that
    // divides them all.
    const auto first = readSteps.begin();
    const double shortest =
        static_cast<double>(*std::min_element(first, first + known)) / kBytesPerFrame;
    for (int parts = 1; parts <= 16; ++parts) {
        const double cycle = shortest / parts;
        const bool divides = std::all_of(first, first + known, [cycle](int64_t bytes) {
            const double frames = static_cast<double>(bytes) / kBytesPerFrame;
            return std::abs(frames - std::round(frames / cycle) * cycle) <= 1.0 + frames / 500.0;
        });
        if (divides) {
            return cycle;
        }
    }
    // A step that is no whole number of cycles (the stream starting, the server's pace changing
    // under it): the cycle stays what it was until that step has left the recent ones, rather
    // than the clock running a cycle ahead meanwhile.
    return cycleFrames;
}

void PulseOutput::onContextState(pa_context* context, void* self) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        static_cast<PulseOutput*>(self)->gone = true;
    }
}

void PulseOutput::onStreamState(pa_stream* stream, void* self) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        static_cast<PulseOutput*>(self)->gone = true;
    }
}

void PulseOutput::onWrite(pa_stream* stream, size_t bytes, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    while (bytes >= kBytesPerFrame) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || size < kBytesPerFrame) {
            return;
        }
        const size_t frames = size / kBytesPerFrame;
        output->feed(static_cast<int16_t*>(data), static_cast<int>(frames), output->written);
        if (pa_stream_write(stream, data, frames * kBytesPerFrame, nullptr, 0, PA_SEEK_RELATIVE) <
            0) {
            return;
        }
        output->written += frames;
        bytes -= frames * kBytesPerFrame;
    }
}

void PulseOutput::onTiming(pa_stream* /*stream*/, void* self) {
    static_cast<PulseOutput*>(self)->takeReport();
}

void PulseOutput::onUpdateTimer(pa_mainloop_api* /*api*/, pa_time_event* event,
                                const timeval* /*when*/, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (output->stream != nullptr && pa_stream_get_state(output->stream) == PA_STREAM_READY) {
        if (pa_operation* update = pa_stream_update_timing_info(output->stream, nullptr, nullptr)) {
            pa_operation_unref(update);
        }
    }
    output->updateDraw = output->updateDraw * 1664525u + 1013904223u;
    const pa_usec_t wait = kUpdateShortest + (output->updateDraw >> 8) % kUpdateSpread;
    pa_context_rttime_restart(output->context, event, pa_rtclock_now() + wait);
}

void PulseOutput::closeStream() {
    if (updateTimer != nullptr) {
        pa_threaded_mainloop_get_api(mainloop)->time_free(updateTimer);
        updateTimer = nullptr;
    }
    if (stream != nullptr) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
}

bool PulseOutput::begin(int rate, Feed newFeed) {
    if (rate <= 0 || static_cast<uint32_t>(rate) > PA_RATE_MAX) {
        return false;
    }
    lock();
    closeStream();
    streamRate = rate;
    feed = newFeed;
    written = 0;
    line.reset();
    latestStamp = timeval{};
    latestFrames = 0.0;
    reportsPlaying = false;
    previousReadIndex = 0;
    readStepCount = 0;
    cycleFrames = 0.0;
    const pa_sample_spec spec{PA_SAMPLE_S16NE, static_cast<uint32_t>(rate), 2};
    stream = gone.load() ? nullptr : pa_stream_new(context, "music", &spec, nullptr);
    if (stream == nullptr) {
        unlock();
        return false;
    }
    pa_stream_set_state_callback(stream, onStreamState, this);
    pa_stream_set_write_callback(stream, onWrite, this);
    pa_stream_set_latency_update_callback(stream, onTiming, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &spec));
    // Start once one request is there: the server's own choice (the whole target) can be
    // more than its first request, and then nothing plays until a timer runs out.
    buffer.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kRequestSize, &spec));
    buffer.prebuf = buffer.minreq;
    buffer.fragsize = static_cast<uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY |
                                       (corked ? PA_STREAM_START_CORKED : 0));
    bool ready = pa_stream_connect_playback(stream, nullptr, &buffer, flags, nullptr, nullptr) >= 0;
    ready = ready && waitUntil([this] { return pa_stream_get_state(stream) == PA_STREAM_READY; });
    if (ready) {
        updateTimer =
            pa_context_rttime_new(context, pa_rtclock_now() + kUpdateShortest, onUpdateTimer, this);
    }
    unlock();
    return ready;
}

void PulseOutput::pause(bool paused) {
    lock();
    corked = paused;
    if (stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY) {
        pa_operation* done = pa_stream_cork(stream, paused ? 1 : 0, nullptr, nullptr);
        if (done != nullptr) {
            pa_operation_unref(done);
        }
    }
    unlock();
}

void PulseOutput::takeReport() {
    if (stream == nullptr || pa_stream_get_state(stream) != PA_STREAM_READY) {
        return;
    }
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (info == nullptr || info->read_index_corrupt ||
        pa_timeval_cmp(&info->timestamp, &latestStamp) == 0) {
        return;
    }
    // At the moment of a report the speaker was the device's latency behind what the server
    // had taken from us. The moment is the server's own (its answer's time stamp), so a
    // report that reaches us late on a busy machine still places its figures right.
    const double rate = streamRate;
    double wallLead = 0.0;
    monotonicSeconds(wallLead);
    latestStamp = info->timestamp;
    const double stamp = static_cast<double>(info->timestamp.tv_sec) +
                         static_cast<double>(info->timestamp.tv_usec) * 1e-6 - wallLead;
    if (serverQueuesACycle) {
        // A new cycle length (another client changed the server's pace) starts a new line.
        const double cycle = queuedCycleFrames(info->read_index);
        if (std::abs(cycle - cycleFrames) > rate / 1000.0) {
            line.reset();
        }
        cycleFrames = cycle;
    }
    latestFrames = static_cast<double>(info->read_index) / kBytesPerFrame - cycleFrames -
                   static_cast<double>(info->sink_usec) * rate / PA_USEC_PER_SEC;
    const bool playing = info->playing != 0 && !corked;
    if (playing != reportsPlaying) {
        line.reset();
        reportsPlaying = playing;
    }
    if (playing) {
        line.add(stamp, latestFrames, rate);
    }
}

bool PulseOutput::playedFrames(double& frames) {
    if (stream == nullptr || pa_stream_get_state(stream) != PA_STREAM_READY) {
        return false;
    }
    // Reports come on the update timer; the read itself never waits for the server.
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (info == nullptr || info->read_index_corrupt) {
        return false;
    }
    takeReport();
    double wallLead = 0.0;
    const double nowSeconds = monotonicSeconds(wallLead);
    // While playing the position runs along the line, never past what was written.
    const double played =
        reportsPlaying && !corked && !line.empty() ? line.at(nowSeconds) : latestFrames;
    frames = std::clamp(played, 0.0, static_cast<double>(written));
    return true;
}

} // namespace

std::unique_ptr<AudioOutput> openSoundServerOutput(const char* clientName) {
    auto output = std::make_unique<PulseOutput>();
    if (!output->connect(clientName)) {
        return nullptr;
    }
    return output;
}
