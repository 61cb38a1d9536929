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
    gl_PointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    // A small shell packs its points densely: dim them until it has grown.
    float density = clamp(grown / kFinalRadius, 0.35, 1.0);
    vec3 tint = vec3(0.22, 0.36, 0.50) + 0.12 * aColor.rgb;
    vColor = vec4(max(tint, 0.0) * (0.25 + 0.3 * aColor.r) * density * coverage, 1.0);
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
