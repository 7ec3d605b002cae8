#pragma once

#include <cstdint>
#include <functional>

// The worker threads of the CPU device. Work is cut into row bands of a fixed
// height that does not depend on the number of threads, so every result is the
// same whatever that number is.
namespace velmora::cpu {

inline constexpr int64_t kBandRows = 16;

// 0 restores the default (one thread per core). Call while no GPU work runs.
void setWorkerThreadCount(int count);
int workerThreadCount();

// Calls body(y0, y1) for the bands [y, min(y + bandRows, end)) of [begin, end),
// in parallel on the workers.
void parallelRows(int64_t begin, int64_t end, const std::function<void(int64_t, int64_t)>& body,
                  int64_t bandRows = kBandRows);

} // namespace velmora::cpu
