// The dim background cloud of scenes 3, 4 and 5: positions and colours as the CPU wrote them
// (negative colours add nothing), sized by uPsize.

#ifdef VERTEX_SHADER
precision highp float;

attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
uniform float uPsize;
varying vec4 vColor;

const float kPointScale = 0.35;
const float kMaxPointSize = 256.0;

void main() {
    gl_Position = uProjection * uModelView * vec4(aPosition.xyz, 1.0);
    float size = kPointScale * uPsize * screenWidth / max(gl_Position.w, 0.01);
    gl_PointSize = clamp(size, 1.0, kMaxPointSize);
    float coverage = min(size * size, 1.0);
    vColor = vec4(max(aColor.rgb, 0.0) * (0.35 * coverage), 1.0);
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
