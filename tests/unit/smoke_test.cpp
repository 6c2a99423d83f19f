#include <gtest/gtest.h>
#include "dsp/varkel.h"
TEST(Smoke, NewDelete) { VarkelState* s = Varkel_new(44100); ASSERT_NE(s, nullptr); Varkel_delete(s); }
