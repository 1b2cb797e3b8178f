#include "boxfont.h"

#include <stdint.h>
#include <string.h>

/* Glyph 0 (.notdef) is empty, so unmapped characters and white space stay blank; glyph 1
 * is a square frame on a 1000-unit em. One format-13 cmap maps every visible code point
 * to glyph 1. */

enum {
	UNITS_PER_EM = 1000,
	ASCENT = 880,
	DESCENT = -120,
	TABLE_COUNT = 9,
	FONT_CAPACITY = 1024,
};

struct writer {
	unsigned char *bytes;
	size_t length;
};

static void put8(struct writer *w, unsigned v)
{
	w->bytes[w->length++] = (unsigned char)v;
}

static void put16(struct writer *w, int v)
{
	put8(w, ((unsigned)v >> 8) & 0xff);
	put8(w, (unsigned)v & 0xff);
}

static void put32(struct writer *w, uint32_t v)
{
	put16(w, (int)(v >> 16));
	put16(w, (int)(v & 0xffff));
}

static void put_tag(struct writer *w, const char *tag)
{
	for (int i = 0; i < 4; i++)
		put8(w, (unsigned char)tag[i]);
}

/* Frame: outer square clockwise, inner square counter-clockwise (TrueType winding). */
static const int16_t frame_x[8] = {100, 100, 900, 900, 180, 820, 820, 180};
static const int16_t frame_y[8] = {-50, 750, 750, -50, 30, 30, 670, 670};

static void put_frame_glyph(struct writer *w)
{
	put16(w, 2); /* contours */
	put16(w, 100);
	put16(w, -50);
	put16(w, 900);
	put16(w, 750);
	put16(w, 3); /* last point of each contour */
	put16(w, 7);
	put16(w, 0); /* no instructions */
	for (int i = 0; i < 8; i++)
		put8(w, 0x01); /* on curve, 16-bit deltas */
	int previous = 0;
	for (int i = 0; i < 8; i++) {
		put16(w, frame_x[i] - previous);
		previous = frame_x[i];
	}
	previous = 0;
	for (int i = 0; i < 8; i++) {
		put16(w, frame_y[i] - previous);
		previous = frame_y[i];
	}
}

static void put_head(struct writer *w)
{
	put32(w, 0x00010000);
	put32(w, 0x00010000);
	put32(w, 0); /* checksum adjustment: not checked by readers */
	put32(w, 0x5F0F3CF5);
	put16(w, 0x000B);
	put16(w, UNITS_PER_EM);
	for (int i = 0; i < 4; i++)
		put32(w, 0); /* created, modified */
	put16(w, 100);
	put16(w, -50);
	put16(w, 900);
	put16(w, 750);
	put16(w, 0); /* style */
	put16(w, 8); /* smallest readable size */
	put16(w, 2); /* direction hint */
	put16(w, 0); /* short loca offsets */
	put16(w, 0);
}

static void put_hhea(struct writer *w)
{
	put32(w, 0x00010000);
	put16(w, ASCENT);
	put16(w, DESCENT);
	put16(w, 0);
	put16(w, UNITS_PER_EM); /* widest advance */
	put16(w, 0);
	put16(w, 0);
	put16(w, 900);
	put16(w, 1); /* upright caret */
	put16(w, 0);
	put16(w, 0);
	for (int i = 0; i < 4; i++)
		put16(w, 0);
	put16(w, 0);
	put16(w, 2); /* both glyphs carry their metrics */
}

static void put_maxp(struct writer *w)
{
	put32(w, 0x00010000);
	put16(w, 2); /* glyphs */
	put16(w, 8); /* points */
	put16(w, 2); /* contours */
	put16(w, 0);
	put16(w, 0);
	put16(w, 2); /* zones */
	for (int i = 0; i < 8; i++)
		put16(w, 0);
}

static void put_hmtx(struct writer *w)
{
	put16(w, UNITS_PER_EM);
	put16(w, 0);
	put16(w, UNITS_PER_EM);
	put16(w, 100);
}

/* Visible code points; the gaps are controls and spaces. */
static const uint32_t visible_ranges[][2] = {
	{0x21, 0x7E}, {0xA1, 0x1FFF}, {0x2010, 0x2027}, {0x2030, 0x205E}, {0x2060, 0x2FFF},
	{0x3001, 0xFEFE}, {0xFF00, 0x10FFFF},
};
enum { RANGE_COUNT = sizeof visible_ranges / sizeof visible_ranges[0] };

static void put_cmap(struct writer *w)
{
	put16(w, 0);
	put16(w, 1);
	put16(w, 3); /* Windows, full Unicode */
	put16(w, 10);
	put32(w, 12);
	put16(w, 13); /* many-to-one ranges */
	put16(w, 0);
	put32(w, 16 + 12 * RANGE_COUNT);
	put32(w, 0);
	put32(w, RANGE_COUNT);
	for (int i = 0; i < RANGE_COUNT; i++) {
		put32(w, visible_ranges[i][0]);
		put32(w, visible_ranges[i][1]);
		put32(w, 1);
	}
}

static void put_loca(struct writer *w, size_t frame_length)
{
	put16(w, 0);
	put16(w, 0);
	put16(w, (int)(frame_length / 2));
}

static void put_name(struct writer *w)
{
	put16(w, 0);
	put16(w, 0);
	put16(w, 6);
}

static void put_post(struct writer *w)
{
	put32(w, 0x00030000);
	put32(w, 0);
	put16(w, -100);
	put16(w, 50);
	for (int i = 0; i < 5; i++)
		put32(w, 0);
}

static uint32_t checksum(const unsigned char *bytes, size_t length)
{
	uint32_t sum = 0;
	for (size_t i = 0; i < length; i += 4) {
		uint32_t word = 0;
		for (size_t k = 0; k < 4; k++)
			word = (word << 8) | (i + k < length ? bytes[i + k] : 0);
		sum += word;
	}
	return sum;
}

typedef void (*table_writer)(struct writer *w);

static void put_glyf(struct writer *w)
{
	put_frame_glyph(w);
}

static size_t frame_glyph_length(void)
{
	unsigned char scratch[128];
	struct writer w = {scratch, 0};
	put_frame_glyph(&w);
	return w.length;
}

static void put_loca_table(struct writer *w)
{
	put_loca(w, frame_glyph_length());
}

static size_t build(unsigned char *font)
{
	/* In tag order, as the table directory requires. */
	static const struct {
		const char *tag;
		table_writer write;
	} tables[TABLE_COUNT] = {
		{"cmap", put_cmap}, {"glyf", put_glyf}, {"head", put_head}, {"hhea", put_hhea},
		{"hmtx", put_hmtx}, {"loca", put_loca_table}, {"maxp", put_maxp}, {"name", put_name},
		{"post", put_post},
	};
	struct writer w = {font, 0};
	put32(&w, 0x00010000);
	put16(&w, TABLE_COUNT);
	put16(&w, 128); /* search range for 9 tables: 16 * 8 */
	put16(&w, 3);
	put16(&w, TABLE_COUNT * 16 - 128);
	size_t directory = w.length;
	w.length += (size_t)TABLE_COUNT * 16;
	for (int i = 0; i < TABLE_COUNT; i++) {
		size_t start = w.length;
		tables[i].write(&w);
		size_t length = w.length - start;
		while (w.length % 4)
			put8(&w, 0);
		struct writer entry = {font, directory + (size_t)i * 16};
		put_tag(&entry, tables[i].tag);
		put32(&entry, checksum(font + start, length));
		put32(&entry, (uint32_t)start);
		put32(&entry, (uint32_t)length);
	}
	return w.length;
}

const unsigned char *box_font(int *len)
{
	static unsigned char font[FONT_CAPACITY];
	static size_t length;
	if (!length)
		length = build(font);
	*len = (int)length;
	return font;
}
