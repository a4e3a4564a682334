/* qvp_double.h - double-precision twins of the display's matrix state,
 * offered by a display opened with double precision as scene data
 * "QVS_DOUBLE_DATA". The record belongs to the one display process. */
#ifndef QVP_DOUBLE_H
#define QVP_DOUBLE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QVS_DOUBLE_DATA {
    double QVV_projection_matrix[4][4];
    double QVV_modelview_matrix[4][4];
    double (*processed_grelmat)[4][4];   /* one per node index */
    void (*QVF_FastInverseMat)(double dst[4][4], double src[4][4]);
    void (*QVF_GetDisplayGlobalMat)(int node, double result[4][4]);
} QVS_DOUBLE_DATA;

#ifdef __cplusplus
}
#endif

#endif
