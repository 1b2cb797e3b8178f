/* PNG encoding of an 8-bit grey or RGB image. */
#ifndef PAGERIP_PNGWRITE_H
#define PAGERIP_PNGWRITE_H

#include <stddef.h>
#include <stdio.h>

struct page_image {
	const unsigned char *samples; /* rows of width*components bytes, top row first */
	int width;
	int height;
	ptrdiff_t stride;
	int components; /* 1: grey, 3: red, green, blue */
};

struct png_settings {
	int zlib_level;   /* 0..9 */
	int filters;      /* PNG_FILTER_* mask, or PNG_NO_FILTERS */
	int zlib_strategy;
};

/* The settings pagerip uses: the page images are read back once, soon after. */
struct png_settings default_png_settings(void);

/* Encodes image into file. Returns 0, or -1 with a message in err. */
int encode_png(FILE *file, const struct page_image *image, const struct png_settings *settings,
	char *err, size_t err_size);

#endif
