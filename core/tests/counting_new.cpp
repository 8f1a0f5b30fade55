// Every global allocation function, replaced to count its calls: the tests that hold the
// per-segment road to zero allocations and the benchmark that reports them read the count.
#include "counting_new.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// The programs that count are single-threaded, so a plain counter will do.
std::size_t allocations = 0;

void* try_allocate(std::size_t size, std::size_t align) noexcept {
    ++allocations;
    size = size == 0 ? 1 : size;
    if (align <= alignof(std::max_align_t)) {
        return std::malloc(size);
    }
    return std::aligned_alloc(align, (size + align - 1) / align * align);
}

void* allocate(std::size_t size, std::size_t align) {
    if (void* p = try_allocate(size, align)) {
        return p;
    }
    throw std::bad_alloc();
}

constexpr std::size_t plain = alignof(std::max_align_t);

}  // namespace

std::size_t remitrax::testing::allocation_count() {
    return allocations;
}

// clang-format off
void* operator new(std::size_t n) { return allocate(n, plain); }
void* operator new[](std::size_t n) { return allocate(n, plain); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return try_allocate(n, plain); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return try_allocate(n, plain); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return try_allocate(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return try_allocate(n, static_cast<std::size_t>(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
// clang-format on
