// Allocation counting for benchmarks: replaces malloc, calloc and realloc
// (operator new allocates through them) with entry points that count calls
// while `counting` is on, then hand over to glibc's allocator. Include it in
// exactly one source file of a benchmark executable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};
void count_allocation() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* malloc(std::size_t size) {
  count_allocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  count_allocation();
  return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) {
  count_allocation();
  return __libc_realloc(memory, size);
}
}
