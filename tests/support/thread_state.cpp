#include "thread_state.h"

#include <fstream>
#include <iterator>
#include <string>
#ifdef __linux__
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace qx480 {
namespace test {

#ifdef __linux__
long SystemThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

// The state letter of /proc/self/task/ID/stat comes after the command name
// in parentheses, which may itself hold spaces and parentheses.
bool Asleep(long id) {
    std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
    const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = line.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < line.size() && line[nameEnd + 2] == 'S';
}
#else
long SystemThreadId() { return 0; }

bool Asleep(long) { return true; }
#endif

}  // namespace test
}  // namespace qx480
