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
    gl_PointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    // The same points cover a larger area as the disc grows: while it is small they pile up,
    // so each gives less light, keeping the core from burning white.
    float density = spread / kFinalSpread;
    float brightness = (0.4 + 0.6 * aColor.a) * kBrightness * density;
    // A warm core fading to blue rings.
    vec3 tint = mix(vec3(1.3, 0.95, 0.75), vec3(0.7, 0.85, 1.4), smoothstep(0.8, 1.8, radius));
    vColor = vec4(aColor.rgb * tint * (brightness * coverage), 1.0);
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
