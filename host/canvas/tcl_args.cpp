// tcl_args.cpp - readers of command arguments shared by the viewer's and
// the canvas builder's Tcl commands.
#include "tcl_args.h"

#include <float.h>
#include <limits.h>
#include <ctype.h>
#include <string.h>

#include <cmath>

namespace qvptcl {

int Fail(Tcl_Interp *interp, const char *code, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    Tcl_SetErrorCode(interp, "QVP", code, msg.c_str(), (char *)NULL);
    return TCL_ERROR;
}

bool Double(Tcl_Interp *interp, Tcl_Obj *o, double &v, const std::string &opt) {
    if (Tcl_GetDoubleFromObj(nullptr, o, &v) == TCL_OK) {
        if (std::isfinite(v)) return true;
        Fail(interp, "VALUE", opt + ": " + Tcl_GetString(o) + " is not a finite number");
        return false;
    }
    Fail(interp, "VALUE", opt + ": bad number \"" + Tcl_GetString(o) + "\"");
    return false;
}

bool Float(Tcl_Interp *interp, Tcl_Obj *o, float &v, const std::string &opt) {
    double d;
    if (!Double(interp, o, d, opt)) return false;
    if (std::fabs(d) > FLT_MAX) {
        Fail(interp, "VALUE", opt + ": " + Tcl_GetString(o) + " is out of range (-3.4e38 to 3.4e38)");
        return false;
    }
    v = (float)d;
    return true;
}

bool IntValue(Tcl_Obj *o, int &v) {
    Tcl_WideInt w;
    if (Tcl_GetWideIntFromObj(nullptr, o, &w) != TCL_OK || w < INT_MIN || w > INT_MAX) return false;
    v = (int)w;
    return true;
}

bool Int(Tcl_Interp *interp, Tcl_Obj *o, int &v, const std::string &opt) {
    if (IntValue(o, v)) return true;
    Tcl_WideInt w;
    if (Tcl_GetWideIntFromObj(nullptr, o, &w) == TCL_OK)
        Fail(interp, "VALUE", opt + ": " + Tcl_GetString(o) + " is out of range (-2147483648 to 2147483647)");
    else
        Fail(interp, "VALUE", opt + ": bad integer \"" + Tcl_GetString(o) + "\"");
    return false;
}

bool Bool(Tcl_Interp *interp, Tcl_Obj *o, int &v, const std::string &opt) {
    if (Tcl_GetBooleanFromObj(nullptr, o, &v) == TCL_OK) return true;
    Fail(interp, "VALUE", opt + " wants 0 or 1, got \"" + Tcl_GetString(o) + "\"");
    return false;
}

bool List(Tcl_Interp *interp, Tcl_Obj *o, std::vector<Tcl_Obj *> &out, const std::string &opt) {
    int n;
    Tcl_Obj **el;
    if (Tcl_ListObjGetElements(nullptr, o, &n, &el) != TCL_OK) {
        Fail(interp, "VALUE", opt + ": not a list: \"" + Tcl_GetString(o) + "\"");
        return false;
    }
    out.assign(el, el + n);
    return true;
}

namespace {
// Reads a list of exactly N values with READ; WHAT names them in messages.
template <class T, class Read>
bool list_of(Tcl_Interp *interp, Tcl_Obj *o, int n, T *v, const std::string &opt, const char *what, Read read) {
    std::vector<Tcl_Obj *> el;
    if (!List(interp, o, el, opt)) return false;
    if ((int)el.size() != n) {
        Fail(interp, "VALUE", opt + " wants " + std::to_string(n) + " " + what + ", got \"" + Tcl_GetString(o) + "\"");
        return false;
    }
    for (int i = 0; i < n; i++)
        if (!read(interp, el[(size_t)i], v[i], opt)) return false;
    return true;
}
}  // namespace

bool Doubles(Tcl_Interp *interp, Tcl_Obj *o, int n, double *v, const std::string &opt) {
    return list_of(interp, o, n, v, opt, "numbers", Double);
}

bool Floats(Tcl_Interp *interp, Tcl_Obj *o, int n, float *v, const std::string &opt) {
    return list_of(interp, o, n, v, opt, "numbers", Float);
}

bool Ints(Tcl_Interp *interp, Tcl_Obj *o, int n, int *v, const std::string &opt) {
    return list_of(interp, o, n, v, opt, "integers", Int);
}

namespace {

struct NamedColour {
    const char *name;
    unsigned rgb;
};

// Sorted by name.
const NamedColour kColours[] = {
#include "colour_names.inc"
};

int hex_digit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

}  // namespace

bool ColorName(const char *name, float rgb[3]) {
    if (name[0] == '#') {
        size_t n = strlen(name + 1);
        if (n == 0 || n % 3 || n > 12) return false;
        size_t per = n / 3;
        for (int k = 0; k < 3; k++) {
            unsigned v = 0;
            for (size_t i = 0; i < per; i++) {
                int d = hex_digit(name[1 + k * per + i]);
                if (d < 0) return false;
                v = v * 16 + (unsigned)d;
            }
            rgb[k] = (float)(v / (double)((1u << (4 * per)) - 1));
        }
        return true;
    }
    char key[64];
    size_t n = 0;
    for (const char *p = name; *p; p++) {
        if (*p == ' ') continue;
        if (n + 1 >= sizeof key) return false;
        key[n++] = (char)tolower((unsigned char)*p);
    }
    key[n] = 0;
    size_t lo = 0, hi = sizeof kColours / sizeof kColours[0];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int cmp = strcmp(kColours[mid].name, key);
        if (cmp == 0) {
            for (int k = 0; k < 3; k++) rgb[k] = (float)(((kColours[mid].rgb >> (16 - 8 * k)) & 0xff) / 255.0);
            return true;
        }
        if (cmp < 0) lo = mid + 1;
        else hi = mid;
    }
    return false;
}

bool Color(Tcl_Interp *interp, Tcl_Obj *o, float c[3], const std::string &opt, bool allow_none) {
    const char *word = Tcl_GetString(o);
    if (allow_none && strcmp(word, "none") == 0) {
        c[0] = -1;
        c[1] = c[2] = 0;
        return true;
    }
    if (ColorName(word, c)) return true;
    int len = 0;
    if (Tcl_ListObjLength(nullptr, o, &len) != TCL_OK || len == 1) {
        Fail(interp, "VALUE", opt + ": bad colour \"" + word + "\": must be a colour name, #rrggbb or {r g b} in 0..1" +
                                  (allow_none ? ", or none" : ""));
        return false;
    }
    double d[3];
    if (!Doubles(interp, o, 3, d, opt)) return false;
    for (double x : d)
        if (x < 0 || x > 1) {
            Fail(interp, "VALUE", opt + ": colour components run from 0 to 1" + (allow_none ? ", or use none" : ""));
            return false;
        }
    for (int i = 0; i < 3; i++) c[i] = (float)d[i];
    return true;
}

bool Pairs(Tcl_Interp *interp, int objc, int first, Tcl_Obj *const objv[]) {
    if ((objc - first) % 2 == 0) return true;
    std::string msg = std::string("option \"") + Tcl_GetString(objv[objc - 1]) + "\" has no value";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    Tcl_SetErrorCode(interp, "TCL", "ARGUMENT", "MISSING", (char *)NULL);
    return false;
}

bool Subcommand(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], const char *const subs[], const char *usage,
                int &which) {
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, usage);
        return false;
    }
    return Tcl_GetIndexFromObj(interp, objv[1], subs, "subcommand", 0, &which) == TCL_OK;
}

bool Option(Tcl_Interp *interp, Tcl_Obj *o, const char *const options[], int &which) {
    return Tcl_GetIndexFromObj(interp, o, options, "option", 0, &which) == TCL_OK;
}

int WrongArgs(Tcl_Interp *interp, int count, Tcl_Obj *const objv[], const char *message) {
    Tcl_WrongNumArgs(interp, count, objv, message);
    return TCL_ERROR;
}

}  // namespace qvptcl
