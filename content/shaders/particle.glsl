// The shared particle set: the strand particles of scene 3. Position w carries the point
// weight (music-driven), colour rgb the ramp colour along the strand.

#ifdef VERTEX_SHADER
precision highp float;

attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
varying vec4 vColor;

const float kPointScale = 1.3;
const float kMaxPointSize = 256.0;
const float kQuietWeight = 0.0056; // the point weight with a silent track 2

void main() {
    gl_Position = uProjection * uModelView * vec4(aPosition.xyz, 1.0);
    float size = kPointScale * aPosition.w * screenWidth / max(gl_Position.w, 0.01);
    // Strand points brushing past the lens would cover the screen in blots: cap them at a
    // fixed share of the width and fade the nearest.
    gl_PointSize = clamp(size, 1.0, min(kMaxPointSize, 0.02 * screenWidth));
    float coverage = min(size * size, 1.0);
    float nearFade = smoothstep(0.15, 0.8, gl_Position.w);
    // The weight doubles on loud beats; the points grow and dim a little so that the dense
    // middle of the strands flares without burning white.
    float loud = inversesqrt(max(aPosition.w / kQuietWeight, 1.0));
    vColor = vec4(max(aColor.rgb, 0.0) * (0.45 * loud * coverage * nearFade), 1.0);
}
#endif

#ifdef FRAGMENT_SHADER
precision mediump float;

uniform sampler2D flare;
varying vec4 vColor;

void main() {
    gl_FragColor = texture2D(flare, gl_PointCoord) * vColor;
}
#endif
