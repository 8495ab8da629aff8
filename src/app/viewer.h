// The window while it shows a recording (skarvolt --play FILE): the session played back at
// its pace, with the viewer's keys. Space pauses and resumes; "." steps one tick while
// paused; Right and Left jump 5 seconds; Up and Down, or "+" and "-", double and halve the
// speed (1/4 to 16 times); Page Down and Page Up go to the next and the previous run's
// start; Home to the session's start; q, Q and Esc quit. The mouse does nothing.
#pragma once

#include "app/playback.h"

// Takes over the open window for the session read from the file at path: its callbacks,
// its title, its timer. The session must last as long as the window. Called again (in the
// browser, whose page cancels the window's timers first), it starts over with another.
void start_viewer(const RecordedSession& session, const char* path);
