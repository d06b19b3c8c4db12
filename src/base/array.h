// The base floor: machinery that knows nothing of hydrology (one-based arrays, buffered output
// units, the format engine, the free-form reader, stops, timers). It includes nothing of the
// project above it.
//
// One-based arrays of fixed size, as every index in the input files and messages is one-based.
//
// arr1<T>: a(i), i = 1..size().  arr2<T>: a(i, j), column-major (i fastest), i = 1..n1, j = 1..n2.
// Storage is created once (alloc) and never grows; element access is plain pointer arithmetic.
// With NEPORA_CHECK_BOUNDS defined (the sanitizer build), every access is range-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace nep {

// A large block of memory is asked to be mapped in large pages where the system offers them on
// request: a mesh's arrays then take far fewer page faults when first written, and far fewer
// address translations when streamed. Advice only: nothing changes where it is not followed.
inline void advise_large_pages(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kPage = std::size_t(2) << 20, kMin = std::size_t(4) << 20;
    if (bytes < kMin) return;
    const auto a = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t lo = (a + kPage - 1) / kPage * kPage, hi = (a + bytes) / kPage * kPage;
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// Storage of the arrays: zeroed by calloc, whose large blocks are pages the system maps on first
// touch, and left as they are by the vector's default construction. An array created but never
// written takes no memory.
template <class T>
struct zeroed_alloc {
    using value_type = T;
    zeroed_alloc() = default;
    template <class U>
    zeroed_alloc(const zeroed_alloc<U>&) {}
    T* allocate(std::size_t n) {
        void* p = std::calloc(n ? n : 1, sizeof(T));
        if (!p) throw std::bad_alloc();
        advise_large_pages(p, n * sizeof(T));
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) { std::free(p); }
    template <class U>
    void construct(U* p) { ::new ((void*)p) U; }
    template <class U, class... A>
    void construct(U* p, A&&... a) { ::new ((void*)p) U(std::forward<A>(a)...); }
    template <class U>
    bool operator==(const zeroed_alloc<U>&) const { return true; }
    template <class U>
    bool operator!=(const zeroed_alloc<U>&) const { return false; }
};

// A vector on the same storage, for large arrays of varying size. Growing it adds zeros only
// where the storage is new: the elements it adds must be written.
template <class T>
using zvector = std::vector<T, zeroed_alloc<T>>;

#ifdef NEPORA_CHECK_BOUNDS
[[noreturn]] inline void array_bound_fault(long i, long n) {
    std::fprintf(stderr, "nepora3d: internal error: index %ld outside 1..%ld\n", i, n);
    std::abort();
}
#define NEP_BOUND(i, n) \
    do { if ((i) < 1 || (long)(i) > (long)(n)) array_bound_fault((long)(i), (long)(n)); } while (0)
#else
#define NEP_BOUND(i, n) ((void)0)
#endif

template <class T>
class arr1 {
public:
    arr1() = default;
    explicit arr1(std::size_t n, T v = T()) { alloc(n, v); }

    // Creates the storage (a length of 0 is allowed: an empty list).
    void alloc(std::size_t n, T v = T()) {
        if (v == T()) {
            zvector<T>(n).swap(v_);
        } else {
            v_.assign(n, v);
        }
    }
    void release() { zvector<T>().swap(v_); }
    void fill(T v) { for (auto& x : v_) x = v; }

    T& operator()(long i) { NEP_BOUND(i, v_.size()); return v_.data()[i - 1]; }
    const T& operator()(long i) const { NEP_BOUND(i, v_.size()); return v_.data()[i - 1]; }

    long size() const { return (long)v_.size(); }
    bool empty() const { return v_.empty(); }
    T* data() { return v_.data(); }          // element 1
    const T* data() const { return v_.data(); }
    T* begin() { return v_.data(); }
    T* end() { return v_.data() + v_.size(); }
    const T* begin() const { return v_.data(); }
    const T* end() const { return v_.data() + v_.size(); }

    // Keeps the first n elements and gives the rest of the storage back.
    void trim(std::size_t n) { v_.resize(n); v_.shrink_to_fit(); }

private:
    zvector<T> v_;
};

template <class T>
class arr2 {
public:
    arr2() = default;
    arr2(long n1, long n2, T v = T()) { alloc(n1, n2, v); }

    void alloc(long n1, long n2, T v = T()) {
        n1_ = n1 > 0 ? n1 : 0;
        n2_ = n2 > 0 ? n2 : 0;
        if (v == T()) {
            zvector<T>((std::size_t)n1_ * (std::size_t)n2_).swap(v_);
        } else {
            v_.assign((std::size_t)n1_ * (std::size_t)n2_, v);
        }
    }
    void release() { zvector<T>().swap(v_); n1_ = n2_ = 0; }
    void fill(T v) { for (auto& x : v_) x = v; }

    T& operator()(long i, long j) {
        NEP_BOUND(i, n1_); NEP_BOUND(j, n2_);
        return v_.data()[(i - 1) + (j - 1) * n1_];
    }
    const T& operator()(long i, long j) const {
        NEP_BOUND(i, n1_); NEP_BOUND(j, n2_);
        return v_.data()[(i - 1) + (j - 1) * n1_];
    }

    long n1() const { return n1_; }
    long n2() const { return n2_; }
    bool empty() const { return v_.empty(); }
    long size() const { return (long)v_.size(); }
    T* data() { return v_.data(); }
    const T* data() const { return v_.data(); }
    // Column j as a pointer to its first element.
    T* col(long j) { NEP_BOUND(j, n2_); return v_.data() + (j - 1) * n1_; }
    const T* col(long j) const { NEP_BOUND(j, n2_); return v_.data() + (j - 1) * n1_; }

private:
    long n1_ = 0, n2_ = 0;
    zvector<T> v_;
};

}  // namespace nep
