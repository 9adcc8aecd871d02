// The status a call of the device reports through its outcome form.
#pragma once

#include <gtest/gtest.h>

#include "outcome.h"

namespace qx480 {
namespace test {

// Runs call(outcome) and returns outcome.status; the call's bool must agree with it.
template <class Call>
QX480Status StatusOf(Call call) {
    QX480Outcome outcome;
    const bool result = call(outcome);
    EXPECT_EQ(result, outcome.ok());
    return outcome.status;
}

}  // namespace test
}  // namespace qx480
