// element.cpp - the element renderer: effective opacity, blending and
// colours shared by every element kind, the dispatch to each kind, and
// text. The shapes are in shapes.cpp, images and video in media.cpp,
// nested canvases in nested.cpp.
#include <GL/glu.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <cmath>

#include "dc_services.h"
#include "dc_text.h"
#include "dc_elements.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

// Colour C times the canvas gain, with the effective opacity as alpha.
void ElementColour(const QVP_CANVAS *pcan, const float *c, float opacity) {
    const float *g = pcan->rgb_gain;
    SetColour(c[0] * g[0], c[1] * g[1], c[2] * g[2], opacity);
}

namespace {

void DrawText(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    QVP_CANVAS_TEXT *t = &pelm->data.text;
    if (!t->pfont) {
        QVF_LogWarningF("No font found for rendering text", QVP_SOURCE, __LINE__);
        return;
    }
    if (!t->buff) {
        QVF_LogWarningF("Unable to find buffer to render!!!!", QVP_SOURCE, __LINE__);
        return;
    }
    // A font or text that is no record of its size (the element's type
    // was changed under its payload) is not read.
    if (!SharedBlockHolds(pelm, t->pfont, sizeof *t->pfont) || !SharedStringFits(pelm, t->buff)) return;
    QVF_StateEnable(GL_TEXTURE_2D, 1);
    glFontBegin(t->pfont);
    // The filters stay on the font's texture after this element (no pop
    // gives texture parameters back); set again only for another font or
    // smoothness.
    SetFontFilters(BoundFont() ? (GLuint)t->pfont->tex_obj : 0, t->smooth);
    double rows = 0, cols = 0;
    glFontTextBBox2D(t->buff, &rows, &cols);
    float cscale = pelm->scale.x * t->col_s, rscale = pelm->scale.y * t->row_s;
    double width = cols * cscale, height = rows * rscale;
    // Text obeys the start bits where both bits of a direction are set.
    double coff = (t->anchor & ANCHOR_COL_START) ? 0.0 : (t->anchor & ANCHOR_COL_END) ? -width : -width / 2;
    double roff = (t->anchor & ANCHOR_ROW_START) ? 0.0 : (t->anchor & ANCHOR_ROW_END) ? -height : -height / 2;
    coff += pelm->offset.x;
    roff += pelm->offset.y;
    ElementColour(pcan, pelm->fcol, opacity);
    const float *g = pcan->rgb_gain;
    float bcol[3] = {pelm->bcol[0] * g[0], pelm->bcol[1] * g[1], pelm->bcol[2] * g[2]};
    glFontScaledTextOut2D(t->buff, pelm->scale.x * t->col + coff, pelm->scale.y * t->row + roff, cscale, rscale,
                          pelm->bcol[0] < 0 ? nullptr : bcol);
    glFontEnd();
}

}  // namespace

void DrawCanvasElement(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm) {
    float opacity = pelm->opacity * pcan->opacity;
    if ((double)opacity <= 0.001) return;
    switch (pelm->type) {
    case ELEMENT_TEXT: DrawText(pcan, pelm, opacity); break;
    case ELEMENT_LINE:
    case ELEMENT_CIRCLE:
    case ELEMENT_RECTANGLE:
    case ELEMENT_POLYGON:
    case ELEMENT_ARC:
        QVF_StateEnable(GL_TEXTURE_2D, 0);
        if (pelm->type == ELEMENT_LINE) DrawLine(pcan, pelm, opacity);
        else if (pelm->type == ELEMENT_CIRCLE) DrawCircle(pcan, pelm, opacity);
        else if (pelm->type == ELEMENT_RECTANGLE) DrawRectangle(pcan, pelm, opacity);
        else if (pelm->type == ELEMENT_POLYGON) DrawPolygon(pcan, pelm, opacity);
        else DrawArc(pcan, pelm, opacity);
        break;
    case ELEMENT_IMAGE: DrawImage(pcan, pelm, opacity); break;
    case ELEMENT_VIDEO: DrawVideo(pelm, opacity); break;
    case ELEMENT_CANVAS: DrawNested(pelm, opacity); break;
    // Node elements belong to the view pass.
    case ELEMENT_NODE:
    default: break;
    }
}

void ResetElementCaches(void) {
    ResetShapeCaches();
    ResetMediaCaches();
    ResetNestedBudget();
}
