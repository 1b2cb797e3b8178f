/* Rendering one PDF page into an RGB pixmap on a white background. */
#ifndef PAGERIP_RENDER_H
#define PAGERIP_RENDER_H

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <stddef.h>
#include <stdint.h>

/* Largest pixel buffer a page may need (width * height * 3 bytes). */
#define PAGERIP_MAX_PIXEL_BYTES ((int64_t)256 * 1024 * 1024)

/* Pixel size of a page box of width_pt x height_pt points at dpi. */
struct page_extent {
	double width;
	double height;
};

/* Returns 0 when a page of this extent may be allocated, or -1 with the reason in err. */
int check_page_extent(struct page_extent extent, char *err, size_t err_size);

/* Renders page index (0-based) of doc at dpi. Returns the pixmap (drop it with
 * fz_drop_pixmap), or NULL with the reason in err. */
fz_pixmap *render_page(fz_context *ctx, pdf_document *doc, int index, int dpi, char *err, size_t err_size);

#endif
