/* tcl_args.h - reading command arguments in the host's Tcl commands.
 * Each reader returns false after setting the interpreter's result to a
 * message that names the option and the bad value, with error code
 * {QVP VALUE ...}. */
#ifndef QVP_TCL_ARGS_H
#define QVP_TCL_ARGS_H

#include <tcl.h>

#include <string>
#include <vector>

namespace qvptcl {

/* Sets MSG as the result with error code {QVP CODE MSG}; returns TCL_ERROR. */
int Fail(Tcl_Interp *interp, const char *code, const std::string &msg);

/* One finite number, one that fits a float, an int (read wide: values
 * that do not fit are refused, not wrapped) or a boolean. */
bool Double(Tcl_Interp *interp, Tcl_Obj *o, double &v, const std::string &opt);
bool Float(Tcl_Interp *interp, Tcl_Obj *o, float &v, const std::string &opt);
bool Int(Tcl_Interp *interp, Tcl_Obj *o, int &v, const std::string &opt);

/* O as an int, without a message; false when it is none or does not fit. */
bool IntValue(Tcl_Obj *o, int &v);
bool Bool(Tcl_Interp *interp, Tcl_Obj *o, int &v, const std::string &opt);

/* The elements of a list. */
bool List(Tcl_Interp *interp, Tcl_Obj *o, std::vector<Tcl_Obj *> &out, const std::string &opt);

/* A list of exactly N numbers or ints. */
bool Doubles(Tcl_Interp *interp, Tcl_Obj *o, int n, double *v, const std::string &opt);
bool Floats(Tcl_Interp *interp, Tcl_Obj *o, int n, float *v, const std::string &opt);
bool Ints(Tcl_Interp *interp, Tcl_Obj *o, int n, int *v, const std::string &opt);

/* A colour: {r g b} in 0..1, a colour name as Tk knows them ("red",
 * "light blue", "gray50"; case and spaces do not matter), or #rgb,
 * #rrggbb, #rrrgggbbb, #rrrrggggbbbb; with ALLOW_NONE also "none",
 * stored with a red of -1. */
bool Color(Tcl_Interp *interp, Tcl_Obj *o, float c[3], const std::string &opt, bool allow_none);

/* The colour named NAME (as Color reads names and #hex) in RGB 0..1;
 * false when it is none. */
bool ColorName(const char *name, float rgb[3]);

/* True when the words from OBJV[FIRST] on pair up as options and values;
 * else "option \"-x\" has no value" with Tcl's {TCL ARGUMENT MISSING}. */
bool Pairs(Tcl_Interp *interp, int objc, int first, Tcl_Obj *const objv[]);

/* The subcommand OBJV[1] of a command, from the null-terminated table
 * SUBS (unique abbreviations taken), as Tcl's own ensembles read it: no
 * word gives Tcl_WrongNumArgs with USAGE, an unknown one "bad subcommand
 * ... must be ..." with {TCL LOOKUP INDEX subcommand WORD}. */
bool Subcommand(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], const char *const subs[], const char *usage,
                int &which);

/* The option word O from the null-terminated table OPTIONS: "bad option
 * ... must be ..." with {TCL LOOKUP INDEX option WORD} otherwise. */
bool Option(Tcl_Interp *interp, Tcl_Obj *o, const char *const options[], int &which);

/* Sets Tcl_WrongNumArgs's message for OBJV[0..COUNT-1] and MESSAGE;
 * returns TCL_ERROR. */
int WrongArgs(Tcl_Interp *interp, int count, Tcl_Obj *const objv[], const char *message);

}  // namespace qvptcl

#endif
