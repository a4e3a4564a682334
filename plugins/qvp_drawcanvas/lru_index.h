/* lru_index.h - a bounded hash index with least-recently-used order, for
 * the plugin's per-process tables.
 *
 * It hands out entry numbers 0 .. most-1; the caller keeps its records in
 * an array of `most` beside it. The index has at least twice `most` slots
 * (a power of two), so it is never more than half full: a probe always
 * meets a free slot within most + 1 steps, and on average within two.
 * Linear probing with backward-shift removal, so no tombstones build up
 * however often entries come and go. When all `most` entries are in use,
 * Insert takes the least recently used one and says which it was, so the
 * caller can let go of what that record held.
 *
 * A table that should hold little until it is used may start small and
 * Grow towards its bound: entries keep their numbers and their order.
 *
 * All memory is taken by Init and Grow; nothing else allocates. */
#ifndef QVP_LRU_INDEX_H
#define QVP_LRU_INDEX_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Entries by how far past their home slot they sit, 0 .. kLruSpread-2
 * steps and kLruSpread-1 for farther; the probe a find of each makes. */
enum { kLruSpread = 8 };

struct LruIndexStats {
    int entries;    /* in use */
    int most;       /* the bound */
    int slots;      /* index slots */
    int longest;    /* longest probe a find or insert made since Init */
    int spread[kLruSpread];
};

class LruIndex {
public:
    /* Takes room for MOST (at least 1) entries through ALLOC (realloc's
     * contract); false, with nothing held, when it cannot. Drops what an
     * earlier Init held. */
    bool Init(int most, void *(*alloc)(void *, size_t)) {
        Free();
        if (most < 1 || most > (1 << 28)) return false;
        int slots = 2;
        while (slots < 2 * most) slots *= 2;
        slot_ = (Slot *)alloc(nullptr, sizeof(Slot) * (size_t)slots);
        hash_ = (uint64_t *)alloc(nullptr, sizeof(uint64_t) * (size_t)most);
        prev_ = (int32_t *)alloc(nullptr, sizeof(int32_t) * (size_t)most);
        next_ = (int32_t *)alloc(nullptr, sizeof(int32_t) * (size_t)most);
        if (!slot_ || !hash_ || !prev_ || !next_) {
            Free();
            return false;
        }
        memset(slot_, 0, sizeof(Slot) * (size_t)slots);
        mask_ = (uint32_t)slots - 1;
        most_ = most;
        // Unused entries are chained through next_ from free_.
        for (int e = 0; e < most; e++) next_[e] = e + 1 < most ? e + 1 : -1;
        free_ = 0;
        head_ = tail_ = -1;
        count_ = longest_ = 0;
        return true;
    }

    /* Raises the bound to MOST, keeping every entry, its number and the
     * order; notes start again at 0. False, with the index as it was,
     * when MOST is not above the bound or memory is short. */
    bool Grow(int most, void *(*alloc)(void *, size_t)) {
        if (!slot_ || most <= most_ || most > (1 << 28)) return false;
        int slots = (int)mask_ + 1;
        while (slots < 2 * most) slots *= 2;
        Slot *slot = (Slot *)alloc(nullptr, sizeof(Slot) * (size_t)slots);
        uint64_t *hash = (uint64_t *)alloc(nullptr, sizeof(uint64_t) * (size_t)most);
        int32_t *prev = (int32_t *)alloc(nullptr, sizeof(int32_t) * (size_t)most);
        int32_t *next = (int32_t *)alloc(nullptr, sizeof(int32_t) * (size_t)most);
        if (!slot || !hash || !prev || !next) {
            free(slot), free(hash), free(prev), free(next);
            return false;
        }
        memcpy(hash, hash_, sizeof(uint64_t) * (size_t)most_);
        memcpy(prev, prev_, sizeof(int32_t) * (size_t)most_);
        memcpy(next, next_, sizeof(int32_t) * (size_t)most_);
        memset(slot, 0, sizeof(Slot) * (size_t)slots);
        Slot *old = slot_;
        uint32_t old_slots = mask_ + 1;
        free(hash_), free(prev_), free(next_);
        slot_ = slot, hash_ = hash, prev_ = prev, next_ = next;
        mask_ = (uint32_t)slots - 1;
        for (uint32_t i = 0; i < old_slots; i++)
            if (old[i].entry) {
                uint32_t k = home(hash_[old[i].entry - 1]);
                while (slot_[k].entry) k = (k + 1) & mask_;
                slot_[k].entry = old[i].entry;
            }
        free(old);
        for (int e = most - 1; e >= most_; e--) {
            next_[e] = free_;
            free_ = e;
        }
        most_ = most;
        return true;
    }

    /* Lets go of everything Init took; the index is then empty and holds
     * no entries until the next Init. */
    void Free() {
        free(slot_);
        free(hash_);
        free(prev_);
        free(next_);
        slot_ = nullptr;
        hash_ = nullptr;
        prev_ = next_ = nullptr;
        mask_ = 0;
        most_ = count_ = 0;
        free_ = head_ = tail_ = -1;
    }

    bool Ready() const { return slot_ != nullptr; }

    /* One of the two notes (WHICH 0 or 1) kept beside the slot where a
     * look-up of HASH begins, in the same cache line: 32 bits the caller
     * may mark there (0 is none), which entries coming and going leave
     * alone. Null before Init. */
    uint32_t *Note(uint64_t hash, int which) {
        return slot_ ? &slot_[home(hash) ^ (uint32_t)(which & 1)].note : nullptr;
    }

    /* The entry of HASH for which SAME(entry) holds, or -1. Changes no
     * order: Touch makes an entry the most recent. */
    template <class Same>
    int Find(uint64_t hash, Same same) {
        if (!slot_) return -1;
        int steps = 0;
        for (uint32_t i = home(hash);; i = (i + 1) & mask_, steps++) {
            int32_t s = slot_[i].entry;
            if (s == 0) break;
            if (hash_[s - 1] == hash && same(s - 1)) {
                note(steps);
                return s - 1;
            }
        }
        note(steps);
        return -1;
    }

    /* A new entry for HASH, the most recent. When every entry is in use
     * the least recent one is taken for it and *EVICTED names it (else
     * -1). -1 before Init. */
    int Insert(uint64_t hash, int *evicted) {
        *evicted = -1;
        if (!slot_) return -1;
        if (free_ < 0) {
            *evicted = tail_;
            Remove(tail_);
        }
        int e = free_;
        free_ = next_[e];
        hash_[e] = hash;
        int steps = 0;
        uint32_t i = home(hash);
        while (slot_[i].entry != 0) {
            i = (i + 1) & mask_;
            steps++;
        }
        note(steps);
        slot_[i].entry = e + 1;
        link_front(e);
        count_++;
        return e;
    }

    /* Takes entry E out of the index and the order; its number is free
     * for the next Insert. */
    void Remove(int e) {
        if (e < 0 || e >= most_) return;
        uint32_t i = home(hash_[e]);
        while (slot_[i].entry != e + 1) {
            if (slot_[i].entry == 0) return;  // not in the index
            i = (i + 1) & mask_;
        }
        // Backward shift: pull later members of the cluster into the
        // hole unless their home lies after it.
        for (uint32_t j = i;;) {
            j = (j + 1) & mask_;
            if (slot_[j].entry == 0) break;
            uint32_t k = home(hash_[slot_[j].entry - 1]);
            bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
            if (stays) continue;
            slot_[i].entry = slot_[j].entry;
            i = j;
        }
        slot_[i].entry = 0;
        unlink(e);
        next_[e] = free_;
        free_ = e;
        count_--;
    }

    /* Makes E the most recently used entry. */
    void Touch(int e) {
        if (e == head_) return;
        unlink(e);
        link_front(e);
    }

    /* The least recently used entry, or -1 when none is in use. */
    int Oldest() const { return tail_; }
    /* The entry used just before E (towards the most recent), or -1. */
    int Newer(int e) const { return prev_[e]; }

    int Count() const { return count_; }
    int Most() const { return most_; }

    /* The counts and the spread of the entries, for diagnosis: a walk
     * of every slot. */
    LruIndexStats Stats() const {
        LruIndexStats st = {count_, most_, slot_ ? (int)mask_ + 1 : 0, longest_, {0}};
        for (uint32_t i = 0; slot_ && i <= mask_; i++)
            if (slot_[i].entry) {
                uint32_t d = (i - home(hash_[slot_[i].entry - 1])) & mask_;
                st.spread[d < kLruSpread - 1 ? d : kLruSpread - 1]++;
            }
        return st;
    }

private:
    uint32_t home(uint64_t hash) const { return (uint32_t)(hash ^ (hash >> 29)) & mask_; }
    void note(int steps) {
        if (steps > longest_) longest_ = steps;
    }
    void unlink(int e) {
        if (prev_[e] >= 0) next_[prev_[e]] = next_[e];
        else head_ = next_[e];
        if (next_[e] >= 0) prev_[next_[e]] = prev_[e];
        else tail_ = prev_[e];
    }
    void link_front(int e) {
        prev_[e] = -1;
        next_[e] = head_;
        if (head_ >= 0) prev_[head_] = e;
        head_ = e;
        if (tail_ < 0) tail_ = e;
    }

    // Per slot: entry + 1 (0 for a free slot) and the caller's note; 8
    // bytes, so that the two notes of a look-up share a cache line.
    struct Slot {
        int32_t entry;
        uint32_t note;
    };
    Slot *slot_ = nullptr;
    uint64_t *hash_ = nullptr;   // per entry
    int32_t *prev_ = nullptr;    // per entry: towards the most recent
    int32_t *next_ = nullptr;    // per entry: towards the least recent; the free chain
    uint32_t mask_ = 0;
    int most_ = 0, count_ = 0, longest_ = 0;
    int free_ = -1, head_ = -1, tail_ = -1;
};

/* Makes INDEX hold MOST entries (Init when it has none yet, else Grow),
 * with *RECORDS, the caller's array of one T per entry, grown to match
 * and its new records set to T{}. False when memory is short or MOST is
 * not above the bound: the index and its records are then as they were
 * (the array may have grown). */
template <class T>
bool LruReserve(LruIndex &index, T **records, int most, void *(*alloc)(void *, size_t)) {
    int had = index.Ready() ? index.Most() : 0;
    if (most <= had) return false;
    void *grown = alloc(*records, sizeof(T) * (size_t)most);
    if (!grown) return false;
    *records = (T *)grown;
    for (int i = had; i < most; i++) (*records)[i] = T{};
    return had ? index.Grow(most, alloc) : index.Init(most, alloc);
}

#endif
