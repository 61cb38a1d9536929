#pragma once
// What differs between lumenfall-gl, lumenfall-gles and lumenfall-web: how the ES 2.0 context
// is created and whether GL entry points are loaded afterwards. Each program links one
// implementation.

// Window hints for the context creation API, given after the ES 2.0 hints.
void backendWindowHints();
// Loads the GL entry points for the current context; true when every later call may be made.
bool backendLoadEntryPoints();

#if defined(__EMSCRIPTEN__)
struct GLFWwindow;
// lumenfall-web: the page's canvas as the window the loading bar presents to.
GLFWwindow* backendCanvasWindow();
// Shows what was drawn: waits for the browser's next animation frame.
void backendPresent();
#endif
