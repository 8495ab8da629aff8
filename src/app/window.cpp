#include "app/window.h"

#include <GL/freeglut.h>

#include "app/shell.h"
#include "game/state.h"


void open_window(int* argc, char** argv)
{
    // The size comes first so that a -geometry option given to GLUT takes its place.
    glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
    glutCreateWindow(window_title(*argc, argv));
    use_shell_callbacks();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
}

void use_shell_callbacks()
{
    glutDisplayFunc(on_display);
    glutKeyboardFunc(on_key);
    glutMouseFunc(on_mouse);
    glutReshapeFunc(on_reshape);
    // Keys are the button only with --keys, which needs their releases too, and a key
    // held down must not press the button again and again.
    glutKeyboardUpFunc(on_key_up);
    glutSpecialFunc(on_special);
    glutSpecialUpFunc(on_special_up);
    glutIgnoreKeyRepeat(1);
}

