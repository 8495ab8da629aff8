// A window-less home for the game's drawing and for the desktop shell's callbacks: every
// GL and GLUT call does nothing, and the clock stands still. The simulator keeps its own
// clock and its own tick (sim/replay.h).
// Which calls those are, and where a new one must be added, is told in src/CMakeLists.txt.
#pragma once
