// Scene 1: the cloud's journey. Colour comes from the CPU (v, v, 2.21 v); the shape is ours.
// Every 8727-ms pattern of the song gives the same 20000 points a form of their own (shell,
// rings, spiral, helix, wave, torus, burst, vortex, lattice, ripples, knot, and a gathering
// before the next scene), and the points flow from one form to the next over the last
// stretch of each pattern. Track level 2 (the bass) swells the form, track level 0 (the
// kick) swells the points through uPsize.

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

const float kPatternMs = 8727.0;
const float kLastPatternMs = 104724.0; // the gathering's last, shortened pattern starts here
const float kMorphStart = 0.78;        // share of a pattern after which it flows into the next
const float kPointScale = 1.2;         // pixels per unit of uPsize * screenWidth at depth 1
const float kBrightness = 0.22;
const float kQuietSize = 0.125; // uPsize with a silent track 0
const float kMaxPointSize = 256.0;
const float kTau = 6.2831853;
const float kKnee = 0.5;        // where the track-1 pulse of the first patterns starts to bend
const float kFormScale = 0.72; // form units to half picture heights

mat2 turn(float a) {
    return mat2(cos(a), sin(a), -sin(a), cos(a));
}

// A unit direction, even over the sphere, from two numbers in [0, 1].
vec3 sphereDir(vec2 h) {
    float a = kTau * h.x;
    float y = h.y * 2.0 - 1.0;
    float r = sqrt(max(1.0 - y * y, 0.0));
    return vec3(r * cos(a), y, r * sin(a));
}

// A repeatable number in [0, 1] from a seed.
float scatter(float seed) {
    return fract(seed * 0.61803399 + 0.5 * fract(seed * 0.1381966));
}

// Forms are set in view-aligned units: x right, y up, z towards the viewer; kFormScale of a
// unit is half the picture's height at the cloud's centre. h holds three independent numbers in
// [0, 1], s the seconds of music.
vec3 form(float index, vec3 h, vec3 cube, float s) {
    vec3 p;
    if (index < 0.5) {
        // Shell: a wide hollow sphere, dark in the middle where the title sits.
        p = sphereDir(h.xy) * (0.95 + 0.05 * h.z);
        p.xz = turn(s * 0.12) * p.xz;
        p.x *= 1.15;
    } else if (index < 1.5) {
        // Rings: five concentric orbits seen from a little above, each at its own pace.
        float ring = floor(h.z * 5.0);
        float a = kTau * h.x + s * (0.32 - ring * 0.05);
        float r = 0.42 + ring * 0.3 + 0.025 * (h.y - 0.5);
        p = vec3(r * cos(a), 0.03 * (h.y - 0.5), r * sin(a));
        p.yz = turn(1.22) * p.yz;
        p.y -= 0.05;
    } else if (index < 2.5) {
        // Spiral: three arms winding out of a bright core.
        float arm = floor(h.z * 3.0);
        float r = 1.5 * pow(h.x, 0.65);
        float a = arm * kTau / 3.0 + r * 3.2 - s * 0.35 + 0.5 * (h.y - 0.5) * (0.3 + r);
        p = vec3(r * cos(a), 0.06 * (h.y - 0.5), r * sin(a));
        p.yz = turn(0.75) * p.yz;
    } else if (index < 3.5) {
        // Helix: two strands wound round a line across the picture.
        float x = (h.x * 2.0 - 1.0) * 1.75;
        float strand = step(0.5, h.z);
        float a = x * 3.2 + strand * 3.1415927 + s * 0.9;
        float r = 0.42 + 0.16 * (h.y - 0.5);
        p = vec3(x, r * cos(a), r * sin(a) * 0.8) + 0.05 * cube;
        p.xy = turn(0.18) * p.xy;
    } else if (index < 4.5) {
        // Wave: a sheet seen from above, rolling under the picture's middle.
        float x = (h.x * 2.0 - 1.0) * 2.3;
        float z = (h.y * 2.0 - 1.0);
        float y = 0.2 * sin(x * 2.4 - s * 1.3) * cos(z * 2.6 + s * 0.4);
        p = vec3(x, -0.45 + y + 0.3 * z, 0.55 * z);
    } else if (index < 5.5) {
        // Torus: a thick ring turning over.
        float u = kTau * h.x;
        float v = kTau * h.y;
        float r = 0.72 + 0.28 * cos(v);
        p = vec3(r * cos(u), 0.28 * sin(v), r * sin(u));
        p.yz = turn(0.9 + 0.2 * sin(s * 0.3)) * p.yz;
        p.xy = turn(s * 0.15) * p.xy;
    } else if (index < 6.5) {
        // Burst: sparks streaming out along sixty rays.
        float ray = floor(h.z * 60.0);
        vec3 dir = sphereDir(vec2(scatter(ray + 1.0), scatter(ray * 7.0 + 3.0)));
        float along = fract(h.x + s * 0.12);
        p = dir * (0.1 + 1.5 * along * along);
        p.x *= 1.3;
    } else if (index < 7.5) {
        // Vortex: a funnel on the right, clear of the credits on the left.
        float y = h.x * 2.0 - 1.0;
        float r = 0.1 + 0.6 * (y + 1.0) * (y + 1.0) * 0.5;
        float a = kTau * h.y + s * (2.0 - 0.8 * y);
        p = vec3(0.7 + r * cos(a), y * 0.9, r * sin(a));
    } else if (index < 8.5) {
        // Lattice: the edges of a cube tumbling on the right.
        float edge = floor(h.z * 12.0);
        float axis = floor(edge / 4.0);
        float corner = edge - axis * 4.0;
        vec3 e = vec3(h.x * 2.0 - 1.0, mod(corner, 2.0) * 2.0 - 1.0,
                      floor(corner / 2.0) * 2.0 - 1.0);
        e += 0.03 * (cube - 0.5 * e);
        if (axis > 1.5) {
            e = e.yzx;
        } else if (axis > 0.5) {
            e = e.zxy;
        }
        p = e * 0.5;
        p.xz = turn(s * 0.4) * p.xz;
        p.yz = turn(0.5 + s * 0.23) * p.yz;
        p.x += 0.65;
    } else if (index < 9.5) {
        // Ripples: rings running out over a tilted disc.
        float r = 1.7 * sqrt(h.x);
        float a = kTau * h.y;
        float y = 0.14 * sin(r * 8.0 - s * 3.0) * (1.0 - 0.4 * r);
        p = vec3(r * cos(a) * 1.2, y, r * sin(a) * 0.6);
        p.yz = turn(0.65) * p.yz;
        p.y += 0.25;
    } else if (index < 10.5) {
        // Knot: a trefoil, loosely drawn, turning.
        float u = kTau * h.x;
        vec3 k = vec3(sin(u) + 2.0 * sin(2.0 * u), cos(u) - 2.0 * cos(2.0 * u), -sin(3.0 * u));
        p = k * 0.27 + 0.08 * (cube - 0.5 * h.z * cube);
        p.xz = turn(s * 0.3) * p.xz;
    } else {
        // Gathering: the cloud falls in on a small bright core, swirling.
        float end = kLastPatternMs + 2181.0;
        float g = clamp((s * 1000.0 - 11.0 * kPatternMs) / (end - 11.0 * kPatternMs), 0.0, 1.0);
        float reach = mix(1.25, 0.1, sqrt(g));
        float shell = max(max(abs(cube.x), abs(cube.y)), abs(cube.z));
        p = cube * (shell / max(length(cube), 0.0001)) * reach;
        p.xz = turn(s * 0.6 + 2.0 * (1.0 - shell)) * p.xz;
    }
    return p;
}

// How bright a form is drawn: dense forms are dimmed so that they glow without burning out.
float formGain(float index) {
    if (index < 0.5) {
        return 4.0;
    } else if (index < 1.5) {
        return 4.0;
    } else if (index < 2.5) {
        return 2.6;
    } else if (index < 3.5) {
        return 2.2;
    } else if (index > 10.5) {
        return 0.6;
    } else if (index > 9.5 || (index > 6.5 && index < 8.5)) {
        return 0.75;
    }
    return 1.0;
}

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
    vec3 cube = aPosition.xyz;
    vec3 h = cube * 0.5 + 0.5;
    float s = uTime * 0.001;

    // The pattern, as the sync tracks count it, and how far it has run.
    float pattern = floor(uTime / kPatternMs);
    float into = uTime / kPatternMs - pattern;
    if (uTime >= kLastPatternMs) {
        pattern = 12.0;
        into = 0.0;
    }
    float next = min(pattern + 1.0, 11.0);
    float current = min(pattern, 11.0);
    // Each point sets off at its own moment, so the change flows through the cloud.
    float flow = smoothstep(kMorphStart + 0.1 * (h.z - 0.5), 0.99, into);
    vec3 p = mix(form(current, h, cube, s), form(next, h, cube, s), flow);
    float gain = mix(formGain(current), formGain(next), flow);

    // The bass pushes the form outwards. Depth is kept shallow so that no point comes near
    // the lens.
    p *= kFormScale * (1.0 + 0.22 * uTracks2);
    p.z *= 0.5;

    // Place the view-aligned form around the cloud's centre: the rotation part of the
    // model-view matrix is orthonormal, so multiplying from the left undoes it.
    vec3 centre = uModelView[3].xyz;
    float depth = max(-centre.z, 0.001);
    mat3 turnOnly = mat3(uModelView[0].xyz, uModelView[1].xyz, uModelView[2].xyz);
    vec3 local = (p * depth) * turnOnly;
    gl_Position = uProjection * uModelView * vec4(local, 1.0);

    // uPsize swings tenfold with the kick: grow the points with its square root and dim them
    // as they grow, so a loud beat blooms rather than burns out.
    float swell = sqrt(max(uPsize, 0.0) / kQuietSize);
    // While the title is up the points are larger and fainter (the same light in all), a soft
    // haze behind the lettering rather than bright specks.
    float titleUp = smoothstep(2600.0, 8800.0, uTime) * (1.0 - smoothstep(22000.0, 26200.0, uTime));
    float haze = 1.0 + 1.8 * titleUp;
    float size = kPointScale * kQuietSize * swell * haze * screenWidth / max(gl_Position.w, 0.01);
    float pointSize = clamp(size, 1.0, kMaxPointSize);
    // Points smaller than a pixel keep their share of light instead of growing brighter.
    float coverage = min(size * size, 1.0);
    // In the first four patterns the CPU scales the colours by four times track level 1; a
    // soft knee keeps that pulse while sparing the picture its deepest dips and brightest
    // flashes (a silent track still leaves the cloud black).
    vec3 colour = aColor.rgb;
    if (pattern < 3.5) {
        colour *= (1.0 + kKnee) / (colour.r + kKnee);
    }
    // While the title and its tagline are up, the cloud parts around them: points that fall
    // in the band across the picture that holds the lettering fade almost out.
    float inBand = 1.0 - smoothstep(0.3, 0.46, abs(gl_Position.y / gl_Position.w + 0.01));
    float clear = 1.0 - 0.96 * titleUp * inBand;
    vColor = vec4(colour * (kBrightness * gain * clear * coverage / (max(swell, 1.0) * haze * haze)),
                  1.0);

    // The point's square, only as far out as its flare still changes a pixel; vColor.a tells
    // the fragments the share of the side drawn.
    float peak = max(vColor.r, max(vColor.g, vColor.b));
    float drawnSize = max(pointSize * flareReach(sqrt(127.5 / max(peak, 1e-6))), 1.0);
    gl_PointSize = drawnSize;
    vColor.a = drawnSize / pointSize;
}
#endif

#ifdef FRAGMENT_SHADER
precision mediump float;

uniform sampler2D flare;
varying vec4 vColor;

void main() {
    // The squared flare has a tighter core: the cloud reads as points rather than as fog.
    // Sampled where the point at its full size would have sampled it.
    vec4 flareTexel = texture2D(flare, 0.5 + (gl_PointCoord - 0.5) * vColor.a);
    gl_FragColor = flareTexel * flareTexel * vec4(vColor.rgb, 1.0);
}
#endif
