/* builder_internal.h - private pieces shared by the canvas builder's
 * files. */
#ifndef QVP_BUILDER_INTERNAL_H
#define QVP_BUILDER_INTERNAL_H

#include <string>

#include "canvas_builder.h"

namespace qvpc {

/* Arena copy of a string, or null when the arena is full. */
char *ArenaString(const std::string &s);

/* Starts and stops the producer of a video element; StartVideo fills
 * the element's size, name and frame buffers. */
bool StartVideo(QVP_CANVAS_ELEMENT *e, const VideoSource &src, std::string &err);
void StopVideo(QVP_CANVAS_ELEMENT *e);

/* The source a running producer was started with. */
VideoSource VideoSourceOf(const QVP_CANVAS_ELEMENT *e);

}  // namespace qvpc

#endif
