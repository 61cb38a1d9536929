// Scene 5, the sphere: points on the unit sphere (w = a random value in [-1, 1]) that swell
// with part05cloud into a shell around the disc. Colour = (|z|, y, x) of a random point.

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

const float kPointScale = 1.6;
const float kMaxPointSize = 256.0;
const float kStartRadius = 1.5;
const float kGrowth = 28.0;       // added radius per unit of part05cloud
const float kFinalRadius = 10.2;  // the radius part05cloud reaches at the end of the show

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
    vec3 d = aPosition.xyz;
    float angle = uTime * 0.00015;
    float c = cos(angle);
    float s = sin(angle);
    d = vec3(c * d.x + s * d.z, d.y, -s * d.x + c * d.z);
    float grown = kStartRadius + kGrowth * part05cloud;
    float radius = grown * (1.0 + 0.06 * aPosition.w);
    gl_Position = uProjection * uModelView * vec4(d * radius, 1.0);

    float size = kPointScale * uPsize * screenWidth / max(gl_Position.w, 0.01);
    float pointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    // A small shell packs its points densely: dim them until it has grown.
    float density = clamp(grown / kFinalRadius, 0.35, 1.0);
    vec3 tint = vec3(0.22, 0.36, 0.50) + 0.12 * aColor.rgb;
    vColor = vec4(max(tint, 0.0) * (0.25 + 0.3 * aColor.r) * density * coverage, 1.0);

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
