/* drawcanvas_private.h - everything the areas of the qvp_drawcanvas plugin
 * share, one header per layer: services, the GL state filter and
 * submission, the canvas frame stack, text, canvases, elements, the passes. A plugin file
 * includes the layers it uses; tests include this one. */
#ifndef DRAWCANVAS_PRIVATE_H
#define DRAWCANVAS_PRIVATE_H

#include "dc_services.h"
#include "dc_glstate.h"
#include "dc_frame.h"
#include "dc_text.h"
#include "dc_canvas.h"
#include "dc_elements.h"
#include "dc_passes.h"

#endif
