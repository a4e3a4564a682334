// compact.cpp - the published state kept as the entries that rebuild it,
// and the text of a snapshot.
#include "compact.h"

#include <stdlib.h>
#include <string.h>
#include <tcl.h>

#include <algorithm>

namespace qvpcl {

namespace {

std::vector<std::string> split(const std::string &op) {
    std::vector<std::string> out;
    Tcl_Obj *l = Tcl_NewStringObj(op.data(), (int)op.size());
    Tcl_IncrRefCount(l);
    int n = 0;
    Tcl_Obj **w = nullptr;
    if (Tcl_ListObjGetElements(nullptr, l, &n, &w) == TCL_OK)
        for (int i = 0; i < n; i++) out.push_back(Tcl_GetString(w[i]));
    Tcl_DecrRefCount(l);
    return out;
}

std::string join(const std::vector<std::string> &words) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(l);
    for (const std::string &w : words) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(w.data(), (int)w.size()));
    std::string s = Tcl_GetString(l);
    Tcl_DecrRefCount(l);
    return s;
}

}  // namespace

void Compactor::Drop(std::vector<It> &its) {
    for (It it : its) list_.erase(it);
    its.clear();
}

// Merges the option pairs of WORDS from FIRST on into entry INTO (its
// own pairs start at the same place) and moves it to the end.
void Compactor::Merge(It into, const std::vector<std::string> &words, size_t first) {
    std::vector<std::string> &have = into->words;
    for (size_t i = first; i + 1 < words.size(); i += 2) {
        for (size_t k = first; k + 1 < have.size(); k += 2)
            if (have[k] == words[i]) {
                have.erase(have.begin() + (long)k, have.begin() + (long)k + 2);
                break;
            }
        have.push_back(words[i]);
        have.push_back(words[i + 1]);
    }
    list_.splice(list_.end(), list_, into);
}

// Merges a configure of WORDS (options from FIRST on) into O's merged
// configure, or appends it as that.
void Compactor::Configure(Owned &o, const std::vector<std::string> &words, const std::string &id, size_t first) {
    if (o.has_config) {
        Merge(o.config, words, first);
        return;
    }
    list_.push_back(Ent{words, id});
    o.config = std::prev(list_.end());
    o.has_config = true;
    o.its.push_back(o.config);
}

void Compactor::Take(const Entry &e) {
    std::vector<std::string> w = split(e.op);
    if (w.size() < 2) return;
    const std::string &cmd = w[0], &sub = w[1];
    std::string name = w.size() > 2 ? w[2] : "";
    auto append = [&]() {
        list_.push_back(Ent{w, e.id});
        return std::prev(list_.end());
    };
    if (cmd == "image" && sub == "delete") {
        auto it = images_.find(name);
        if (it != images_.end()) {
            list_.erase(it->second);
            images_.erase(it);
        }
        return;
    }
    if (cmd == "image" && sub == "create") {
        auto old = images_.find(name);
        if (old != images_.end()) list_.erase(old->second);
        images_[name] = append();
        return;
    }
    if (cmd != "canvas") {
        append();
        return;
    }
    if (sub == "delete") {
        auto it = canvases_.find(name);
        if (it == canvases_.end()) return;
        Drop(it->second.own.its);
        for (auto &el : it->second.elements) Drop(el.second.its);
        canvases_.erase(it);
        return;
    }
    Canvas &c = canvases_[name];
    if (sub == "create") {
        c.own.its.push_back(append());
    } else if (sub == "configure") {
        Configure(c.own, w, e.id, 3);
    } else if (sub == "add") {
        c.elements[e.id].its.push_back(append());
    } else if (sub == "itemconfigure" && w.size() > 3) {
        Configure(c.elements[w[3]], w, e.id, 4);
    } else if (sub == "itemdelete" && w.size() > 3) {
        auto it = c.elements.find(w[3]);
        if (it != c.elements.end()) {
            Drop(it->second.its);
            c.elements.erase(it);
        }
    } else {
        c.own.its.push_back(append());
    }
}

std::vector<Entry> Compactor::Entries() const {
    std::vector<Entry> out;
    out.reserve(list_.size());
    for (const Ent &e : list_) out.push_back(Entry{join(e.words), e.id});
    return out;
}

std::set<std::string> Compactor::Files() const {
    std::set<std::string> files;
    for (const Ent &e : list_)
        for (const std::string &w : e.words)
            if (w.compare(0, 9, "qvp-file:") == 0) files.insert(w.substr(9, 64));
    return files;
}

void Compactor::Clear() {
    list_.clear();
    canvases_.clear();
    images_.clear();
}

std::string SnapshotText(const std::string &last, long long added, const std::vector<Entry> &entries) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(l);
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj("qvp-snapshot", -1));
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj(1));
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(last.c_str(), -1));
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewWideIntObj(added));
    for (const Entry &e : entries) {
        Tcl_Obj *pair[2] = {Tcl_NewStringObj(e.op.data(), (int)e.op.size()), Tcl_NewStringObj(e.id.data(), (int)e.id.size())};
        Tcl_ListObjAppendElement(nullptr, l, Tcl_NewListObj(2, pair));
    }
    std::string s = Tcl_GetString(l);
    Tcl_DecrRefCount(l);
    return s;
}

bool ParseSnapshot(const std::string &text, std::string &last, long long &added, std::vector<Entry> &entries,
                   std::string &err) {
    entries.clear();
    Tcl_Obj *l = Tcl_NewStringObj(text.data(), (int)text.size());
    Tcl_IncrRefCount(l);
    int n = 0;
    Tcl_Obj **w = nullptr;
    bool ok = Tcl_ListObjGetElements(nullptr, l, &n, &w) == TCL_OK && n >= 4 &&
              strcmp(Tcl_GetString(w[0]), "qvp-snapshot") == 0;
    if (!ok) err = "it is not a snapshot (truncated or malformed)";
    else if (strcmp(Tcl_GetString(w[1]), "1") != 0) {
        err = std::string("it is of version ") + Tcl_GetString(w[1]) + " (this mirror reads 1)";
        ok = false;
    }
    Tcl_WideInt count = 0;
    if (ok && Tcl_GetWideIntFromObj(nullptr, w[3], &count) != TCL_OK) {
        err = "its entry count is not a number";
        ok = false;
    }
    if (ok) {
        last = Tcl_GetString(w[2]);
        added = count;
    }
    for (int i = 4; ok && i < n; i++) {
        int m = 0;
        Tcl_Obj **pair = nullptr;
        if (Tcl_ListObjGetElements(nullptr, w[i], &m, &pair) != TCL_OK || m != 2) {
            err = "entry " + std::to_string(i - 4) + " of it is malformed";
            ok = false;
            break;
        }
        entries.push_back(Entry{Tcl_GetString(pair[0]), Tcl_GetString(pair[1])});
    }
    Tcl_DecrRefCount(l);
    if (!ok) entries.clear();
    return ok;
}

int CompareIds(const std::string &a, const std::string &b) {
    unsigned long long am = strtoull(a.c_str(), nullptr, 10), bm = strtoull(b.c_str(), nullptr, 10);
    if (am != bm) return am < bm ? -1 : 1;
    size_t ad = a.find('-'), bd = b.find('-');
    unsigned long long as = ad == std::string::npos ? 0 : strtoull(a.c_str() + ad + 1, nullptr, 10);
    unsigned long long bs = bd == std::string::npos ? 0 : strtoull(b.c_str() + bd + 1, nullptr, 10);
    return as == bs ? 0 : as < bs ? -1 : 1;
}

}  // namespace qvpcl
