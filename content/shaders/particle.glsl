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

// The share of a point's side inside which its flare sample can reach `level` (of 255).
// envflare3.tga holds 0.74 q^3 + 0.26 q^24, q = 1 - (r / 62)^2 at r texels from its centre
// (64 to its edge): texels of level L or more lie where 0.7424 q^3 >= (L - 0.5) / 255, or
// where q > 0.8; 2.2 texels more cover a texel's own width and the linear filter. Beyond
// that a fragment adds less than half a level to an 8-bit pixel, which changes nothing, so
// the point is drawn no larger.
float flareReach(float level) {
    float q = min(pow(max(level - 0.5, 0.0) / (255.0 * 0.7424), 1.0 / 3.0), 0.8);
    return min((62.0 * sqrt(1.0 - q) + 2.2) / 64.0, 1.0);
}

void main() {
    gl_Position = uProjection * uModelView * vec4(aPosition.xyz, 1.0);
    float size = kPointScale * aPosition.w * screenWidth / max(gl_Position.w, 0.01);
    // Strand points brushing past the lens would cover the screen in blots: cap them at a
    // fixed share of the width and fade the nearest.
    float pointSize = clamp(size, 1.0, min(kMaxPointSize, 0.02 * screenWidth));
    float coverage = min(size * size, 1.0);
    float nearFade = smoothstep(0.15, 0.8, gl_Position.w);
    // The weight doubles on loud beats; the points grow and dim a little so that the dense
    // middle of the strands flares without burning white.
    float loud = inversesqrt(max(aPosition.w / kQuietWeight, 1.0));
    vColor = vec4(max(aColor.rgb, 0.0) * (0.45 * loud * coverage * nearFade), 1.0);

    // The point's square, only as far out as its flare still changes a pixel; vColor.a tells
    // the fragments the share of the side drawn.
    float peak = max(vColor.r, max(vColor.g, vColor.b));
    float drawnSize = max(pointSize * flareReach(0.5 / max(peak, 1e-6)), 1.0);
    gl_PointSize = drawnSize;
    vColor.a = drawnSize / pointSize;
}
#endif

#ifdef FRAGMENT_SHADER
precision mediump float;

uniform sampler2D flare;
varying vec4 vColor;

void main() {
    // Where the point at its full size would have sampled the flare.
    vec2 flareAt = 0.5 + (gl_PointCoord - 0.5) * vColor.a;
    gl_FragColor = texture2D(flare, flareAt) * vec4(vColor.rgb, 1.0);
}
#endif
