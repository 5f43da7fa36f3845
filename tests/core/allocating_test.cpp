// A failed allocation of work arrays stops the run with the routine's own line.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "core/allocating.h"

namespace qv {
namespace {

TEST(Allocating, FailureStopsWithTheGivenLineAndSuccessPassesThrough) {
    for (int kind : {0, 1}) {
        try {
            allocating(" ALLOCATION ERROR in fluxmetal", [&] {
                if (kind == 0) throw std::bad_alloc();
                throw std::length_error("too long");
            });
            FAIL() << "no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u);
            EXPECT_EQ(s.lines[0], " ALLOCATION ERROR in fluxmetal");
        }
    }
    std::vector<float> v;
    allocating("unused", [&] { v.resize(10); });
    EXPECT_EQ(v.size(), 10u);
}

}  // namespace
}  // namespace qv
