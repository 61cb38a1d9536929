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

void main() {
    gl_Position = uProjection * uModelView * vec4(aPosition.xyz * kSpread, 1.0);

    float highlighted = step(1.5, aColor.a);
    float size = kPointScale * uPsize * screenWidth / max(gl_Position.w, 0.01);
    size *= 1.0 + 0.6 * highlighted;
    // Close shots fly through the cloud: cap the nearest points and fade them out.
    gl_PointSize = clamp(size, 1.0, min(kMaxPointSize, 0.015 * screenWidth));
    float coverage = min(size * size, 1.0) * smoothstep(0.3, 2.0, gl_Position.w);
    // From the far shots the whole cloud piles onto a small patch: dim it with distance.
    coverage *= clamp(10.0 / gl_Position.w, 0.5, 1.0);

    // Cool blue points with a little random variation; the highlighted group glows warm.
    float flicker = 0.85 + 0.15 * sin(uTime * 0.004 + aColor.r * 40.0);
    vec3 cool = vec3(0.22 + 0.08 * aColor.r, 0.30 + 0.08 * aColor.g, 0.55);
    vec3 warm = vec3(0.75, 0.45, 0.30);
    vec3 colour = mix(cool, warm, highlighted) * aColor.b * flicker;
    vColor = vec4(colour * (0.4 * coverage), 1.0);
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
