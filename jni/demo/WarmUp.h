#pragma once
// Single frames that look as they do in a full run. A scene carries a little from one frame
// to the next (the camera shot it chose at the last sync pattern, the channels' last notes),
// so the frame at music time t, drawn on its own, first replays the few earlier frames that
// decide those. The web page's single frames and the capture program's use the same rule.

#include <cstdint>
#include <functional>
#include <vector>

class Demo;

// The frame rate a recording has unless told otherwise: single frames warm up on its grid
// when nothing else is asked for.
constexpr int kRecordingFps = 30;

// The frames to draw, and throw away, before drawing time t so that what scenes carry from
// one frame to the next (a camera shot chosen at a sync pattern) is what a run drawing every
// frame k * 1000 / fps from time 0 would have at t. Within t's scene, the last such frame of
// every run of equal pattern number before t, in increasing order. sceneStartMs is the start
// of t's scene window; sameScene(x) tells whether time x is drawn by that scene.
std::vector<uint32_t> warmUpTimes(uint32_t t, int fps, uint32_t sceneStartMs,
                                  const std::function<bool(uint32_t)>& sameScene,
                                  const std::function<int32_t(uint32_t)>& patternAt);

// Resets what a run from the start would not have yet and draws t's warm-up frames (see
// warmUpTimes) into the current framebuffer; the caller draws t itself next.
void warmUp(Demo& demo, uint32_t t, int fps);
