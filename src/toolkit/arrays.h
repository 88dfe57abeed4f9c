// Typed vectors and matrices: owning, zero-filled, contiguous, 0-based.
//
// The factory functions carry the classic allocator names (vector, fvector,
// ..., matrix, fmatrix, ...). An allocation that fails writes
// "\n<vector|matrix>: Cannot allocate  " with the system's reason and ends the
// program with exit status 4, so callers never test the result. A count below 1
// is a programming error and ends the program the same way, naming the allocator.
//
// A Matrix keeps its elements in one block, row i starting at element i * cols,
// so m[i][j] is also m.data()[i * cols + j] and the whole matrix can be handed
// to code that expects one flat buffer.
#pragma once

#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

namespace orva {

// Ends the program with status 4 after the numbered allocation message.
[[noreturn]] void allocation_failed(const char* kind);
// Ends the program with status 4 after naming the allocator and the bad count.
[[noreturn]] void bad_count(const char* allocator, long n, long m);

template <class T>
std::vector<T> make_vector(long n, const char* allocator) {
    if (n < 1) bad_count(allocator, n, 1);
    try {
        return std::vector<T>(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        allocation_failed("vector");
    } catch (const std::length_error&) {
        allocation_failed("vector");
    }
}

template <class T>
class Matrix {
  public:
    Matrix() = default;
    Matrix(long rows, long cols, const char* allocator = "matrix") { reset(rows, cols, allocator); }

    // Reshapes to rows x cols, every element T{}, keeping the storage when it
    // is large enough (a caller that reuses one matrix for many images).
    void reset(long rows, long cols, const char* allocator = "matrix") {
        size_to(rows, cols, allocator, [this](std::size_t n) { data_.assign(n, T{}); });
    }

    // Reshapes to rows x cols keeping the storage and the values in it; only
    // elements beyond the old size start as T{}. For callers that write every
    // element before reading it.
    void reshape(long rows, long cols) {
        size_to(rows, cols, "matrix", [this](std::size_t n) { data_.resize(n); });
    }

    T* operator[](long i) { return data_.data() + i * cols_; }
    const T* operator[](long i) const { return data_.data() + i * cols_; }
    T& operator()(long i, long j) { return data_[i * cols_ + j]; }
    const T& operator()(long i, long j) const { return data_[i * cols_ + j]; }

    long rows() const { return rows_; }
    long cols() const { return cols_; }
    bool empty() const { return data_.empty(); }
    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }
    std::span<T> flat() { return data_; }
    std::span<const T> flat() const { return data_; }
    std::span<T> row(long i) { return {data_.data() + i * cols_, static_cast<std::size_t>(cols_)}; }
    std::span<const T> row(long i) const {
        return {data_.data() + i * cols_, static_cast<std::size_t>(cols_)};
    }

  private:
    // Checks rows x cols, has `size` make the storage that many elements long,
    // and ends the program the usual way when it cannot be had.
    template <class Size>
    void size_to(long rows, long cols, const char* allocator, Size size) {
        if (rows < 1 || cols < 1) bad_count(allocator, rows, cols);
        if (static_cast<std::size_t>(rows) > data_.max_size() / static_cast<std::size_t>(cols))
            allocation_failed("matrix");
        try {
            size(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        } catch (const std::bad_alloc&) {
            allocation_failed("matrix");
        } catch (const std::length_error&) {
            allocation_failed("matrix");
        }
        rows_ = rows;
        cols_ = cols;
    }

    long rows_ = 0;
    long cols_ = 0;
    std::vector<T> data_;
};

inline std::vector<double> vector(long n) {
    return make_vector<double>(n, "vector");
}
inline std::vector<float> fvector(long n) {
    return make_vector<float>(n, "fvector");
}
inline std::vector<int> ivector(long n) {
    return make_vector<int>(n, "ivector");
}
inline std::vector<std::int32_t> lvector(long n) {
    return make_vector<std::int32_t>(n, "lvector");
}
inline std::vector<std::uint32_t> ulvector(long n) {
    return make_vector<std::uint32_t>(n, "ulvector");
}
inline std::vector<unsigned int> uivector(long n) {
    return make_vector<unsigned int>(n, "uivector");
}
inline std::vector<unsigned char> ucvector(long n) {
    return make_vector<unsigned char>(n, "ucvector");
}

inline Matrix<double> matrix(long n, long m) {
    return Matrix<double>(n, m, "matrix");
}
inline Matrix<float> fmatrix(long n, long m) {
    return Matrix<float>(n, m, "fmatrix");
}
inline Matrix<int> imatrix(long n, long m) {
    return Matrix<int>(n, m, "imatrix");
}
inline Matrix<std::int16_t> smatrix(long n, long m) {
    return Matrix<std::int16_t>(n, m, "smatrix");
}
inline Matrix<unsigned char> ucmatrix(long n, long m) {
    return Matrix<unsigned char>(n, m, "ucmatrix");
}

// a = b * transpose(c) for M x M matrices; each a[i][j] is set to 0 and then
// accumulated over n in increasing order.
void multmatsqT(int M, Matrix<double>& a, const Matrix<double>& b, const Matrix<double>& c);

}  // namespace orva
