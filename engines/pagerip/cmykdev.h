/* A device in front of another that hands process colours (CMYK) on in RGB, converted as
 * the common PDF readers show them, and counts the marks it hands on. */
#ifndef PAGERIP_CMYKDEV_H
#define PAGERIP_CMYKDEV_H

#include <mupdf/fitz.h>

/* The target stays the caller's: it is neither closed nor dropped with this device. When
 * `record` and `colour_test` are given (the target's own pass-through and a second colour
 * test without one), an image in an indexed colour space goes to `record` as it is and to
 * `colour_test` expanded to its base colours instead of to the target. */
fz_device *new_cmyk_device(fz_context *ctx, fz_device *target, fz_device *record, fz_device *colour_test);

/* How many marks (fills, strokes, text, invisible text too, images, shadings) the device
 * has handed on. */
int cmyk_device_marks(fz_device *dev);

/* Whether the separate colour test failed, which it does once it has found colour. */
int cmyk_device_found_colour(fz_device *dev);

#endif
