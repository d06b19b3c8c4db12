// The format engine: writes records through the program's format strings (the Fortran edit
// descriptors I, F, E, 1P, L, A, X, /, quoted text and repeated groups), and free-form
// (list-directed) records. Output agrees byte for byte with the gfortran runtime.
//
//   wfmt(u, "(I6,2(1PE12.4))", NSTEP, DELTAT, TIME);
//   wfmt(u, "(1X,10I7)", fitem::ints(list.data(), n));   // whole arrays: reversion breaks lines
//   wfree(u, " main output");                             // free-form record
//
// A format is parsed once and cached by its text. Items are passed by value or as spans; nothing
// is allocated per value, so writing large arrays is cheap.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/array.h"
#include "base/units.h"

namespace nep {

struct fitem {
    enum kind_t : unsigned char { INT, REAL, REAL4, LOGICAL, TEXT, INTS, REALS, REAL4S };
    kind_t kind;
    long n = 1;  // number of values (arrays) or characters (text)
    union {
        int i;
        double r;
        float f;
        bool l;
        const int* ip;
        const double* rp;
        const float* fp;
        const char* s;
    };

    fitem(int v) : kind(INT), i(v) {}
    fitem(double v) : kind(REAL), r(v) {}
    fitem(float v) : kind(REAL4), f(v) {}
    fitem(bool v) : kind(LOGICAL), l(v) {}
    fitem(const char* v);
    fitem(const std::string& v) : kind(TEXT), n((long)v.size()), s(v.data()) {}
    fitem(std::string_view v) : kind(TEXT), n((long)v.size()), s(v.data()) {}
    fitem(const arr1<int>& a) : kind(INTS), n(a.size()), ip(a.data()) {}
    fitem(const arr1<double>& a) : kind(REALS), n(a.size()), rp(a.data()) {}
    fitem(const arr1<float>& a) : kind(REAL4S), n(a.size()), fp(a.data()) {}

    static fitem ints(const int* p, long count) { fitem it(0); it.kind = INTS; it.n = count; it.ip = p; return it; }
    static fitem reals(const double* p, long count) { fitem it(0.0); it.kind = REALS; it.n = count; it.rp = p; return it; }
    static fitem reals4(const float* p, long count) { fitem it(0.0f); it.kind = REAL4S; it.n = count; it.fp = p; return it; }
};

// Writes one formatted write statement (one or more records) to u.
void write_fmt(ounit& u, std::string_view fmt, const fitem* items, std::size_t nitems);

// Writes one free-form (list-directed) record to u.
void write_free(ounit& u, const fitem* items, std::size_t nitems);

template <class... A>
inline void wfmt(ounit& u, std::string_view fmt, const A&... a) {
    if constexpr (sizeof...(A) == 0) {
        write_fmt(u, fmt, nullptr, 0);
    } else {
        const fitem items[] = {fitem(a)...};
        write_fmt(u, fmt, items, sizeof...(A));
    }
}

template <class... A>
inline void wfree(ounit& u, const A&... a) {
    if constexpr (sizeof...(A) == 0) {
        write_free(u, nullptr, 0);
    } else {
        const fitem items[] = {fitem(a)...};
        write_free(u, items, sizeof...(A));
    }
}

// The text a formatted or free-form write produces, each record ended by '\n' (for tests).
template <class... A>
inline std::string sfmt(std::string_view fmt, const A&... a) {
    ounit m;
    m.open_memory();
    wfmt(m, fmt, a...);
    return m.str();
}
template <class... A>
inline std::string sfree(const A&... a) {
    ounit m;
    m.open_memory();
    wfree(m, a...);
    return m.str();
}

}  // namespace nep
