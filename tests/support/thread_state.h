// Whether another thread of the process is asleep in the system, for a far
// end that must act only once the thread it plays against waits in a call
// such as poll() (POSIX only).
#pragma once

namespace qx480 {
namespace test {

// The calling thread, as Asleep() takes it.
long SystemThreadId();
// True while thread `id` of this process sleeps in the kernel. Outside
// Linux, where a thread's state cannot be read, true at once: the far end
// then acts without knowing whether the thread waits yet.
bool Asleep(long id);

}  // namespace test
}  // namespace qx480
