// Scene 1: the pulsing cloud. Colour comes from the CPU (v, v, 2.21 v); the music makes the
// cloud breathe (track level 2) and the points swell with track level 0 through uPsize.

#ifdef VERTEX_SHADER
precision highp float;

attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
uniform float uTime;
uniform float uTracks2;
uniform float uPsize;
varying vec4 vColor;

const float kSpread = 6.0;      // the unit cube becomes a cloud that fills the shot
const float kPointScale = 1.2;  // pixels per unit of uPsize * screenWidth at depth 1
const float kMaxPointSize = 256.0;

void main() {
    vec3 p = aPosition.xyz;
    // A slow swell, pushed outwards by the music.
    float breath = 1.0 + 0.06 * sin(uTime * 0.00045 + length(p) * 3.0) + 0.25 * uTracks2;
    gl_Position = uProjection * uModelView * vec4(p * kSpread * breath, 1.0);

    float size = kPointScale * uPsize * screenWidth / max(gl_Position.w, 0.01);
    float shown = clamp(size, 1.0, kMaxPointSize);
    gl_PointSize = shown;
    // Points smaller than a pixel keep their share of light instead of growing brighter.
    float coverage = min(size * size, 1.0);
    vColor = vec4(aColor.rgb * (0.32 * coverage), 1.0);
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
