#include "game/state.h"

GameState game;
