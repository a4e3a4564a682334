// kept_text.cpp - laid-out texts kept from frame to frame: the glyph
// quads of a text, in the runs of one texture each that its layout drew,
// kept per process under the text's address, font and frame, so that a
// text drawn again unchanged goes to GL without being laid out again.
//
// A kept text holds a copy of the string it was laid out from and is
// used only while the string still reads the same, so an edit in place
// (same address, other bytes) is laid out anew. A text is first only
// seen: 26 bits of a fingerprint of its key and string go into one of
// two notes beside the index slot where its look-up begins (the same
// cache line), and it enters the table and is recorded the next time it
// is drawn unchanged. Labels that move or change every frame therefore
// take no entry: they cost a hash, one probe and one store. (When both
// notes were written in this frame, the text is seen in the table
// instead, so texts that share notes are kept all the same.)
//
// Bounds: at most kKeptTextsMost texts (the index is never more than
// half full, so every look-up ends), at most kKeptBytesMost bytes of
// strings, quads and runs together, the least recently drawn text going
// first when either is reached; a text not drawn for kKeptFramesIdle
// frames is let go. A steady frame allocates nothing.
#include <stdlib.h>
#include <string.h>

#include "dc_services.h"
#include "dc_text.h"
#include "drawcanvas_testing.h"
#include "lru_index.h"
#include "qvp_globals.h"

namespace {

// The bounds, as the table starts with; tests set smaller ones through
// SetKeptTextBounds.
const int kKeptTextsMost = 8192;
const size_t kKeptBytesMost = 8u << 20;
// A text of more cells than this is laid out every time (640 KiB of
// quads), and so is one longer than kKeptTextBytesMost.
const int kKeptCellsMost = 8192;
const size_t kKeptTextBytesMost = 64u << 10;
// Frames a kept text may go undrawn before it is let go.
const int kKeptFramesIdle = 600;

// The index and its records (entry i of g_index is g_kept[i]), the bytes
// the records' buffers hold and the bounds in force. Made at the first
// look-up, emptied by ResetKeptTexts; the bounds change only through
// SetKeptTextBounds.
LruIndex g_index;
QVP_KEPT_TEXT *g_kept = nullptr;
size_t g_kept_bytes = 0;
int g_texts_most = kKeptTextsMost;
size_t g_bytes_most = kKeptBytesMost;
// Set by SetKeptTextsOff: every text laid out, nothing kept (benchmarks
// compare against it).
bool g_off = false;
// Set by SetKeptTextsGrow: no bound and no idle age, the table doubling
// when full (the fault the long-show soak must catch).
bool g_grow = false;

void mix(uint64_t &h, uint64_t w) {
    h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 32;
}

// Mixes 64-bit words: the key's addresses and the bits of its frame.
uint64_t key_hash(const QVP_TEXT_KEY *k) {
    uint64_t h = 1469598103934665603ULL;
    mix(h, (uint64_t)(uintptr_t)k->str);
    mix(h, (uint64_t)(uintptr_t)k->font);
    for (double d : k->frame) {
        uint64_t w;
        memcpy(&w, &d, sizeof w);
        mix(h, w);
    }
    return h;
}

// The key's hash mixed with the string's bytes, 8 at a time.
uint64_t fingerprint(uint64_t key_h, const char *s, size_t len) {
    uint64_t h = key_h ^ len;
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t w;
        memcpy(&w, s + i, 8);
        mix(h, w);
    }
    uint64_t w = 0;
    memcpy(&w, s + i, len - i);
    mix(h, w);
    return h;
}

bool same_key(const QVP_TEXT_KEY *a, const QVP_TEXT_KEY *b) {
    return a->str == b->str && a->len == b->len && a->font == b->font && a->font_tex == b->font_tex &&
           a->char_list == b->char_list && memcmp(a->frame, b->frame, sizeof a->frame) == 0;
}

size_t held_bytes(const QVP_KEPT_TEXT *t) {
    return (size_t)t->text_cap + (size_t)t->cell_cap * kKeptCellFloats * sizeof(float) +
           (size_t)t->run_cap * sizeof(QVP_TEXT_RUN);
}

// Frees what record T holds and empties it.
void release(QVP_KEPT_TEXT *t) {
    g_kept_bytes -= held_bytes(t);
    free(t->text);
    free(t->quads);
    free(t->runs);
    memset(t, 0, sizeof *t);
}

void evict(int e) {
    g_index.Remove(e);
    release(&g_kept[e]);
}

// What seen_before found.
enum Seen { kSeenBefore, kNoted, kCrowded };

// Whether fingerprint FP of a text of key hash H was noted as seen once
// since it was last taken into the table (the note is then cleared).
// Else it is noted (26 bits of FP and 6 of the frame) in a free note of
// its two, or over the one written longer ago; kCrowded when both were
// written in this frame (three texts that share the notes, drawn every
// frame, would else push each other out for ever). The frame's 6 bits
// repeat every 64 frames: an old note then looks new, which only makes a
// text wait a frame or be seen in the table.
Seen seen_before(uint64_t h, uint64_t fp, int frame) {
    const uint32_t kStamp = 63;
    uint32_t mark = (uint32_t)(fp >> 38) | 1, *a = g_index.Note(h, 0), *b = g_index.Note(h, 1);
    if (*a >> 6 == mark || *b >> 6 == mark) {
        *(*a >> 6 == mark ? a : b) = 0;
        return kSeenBefore;
    }
    uint32_t now = (uint32_t)frame & kStamp, age_a = (now - *a) & kStamp, age_b = (now - *b) & kStamp;
    uint32_t *p = *a == 0 ? a : *b == 0 ? b : age_a >= age_b ? a : b;
    if (*p != 0 && (p == a ? age_a : age_b) == 0) return kCrowded;
    *p = mark << 6 | now;
    return kNoted;
}

// Makes the index and its records; false when memory is short (nothing
// is kept then).
bool ready() {
    return g_index.Ready() || LruReserve(g_index, &g_kept, g_texts_most, PluginRealloc);
}

// Lets the least recently drawn texts other than KEEP go until MORE
// bytes fit under the bound; false when they cannot.
bool room_for(size_t more, const QVP_KEPT_TEXT *keep) {
    while (!g_grow && g_kept_bytes + more > g_bytes_most) {
        int e = g_index.Oldest();
        while (e >= 0 && &g_kept[e] == keep) e = g_index.Newer(e);
        if (e < 0) return false;
        evict(e);
    }
    return true;
}

// Grows buffer *P of T to hold N items of SIZE bytes (doubling, within
// the byte bound); false when it cannot.
bool fit(QVP_KEPT_TEXT *t, void **p, int *cap, int n, size_t size) {
    if (n <= *cap) return true;
    long long want = *cap ? *cap : 16;
    while (want < n) want *= 2;
    size_t more = size * (size_t)(want - *cap);
    if (!room_for(more, t)) return false;
    void *grown = PluginRealloc(*p, size * (size_t)want);
    if (!grown) return false;
    *p = grown;
    *cap = (int)want;
    g_kept_bytes += more;
    return true;
}

// Doubles the index and its records, keeping every text and their order
// (SetKeptTextsGrow only); false, with the table as it was, when memory
// is short.
bool grow_table() {
    int most = g_index.Most() * 2;
    if (!LruReserve(g_index, &g_kept, most, PluginRealloc)) return false;
    g_texts_most = most;
    return true;
}

// Empties T and copies KEY's string into it, so that the layout about to
// be drawn is recorded into T (*RECORD = T); nothing recorded when there
// is no room for the copy.
void start_recording(QVP_KEPT_TEXT *t, const QVP_TEXT_KEY *key, QVP_KEPT_TEXT **record) {
    t->cells = t->nruns = 0;
    t->complete = 0;
    memset(&t->ink, 0, sizeof t->ink);
    if (!fit(t, (void **)&t->text, &t->text_cap, (int)(key->len + 1), 1)) return;
    memcpy(t->text, key->str, key->len + 1);
    *record = t;
}

}  // namespace

const QVP_KEPT_TEXT *FindKeptText(const QVP_TEXT_KEY *key, QVP_KEPT_TEXT **record) {
    *record = nullptr;
    if (g_off || !key->str || key->len > kKeptTextBytesMost || !ready()) return nullptr;
    int frame = QVV_display ? QVV_display->frame_count : 0;
    uint64_t h = key_hash(key);
    int e = g_index.Find(h, [key](int i) { return same_key(&g_kept[i].key, key); });
    if (e >= 0) {
        QVP_KEPT_TEXT *t = &g_kept[e];
        g_index.Touch(e);
        t->frame = frame;
        if (t->complete && memcmp(t->text, key->str, key->len) == 0) return t;
        uint64_t fp = fingerprint(h, key->str, key->len);
        if (fp != t->fp) {
            // Changed since it was last drawn: it leaves the table and is
            // only noted, as a text seen once. (Kept as an entry, a text
            // edited at an address the arena hands out again and again
            // would hold its entry for ever.)
            evict(e);
            seen_before(h, fp, frame);
            return nullptr;
        }
        // Drawn unchanged twice: recorded, into the buffers it has.
        start_recording(t, key, record);
        return nullptr;
    }
    uint64_t fp = fingerprint(h, key->str, key->len);
    Seen seen = seen_before(h, fp, frame);
    if (seen == kNoted) return nullptr;
    if (g_grow && g_index.Count() == g_index.Most()) grow_table();
    int evicted;
    e = g_index.Insert(h, &evicted);
    if (evicted >= 0) release(&g_kept[evicted]);
    QVP_KEPT_TEXT *t = &g_kept[e];
    t->key = *key;
    t->fp = fp;
    t->frame = frame;
    // Its notes crowded: seen in the table, recorded the next time.
    if (seen == kCrowded) return nullptr;
    // Seen unchanged before: recorded now.
    start_recording(t, key, record);
    return nullptr;
}

int KeptTextAdd(QVP_KEPT_TEXT *t, GLuint tex, const float *quads, int cells) {
    if (cells <= 0) return 1;
    if (t->cells + cells > kKeptCellsMost ||
        !fit(t, (void **)&t->quads, &t->cell_cap, t->cells + cells, kKeptCellFloats * sizeof(float)) ||
        !fit(t, (void **)&t->runs, &t->run_cap, t->nruns + 1, sizeof *t->runs))
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

void AgeKeptTexts(int frame) {
    if (!g_index.Ready() || g_grow) return;
    for (int e = g_index.Oldest(); e >= 0 && frame - g_kept[e].frame > kKeptFramesIdle; e = g_index.Oldest()) evict(e);
}

int KeptTextCount(void) {
    int n = 0;
    for (int i = 0; g_kept && i < g_index.Most(); i++) n += g_kept[i].key.str && g_kept[i].complete;
    return n;
}

void ResetKeptTexts(void) {
    for (int i = 0; g_kept && i < g_index.Most(); i++)
        if (g_kept[i].key.str) release(&g_kept[i]);
    free(g_kept);
    g_kept = nullptr;
    g_index.Free();
    g_kept_bytes = 0;
}

void SetKeptTextBounds(int texts, size_t bytes) {
    ResetKeptTexts();
    g_texts_most = texts > 0 ? texts : kKeptTextsMost;
    g_bytes_most = bytes > 0 ? bytes : kKeptBytesMost;
}

void SetKeptTextsOff(int off) {
    ResetKeptTexts();
    g_off = off != 0;
}

void SetKeptTextsGrow(int grow) {
    ResetKeptTexts();
    g_texts_most = kKeptTextsMost;
    g_grow = grow != 0;
}

KeptTextStats GetKeptTextStats(void) {
    LruIndexStats s = g_index.Stats();
    KeptTextStats st = {s.entries, KeptTextCount(), g_texts_most, g_kept_bytes, g_bytes_most, s.longest, 0, 0};
    int frame = QVV_display ? QVV_display->frame_count : 0;
    for (int i = 0; g_kept && i < g_index.Most(); i++) {
        const QVP_KEPT_TEXT *t = &g_kept[i];
        if (!t->key.str) continue;
        st.seen_only += !t->text;
        if (frame - t->frame > st.oldest_age) st.oldest_age = frame - t->frame;
    }
    return st;
}

int KeptTextHolds(const char *str, int complete_only) {
    for (int i = 0; g_kept && i < g_index.Most(); i++)
        if (g_kept[i].key.str == str && (!complete_only || g_kept[i].complete)) return 1;
    return 0;
}
