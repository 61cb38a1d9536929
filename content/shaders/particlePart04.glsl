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
    gl_PointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    float glow = 0.2 + 0.8 * place;
    vColor = vec4(aColor.rgb * (kBrightness * glow * coverage), 1.0);
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
