// The window's session, for the shell's own files (the recorder counts its ticks by its
// score) and the shell's tests. GLUT callbacks carry no context, so every one reaches it
// here; nothing outside the shell steps it.
#pragma once

#include "session/session.h"

Session& window_session();
