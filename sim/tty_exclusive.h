// Exclusive mode (TIOCEXCL) belongs to the terminal, not to the descriptor
// that set it: a host killed while it holds the port leaves it set for as long
// as anyone else keeps the terminal open, and every later open by a user
// other than root fails with EBUSY.
#pragma once

namespace qx480 {
namespace sim {

// Clears exclusive mode on the terminal open at `fd` when it is set and no
// process holds a flock on that terminal (hosts lock it before they set
// exclusive mode). True when it cleared it. Does nothing where the system
// cannot tell who holds a lock (outside Linux, or without /proc).
bool ClearOrphanedExclusive(int fd);

}  // namespace sim
}  // namespace qx480
