#pragma once
// The one place that decides which GL declarations the shared code sees.
// lumenfall-gl reaches GL through GLEW's loader; lumenfall-gles (and every offscreen
// tool and test) calls OpenGL ES 2 directly, as lumenfall-web does, where Emscripten's
// GLES2 header maps the calls onto WebGL 1. The build picks one by defining
// LUMENFALL_GL_GLEW for the desktop program only.

#if defined(LUMENFALL_GL_GLEW)
#include <GL/glew.h>
#else
#include <GLES2/gl2.h>
#endif
