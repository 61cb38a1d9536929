// Flat sprites of the .ife animations on the 1280 x 720 virtual screen.
// vertex.xy: texture s, t; vertex.zw: corner relative to the sprite centre, virtual units.
// "transformation" maps the corner to clip space; "color" tints the sampled texel.

#ifdef VERTEX_SHADER
attribute vec4 vertex;
uniform mat4 transformation;
varying vec2 st;

void main() {
    st = vertex.xy;
    gl_Position = transformation * vec4(vertex.zw, 0.0, 1.0);
}
#endif

#ifdef FRAGMENT_SHADER
precision mediump float;
uniform sampler2D tex;
uniform vec4 color;
varying vec2 st;

void main() {
    gl_FragColor = texture2D(tex, st) * color;
}
#endif
