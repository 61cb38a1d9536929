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

const float kSpread = 11.0;     // the unit ball becomes a cloud that fills the shot
const float kPointScale = 1.2;  // pixels per unit of uPsize * screenWidth at depth 1
const float kBrightness = 0.22;
const float kQuietSize = 0.125; // uPsize with a silent track 0
const float kSpin = 0.00006;    // radians per ms: a slow turn about the vertical axis
const float kMaxPointSize = 256.0;

void main() {
    // The points fill a cube; pulling each onto the sphere of its cube shell makes a round
    // cloud of the same density profile.
    vec3 p = aPosition.xyz;
    float shell = max(max(abs(p.x), abs(p.y)), abs(p.z));
    p *= shell / max(length(p), 0.0001);
    // The cloud turns slowly so that its grain drifts across the screen.
    float turn = uTime * kSpin;
    p.xz = mat2(cos(turn), -sin(turn), sin(turn), cos(turn)) * p.xz;
    // A slow swell, pushed outwards by the music.
    float breath = 1.0 + 0.05 * sin(uTime * 0.00045 + shell * 5.0) + 0.2 * uTracks2;
    gl_Position = uProjection * uModelView * vec4(p * kSpread * breath, 1.0);

    // uPsize swings tenfold with the music: grow the points with its square root and dim them
    // as they grow, so a loud beat blooms rather than burns out.
    float swell = sqrt(max(uPsize, 0.0) / kQuietSize);
    float size = kPointScale * kQuietSize * swell * screenWidth / max(gl_Position.w, 0.01);
    gl_PointSize = clamp(size, 1.0, kMaxPointSize);
    // Points smaller than a pixel keep their share of light instead of growing brighter.
    float coverage = min(size * size, 1.0);
    vColor = vec4(aColor.rgb * (kBrightness * coverage / max(swell, 1.0)), 1.0);
}
#endif

#ifdef FRAGMENT_SHADER
precision mediump float;

uniform sampler2D flare;
varying vec4 vColor;

void main() {
    // The squared flare has a tighter core: the cloud reads as points rather than as fog.
    vec4 flareTexel = texture2D(flare, gl_PointCoord);
    gl_FragColor = flareTexel * flareTexel * vColor;
}
#endif
