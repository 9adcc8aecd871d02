// The 35 protocol cases of the self-test, in eight groups, and the whole run.
#pragma once

namespace qx480 {
namespace selftest {

// Prints the title, each case's name followed by its failure lines, an empty
// line after each group and the summary. Returns the exit status: 0 when all
// 61 checks passed, else 1. Runs once per process: the counters are never reset.
int RunAllCases();

}  // namespace selftest
}  // namespace qx480
