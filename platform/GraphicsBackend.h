#pragma once
// What differs between lumenfall-gl and lumenfall-gles: how GLFW creates the ES 2.0 context
// and whether GL entry points are loaded afterwards. Each program links one implementation.

// Window hints for the context creation API, given after the ES 2.0 hints.
void backendWindowHints();
// Loads the GL entry points for the current context; true when every later call may be made.
bool backendLoadEntryPoints();
