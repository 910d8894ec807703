// Counts the heap allocations of one thread. allocation_counter.cpp replaces the whole set of
// replaceable operator new and delete for the executable it is linked into, so only a program
// that measures allocations links it (the transfer benchmark and the allocation test): anywhere
// else it would hide the sanitizers' own new/delete checks.
//
// A counter counts the allocations its own thread makes between its construction and its
// destruction; other threads (the simulator's) allocate freely meanwhile. Counters nest.
#pragma once

#include <cstdint>

class CScopedAllocationCounter {
 public:
  CScopedAllocationCounter();
  ~CScopedAllocationCounter();
  CScopedAllocationCounter(const CScopedAllocationCounter&) = delete;
  CScopedAllocationCounter& operator=(const CScopedAllocationCounter&) = delete;

  // Allocations made by this thread since construction.
  std::uint64_t Count() const;

 private:
  std::uint64_t m_start;
  bool m_wasCounting;
};
