// A build without OSMesa: the picture is not to be had.
#include "train/render.h"

bool can_render()
{
    return false;
}

const char* render_game(Game /*game*/, int /*width*/, int /*height*/, std::uint8_t* /*rgb*/)
{
    return "this build of skarvolt has no off-screen drawing (OSMesa was missing when it was configured)";
}
