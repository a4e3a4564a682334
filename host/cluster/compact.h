/* compact.h - the published state as the shortest list of entries that
 * rebuilds it: what a snapshot holds. */
#ifndef QVP_COMPACT_H
#define QVP_COMPACT_H

#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qvpcl {

/* One stream entry: its op (the command words as a Tcl list) and its
 * element id field ("" for none). */
struct Entry {
    std::string op, id;
};

/* Follows the entries a publisher sent and keeps only those the current
 * state needs, in an order that rebuilds it: a deleted canvas, element or
 * image takes its entries with it; configures of one canvas or element
 * are merged into one (a later value of an option replaces the earlier)
 * at the place of the latest. Its size follows the state, not the
 * history. */
class Compactor {
public:
    void Take(const Entry &e);
    std::vector<Entry> Entries() const;
    size_t Size() const { return list_.size(); }
    /* The content hashes of the files the entries name (qvp-file:HASH). */
    std::set<std::string> Files() const;
    void Clear();

private:
    struct Ent {
        std::vector<std::string> words;
        std::string id;
    };
    using It = std::list<Ent>::iterator;
    // The entries about one canvas or element, and its merged configure.
    struct Owned {
        std::vector<It> its;
        It config;
        bool has_config = false;
    };
    struct Canvas {
        Owned own;
        std::map<std::string, Owned> elements;
    };
    void Merge(It into, const std::vector<std::string> &words, size_t first);
    void Configure(Owned &o, const std::vector<std::string> &words, const std::string &id, size_t first);
    void Drop(std::vector<It> &its);

    std::list<Ent> list_;
    std::map<std::string, Canvas> canvases_;
    std::map<std::string, It> images_;
};

/* A snapshot's text: "qvp-snapshot 1 LAST ADDED {OP ID} ...", LAST the id
 * of the last stream entry it covers and ADDED the stream's entries-added
 * count at that entry (so a reader knows how many entries came before
 * the ones the stream still holds). */
std::string SnapshotText(const std::string &last, long long added, const std::vector<Entry> &entries);
/* Reads a snapshot's text; false with ERR set for one that is truncated,
 * malformed or of another version. */
bool ParseSnapshot(const std::string &text, std::string &last, long long &added, std::vector<Entry> &entries,
                   std::string &err);

/* -1, 0 or 1 as stream id A ("MS-SEQ") is before, equal to or after B. */
int CompareIds(const std::string &a, const std::string &b);

}  // namespace qvpcl

#endif
