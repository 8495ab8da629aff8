// Start-up steps of the program, taken before it opens anything of its own.
#pragma once

// Opens /dev/null on any of the standard descriptors 0, 1 and 2 that is closed, so that
// a file or connection opened later cannot take its place and receive the game's
// messages. Called first thing after the version option is answered.
void open_standard_descriptors();
