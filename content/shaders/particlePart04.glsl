// Scene 4: tentacles. Position xyz is the tentacle's unit direction, w the place along it in
// [0, 1). Each tentacle reaches out from the centre and writhes; uPart04tentaclespeed2 grows
// from 0.2 to 5.2 over the scene and makes the tentacles longer and wilder.

#ifdef VERTEX_SHADER
precision highp float;

attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
uniform float uTime;
uniform float uPsize;
uniform float uPart04tentaclespeed2;
varying vec4 vColor;

const float kPointScale = 3.0;
const float kBrightness = 0.22;
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
    vec3 d = aPosition.xyz;
    float place = aPosition.w;
    float speed = uPart04tentaclespeed2;
    // A frame across the tentacle; any axis not along it will do.
    vec3 axis = abs(d.z) < 0.9 ? vec3(0.0, 0.0, 1.0) : vec3(1.0, 0.0, 0.0);
    vec3 side = normalize(cross(d, axis));
    vec3 across = cross(d, side);
    // Each tentacle gets its own phase from its direction.
    float seed = dot(d, vec3(12.9898, 78.233, 37.719));
    float clock = uTime * 0.001;

    float reach = (0.9 + 0.25 * speed) * place;
    float wave = place * 5.0 - clock * (1.3 + 0.15 * speed) + seed;
    float sway = (0.12 + 0.05 * speed) * place * place;
    vec3 p = d * (0.3 + reach) + (side * sin(wave) + across * cos(wave * 0.8 + seed)) * sway;
    gl_Position = uProjection * uModelView * vec4(p, 1.0);

    // Thick at the root, fine at the tip.
    float taper = 1.0 - 0.7 * place;
    float size = kPointScale * uPsize * taper * screenWidth / max(gl_Position.w, 0.01);
    float pointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    float glow = 0.2 + 0.8 * place;
    vColor = vec4(aColor.rgb * (kBrightness * glow * coverage), 1.0);

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
