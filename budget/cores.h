// The cores a process may run on: the one number every thread count of the programs comes from.
#pragma once

namespace budget {

// The cores the calling thread may run on: its CPU affinity, which `taskset`, a container's
// cpuset or a job scheduler narrow, at least 1. Asked of the system at each call (a system call
// of a microsecond), so that a change of affinity counts from the next photo on.
// The programs never ask std::thread::hardware_concurrency(), which counts the machine's cores:
// threads beyond the affinity only take turns on the same cores.
int usableCores();

}  // namespace budget
