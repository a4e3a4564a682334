/* builder_internal.h - private pieces shared by the canvas builder's
 * files. */
#ifndef QVP_BUILDER_INTERNAL_H
#define QVP_BUILDER_INTERNAL_H

#include <string>

#include "canvas_builder.h"
#include "qvp_canvas_roots.h"

namespace qvpc {

/* True when PATH names a regular file this process can open; else WHY
 * says what it is instead ("a directory", "not a regular file", or the
 * system's reason). */
bool regular_file(const std::string &path, std::string &why);

/* The message for an arena that cannot give BYTES for WHAT: how much is
 * needed, how much is free, and the remedy. */
std::string ArenaFull(const std::string &what, size_t bytes);

/* Arena copy of a string, or null when the arena is full. */
char *ArenaString(const std::string &s);

/* Empties this process's image registry without touching the arena (the
 * scene its pixels were in is closed). */
void ForgetImages();

/* Starts and stops the producer of a video element; StartVideo fills
 * the element's size, name, frame buffers and shared play records. The
 * clip starts at its first frame, or goes on from CARRY when given (the
 * same file started again with other options). */
bool StartVideo(QVP_CANVAS_ELEMENT *e, const VideoSource &src, std::string &err, const PlayState *carry = nullptr);
void StopVideo(QVP_CANVAS_ELEMENT *e);

/* The source video element E was started with, as its shared record
 * says (any process); the default source when it has none. */
VideoSource VideoSourceOf(const QVP_CANVAS_ELEMENT *e);

}  // namespace qvpc

#endif
