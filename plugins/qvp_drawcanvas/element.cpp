// element.cpp - the element renderer: effective opacity, blending and
// colours shared by every element kind, and text elements.
#include "drawcanvas_private.h"
#include "qvp_externs.h"

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
    glEnable(GL_TEXTURE_2D);
    glFontBegin(t->pfont);
    // The filters stay on the font's texture after this element.
    if (t->smooth) {
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    } else {
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_NEAREST);
    }
    double rows = 0, cols = 0;
    glFontTextBBox2D(t->buff, &rows, &cols);
    float cscale = pelm->scale.x * t->col_s, rscale = pelm->scale.y * t->row_s;
    double width = cols * cscale, height = rows * rscale;
    // Text obeys the start bits where both bits of a direction are set.
    double coff = (t->anchor & ANCHOR_COL_START) ? 0.0 : (t->anchor & ANCHOR_COL_END) ? -width : -width / 2;
    double roff = (t->anchor & ANCHOR_ROW_START) ? 0.0 : (t->anchor & ANCHOR_ROW_END) ? -height : -height / 2;
    coff += pelm->offset.x;
    roff += pelm->offset.y;
    const float *g = pcan->rgb_gain;
    glColor4f(pelm->fcol[0] * g[0], pelm->fcol[1] * g[1], pelm->fcol[2] * g[2], opacity);
    float bcol[3] = {pelm->bcol[0] * g[0], pelm->bcol[1] * g[1], pelm->bcol[2] * g[2]};
    glFontScaledTextOut2D(t->buff, pelm->scale.x * t->col + coff, pelm->scale.y * t->row + roff, cscale, rscale,
                          pelm->bcol[0] < 0 ? nullptr : bcol);
    glFontEnd();
}

}  // namespace

void DrawCanvasElement(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm) {
    float opacity = pelm->opacity * pcan->opacity;
    if ((double)opacity <= 0.001) return;
    GLboolean was_enabled = GL_TRUE;
    bool translucent = (double)opacity < 0.999;
    if (translucent) {
        was_enabled = glIsEnabled(GL_BLEND);
        if (!was_enabled) glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    switch (pelm->type) {
    case ELEMENT_TEXT: DrawText(pcan, pelm, opacity); break;
    // Shapes, images, video and nested canvases are drawn by their own
    // renderers, still to come; node elements belong to the view pass.
    case ELEMENT_LINE:
    case ELEMENT_CIRCLE:
    case ELEMENT_RECTANGLE:
    case ELEMENT_POLYGON:
    case ELEMENT_IMAGE:
    case ELEMENT_VIDEO:
    case ELEMENT_ARC:
    case ELEMENT_CANVAS:
    case ELEMENT_NODE:
    default: break;
    }
    if (translucent && !was_enabled) glDisable(GL_BLEND);
}
