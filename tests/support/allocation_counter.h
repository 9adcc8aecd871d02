// Heap allocations of the whole process, counted by the replacement of the
// global operator new and delete in allocation_counter.cpp, which only the
// programs that link qx480_allocation_counter (the benchmarks and the soak) get.
#pragma once

#include <cstdint>

namespace qx480 {
namespace test {

std::uint64_t AllocationCount();
// Allocations made by the calling thread only.
std::uint64_t ThreadAllocationCount();
// Blocks allocated and not yet freed.
std::int64_t LiveAllocations();

// Allocations since construction, by the whole process or by this thread.
class AllocationMeter {
public:
    enum Scope { Process, ThisThread };
    explicit AllocationMeter(Scope scope = Process) : m_scope(scope), m_start(Now()) {}
    std::uint64_t Count() const { return Now() - m_start; }

private:
    std::uint64_t Now() const { return m_scope == Process ? AllocationCount() : ThreadAllocationCount(); }
    Scope m_scope;
    std::uint64_t m_start;
};

}  // namespace test
}  // namespace qx480
