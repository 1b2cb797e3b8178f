#include "cmykdev.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

/* Process colours (CMYK) reach the page in RGB as the common PDF readers show them: each
 * colour interpolated between the screen colours of the sixteen corners of the CMYK cube
 * (solid cyan is (0, 173, 239), solid black (35, 31, 32)), not the bare 1 - (C + K) the
 * library falls back to without colour management. A colour without cyan, magenta and
 * yellow stays grey, so that black-only pages remain grey pages. */

/* Corner (c, m, y, k) at index 8c + 4m + 2y + k, as red, green, blue. */
static const unsigned char corners[16][3] = {
	{255, 255, 255}, {35, 31, 32}, {255, 242, 0}, {28, 26, 0},
	{236, 0, 140}, {36, 0, 0}, {237, 28, 36}, {34, 0, 0},
	{0, 173, 239}, {0, 15, 36}, {0, 166, 80}, {0, 19, 0},
	{46, 49, 146}, {0, 0, 2}, {54, 54, 57}, {0, 0, 0},
};

/* Largest CMYK image converted here: 64 MiB of CMYK samples. */
enum { MAX_CONVERTED_PIXELS = 16 * 1024 * 1024 };

static float unit(float v)
{
	return v < 0 ? 0 : v > 1 ? 1 : v;
}

/* rgb in 0..255. */
static void cmyk_to_rgb255(const float *cmyk, float *rgb)
{
	float c = unit(cmyk[0]), m = unit(cmyk[1]), y = unit(cmyk[2]), k = unit(cmyk[3]);
	rgb[0] = rgb[1] = rgb[2] = 0;
	for (int i = 0; i < 16; i++) {
		float w = ((i & 8) ? c : 1 - c) * ((i & 4) ? m : 1 - m) * ((i & 2) ? y : 1 - y) * ((i & 1) ? k : 1 - k);
		if (w == 0)
			continue;
		for (int ch = 0; ch < 3; ch++)
			rgb[ch] += w * corners[i][ch];
	}
}

static float grey_of(const float *rgb255)
{
	return (0.30f * rgb255[0] + 0.59f * rgb255[1] + 0.11f * rgb255[2]) / 255.0f;
}

/* The colour as the readers show it: out gets RGB (or grey for black-only colours, with
 * *grey set) in 0..1. */
static void convert_cmyk(const float *cmyk, float *out, int *grey)
{
	float rgb[3];
	cmyk_to_rgb255(cmyk, rgb);
	*grey = unit(cmyk[0]) == 0 && unit(cmyk[1]) == 0 && unit(cmyk[2]) == 0;
	if (*grey) {
		out[0] = grey_of(rgb);
		return;
	}
	for (int ch = 0; ch < 3; ch++)
		out[ch] = rgb[ch] / 255.0f;
}

static int is_cmyk(fz_context *ctx, fz_colorspace *cs)
{
	return cs && fz_colorspace_is_cmyk(ctx, cs) && fz_colorspace_n(ctx, cs) == 4;
}

/* The process colour a colour in cs stands for, when it is one: DeviceCMYK and CMYK
 * profiles, and indexed, Separation and DeviceN colours over them. */
static int process_colour(fz_context *ctx, fz_colorspace *cs, const float *color, float *cmyk)
{
	if (!cs || !color)
		return 0;
	if (is_cmyk(ctx, cs)) {
		memcpy(cmyk, color, 4 * sizeof *cmyk);
		return 1;
	}
	enum fz_colorspace_type type = fz_colorspace_type(ctx, cs);
	if (type == FZ_COLORSPACE_INDEXED && is_cmyk(ctx, cs->u.indexed.base) && cs->u.indexed.lookup) {
		/* The library keeps the index divided by 255. */
		int index = (int)lroundf(color[0] * 255);
		if (index < 0)
			index = 0;
		if (index > cs->u.indexed.high)
			index = cs->u.indexed.high;
		for (int i = 0; i < 4; i++)
			cmyk[i] = cs->u.indexed.lookup[index * 4 + i] / 255.0f;
		return 1;
	}
	if ((type == FZ_COLORSPACE_SEPARATION) && is_cmyk(ctx, cs->u.separation.base) && cs->u.separation.eval) {
		cs->u.separation.eval(ctx, cs->u.separation.tint, color, fz_colorspace_n(ctx, cs), cmyk, 4);
		return 1;
	}
	return 0;
}

/* The colour space and values to hand on: converted ones in out, or the originals. */
static fz_colorspace *hand_on(fz_context *ctx, fz_colorspace *cs, const float *color, float *out, const float **values)
{
	float cmyk[4];
	*values = color;
	if (!process_colour(ctx, cs, color, cmyk))
		return cs;
	int grey;
	convert_cmyk(cmyk, out, &grey);
	*values = out;
	return grey ? fz_device_gray(ctx) : fz_device_rgb(ctx);
}

typedef struct {
	fz_device super;
	fz_device *target;
	fz_device *record;
	fz_device *colour_test;
	int colour_found; /* by colour_test, which then needs no more images */
	int marks;
} cmyk_device;

static fz_device *target_of(fz_device *dev)
{
	return ((cmyk_device *)dev)->target;
}

/* The target of a call that puts something on the page. */
static fz_device *mark(fz_device *dev)
{
	((cmyk_device *)dev)->marks++;
	return target_of(dev);
}

int cmyk_device_marks(fz_device *dev)
{
	return ((cmyk_device *)dev)->marks;
}

int cmyk_device_found_colour(fz_device *dev)
{
	return ((cmyk_device *)dev)->colour_found;
}

static void fill_path(fz_context *ctx, fz_device *dev, const fz_path *path, int even_odd, fz_matrix ctm,
	fz_colorspace *cs, const float *color, float alpha, fz_color_params params)
{
	float out[FZ_MAX_COLORS];
	const float *values;
	cs = hand_on(ctx, cs, color, out, &values);
	fz_fill_path(ctx, mark(dev), path, even_odd, ctm, cs, values, alpha, params);
}

static void stroke_path(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke,
	fz_matrix ctm, fz_colorspace *cs, const float *color, float alpha, fz_color_params params)
{
	float out[FZ_MAX_COLORS];
	const float *values;
	cs = hand_on(ctx, cs, color, out, &values);
	fz_stroke_path(ctx, mark(dev), path, stroke, ctm, cs, values, alpha, params);
}

static void clip_path(fz_context *ctx, fz_device *dev, const fz_path *path, int even_odd, fz_matrix ctm, fz_rect scissor)
{
	fz_clip_path(ctx, target_of(dev), path, even_odd, ctm, scissor);
}

static void clip_stroke_path(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke,
	fz_matrix ctm, fz_rect scissor)
{
	fz_clip_stroke_path(ctx, target_of(dev), path, stroke, ctm, scissor);
}

static void fill_text(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *cs,
	const float *color, float alpha, fz_color_params params)
{
	float out[FZ_MAX_COLORS];
	const float *values;
	cs = hand_on(ctx, cs, color, out, &values);
	fz_fill_text(ctx, mark(dev), text, ctm, cs, values, alpha, params);
}

static void stroke_text(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke,
	fz_matrix ctm, fz_colorspace *cs, const float *color, float alpha, fz_color_params params)
{
	float out[FZ_MAX_COLORS];
	const float *values;
	cs = hand_on(ctx, cs, color, out, &values);
	fz_stroke_text(ctx, mark(dev), text, stroke, ctm, cs, values, alpha, params);
}

static void clip_text(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_rect scissor)
{
	fz_clip_text(ctx, target_of(dev), text, ctm, scissor);
}

static void clip_stroke_text(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke,
	fz_matrix ctm, fz_rect scissor)
{
	fz_clip_stroke_text(ctx, target_of(dev), text, stroke, ctm, scissor);
}

static void ignore_text(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm)
{
	fz_ignore_text(ctx, mark(dev), text, ctm);
}

static void fill_shade(fz_context *ctx, fz_device *dev, fz_shade *shade, fz_matrix ctm, float alpha,
	fz_color_params params)
{
	fz_fill_shade(ctx, mark(dev), shade, ctm, alpha, params);
}

/* The image with its process-colour pixels in RGB, or grey when no pixel has cyan, magenta
 * or yellow; NULL when it is not a process-colour image. */
static fz_image *converted_image(fz_context *ctx, fz_image *image)
{
	fz_colorspace *cs = image->colorspace;
	if (image->imagemask || !cs)
		return NULL;
	int indexed = fz_colorspace_type(ctx, cs) == FZ_COLORSPACE_INDEXED && is_cmyk(ctx, cs->u.indexed.base);
	if (!is_cmyk(ctx, cs) && !indexed)
		return NULL;
	/* Converted whole, at the size it is stored; beyond that the library's own rendering
	 * (which decodes only what the page needs) is kept. */
	if ((int64_t)image->w * image->h > MAX_CONVERTED_PIXELS) {
		fz_warn(ctx, "a CMYK image of %d x %d pixels keeps the library's colours", image->w, image->h);
		return NULL;
	}
	fz_pixmap *source = fz_get_pixmap_from_image(ctx, image, NULL, NULL, NULL, NULL);
	fz_pixmap *rgb = NULL;
	fz_image *result = NULL;
	fz_var(rgb);
	fz_try(ctx) {
		if (!is_cmyk(ctx, fz_pixmap_colorspace(ctx, source)))
			fz_throw(ctx, FZ_ERROR_GENERIC, "unexpected image pixels");
		int w = fz_pixmap_width(ctx, source), h = fz_pixmap_height(ctx, source);
		int alpha = fz_pixmap_alpha(ctx, source);
		int n = fz_pixmap_components(ctx, source);
		ptrdiff_t stride = fz_pixmap_stride(ctx, source);
		const unsigned char *samples = fz_pixmap_samples(ctx, source);
		int black_only = 1;
		for (int y = 0; y < h && black_only; y++) {
			const unsigned char *p = samples + y * stride;
			for (int x = 0; x < w; x++, p += n)
				if (p[0] | p[1] | p[2]) {
					black_only = 0;
					break;
				}
		}
		rgb = fz_new_pixmap(ctx, black_only ? fz_device_gray(ctx) : fz_device_rgb(ctx), w, h, NULL, alpha);
		int out_n = fz_pixmap_components(ctx, rgb);
		ptrdiff_t out_stride = fz_pixmap_stride(ctx, rgb);
		unsigned char *out_samples = fz_pixmap_samples(ctx, rgb);
		unsigned char last[4] = {0, 0, 0, 0}, last_out[3] = {255, 255, 255};
		for (int y = 0; y < h; y++) {
			const unsigned char *p = samples + y * stride;
			unsigned char *q = out_samples + y * out_stride;
			for (int x = 0; x < w; x++, p += n, q += out_n) {
				if (memcmp(p, last, 4) != 0 || alpha) {
					/* Samples with alpha are premultiplied: the colour is divided out and
					 * multiplied back after the conversion. */
					float a = alpha ? p[n - 1] / 255.0f : 1;
					float cmyk[4], c[3];
					for (int i = 0; i < 4; i++)
						cmyk[i] = a > 0 ? p[i] / 255.0f / a : 0;
					cmyk_to_rgb255(cmyk, c);
					if (black_only)
						c[0] = grey_of(c) * 255.0f;
					for (int ch = 0; ch < 3; ch++)
						c[ch] *= a;
					for (int ch = 0; ch < 3; ch++)
						last_out[ch] = (unsigned char)lroundf(c[ch] < 0 ? 0 : c[ch] > 255 ? 255 : c[ch]);
					memcpy(last, p, 4);
				}
				memcpy(q, last_out, black_only ? 1 : 3);
				if (alpha)
					q[out_n - 1] = p[n - 1];
			}
		}
		rgb->xres = source->xres;
		rgb->yres = source->yres;
		result = fz_new_image_from_pixmap(ctx, rgb, image->mask);
		result->interpolate = image->interpolate;
	}
	fz_always(ctx) {
		fz_drop_pixmap(ctx, rgb);
		fz_drop_pixmap(ctx, source);
	}
	fz_catch(ctx) {
		fz_rethrow(ctx);
	}
	return result;
}

/* An image in an indexed colour space is recorded as it is and tested for colour expanded to
 * its base colours: the library's colour test of such an image reads memory it never set, so
 * that the same page came out grey in one run and in colour in the next. Returns 0, having
 * done nothing, for other images and where there is no separate test. */
static int fill_indexed_image(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, float alpha,
	fz_color_params params)
{
	cmyk_device *cmyk = (cmyk_device *)dev;
	fz_colorspace *cs = image->colorspace;
	if (!cmyk->record || !cmyk->colour_test || image->imagemask || !cs ||
	    fz_colorspace_type(ctx, cs) != FZ_COLORSPACE_INDEXED || (int64_t)image->w * image->h > MAX_CONVERTED_PIXELS)
		return 0;
	if (!cmyk->colour_found) {
		fz_pixmap *pixels = fz_get_pixmap_from_image(ctx, image, NULL, NULL, NULL, NULL);
		fz_image *expanded = NULL;
		fz_var(expanded);
		fz_try(ctx) {
			expanded = fz_new_image_from_pixmap(ctx, pixels, image->mask);
			fz_fill_image(ctx, cmyk->colour_test, expanded, ctm, alpha, params);
		}
		fz_always(ctx) {
			fz_drop_image(ctx, expanded);
			fz_drop_pixmap(ctx, pixels);
		}
		fz_catch(ctx) {
			/* A test without a device behind it ends the run this way once it has found
			 * colour; any other failure is taken as colour too, which loses nothing. */
			cmyk->colour_found = 1;
		}
	}
	cmyk->marks++;
	fz_fill_image(ctx, cmyk->record, image, ctm, alpha, params);
	return 1;
}

static void fill_image(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, float alpha,
	fz_color_params params)
{
	fz_image *rgb = NULL;
	fz_var(rgb);
	fz_try(ctx) {
		rgb = converted_image(ctx, image);
	}
	fz_catch(ctx) {
		/* The library draws it its own way, which is better than not at all. */
		fz_warn(ctx, "cannot convert a CMYK image: %s", fz_caught_message(ctx));
		rgb = NULL;
	}
	if (!rgb && fill_indexed_image(ctx, dev, image, ctm, alpha, params))
		return;
	fz_try(ctx)
		fz_fill_image(ctx, mark(dev), rgb ? rgb : image, ctm, alpha, params);
	fz_always(ctx)
		fz_drop_image(ctx, rgb);
	fz_catch(ctx)
		fz_rethrow(ctx);
}

static void fill_image_mask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_colorspace *cs,
	const float *color, float alpha, fz_color_params params)
{
	float out[FZ_MAX_COLORS];
	const float *values;
	cs = hand_on(ctx, cs, color, out, &values);
	fz_fill_image_mask(ctx, mark(dev), image, ctm, cs, values, alpha, params);
}

static void clip_image_mask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_rect scissor)
{
	fz_clip_image_mask(ctx, target_of(dev), image, ctm, scissor);
}

static void pop_clip(fz_context *ctx, fz_device *dev)
{
	fz_pop_clip(ctx, target_of(dev));
}

static void begin_mask(fz_context *ctx, fz_device *dev, fz_rect area, int luminosity, fz_colorspace *cs,
	const float *backdrop, fz_color_params params)
{
	float out[FZ_MAX_COLORS];
	const float *values;
	cs = hand_on(ctx, cs, backdrop, out, &values);
	fz_begin_mask(ctx, target_of(dev), area, luminosity, cs, values, params);
}

static void end_mask(fz_context *ctx, fz_device *dev)
{
	fz_end_mask(ctx, target_of(dev));
}

static void begin_group(fz_context *ctx, fz_device *dev, fz_rect area, fz_colorspace *cs, int isolated,
	int knockout, int blendmode, float alpha)
{
	/* Its contents arrive converted already. */
	if (is_cmyk(ctx, cs))
		cs = fz_device_rgb(ctx);
	fz_begin_group(ctx, target_of(dev), area, cs, isolated, knockout, blendmode, alpha);
}

static void end_group(fz_context *ctx, fz_device *dev)
{
	fz_end_group(ctx, target_of(dev));
}

static int begin_tile(fz_context *ctx, fz_device *dev, fz_rect area, fz_rect view, float xstep, float ystep,
	fz_matrix ctm, int id)
{
	return fz_begin_tile_id(ctx, target_of(dev), area, view, xstep, ystep, ctm, id);
}

static void end_tile(fz_context *ctx, fz_device *dev)
{
	fz_end_tile(ctx, target_of(dev));
}

static void render_flags(fz_context *ctx, fz_device *dev, int set, int clear)
{
	fz_render_flags(ctx, target_of(dev), set, clear);
}

static void set_default_colorspaces(fz_context *ctx, fz_device *dev, fz_default_colorspaces *spaces)
{
	fz_set_default_colorspaces(ctx, target_of(dev), spaces);
}

static void begin_layer(fz_context *ctx, fz_device *dev, const char *name)
{
	fz_begin_layer(ctx, target_of(dev), name);
}

static void end_layer(fz_context *ctx, fz_device *dev)
{
	fz_end_layer(ctx, target_of(dev));
}

fz_device *new_cmyk_device(fz_context *ctx, fz_device *target, fz_device *record, fz_device *colour_test)
{
	cmyk_device *dev = fz_new_derived_device(ctx, cmyk_device);
	dev->target = target;
	dev->record = record;
	dev->colour_test = colour_test;
	dev->super.fill_path = fill_path;
	dev->super.stroke_path = stroke_path;
	dev->super.clip_path = clip_path;
	dev->super.clip_stroke_path = clip_stroke_path;
	dev->super.fill_text = fill_text;
	dev->super.stroke_text = stroke_text;
	dev->super.clip_text = clip_text;
	dev->super.clip_stroke_text = clip_stroke_text;
	dev->super.ignore_text = ignore_text;
	dev->super.fill_shade = fill_shade;
	dev->super.fill_image = fill_image;
	dev->super.fill_image_mask = fill_image_mask;
	dev->super.clip_image_mask = clip_image_mask;
	dev->super.pop_clip = pop_clip;
	dev->super.begin_mask = begin_mask;
	dev->super.end_mask = end_mask;
	dev->super.begin_group = begin_group;
	dev->super.end_group = end_group;
	dev->super.begin_tile = begin_tile;
	dev->super.end_tile = end_tile;
	dev->super.render_flags = render_flags;
	dev->super.set_default_colorspaces = set_default_colorspaces;
	dev->super.begin_layer = begin_layer;
	dev->super.end_layer = end_layer;
	return &dev->super;
}
