/* Rendering one PDF page into a pixmap on a white background: grey for a page that holds
 * no colour, RGB otherwise. */
#ifndef PAGERIP_RENDER_H
#define PAGERIP_RENDER_H

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <stddef.h>

/* Renders page index (0-based) of doc at dpi. Returns the pixmap (drop it with
 * fz_drop_pixmap), with 1 component for a page without colour and 3 otherwise, or NULL
 * with the reason in err. A page whose pixels would take more than 256 MiB (1 byte per
 * pixel for a grey page, 3 for a colour page) is refused before they are allocated.
 * *drew_nothing is set when nothing at all reached the page although its content stream
 * holds more than white space: the mark of a damaged file. */
fz_pixmap *render_page(fz_context *ctx, pdf_document *doc, int index, int dpi, int *drew_nothing, char *err,
	size_t err_size);

#endif
