// A processor record owned by a test, and the check that its filters rest.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "dsp/varkel.h"

struct StateDeleter {
    void operator()(VarkelState* s) const { Varkel_delete(s); }
};
using StatePtr = std::unique_ptr<VarkelState, StateDeleter>;

inline StatePtr newState(int rate = 44100) { return StatePtr(Varkel_new(rate)); }

inline void expectFiltersAtRest(const VarkelState& s) {
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(s.lowState[ch], 0.0f) << ch;
        EXPECT_EQ(s.bandState[ch], 0.0f) << ch;
        EXPECT_EQ(s.slewPrev[ch], 0.0f) << ch;
        EXPECT_EQ(s.dcPrevIn[ch], 0.0f) << ch;
        EXPECT_EQ(s.dcPrevOut[ch], 0.0f) << ch;
    }
}
