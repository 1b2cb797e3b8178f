/* Built-in font table: the 14 standard PDF fonts only.
 *
 * The library's own table also carries large CJK and Noto fonts. Defining the lookup
 * functions here keeps that archive member (and the fonts it references) out of the link.
 * Installed fonts come first (sysfonts.c); text in a non-embedded CJK font that no installed
 * font covers renders as boxes that keep the text's layout; characters that no font has
 * (rare scripts, emoji) stay blank.
 */
#include "boxfont.h"

#include <mupdf/fitz.h>

#include <string.h>

#define URW_FONT(sym)                                                   \
	extern const unsigned char _binary_resources_fonts_urw_##sym##_cff_start[]; \
	extern const unsigned char _binary_resources_fonts_urw_##sym##_cff_end[];

URW_FONT(NimbusMonoPS_Regular)
URW_FONT(NimbusMonoPS_Italic)
URW_FONT(NimbusMonoPS_Bold)
URW_FONT(NimbusMonoPS_BoldItalic)
URW_FONT(NimbusSans_Regular)
URW_FONT(NimbusSans_Italic)
URW_FONT(NimbusSans_Bold)
URW_FONT(NimbusSans_BoldItalic)
URW_FONT(NimbusRoman_Regular)
URW_FONT(NimbusRoman_Italic)
URW_FONT(NimbusRoman_Bold)
URW_FONT(NimbusRoman_BoldItalic)
URW_FONT(StandardSymbolsPS)
URW_FONT(Dingbats)

#define URW_DATA(sym)                                          \
	_binary_resources_fonts_urw_##sym##_cff_start,             \
	_binary_resources_fonts_urw_##sym##_cff_end

struct standard_font {
	const char *name;  /* the PDF standard name */
	const unsigned char *start;
	const unsigned char *end;
};

/* Order: family (mono, sans, serif) times style (regular, italic, bold, bold italic),
 * then the two symbol fonts; family_font() relies on it. */
static const struct standard_font standard_fonts[] = {
	{"Courier", URW_DATA(NimbusMonoPS_Regular)},
	{"Courier-Oblique", URW_DATA(NimbusMonoPS_Italic)},
	{"Courier-Bold", URW_DATA(NimbusMonoPS_Bold)},
	{"Courier-BoldOblique", URW_DATA(NimbusMonoPS_BoldItalic)},
	{"Helvetica", URW_DATA(NimbusSans_Regular)},
	{"Helvetica-Oblique", URW_DATA(NimbusSans_Italic)},
	{"Helvetica-Bold", URW_DATA(NimbusSans_Bold)},
	{"Helvetica-BoldOblique", URW_DATA(NimbusSans_BoldItalic)},
	{"Times-Roman", URW_DATA(NimbusRoman_Regular)},
	{"Times-Italic", URW_DATA(NimbusRoman_Italic)},
	{"Times-Bold", URW_DATA(NimbusRoman_Bold)},
	{"Times-BoldItalic", URW_DATA(NimbusRoman_BoldItalic)},
	{"Symbol", URW_DATA(StandardSymbolsPS)},
	{"ZapfDingbats", URW_DATA(Dingbats)},
};

enum { FAMILY_MONO = 0, FAMILY_SANS = 4, FAMILY_SERIF = 8, FONT_SYMBOL = 12, FONT_DINGBATS = 13 };

static const unsigned char *font_data(int index, int *len)
{
	const struct standard_font *f = &standard_fonts[index];
	*len = (int)(f->end - f->start);
	return f->start;
}

static int family_font(int family, int bold, int italic)
{
	return family + (bold ? 2 : 0) + (italic ? 1 : 0);
}

static int contains(const char *name, const char *part)
{
	return strstr(name, part) != NULL;
}

const unsigned char *fz_lookup_base14_font(fz_context *ctx, const char *name, int *len)
{
	(void)ctx;
	for (size_t i = 0; i < sizeof standard_fonts / sizeof standard_fonts[0]; i++)
		if (!strcmp(name, standard_fonts[i].name))
			return font_data((int)i, len);
	*len = 0;
	return NULL;
}

const unsigned char *fz_lookup_builtin_font(fz_context *ctx, const char *name, int bold, int italic, int *len)
{
	const unsigned char *data = fz_lookup_base14_font(ctx, name, len);
	if (data)
		return data;
	if (contains(name, "Courier") || contains(name, "Mono"))
		return font_data(family_font(FAMILY_MONO, bold, italic), len);
	if (contains(name, "Helvetica") || contains(name, "Arial") || contains(name, "Sans"))
		return font_data(family_font(FAMILY_SANS, bold, italic), len);
	if (contains(name, "Times") || contains(name, "Roman") || contains(name, "Serif"))
		return font_data(family_font(FAMILY_SERIF, bold, italic), len);
	if (contains(name, "Symbol"))
		return font_data(FONT_SYMBOL, len);
	if (contains(name, "Dingbats"))
		return font_data(FONT_DINGBATS, len);
	*len = 0;
	return NULL;
}

const unsigned char *fz_lookup_cjk_font(fz_context *ctx, int ordering, int *len, int *index)
{
	(void)ctx;
	(void)ordering;
	if (index)
		*index = 0;
	return box_font(len);
}

int fz_lookup_cjk_ordering_by_language(const char *name)
{
	if (!name)
		return -1;
	if (!strcmp(name, "zh-Hant") || !strcmp(name, "zh-TW") || !strcmp(name, "zh-HK"))
		return FZ_ADOBE_CNS;
	if (!strcmp(name, "zh-Hans") || !strcmp(name, "zh-CN") || !strcmp(name, "zh"))
		return FZ_ADOBE_GB;
	if (!strcmp(name, "ja"))
		return FZ_ADOBE_JAPAN;
	if (!strcmp(name, "ko"))
		return FZ_ADOBE_KOREA;
	return -1;
}

const unsigned char *fz_lookup_cjk_font_by_language(fz_context *ctx, const char *lang, int *len, int *subfont)
{
	int ordering = fz_lookup_cjk_ordering_by_language(lang);
	if (ordering < 0) {
		*len = 0;
		if (subfont)
			*subfont = 0;
		return NULL;
	}
	return fz_lookup_cjk_font(ctx, ordering, len, subfont);
}

static const unsigned char *no_font(int *len)
{
	*len = 0;
	return NULL;
}

const unsigned char *fz_lookup_noto_font(fz_context *ctx, int script, int lang, int *len, int *subfont)
{
	(void)ctx;
	(void)script;
	(void)lang;
	if (subfont)
		*subfont = 0;
	return no_font(len);
}

const unsigned char *fz_lookup_noto_math_font(fz_context *ctx, int *len)
{
	(void)ctx;
	return no_font(len);
}

const unsigned char *fz_lookup_noto_music_font(fz_context *ctx, int *len)
{
	(void)ctx;
	return no_font(len);
}

const unsigned char *fz_lookup_noto_symbol1_font(fz_context *ctx, int *len)
{
	(void)ctx;
	return no_font(len);
}

const unsigned char *fz_lookup_noto_symbol2_font(fz_context *ctx, int *len)
{
	(void)ctx;
	return no_font(len);
}

const unsigned char *fz_lookup_noto_emoji_font(fz_context *ctx, int *len)
{
	(void)ctx;
	return no_font(len);
}
