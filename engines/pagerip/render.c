#include "render.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>

/* Largest pixel buffer a page may need: width * height * 3 bytes. */
static const int64_t max_pixel_bytes = (int64_t)256 * 1024 * 1024;

/* Pixel size of a page at the requested resolution. */
struct page_extent {
	double width;
	double height;
};

/* Returns 0 when a page of this extent may be allocated, or -1 with the reason in err. */
static int check_page_extent(struct page_extent extent, char *err, size_t err_size)
{
	if (!(extent.width >= 1 && extent.height >= 1)) {
		snprintf(err, err_size, "the page is empty (%.0f x %.0f pixels)", extent.width, extent.height);
		return -1;
	}
	/* Compared in floating point first so that huge boxes cannot overflow an integer. */
	double bytes = extent.width * extent.height * 3.0;
	if (bytes > (double)max_pixel_bytes) {
		snprintf(err, err_size, "the page needs %.0f x %.0f pixels (%.0f MiB), more than the %d MiB limit",
			extent.width, extent.height, bytes / (1024.0 * 1024.0),
			(int)(max_pixel_bytes / (1024 * 1024)));
		return -1;
	}
	return 0;
}

static fz_pixmap *draw_page(fz_context *ctx, fz_page *page, fz_matrix ctm, fz_irect box)
{
	fz_pixmap *pix = NULL;
	fz_device *dev = NULL;
	fz_var(pix);
	fz_var(dev);
	fz_try(ctx) {
		pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, NULL, 0);
		fz_clear_pixmap_with_value(ctx, pix, 0xff);
		dev = fz_new_draw_device(ctx, ctm, pix);
		fz_run_page(ctx, page, dev, fz_identity, NULL);
		fz_close_device(ctx, dev);
	}
	fz_always(ctx) {
		fz_drop_device(ctx, dev);
	}
	fz_catch(ctx) {
		fz_drop_pixmap(ctx, pix);
		fz_rethrow(ctx);
	}
	return pix;
}

fz_pixmap *render_page(fz_context *ctx, pdf_document *doc, int index, int dpi, char *err, size_t err_size)
{
	fz_page *page = NULL;
	fz_pixmap *pix = NULL;
	fz_var(page);
	fz_var(pix);
	fz_try(ctx) {
		page = (fz_page *)pdf_load_page(ctx, doc, index);
		fz_matrix ctm = fz_scale(dpi / 72.0f, dpi / 72.0f);
		fz_rect area = fz_transform_rect(fz_bound_page(ctx, page), ctm);
		struct page_extent extent = {ceil(area.x1) - floor(area.x0), ceil(area.y1) - floor(area.y0)};
		if (check_page_extent(extent, err, err_size) == 0) {
			fz_irect box = fz_round_rect(area);
			struct page_extent pixels = {(double)box.x1 - box.x0, (double)box.y1 - box.y0};
			if (check_page_extent(pixels, err, err_size) == 0)
				pix = draw_page(ctx, page, ctm, box);
		}
	}
	fz_always(ctx) {
		fz_drop_page(ctx, page);
	}
	fz_catch(ctx) {
		snprintf(err, err_size, "%s", fz_caught_message(ctx));
		pix = NULL;
	}
	return pix;
}
