// Shared helpers of the editor's pty tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pty_session.h"

namespace cle_test {

// Starts the driver and checks that the editor took the terminal.
inline std::unique_ptr<PtySession> start(PtyOptions o) {
    auto s = std::make_unique<PtySession>(std::move(o));
    const Report r = s->report();
    EXPECT_EQ(r.text, "I 0");
    return s;
}

// One key and the exact echo it must produce.
struct Step {
    std::string keys, echo;
};

inline void run_steps(PtySession &s, const std::vector<Step> &steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(testing::PrintToString(s.key(steps[i].keys)),
                  testing::PrintToString(steps[i].echo))
            << "step " << i << " keys " << testing::PrintToString(steps[i].keys);
    }
}

// A returned line, checked with the driver's lock bookkeeping.
inline void expect_line(const Report &r, int rc, const std::string &line) {
    EXPECT_EQ(r.tag, 'R') << r.text;
    EXPECT_EQ(r.num("rc"), rc) << r.text;
    EXPECT_EQ(r.line(), line) << r.text;
    EXPECT_EQ(r.num("held"), 0) << r.text;
    EXPECT_EQ(r.num("locks"), r.num("unlocks")) << r.text;
    EXPECT_EQ(r.num("errs"), 0) << r.text;
}

}  // namespace cle_test
