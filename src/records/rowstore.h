#pragma once
// Compact storage of fixed-size records: the records lie back to back in large chunks, so a
// row costs exactly its record size (no per-row or per-cell heap objects) and growing never
// copies the rows already stored.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

class RowStore {
public:
    static constexpr size_t kRowsPerChunk = size_t(1) << 15;

    RowStore() = default;
    explicit RowStore(size_t recordSize) : recordSize_(recordSize) {}
    RowStore(RowStore&& o) noexcept { *this = std::move(o); }
    RowStore& operator=(RowStore&& o) noexcept {
        if (this != &o) {
            recordSize_ = o.recordSize_;
            count_ = o.count_;
            firstCapacity_ = o.firstCapacity_;
            chunks_ = std::move(o.chunks_);
            o.chunks_.clear();
            o.count_ = 0;
            o.firstCapacity_ = 0;
        }
        return *this;
    }

    // Drops every row and sets the record size for the rows to come.
    void Reset(size_t recordSize) {
        chunks_.clear();
        count_ = 0;
        firstCapacity_ = 0;
        recordSize_ = recordSize;
    }
    void Clear() { Reset(recordSize_); }

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    size_t recordSize() const { return recordSize_; }

    // A new zeroed record at the end.
    uint8_t* Append() {
        const size_t inChunk = count_ % kRowsPerChunk;
        if (inChunk == 0 && count_ > 0) {
            chunks_.emplace_back(new uint8_t[kRowsPerChunk * recordSize_]);
        } else if (count_ < kRowsPerChunk && count_ == firstCapacity_) {
            // The first chunk starts small and doubles, so small tables stay small.
            const size_t cap = firstCapacity_ ? std::min(firstCapacity_ * 2, kRowsPerChunk) : 16;
            std::unique_ptr<uint8_t[]> grown(new uint8_t[cap * recordSize_]);
            if (count_) std::memcpy(grown.get(), chunks_[0].get(), count_ * recordSize_);
            if (chunks_.empty())
                chunks_.emplace_back(std::move(grown));
            else
                chunks_[0] = std::move(grown);
            firstCapacity_ = cap;
        }
        uint8_t* p = chunks_.back().get() + inChunk * recordSize_;
        std::memset(p, 0, recordSize_);
        ++count_;
        return p;
    }
    void Append(const uint8_t* record) { std::memcpy(Append(), record, recordSize_); }

    const uint8_t* Row(size_t i) const { return chunks_[i / kRowsPerChunk].get() + (i % kRowsPerChunk) * recordSize_; }
    uint8_t* Row(size_t i) { return chunks_[i / kRowsPerChunk].get() + (i % kRowsPerChunk) * recordSize_; }

    // Bytes held for the rows (whole chunks).
    size_t BytesAllocated() const {
        if (chunks_.empty()) return 0;
        return (firstCapacity_ + (chunks_.size() - 1) * kRowsPerChunk) * recordSize_ +
               chunks_.capacity() * sizeof(chunks_[0]);
    }

private:
    size_t recordSize_ = 0;
    size_t count_ = 0;
    size_t firstCapacity_ = 0;  // rows the first chunk has room for
    std::vector<std::unique_ptr<uint8_t[]>> chunks_;
};
