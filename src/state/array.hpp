// One-based, column-major (first index fastest) arrays for the simulation state.
//
// The physics is written with 1-based indices (pixel i = 1..npx, beam n = 1..nb); these small
// containers keep that notation at the call sites while storing the data contiguously.
#pragma once

#include <algorithm>
#include <cassert>
#include <complex>
#include <cstddef>
#include <vector>

#include "state/large_pages.hpp"

namespace korvex {

using cplx = std::complex<double>;

template <class T> class Array1 {
  public:
    Array1() = default;
    explicit Array1(int n) { resize(n); }
    void resize(int n) { data_.assign(n > 0 ? static_cast<std::size_t>(n) : 0, T{}); }
    void clear() { data_.clear(); }
    T& operator()(int i) {
        assert(i >= 1 && i <= size());
        return data_[static_cast<std::size_t>(i - 1)];
    }
    const T& operator()(int i) const {
        assert(i >= 1 && i <= size());
        return data_[static_cast<std::size_t>(i - 1)];
    }
    int size() const { return static_cast<int>(data_.size()); }
    bool empty() const { return data_.empty(); }
    void fill(const T& v) { std::fill(data_.begin(), data_.end(), v); }
    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }

  private:
    std::vector<T> data_;
};

template <class T> class Array2 {
  public:
    Array2() = default;
    Array2(int n1, int n2) { resize(n1, n2); }
    void resize(int n1, int n2) {
        n1_ = n1 > 0 ? n1 : 0;
        n2_ = n2 > 0 ? n2 : 0;
        data_.assign(static_cast<std::size_t>(n1_) * static_cast<std::size_t>(n2_), T{});
    }
    T& operator()(int i, int j) { return data_[index(i, j)]; }
    const T& operator()(int i, int j) const { return data_[index(i, j)]; }
    int n1() const { return n1_; }
    int n2() const { return n2_; }
    std::size_t size() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    void fill(const T& v) { std::fill(data_.begin(), data_.end(), v); }
    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }

  private:
    std::size_t index(int i, int j) const {
        assert(i >= 1 && i <= n1_ && j >= 1 && j <= n2_);
        return static_cast<std::size_t>(i - 1) +
               static_cast<std::size_t>(n1_) * static_cast<std::size_t>(j - 1);
    }
    int n1_ = 0, n2_ = 0;
    std::vector<T, LargePageAllocator<T>> data_;
};

template <class T> class Array3 {
  public:
    Array3() = default;
    Array3(int n1, int n2, int n3) { resize(n1, n2, n3); }
    void resize(int n1, int n2, int n3) {
        n1_ = n1 > 0 ? n1 : 0;
        n2_ = n2 > 0 ? n2 : 0;
        n3_ = n3 > 0 ? n3 : 0;
        data_.assign(static_cast<std::size_t>(n1_) * static_cast<std::size_t>(n2_) *
                         static_cast<std::size_t>(n3_),
                     T{});
    }
    T& operator()(int i, int j, int k) { return data_[index(i, j, k)]; }
    const T& operator()(int i, int j, int k) const { return data_[index(i, j, k)]; }
    int n1() const { return n1_; }
    int n2() const { return n2_; }
    int n3() const { return n3_; }
    // Distance in elements between (i, j, k) and (i, j, k + 1).
    std::size_t plane() const {
        return static_cast<std::size_t>(n1_) * static_cast<std::size_t>(n2_);
    }
    std::size_t size() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    void fill(const T& v) { std::fill(data_.begin(), data_.end(), v); }
    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }

  private:
    std::size_t index(int i, int j, int k) const {
        assert(i >= 1 && i <= n1_ && j >= 1 && j <= n2_ && k >= 1 && k <= n3_);
        return static_cast<std::size_t>(i - 1) +
               static_cast<std::size_t>(n1_) *
                   (static_cast<std::size_t>(j - 1) +
                    static_cast<std::size_t>(n2_) * static_cast<std::size_t>(k - 1));
    }
    int n1_ = 0, n2_ = 0, n3_ = 0;
    std::vector<T, LargePageAllocator<T>> data_;
};

} // namespace korvex
