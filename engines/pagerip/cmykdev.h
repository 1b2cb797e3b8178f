/* A device in front of another that hands process colours (CMYK) on in RGB, converted as
 * the common PDF readers show them, and counts the marks it hands on. */
#ifndef PAGERIP_CMYKDEV_H
#define PAGERIP_CMYKDEV_H

#include <mupdf/fitz.h>

/* The target stays the caller's: it is neither closed nor dropped with this device. */
fz_device *new_cmyk_device(fz_context *ctx, fz_device *target);

/* How many marks (fills, strokes, text, invisible text too, images, shadings) the device
 * has handed on. */
int cmyk_device_marks(fz_device *dev);

#endif
