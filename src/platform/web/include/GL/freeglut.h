// The browser's GLUT: the standard GLUT interface, provided by the web platform layer.
#pragma once

#include <GL/freeglut_std.h>
