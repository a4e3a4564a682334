// kept_text.cpp - laid-out texts kept from frame to frame: the glyph
// quads of a text, in the runs of one texture each that its layout drew,
// kept per process under the text's address, font and frame, so that a
// text drawn again unchanged goes to GL without being laid out again.
//
// A kept text holds a copy of the string it was laid out from and is
// used only while the string still reads the same, so an edit in place
// (same address, other bytes) is laid out anew. Tables and buffers grow
// only when a text is kept for the first time or grows: a steady frame
// allocates nothing.
#include <stdlib.h>
#include <string.h>

#include "drawcanvas_testing.h"

namespace {

// At most this many texts are kept; past it, the least recently drawn
// of a few neighbours in the table makes room.
const int kKeptTextsMost = 16384;
// A text of more cells or bytes than these is laid out every time.
const int kKeptCellsMost = 65536;
const size_t kKeptBytesMost = 1 << 20;
// Slots looked at for the one to reuse once the table is full.
const int kReuseWindow = 8;

// The table (open addressing on the key's address, font and frame,
// never more than half full) and its counts; grown by make_room,
// emptied by ResetKeptTexts. g_kept_clock counts finds and records, so
// that a slot's `used` says how recently it was drawn.
QVP_KEPT_TEXT *g_kept = nullptr;
int g_kept_cap = 0;
int g_kept_used = 0;
unsigned long long g_kept_clock = 0;

// Mixes 64-bit words: the key's addresses and the bits of its frame.
uint64_t key_hash(const QVP_TEXT_KEY *k) {
    uint64_t h = 1469598103934665603ULL;
    auto mix = [&h](uint64_t w) {
        h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
        h ^= h >> 32;
    };
    mix((uint64_t)(uintptr_t)k->str);
    mix((uint64_t)(uintptr_t)k->font);
    for (double d : k->frame) {
        uint64_t w;
        memcpy(&w, &d, sizeof w);
        mix(w);
    }
    return h;
}

bool same_key(const QVP_TEXT_KEY *a, const QVP_TEXT_KEY *b) {
    return a->str == b->str && a->len == b->len && a->font == b->font && a->font_tex == b->font_tex &&
           a->char_list == b->char_list && memcmp(a->frame, b->frame, sizeof a->frame) == 0;
}

// The slot of K, or the first free slot of its probe sequence.
QVP_KEPT_TEXT *probe(const QVP_TEXT_KEY *k) {
    uint32_t mask = (uint32_t)g_kept_cap - 1;
    for (uint32_t i = (uint32_t)key_hash(k) & mask;; i = (i + 1) & mask) {
        QVP_KEPT_TEXT *t = &g_kept[i];
        if (!t->key.str || same_key(&t->key, k)) return t;
    }
}

void free_slot(QVP_KEPT_TEXT *t) {
    free(t->text);
    free(t->quads);
    free(t->runs);
    memset(t, 0, sizeof *t);
}

// Doubles the table (64 slots at first) so that one more text fits with
// the table at most half full; false at its bound or out of memory (the
// table is then as it was).
bool make_room() {
    if ((g_kept_used + 1) * 2 <= g_kept_cap) return true;
    if (g_kept_cap >= kKeptTextsMost) return false;
    int cap = g_kept_cap ? 2 * g_kept_cap : 64;
    QVP_KEPT_TEXT *fresh = (QVP_KEPT_TEXT *)PluginRealloc(nullptr, sizeof *fresh * (size_t)cap);
    if (!fresh) return false;
    memset(fresh, 0, sizeof *fresh * (size_t)cap);
    QVP_KEPT_TEXT *old = g_kept;
    int old_cap = g_kept_cap;
    g_kept = fresh;
    g_kept_cap = cap;
    for (int i = 0; i < old_cap; i++)
        if (old[i].key.str) *probe(&old[i].key) = old[i];
    free(old);
    return true;
}

// Grows *P to hold N items of SIZE bytes (doubling); false when it cannot.
bool fit(void **p, int *cap, int n, size_t size) {
    if (n <= *cap) return true;
    long long want = *cap ? *cap : 16;
    while (want < n) want *= 2;
    if (want > INT32_MAX) want = n;
    void *grown = PluginRealloc(*p, size * (size_t)want);
    if (!grown) return false;
    *p = grown;
    *cap = (int)want;
    return true;
}

}  // namespace

const QVP_KEPT_TEXT *FindKeptText(const QVP_TEXT_KEY *key) {
    if (!g_kept_cap || !key->str) return nullptr;
    QVP_KEPT_TEXT *t = probe(key);
    if (!t->key.str || !t->complete || memcmp(t->text, key->str, key->len) != 0) return nullptr;
    t->used = ++g_kept_clock;
    return t;
}

QVP_KEPT_TEXT *RecordKeptText(const QVP_TEXT_KEY *key) {
    if (!key->str || key->len > kKeptBytesMost) return nullptr;
    QVP_KEPT_TEXT *t = nullptr;
    if (g_kept_cap) {
        t = probe(key);
        if (!t->key.str) t = nullptr;  // taken below, once there is room
    }
    if (!t) {
        if (make_room()) {
            t = probe(key);
        } else if (g_kept_cap) {
            // Full: the least recently drawn near the key's home slot.
            uint32_t mask = (uint32_t)g_kept_cap - 1, home = (uint32_t)key_hash(key) & mask;
            t = &g_kept[home];
            // Only slots before the first free one: the key's look-ups
            // stop there.
            for (int k = 1; k < kReuseWindow; k++) {
                QVP_KEPT_TEXT *c = &g_kept[(home + (uint32_t)k) & mask];
                if (!c->key.str) break;
                if (c->used < t->used) t = c;
            }
        } else {
            return nullptr;
        }
    }
    // A slot taken over keeps its buffers; until its new record is
    // complete it serves no look-up, so a failed record draws nothing old.
    if (!fit((void **)&t->text, &t->text_cap, (int)(key->len + 1), 1)) {
        t->complete = 0;
        return nullptr;
    }
    memcpy(t->text, key->str, key->len + 1);
    if (!t->key.str) g_kept_used++;
    t->key = *key;
    t->cells = 0;
    t->nruns = 0;
    t->complete = 0;
    t->used = ++g_kept_clock;
    return t;
}

int KeptTextAdd(QVP_KEPT_TEXT *t, GLuint tex, const float *quads, int cells) {
    if (cells <= 0) return 1;
    if (t->cells + cells > kKeptCellsMost || !fit((void **)&t->quads, &t->cell_cap, t->cells + cells, kKeptCellFloats * sizeof(float)) ||
        !fit((void **)&t->runs, &t->run_cap, t->nruns + 1, sizeof *t->runs))
        return 0;
    memcpy(t->quads + (size_t)t->cells * kKeptCellFloats, quads, sizeof(float) * kKeptCellFloats * (size_t)cells);
    QVP_TEXT_RUN &r = t->runs[t->nruns++];
    r.tex = tex;
    r.first = t->cells;
    r.cells = cells;
    t->cells += cells;
    return 1;
}

void KeptTextDone(QVP_KEPT_TEXT *t, int complete) { t->complete = complete != 0; }

int KeptTextCount(void) {
    int n = 0;
    for (int i = 0; i < g_kept_cap; i++) n += g_kept[i].key.str && g_kept[i].complete;
    return n;
}

void ResetKeptTexts(void) {
    for (int i = 0; i < g_kept_cap; i++) free_slot(&g_kept[i]);
    free(g_kept);
    g_kept = nullptr;
    g_kept_cap = g_kept_used = 0;
    g_kept_clock = 0;
}
