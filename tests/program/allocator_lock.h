#pragma once
// A stand-in for the C library's allocator that lets a test crash the way
// glibc's own heap checks do: with a fatal signal raised inside malloc while
// the allocator's lock is held.

namespace zobra {

// False where a sanitizer owns the allocator and the stand-in is left out.
bool allocator_stand_in_active();

// The next allocation takes the allocator's lock and raises SIGABRT while
// holding it. Any allocation after that would wait for ever on the real
// allocator; here it ends the process at once with status 3 and says so, so
// that a handler that allocates fails its test instead of hanging it.
void crash_in_next_allocation();

}  // namespace zobra
