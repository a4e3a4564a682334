/* gl_floor.h - the GL floor of a frame of canvases. One frame's GL work
 * of the plugin's callbacks is captured: its vertices with their
 * colours and texture coordinates, the textures and states each
 * primitive was drawn with, its clears and texture uploads, and the
 * points where it handed over to the host. The floor then draws the
 * same geometry as hand-written GL would: prebuilt into one static VBO
 * as independent triangles and lines, consecutive primitives of one
 * state merged into one glDrawArrays, and only the states that differ
 * from the last ones set. Replayed in the same phases of the same host
 * frame, it is what the frame costs without the plugin's own work.
 *
 * Capture patches the program's GL slots (got_patch.h) for one frame
 * only, so that nothing is measured through a stand-in. */
#ifndef QVP_GL_FLOOR_H
#define QVP_GL_FLOOR_H

#include <string>

/* Starts capturing: the plugin's GL calls from now on are recorded. */
bool FloorCaptureBegin(std::string &err);

/* Around each plugin callback while capturing: PHASE is its phase code. */
void FloorEnter(int phase);
void FloorLeave(int phase);

/* Ends the capture and builds the floor's VBO. False with ERR when the
 * frame was not steady (it created textures) or recorded nothing. */
bool FloorCaptureEnd(std::string &err);

/* The floor's callback body for PHASE, installed in place of the
 * plugin's: replays what the plugin's callback did there. FloorFrame
 * starts a frame's replay; FloorFailed says (once) why a replay did not
 * follow the frame it was captured from. */
void FloorFrame();
void FloorReplay(int phase);
const char *FloorFailed();

/* Variants of the floor, to tell apart what costs what. With PUSHES it
 * also makes the plugin's drawing-state pushes and pops
 * (QVF_PushDrawingState: the whole GL attribute stack) where the plugin
 * made them. With IMMEDIATE it draws each primitive as the plugin sent
 * it, in immediate mode (glBegin, glColor4fv where the colour changes,
 * glTexCoord2fv and glVertex3fv per vertex, glEnd), with the floor's
 * fewest state changes. */
void FloorSetVariant(bool pushes, bool immediate);

/* What the capture saw. */
struct FloorStats {
    long gl_calls;        // every recorded GL call of the plugin
    long primitives;      // glBegin/glEnd pairs
    long vertices;        // as the plugin sent them
    long floor_vertices;  // as independent primitives
    long floor_draws;     // glDrawArrays calls per floor frame
    // Draws in a row that differ in enables (mostly texturing), stencil,
    // bound texture, primitive (triangles or lines) and line width; and
    // the floor's other steps (clears, uploads, hand-overs, pushes).
    long split_enables, split_stencil, split_texture, split_mode, split_line_width, floor_other_ops;
    long state_changes;   // state calls per floor frame
    long core_calls;      // hand-overs to the host
    long pushes;          // drawing-state pushes (each with its pop)
    long clears;          // glClear calls
};
FloorStats FloorGetStats();

#endif
