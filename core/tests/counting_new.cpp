#include "counting_new.hpp"

#include <cstdlib>
#include <new>

namespace {

std::size_t allocations = 0;

void* counted(std::size_t size) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* counted_or_throw(std::size_t size) {
    if (void* p = counted(size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

std::size_t remitrax::testing::allocation_count() {
    return allocations;
}

void* operator new(std::size_t size) {
    return counted_or_throw(size);
}
void* operator new[](std::size_t size) {
    return counted_or_throw(size);
}
// The sorting of tables asks for its scratch buffer without exceptions; these must pair with
// the delete below as well.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted(size);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
