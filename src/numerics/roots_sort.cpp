#include "numerics/roots_sort.h"

#include <vector>

namespace qv {

namespace {

// Ranges of at most this many elements are sorted by straight insertion.
constexpr int kInsertionMax = 7;

// The pending sub-ranges of a quicksort, as (first, last) pairs. Storage for
// the usual capacity is inline, so a sort does not allocate; grow() moves the
// stack to the heap with twice the capacity.
class RangeStack {
public:
    explicit RangeStack(int cap_pairs) : cap_(cap_pairs < 0 ? 0 : cap_pairs) {
        if (cap_ > kInline) {
            heap_.resize(2 * static_cast<std::size_t>(cap_));
            data_ = heap_.data();
        }
    }
    RangeStack(const RangeStack&) = delete;
    RangeStack& operator=(const RangeStack&) = delete;

    bool empty() const { return top_ == 0; }
    bool full() const { return top_ >= cap_; }

    void grow() {
        const int cap = cap_ > 0 ? 2 * cap_ : 1;
        if (data_ == inline_ && cap <= kInline) {
            cap_ = cap;
            return;
        }
        std::vector<int> v(2 * static_cast<std::size_t>(cap));
        for (int k = 0; k < 2 * top_; ++k) v[k] = data_[k];
        heap_.swap(v);
        data_ = heap_.data();
        cap_ = cap;
    }

    void push(int first, int last) {
        data_[2 * top_] = first;
        data_[2 * top_ + 1] = last;
        ++top_;
    }

    void pop(int& first, int& last) {
        --top_;
        first = data_[2 * top_];
        last = data_[2 * top_ + 1];
    }

private:
    static constexpr int kInline = sort_detail::kStackPairs;
    int inline_[2 * kInline];
    std::vector<int> heap_;
    int* data_ = inline_;
    int cap_;
    int top_ = 0;
};

// The three members differ in what they move. A sequence gives, for 1-based
// positions, the item there (get/set) and the sort key of an item.
struct Keys {
    float* arr;
    using Item = float;
    Item get(int i) const { return arr[i - 1]; }
    void set(int i, Item v) const { arr[i - 1] = v; }
    static float key(Item v) { return v; }
};

struct KeysWithCompanions {
    float* arr;
    float* brr;
    struct Item {
        float a;
        float b;
    };
    Item get(int i) const { return {arr[i - 1], brr[i - 1]}; }
    void set(int i, Item v) const {
        arr[i - 1] = v.a;
        brr[i - 1] = v.b;
    }
    static float key(Item v) { return v.a; }
};

struct Index {
    const float* arr;
    int* indx;
    using Item = int;
    Item get(int i) const { return indx[i - 1]; }
    void set(int i, Item v) const { indx[i - 1] = v; }
    float key(Item v) const { return arr[v - 1]; }
};

template <class Seq>
inline void swap_at(const Seq& s, int i, int j) {
    const auto t = s.get(i);
    s.set(i, s.get(j));
    s.set(j, t);
}

template <class Seq>
inline float key_at(const Seq& s, int i) {
    return s.key(s.get(i));
}

// Quicksort with an explicit stack of pending ranges. PivotAtL selects the
// median-of-three order of `sort` (pivot left at l) instead of that of sort2
// and indexx (pivot at l+1). on_full(stack) is called when a push would
// overflow the stack; it either throws or grows the stack.
template <bool PivotAtL, class Seq, class OnFull>
void quicksort(const Seq& s, int n, RangeStack& stack, OnFull&& on_full) {
    int l = 1;
    int ir = n;
    for (;;) {
        if (ir - l < kInsertionMax) {
            for (int j = l + 1; j <= ir; ++j) {
                const auto a = s.get(j);
                const float ka = s.key(a);
                int i = j - 1;
                for (; i >= l; --i) {
                    if (key_at(s, i) <= ka) break;
                    s.set(i + 1, s.get(i));
                }
                s.set(i + 1, a);
            }
            if (stack.empty()) return;
            stack.pop(l, ir);
            continue;
        }

        const int k = (l + ir) / 2;
        swap_at(s, k, l + 1);
        if constexpr (PivotAtL) {
            // arr(l+1) <= arr(l) <= arr(ir); the pivot stays at l.
            if (key_at(s, l + 1) > key_at(s, ir)) swap_at(s, l + 1, ir);
            if (key_at(s, l) > key_at(s, ir)) swap_at(s, l, ir);
            if (key_at(s, l + 1) > key_at(s, l)) swap_at(s, l + 1, l);
        } else {
            // arr(l) <= arr(l+1) <= arr(ir); the pivot is at l+1.
            if (key_at(s, l) > key_at(s, ir)) swap_at(s, l, ir);
            if (key_at(s, l + 1) > key_at(s, ir)) swap_at(s, l + 1, ir);
            if (key_at(s, l) > key_at(s, l + 1)) swap_at(s, l, l + 1);
        }
        const int p = PivotAtL ? l : l + 1;
        const auto a = s.get(p);
        const float ka = s.key(a);

        // The end entries act as sentinels, so neither scan leaves l+1..ir.
        int i = l + 1;
        int j = ir;
        for (;;) {
            do ++i;
            while (key_at(s, i) < ka);
            do --j;
            while (key_at(s, j) > ka);
            if (j < i) break;
            swap_at(s, i, j);
        }
        s.set(p, s.get(j));
        s.set(j, a);

        // Push the larger part, go on with the smaller.
        if (stack.full()) on_full(stack);
        if (ir - i + 1 >= j - l) {
            stack.push(i, ir);
            ir = j - 1;
        } else {
            stack.push(l, j - 1);
            l = i;
        }
    }
}

}  // namespace

namespace sort_detail {

void sort(int n, float* arr, int stack_pairs) {
    RangeStack stack(stack_pairs);
    quicksort<true>(Keys{arr}, n, stack,
                    [](RangeStack&) { throw Stop(" NSTACK too small in sort"); });
}

void sort2(const Console& con, int n, float* arr, float* brr, int stack_pairs) {
    RangeStack stack(stack_pairs);
    quicksort<false>(KeysWithCompanions{arr, brr}, n, stack, [&con](RangeStack& st) {
        // When the user lets the run go on, the pending range goes on a
        // larger stack.
        pause_point(con, "NSTACK too small in sort2");
        st.grow();
    });
}

void indexx(int n, const float* arr, int* indx, int stack_pairs) {
    for (int j = 1; j <= n; ++j) indx[j - 1] = j;
    RangeStack stack(stack_pairs);
    quicksort<false>(Index{arr, indx}, n, stack,
                     [](RangeStack&) { throw Stop(" NSTACK too small in indexx"); });
}

}  // namespace sort_detail

void sort(int n, float* arr) { sort_detail::sort(n, arr, sort_detail::kStackPairs); }

void sort2(const Console& con, int n, float* arr, float* brr) {
    sort_detail::sort2(con, n, arr, brr, sort_detail::kStackPairs);
}

void indexx(int n, const float* arr, int* indx) {
    sort_detail::indexx(n, arr, indx, sort_detail::kStackPairs);
}

}  // namespace qv
