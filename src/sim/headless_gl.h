// A window-less home for the game: every GL and GLUT call the game makes does nothing,
// except the tick timer, which keeps the one pending tick until the caller fires it. The
// run's clock moves only when a tick is fired, by the delay it was armed with, so every
// tick comes exactly on time.
// Which calls those are, and where a new one must be added, is told in src/CMakeLists.txt.
#pragma once

// True while a tick is armed and has not been fired yet.
bool tick_pending();

// Runs the pending tick, if there is one; false when none was pending.
bool fire_pending_tick();
