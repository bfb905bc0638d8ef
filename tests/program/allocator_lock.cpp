#include "program/allocator_lock.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define ZOBRA_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZOBRA_SANITIZED_ALLOCATOR 1
#endif

namespace zobra {
namespace {

enum State : int { Normal, Armed, Locked };
std::atomic<int> state{Normal};

void enter_allocator() {
    int now = state.load();
    if (now == Normal) return;
    if (now == Armed && state.compare_exchange_strong(now, Locked)) {
        ::raise(SIGABRT);
        return;
    }
    constexpr char stuck[] = "allocation while the allocator's lock is held\n";
    [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, stuck, sizeof stuck - 1);
    ::_exit(3);
}

}  // namespace

#ifdef ZOBRA_SANITIZED_ALLOCATOR
bool allocator_stand_in_active() { return false; }
void crash_in_next_allocation() {}
#else
bool allocator_stand_in_active() { return true; }
void crash_in_next_allocation() { state.store(Armed); }
#endif

}  // namespace zobra

#ifndef ZOBRA_SANITIZED_ALLOCATOR
// glibc lets a program replace malloc and its kin; these forward to glibc's
// own after the check.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);

void* malloc(std::size_t size) noexcept {
    zobra::enter_allocator();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    zobra::enter_allocator();
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    zobra::enter_allocator();
    return __libc_realloc(block, size);
}
void free(void* block) noexcept {
    if (block != nullptr) zobra::enter_allocator();
    __libc_free(block);
}
}
#endif
