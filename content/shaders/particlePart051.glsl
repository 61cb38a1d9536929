// Scene 5, the disc: a thin cloud in the YZ plane (x within +-0.04, y and z up to +-2) that
// turns like a galaxy and spreads out as part05cloud grows. w = a random value in [-1, 1],
// colour a = a random brightness.

#ifdef VERTEX_SHADER
precision highp float;

attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
uniform float uTime;
uniform float uPsize;
uniform float part05cloud;
varying vec4 vColor;

const float kPointScale = 1.3;
const float kMaxPointSize = 256.0;
const float kStartSpread = 4.0;  // disc scale when the scene starts
const float kGrowth = 20.0;      // added scale per unit of part05cloud
const float kFinalSpread = 10.2; // the scale part05cloud reaches at the end of the show
const float kBrightness = 1.0;

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
    vec3 p = aPosition.xyz;
    float radius = length(p.yz);
    // Inner rings turn faster than outer ones.
    float angle = uTime * 0.0003 / (0.35 + radius) + aPosition.w * 0.15;
    float c = cos(angle);
    float s = sin(angle);
    vec2 yz = vec2(c * p.y - s * p.z, s * p.y + c * p.z);
    float spread = kStartSpread + kGrowth * part05cloud;
    vec3 placed = vec3(p.x * (1.0 + 10.0 * part05cloud), yz) * spread;
    gl_Position = uProjection * uModelView * vec4(placed, 1.0);

    float size = kPointScale * uPsize * screenWidth / max(gl_Position.w, 0.01);
    float pointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    // The same points cover a larger area as the disc grows: while it is small they pile up,
    // so each gives less light, keeping the core from burning white.
    float density = spread / kFinalSpread;
    float brightness = (0.4 + 0.6 * aColor.a) * kBrightness * density;
    // A warm core fading to blue rings.
    vec3 tint = mix(vec3(1.3, 0.95, 0.75), vec3(0.7, 0.85, 1.4), smoothstep(0.8, 1.8, radius));
    vColor = vec4(aColor.rgb * tint * (brightness * coverage), 1.0);

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
