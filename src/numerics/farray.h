// Arrays with Fortran-style bounds: any lower bound (1 by default), column-major
// storage (the first index runs fastest), so that formulas read like the model's
// own index order. Hot loops take a pointer to a contiguous column with col().
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

struct Bounds {
    int lo = 1;
    int hi = 0;
    int extent() const { return hi >= lo ? hi - lo + 1 : 0; }
};

template <class T, int R>
class FArray {
    static_assert(R >= 1 && R <= 4, "rank 1 to 4");

public:
    FArray() { lo_.fill(1); ext_.fill(0); stride_.fill(0); }

    // Extents with lower bounds of 1: FArray<float,2> a(nlam, nz).
    template <class... I>
        requires(sizeof...(I) == R)
    explicit FArray(I... n) { resize(n...); }

    // Resize to the given extents (lower bounds 1); every element is set to v.
    template <class... I>
        requires(sizeof...(I) == R)
    void resize(I... n) {
        std::array<Bounds, R> b{};
        int k = 0;
        ((b[k++] = Bounds{1, static_cast<int>(n)}), ...);
        reshape(b);
    }

    // Resize with explicit bounds: a.reshape({{0, n}, {1, m}}).
    void reshape(const std::array<Bounds, R>& b, T v = T{}) {
        std::size_t total = 1;
        std::ptrdiff_t stride = 1;
        for (int d = 0; d < R; ++d) {
            lo_[d] = b[d].lo;
            ext_[d] = b[d].extent();
            stride_[d] = stride;
            stride *= ext_[d];
            total *= static_cast<std::size_t>(ext_[d]);
        }
        data_.assign(total, v);
    }

    void clear() {
        data_.clear();
        data_.shrink_to_fit();
        ext_.fill(0);
    }

    void fill(T v) { data_.assign(data_.size(), v); }

    bool allocated() const { return !data_.empty(); }
    std::size_t size() const { return data_.size(); }
    int extent(int d = 0) const { return ext_[d]; }
    int lbound(int d = 0) const { return lo_[d]; }
    int ubound(int d = 0) const { return lo_[d] + ext_[d] - 1; }

    template <class... I>
        requires(sizeof...(I) == R)
    T& operator()(I... i) { return data_[offset(static_cast<int>(i)...)]; }

    template <class... I>
        requires(sizeof...(I) == R)
    const T& operator()(I... i) const { return data_[offset(static_cast<int>(i)...)]; }

    // Pointer to the element; consecutive first-index elements follow it.
    template <class... I>
        requires(sizeof...(I) == R)
    T* ptr(I... i) { return data_.data() + offset(static_cast<int>(i)...); }

    template <class... I>
        requires(sizeof...(I) == R)
    const T* ptr(I... i) const { return data_.data() + offset(static_cast<int>(i)...); }

    // The contiguous column (first index from its lower bound) at the trailing indices.
    template <class... I>
        requires(sizeof...(I) == R - 1)
    T* col(I... i) { return ptr(lo_[0], i...); }

    template <class... I>
        requires(sizeof...(I) == R - 1)
    const T* col(I... i) const { return ptr(lo_[0], i...); }

    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }
    std::vector<T>& storage() { return data_; }
    const std::vector<T>& storage() const { return data_; }

private:
    template <class... I>
    std::size_t offset(I... i) const {
        const int idx[R] = {i...};
        std::ptrdiff_t off = 0;
        for (int d = 0; d < R; ++d) {
#ifdef QV_BOUNDS_CHECK
            if (idx[d] < lo_[d] || idx[d] >= lo_[d] + ext_[d])
                throw std::out_of_range("FArray index " + std::to_string(idx[d]) + " outside " +
                                        std::to_string(lo_[d]) + ".." +
                                        std::to_string(lo_[d] + ext_[d] - 1) + " in dimension " +
                                        std::to_string(d + 1));
#endif
            off += (idx[d] - lo_[d]) * stride_[d];
        }
        return static_cast<std::size_t>(off);
    }

    std::vector<T> data_;
    std::array<int, R> lo_;
    std::array<int, R> ext_;
    std::array<std::ptrdiff_t, R> stride_;
};

template <class T>
using Vec = FArray<T, 1>;
template <class T>
using Mat = FArray<T, 2>;

}  // namespace qv
