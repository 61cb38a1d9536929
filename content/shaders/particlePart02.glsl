// Scene 2: the masked swirl. Per particle: colour r, g = random tint, b = mask density,
// a = 2.0 for the highlighted sixteenth (the group the music's note points at), else 1.0.

#ifdef VERTEX_SHADER
precision highp float;

attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
uniform float uTime;
uniform float uPsize;
varying vec4 vColor;

const float kSpread = 8.0;
const float kPointScale = 0.8;
const float kMaxPointSize = 256.0;

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
    gl_Position = uProjection * uModelView * vec4(aPosition.xyz * kSpread, 1.0);

    float highlighted = step(1.5, aColor.a);
    float size = kPointScale * uPsize * screenWidth / max(gl_Position.w, 0.01);
    size *= 1.0 + 0.6 * highlighted;
    // Close shots fly through the cloud: cap the nearest points and fade them out.
    float pointSize = clamp(size, 1.0, min(kMaxPointSize, 0.015 * screenWidth));
    float coverage = min(size * size, 1.0) * smoothstep(0.3, 2.0, gl_Position.w);
    // From the far shots the whole cloud piles onto a small patch: dim it with distance.
    coverage *= clamp(10.0 / gl_Position.w, 0.5, 1.0);

    // Cool blue points with a little random variation; the highlighted group glows warm.
    float flicker = 0.85 + 0.15 * sin(uTime * 0.004 + aColor.r * 40.0);
    vec3 cool = vec3(0.22 + 0.08 * aColor.r, 0.30 + 0.08 * aColor.g, 0.55);
    vec3 warm = vec3(0.75, 0.45, 0.30);
    vec3 colour = mix(cool, warm, highlighted) * aColor.b * flicker;
    vColor = vec4(colour * (0.4 * coverage), 1.0);

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
