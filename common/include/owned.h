// Heap objects for the code that ships, made with malloc and built in place: the C++
// runtime's operator new reports a lack of memory by throwing, and linking it brings the
// runtime's exception machinery into the program. A lack of memory gives a null owner.
#pragma once

#include <stddef.h>
#include <stdlib.h>

#include <memory>
#include <new>
#include <utility>

namespace vela {

template <class T>
struct Destroy {
    void operator()(T *object) const noexcept {
        object->~T();
        free(object);
    }
};

// Owns one object made by make_owned; moves, never copies.
template <class T>
using Owned = std::unique_ptr<T, Destroy<T>>;

// A new T built from args (braces: aggregates too), or null when memory is short.
template <class T, class... Args>
Owned<T> make_owned(Args &&...args) noexcept {
    static_assert(alignof(T) <= alignof(max_align_t), "malloc aligns for max_align_t only");
    void *memory = malloc(sizeof(T));
    if (memory == nullptr) return nullptr;
    return Owned<T>(new (memory) T{std::forward<Args>(args)...});
}

// A new T left default-initialised, its bytes not cleared (a page costs memory only once
// it is written), or null when memory is short.
template <class T>
Owned<T> make_owned_for_overwrite() noexcept {
    static_assert(alignof(T) <= alignof(max_align_t), "malloc aligns for max_align_t only");
    void *memory = malloc(sizeof(T));
    if (memory == nullptr) return nullptr;
    return Owned<T>(new (memory) T);
}

struct FreeBytes {
    void operator()(char *bytes) const noexcept { free(bytes); }
};

// Owns bytes made by make_bytes.
using OwnedBytes = std::unique_ptr<char[], FreeBytes>;

// size bytes, not cleared, or null.
inline OwnedBytes make_bytes(size_t size) noexcept {
    return OwnedBytes(static_cast<char *>(malloc(size)));
}

}  // namespace vela
