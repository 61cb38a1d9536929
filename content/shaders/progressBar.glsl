// The loading bar: a flat strip in clip coordinates, fed from generic attribute 0.

#ifdef VERTEX_SHADER
attribute vec2 position;

void main() {
    gl_Position = vec4(position, 0.0, 1.0);
}
#endif

#ifdef FRAGMENT_SHADER
precision mediump float;

void main() {
    // A cool cyan-white.
    gl_FragColor = vec4(0.72, 0.93, 1.0, 1.0);
}
#endif
