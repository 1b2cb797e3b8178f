/* Rendering one PDF page into an RGB pixmap on a white background. */
#ifndef PAGERIP_RENDER_H
#define PAGERIP_RENDER_H

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <stddef.h>

/* Renders page index (0-based) of doc at dpi. Returns the pixmap (drop it with
 * fz_drop_pixmap), or NULL with the reason in err. A page whose pixels would take more
 * than 256 MiB is refused before anything is allocated. */
fz_pixmap *render_page(fz_context *ctx, pdf_document *doc, int index, int dpi, char *err, size_t err_size);

#endif
