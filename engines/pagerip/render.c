#include "render.h"
#include "cmykdev.h"
#include "sysfonts.h"

#include <ctype.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>

/* Largest pixel buffer a page may need: width * height * components bytes. */
static const int64_t max_pixel_bytes = (int64_t)256 * 1024 * 1024;

/* Pixel size of a page at the requested resolution. */
struct page_extent {
	double width;
	double height;
};

/* Returns 0 when a page of this extent may be allocated with the given bytes per pixel, or
 * -1 with the reason in err. */
static int check_page_extent(struct page_extent extent, int components, char *err, size_t err_size)
{
	if (!(extent.width >= 1 && extent.height >= 1)) {
		snprintf(err, err_size, "the page is empty (%.0f x %.0f pixels)", extent.width, extent.height);
		return -1;
	}
	/* Compared in floating point first so that huge boxes cannot overflow an integer. */
	double bytes = extent.width * extent.height * components;
	if (bytes > (double)max_pixel_bytes) {
		snprintf(err, err_size, "the page needs %.0f x %.0f pixels (%.0f MiB %s), more than the %d MiB limit",
			extent.width, extent.height, bytes / (1024.0 * 1024.0),
			components == 1 ? "in grey" : "in colour", (int)(max_pixel_bytes / (1024 * 1024)));
		return -1;
	}
	return 0;
}

/* Records the page once, with its process colours in RGB as the common readers show them,
 * noting on the way whether anything on it has colour: a colour that differs from grey by
 * 1/255 or more, or such a pixel in an image or shading. */
static fz_display_list *record_page(fz_context *ctx, fz_page *page, int *has_colour, int *marks)
{
	fz_display_list *list = NULL;
	fz_device *list_dev = NULL;
	fz_device *test_dev = NULL;
	fz_device *indexed_test_dev = NULL;
	fz_device *cmyk_dev = NULL;
	int indexed_colour = 0;
	fz_var(list);
	fz_var(list_dev);
	fz_var(test_dev);
	fz_var(indexed_test_dev);
	fz_var(cmyk_dev);
	*has_colour = 0;
	*marks = 0;
	fz_try(ctx) {
		list = fz_new_display_list(ctx, fz_bound_page(ctx, page));
		list_dev = fz_new_list_device(ctx, list);
		test_dev = fz_new_test_device(ctx, has_colour, 1.0f / 255,
			FZ_TEST_OPT_IMAGES | FZ_TEST_OPT_SHADINGS, list_dev);
		/* Images in indexed colour spaces are tested here, expanded (see cmykdev.h). */
		indexed_test_dev = fz_new_test_device(ctx, &indexed_colour, 1.0f / 255, FZ_TEST_OPT_IMAGES, NULL);
		cmyk_dev = new_cmyk_device(ctx, test_dev, list_dev, indexed_test_dev);
		fz_run_page(ctx, page, cmyk_dev, fz_identity, NULL);
		fz_close_device(ctx, cmyk_dev);
		*marks = cmyk_device_marks(cmyk_dev);
		fz_close_device(ctx, indexed_test_dev);
		fz_close_device(ctx, test_dev);
		fz_close_device(ctx, list_dev);
		if (indexed_colour || cmyk_device_found_colour(cmyk_dev))
			*has_colour = 1;
	}
	fz_always(ctx) {
		fz_drop_device(ctx, cmyk_dev);
		fz_drop_device(ctx, indexed_test_dev);
		fz_drop_device(ctx, test_dev);
		fz_drop_device(ctx, list_dev);
	}
	fz_catch(ctx) {
		fz_drop_display_list(ctx, list);
		fz_rethrow(ctx);
	}
	return list;
}

static fz_pixmap *draw_page(fz_context *ctx, fz_display_list *list, fz_colorspace *space, fz_matrix ctm,
	fz_irect box)
{
	fz_pixmap *pix = NULL;
	fz_device *dev = NULL;
	fz_var(pix);
	fz_var(dev);
	fz_try(ctx) {
		pix = fz_new_pixmap_with_bbox(ctx, space, box, NULL, 0);
		fz_clear_pixmap_with_value(ctx, pix, 0xff);
		dev = fz_new_draw_device(ctx, fz_identity, pix);
		fz_run_display_list(ctx, list, dev, ctm, fz_infinite_rect, NULL);
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

/* Whether a content stream holds anything but white space. */
static int has_content(fz_context *ctx, pdf_obj *contents)
{
	if (pdf_is_array(ctx, contents)) {
		for (int i = 0, n = pdf_array_len(ctx, contents); i < n; i++)
			if (has_content(ctx, pdf_array_get(ctx, contents, i)))
				return 1;
		return 0;
	}
	if (!pdf_is_stream(ctx, contents))
		return 0;
	int found = 0;
	fz_buffer *buffer = NULL;
	fz_var(buffer);
	fz_try(ctx) {
		buffer = pdf_load_stream(ctx, contents);
		unsigned char *data;
		size_t length = fz_buffer_storage(ctx, buffer, &data);
		for (size_t i = 0; i < length && !found; i++)
			found = !isspace(data[i]) && data[i] != 0;
	}
	fz_always(ctx)
		fz_drop_buffer(ctx, buffer);
	fz_catch(ctx)
		found = 1; /* unreadable, so not known to be empty */
	return found;
}

fz_pixmap *render_page(fz_context *ctx, pdf_document *doc, int index, int dpi, int *drew_nothing, char *err,
	size_t err_size)
{
	fz_page *page = NULL;
	fz_display_list *list = NULL;
	fz_pixmap *pix = NULL;
	*drew_nothing = 0;
	fz_var(page);
	fz_var(list);
	fz_var(pix);
	fz_try(ctx) {
		page = (fz_page *)pdf_load_page(ctx, doc, index);
		mend_cid_fonts(ctx, (pdf_page *)page);
		fz_matrix ctm = fz_scale(dpi / 72.0f, dpi / 72.0f);
		fz_rect area = fz_transform_rect(fz_bound_page(ctx, page), ctm);
		struct page_extent extent = {ceil(area.x1) - floor(area.x0), ceil(area.y1) - floor(area.y0)};
		/* A page too large even in grey is refused before it is read. */
		if (check_page_extent(extent, 1, err, err_size) == 0) {
			int has_colour = 0, marks = 0;
			list = record_page(ctx, page, &has_colour, &marks);
			*drew_nothing = marks == 0 && has_content(ctx, pdf_page_contents(ctx, (pdf_page *)page));
			int components = has_colour ? 3 : 1;
			fz_irect box = fz_round_rect(area);
			struct page_extent pixels = {(double)box.x1 - box.x0, (double)box.y1 - box.y0};
			if (check_page_extent(extent, components, err, err_size) == 0 &&
				check_page_extent(pixels, components, err, err_size) == 0)
				pix = draw_page(ctx, list, has_colour ? fz_device_rgb(ctx) : fz_device_gray(ctx), ctm, box);
		}
	}
	fz_always(ctx) {
		fz_drop_display_list(ctx, list);
		fz_drop_page(ctx, page);
	}
	fz_catch(ctx) {
		snprintf(err, err_size, "%s", fz_caught_message(ctx));
		pix = NULL;
	}
	return pix;
}
