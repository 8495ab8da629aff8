// The end that the quit key gives a game, as every end-to-end test expects it: the game
// exits at once, with status 0.
#pragma once

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {

inline void quit(XServer& x, Game& game)
{
    x.key("q");
    const auto status = game.wait_exit();
    ASSERT_TRUE(status) << "still running after q";
    EXPECT_TRUE(status->ok()) << *status;
}

} // namespace e2e
