#pragma once
// Records a sound server's sink monitor in this process and places every recorded frame on
// the monotonic clock at the moment the sink plays it; finds the clicks in a recording. Used by
// the sound tests and by the recorder of the whole-show sync measurement.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <sys/time.h>
#include <thread>
#include <vector>

namespace sound_test {

constexpr int kRecordRate = 44100;
constexpr int kRecordFrameBytes = 2 * sizeof(float);

inline double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Records the sink's monitor in this process. Besides the samples it keeps pairs of (wall
// time, recording frame being captured at that moment), from the server's capture timing with
// the source's latency counted, so any recorded frame can be placed on the wall clock.
class MonitorRecorder {
public:
    ~MonitorRecorder() { close(); }

    bool open(const std::string& source) {
        loop = pa_threaded_mainloop_new();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "lumenfall-sound-test");
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop) < 0) {
            return false;
        }
        if (!waitFor([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; })) {
            return false;
        }
        pa_threaded_mainloop_lock(loop);
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRecordRate, 2};
        stream = pa_stream_new(context, "monitor", &spec, nullptr);
        pa_stream_set_read_callback(stream, onRead, this);
        pa_buffer_attr buffer{};
        buffer.maxlength = static_cast<uint32_t>(-1);
        buffer.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(5000, &spec));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        const bool connected =
            pa_stream_connect_record(stream, source.c_str(), &buffer, flags) >= 0;
        pa_threaded_mainloop_unlock(loop);
        return connected &&
               waitFor([this] { return pa_stream_get_state(stream) == PA_STREAM_READY; });
    }

    void close() {
        if (loop == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(loop);
        if (stream != nullptr) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        pa_context_disconnect(context);
        pa_context_unref(context);
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }

    // One (wall, frame heard at the sink) pair; called often while recording. A report says
    // how far the server had written into our buffer at its own moment (its time stamp), how
    // much more the source held, and, on a sink's monitor, how long the sink still holds what
    // it showed its monitor: the monitor gets the sound before the sink plays it.
    void noteTime() {
        pa_threaded_mainloop_lock(loop);
        if (pa_operation* update = pa_stream_update_timing_info(stream, nullptr, nullptr)) {
            pa_operation_unref(update);
        }
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (info != nullptr && info->playing && !info->write_index_corrupt &&
            (info->timestamp.tv_sec != lastStamp.tv_sec ||
             info->timestamp.tv_usec != lastStamp.tv_usec)) {
            lastStamp = info->timestamp;
            timeval wall{};
            gettimeofday(&wall, nullptr);
            const double now = wallSeconds();
            const double stamp = now - static_cast<double>(wall.tv_sec - info->timestamp.tv_sec) -
                                 static_cast<double>(wall.tv_usec - info->timestamp.tv_usec) / 1e6;
            const double frame =
                static_cast<double>(info->write_index) / kRecordFrameBytes +
                (static_cast<double>(info->source_usec) - static_cast<double>(info->sink_usec)) *
                    kRecordRate / 1e6;
            times.push_back({stamp, frame});
            sourceLatency.push_back(
                (static_cast<double>(info->source_usec) - static_cast<double>(info->sink_usec)) /
                1000.0);
        }
        pa_threaded_mainloop_unlock(loop);
    }

    double medianSourceLatencyMs() const {
        std::vector<double> sorted = sourceLatency;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
    }

    // Copies of what was recorded so far: interleaved stereo.
    std::vector<float> samples() {
        pa_threaded_mainloop_lock(loop);
        std::vector<float> copy = recorded;
        pa_threaded_mainloop_unlock(loop);
        return copy;
    }

    // The wall time at which recording frame `frame` was heard at the sink: the line at the
    // nominal rate through the freshest reports of the second around it. A report can be up to
    // a server cycle old (PipeWire's figures are as of its last cycle), never ahead, so the
    // line goes through the highest of them, bar one.
    double wallAt(double frame) const {
        double highest = -1e300, second = -1e300;
        int n = 0;
        for (const TimePair& p : times) {
            if (std::abs(p.frame - frame) > 0.5 * kRecordRate) {
                continue;
            }
            const double offset = p.frame - kRecordRate * (p.wall - times.front().wall);
            second = std::max(second, std::min(highest, offset));
            highest = std::max(highest, offset);
            ++n;
        }
        if (n < 10) {
            return 0.0;
        }
        return times.front().wall + (frame - second) / kRecordRate;
    }

private:
    template <typename Done> bool waitFor(Done done) {
        for (int i = 0; i < 1500; ++i) {
            pa_threaded_mainloop_lock(loop);
            const bool ok = done();
            pa_threaded_mainloop_unlock(loop);
            if (ok) {
                return true;
            }
            sleepMs(2);
        }
        return false;
    }

    static void onRead(pa_stream* stream, size_t /*bytes*/, void* self) {
        auto* recorder = static_cast<MonitorRecorder*>(self);
        const void* data = nullptr;
        size_t size = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &size) >= 0) {
            if (size == 0) {
                break;
            }
            const size_t count = size / sizeof(float);
            if (data != nullptr) {
                const auto* values = static_cast<const float*>(data);
                recorder->recorded.insert(recorder->recorded.end(), values, values + count);
            } else {
                recorder->recorded.insert(recorder->recorded.end(), count, 0.0f); // a hole
            }
            pa_stream_drop(stream);
        }
    }

    struct TimePair {
        double wall;
        double frame;
    };
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::vector<float> recorded;
    std::vector<TimePair> times;
    std::vector<double> sourceLatency;
    timeval lastStamp{};
};

// Where each burst starts: the first sample above a third of the loudest, after a quiet gap.
std::vector<double> onsets(const std::vector<float>& left, double gapFrames) {
    float peak = 0.0f;
    for (float v : left) {
        peak = std::max(peak, std::abs(v));
    }
    std::vector<double> found;
    double lastLoud = -1e12;
    for (size_t i = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) > peak / 3) {
            if (static_cast<double>(i) - lastLoud > gapFrames) {
                found.push_back(static_cast<double>(i));
            }
            lastLoud = static_cast<double>(i);
        }
    }
    return found;
}

} // namespace sound_test
