#include "platform/AudioClock.h"

#include <algorithm>
#include <cmath>
#include <limits>

void AudioTimeline::reset(double streamStart) {
    first = 0;
    used = 0;
    initial = streamStart;
}

void AudioTimeline::append(uint64_t outputStart, uint64_t count, double streamFrom,
                           double streamTo) {
    if (count == 0) {
        return;
    }
    if (used > 0) {
        // Silence after silence at the same place is one segment, however long it lasts.
        Segment& last = segments[(first + used - 1) % kSegments];
        if (last.streamFrom == last.streamTo && streamFrom == streamTo &&
            last.streamTo == streamFrom && last.outputStart + last.count == outputStart) {
            last.count += count;
            return;
        }
    }
    if (used == kSegments) {
        first = (first + 1) % kSegments;
        --used;
    }
    segments[(first + used) % kSegments] = Segment{outputStart, count, streamFrom, streamTo};
    ++used;
}

double AudioTimeline::streamAt(double outputFrames) const {
    if (used == 0) {
        return initial;
    }
    for (size_t i = used; i-- > 0;) {
        const Segment& s = segments[(first + i) % kSegments];
        const double start = static_cast<double>(s.outputStart);
        const double end = start + static_cast<double>(s.count);
        if (outputFrames >= end) {
            return s.streamTo; // past everything handed (or in a gap after this segment)
        }
        if (outputFrames >= start) {
            const double share = (outputFrames - start) / static_cast<double>(s.count);
            return s.streamFrom + (s.streamTo - s.streamFrom) * share;
        }
    }
    return segments[first].streamFrom;
}

void ReportLine::add(double seconds, double frames, double rate) {
    if (rate != lineRate) {
        count = 0;
        lineRate = rate;
    }
    if (count > 0) {
        const Report& latest = reports[(first + count - 1) % kReports];
        if (seconds < latest.seconds) {
            return;
        }
    }
    const double offset = frames - rate * seconds;
    if (count > 0 && std::abs(offset - envelope()) > kStallSeconds * rate) {
        count = 0;
    }
    if (count == kReports) {
        first = (first + 1) % kReports;
        --count;
    }
    reports[(first + count) % kReports] = Report{seconds, offset};
    ++count;
    while (count > 1 && reports[first].seconds < seconds - kWindowSeconds) {
        first = (first + 1) % kReports;
        --count;
    }
}

double ReportLine::envelope() const {
    double highest = -std::numeric_limits<double>::infinity();
    double second = highest;
    for (size_t i = 0; i < count; ++i) {
        const double offset = reports[(first + i) % kReports].offset;
        if (offset > highest) {
            second = highest;
            highest = offset;
        } else if (offset > second) {
            second = offset;
        }
    }
    return count >= 3 ? second : highest;
}

double ReportLine::at(double seconds) const {
    return count == 0 ? 0.0 : envelope() + lineRate * seconds;
}

void SmoothClock::reset(double frames) {
    last = frames;
    lastSeconds = 0.0;
    started = false;
}

double SmoothClock::update(double reported, double nowSeconds, double rate) {
    if (!started) {
        started = true;
        lastSeconds = nowSeconds;
        last = std::max(last, reported);
        return last;
    }
    const double elapsed = std::max(0.0, nowSeconds - lastSeconds);
    lastSeconds = nowSeconds;
    if (reported - last > kSnapSeconds * rate) {
        last = reported;
    } else if (reported > last) {
        last = std::min(reported, last + elapsed * rate * kCatchUp);
    }
    return last;
}

void PresentationLead::reset() {
    lead = 0.0;
    lastDrawn = 0;
}

void PresentationLead::presented(double readSeconds, double shownSeconds) {
    const double took = std::clamp(shownSeconds - readSeconds, 0.0, kLongestSeconds);
    // From nothing at the start, like every other change: no leap on the first frames.
    lead += kFollow * (took - lead);
}

uint32_t PresentationLead::drawTime(uint32_t clockMs, uint32_t endMs) {
    const uint64_t ahead = static_cast<uint64_t>(clockMs) + static_cast<uint64_t>(lead * 1000.0);
    uint64_t drawn = std::max<uint64_t>(ahead, lastDrawn);
    drawn = std::min<uint64_t>(drawn, std::max(clockMs, endMs));
    lastDrawn = static_cast<uint32_t>(drawn);
    return lastDrawn;
}
