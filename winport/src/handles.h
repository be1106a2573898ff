// Generation-checked handle tables: a stale, foreign or forged handle is rejected instead of
// being dereferenced, as Windows rejects an invalid handle.
#ifndef WINPORT_HANDLES_H
#define WINPORT_HANDLES_H

#include <cstdint>
#include <memory>
#include <vector>

namespace winport::detail {

enum class HandleKind : uint32_t { Window = 1, Dc, Brush, Bitmap, Glrc, Class, Monitor };

template <typename T, HandleKind Kind>
class HandleTable {
public:
    void *Add(std::unique_ptr<T> object)
    {
        uint32_t index;
        if (!free_.empty()) {
            index = free_.back();
            free_.pop_back();
        } else {
            index = static_cast<uint32_t>(slots_.size());
            slots_.push_back({});
        }
        Slot &slot = slots_[index];
        slot.object = std::move(object);
        ++live_;
        return Encode(index, slot.generation);
    }

    T *Get(const void *handle) const
    {
        uint32_t index;
        if (!Decode(handle, &index))
            return nullptr;
        return slots_[index].object.get();
    }

    bool Remove(const void *handle)
    {
        uint32_t index;
        if (!Decode(handle, &index) || !slots_[index].object)
            return false;
        Slot &slot = slots_[index];
        slot.object.reset();
        slot.generation = (slot.generation + 1) & kGenerationMask;
        free_.push_back(index);
        --live_;
        return true;
    }

    long Count() const { return live_; }

    // Calls fn(handle, object) for each live object, oldest slot first.
    template <typename Fn>
    void ForEach(Fn fn) const
    {
        for (uint32_t i = 0; i < slots_.size(); ++i)
            if (slots_[i].object)
                fn(Encode(i, slots_[i].generation), *slots_[i].object);
    }

    void Clear()
    {
        slots_.clear();
        free_.clear();
        live_ = 0;
    }

private:
    static constexpr uint64_t kIndexBits = 24;
    static constexpr uint64_t kGenerationMask = 0xFFFF;

    struct Slot {
        std::unique_ptr<T> object;
        uint32_t generation = 1;
    };

    static void *Encode(uint32_t index, uint32_t generation)
    {
        uint64_t value = (static_cast<uint64_t>(Kind) << 40) | (static_cast<uint64_t>(generation) << kIndexBits) |
                         (index + 1);
        return reinterpret_cast<void *>(static_cast<uintptr_t>(value));
    }

    bool Decode(const void *handle, uint32_t *index) const
    {
        uint64_t value = reinterpret_cast<uintptr_t>(handle);
        if ((value >> 40) != static_cast<uint64_t>(Kind))
            return false;
        uint64_t slot = value & ((uint64_t{1} << kIndexBits) - 1);
        uint32_t generation = static_cast<uint32_t>((value >> kIndexBits) & kGenerationMask);
        if (slot == 0 || slot > slots_.size())
            return false;
        const Slot &s = slots_[slot - 1];
        if (!s.object || s.generation != generation)
            return false;
        *index = static_cast<uint32_t>(slot - 1);
        return true;
    }

    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;
    long live_ = 0;
};

}  // namespace winport::detail

#endif
