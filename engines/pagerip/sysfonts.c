#include "sysfonts.h"

#include "boxfont.h"

#include <fontconfig/fontconfig.h>
#include <mupdf/pdf.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

/* Installed fonts for PDFs that name a font without embedding it.
 *
 * A font is taken only when its own name is the one asked for: its PostScript name, or its
 * family with the style the PDF asks for. Fontconfig's nearest match (usually a font of
 * another family) is never taken for a Latin font, because the built-in standard fonts
 * substitute better by style. CJK text asks for a font of its script: the named one when
 * installed, else any installed font that covers the script; without one the caller
 * draws boxes.
 */

enum { NAME_CAPACITY = 128 };

/* The name a CID font gets when its characters can only be shown as boxes. */
static const char PLACEHOLDER_FONT[] = "PageripPlaceholderBoxes";

static int listed;
static FcFontSet *fonts;

static FcFontSet *installed_fonts(void)
{
	if (listed)
		return fonts;
	listed = 1;
	if (!FcInit())
		return NULL;
	FcPattern *all = FcPatternCreate();
	FcObjectSet *fields = FcObjectSetBuild(FC_FAMILY, FC_POSTSCRIPT_NAME, FC_STYLE, FC_WEIGHT, FC_SLANT,
		FC_FILE, FC_INDEX, FC_LANG, (char *)0);
	if (all && fields)
		fonts = FcFontList(NULL, all, fields);
	if (fields)
		FcObjectSetDestroy(fields);
	if (all)
		FcPatternDestroy(all);
	return fonts;
}

/* Letters and digits only, in small letters: "Times New Roman" and "TimesNewRoman" meet. */
static void squeeze(const char *text, char *out, size_t size)
{
	size_t n = 0;
	for (; *text && n + 1 < size; text++)
		if (isalnum((unsigned char)*text))
			out[n++] = (char)tolower((unsigned char)*text);
	out[n] = '\0';
}

/* The name without a subset tag ("ABCDEF+") and, in `family`, without its style part (after
 * the first ',' or '-'): "ABCDEF+Arial,Bold" gives "Arial,Bold" and "Arial". */
static void split_name(const char *name, char *full, char *family, size_t size)
{
	const char *plus = strchr(name, '+');
	if (plus && plus - name == 6)
		name = plus + 1;
	snprintf(full, size, "%s", name);
	snprintf(family, size, "%s", name);
	family[strcspn(family, ",-")] = '\0';
}

static int has_text(FcPattern *font, const char *field, const char *wanted)
{
	FcChar8 *value;
	char squeezed[NAME_CAPACITY];
	for (int i = 0; FcPatternGetString(font, field, i, &value) == FcResultMatch; i++) {
		squeeze((const char *)value, squeezed, sizeof squeezed);
		if (!strcmp(squeezed, wanted))
			return 1;
	}
	return 0;
}

static int covers(FcPattern *font, const char *lang)
{
	FcLangSet *langs;
	return lang && FcPatternGetLangSet(font, FC_LANG, 0, &langs) == FcResultMatch &&
		FcLangSetHasLang(langs, (const FcChar8 *)lang) == FcLangEqual;
}

static int style_distance(FcPattern *font, int bold, int italic)
{
	int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
	FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
	FcPatternGetInteger(font, FC_SLANT, 0, &slant);
	int want_weight = bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR;
	int d = weight > want_weight ? weight - want_weight : want_weight - weight;
	if ((slant != FC_SLANT_ROMAN) != (italic != 0))
		d += 1000;
	return d;
}

static fz_font *open_font(fz_context *ctx, FcPattern *font, const char *name)
{
	FcChar8 *file;
	int index = 0;
	if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch)
		return NULL;
	FcPatternGetInteger(font, FC_INDEX, 0, &index);
	fz_font *result = NULL;
	fz_try(ctx)
		result = fz_new_font_from_file(ctx, name, (const char *)file, index, 0);
	fz_catch(ctx)
		result = NULL;
	return result;
}

/* The installed font named so (and covering lang, when given), or NULL. */
static FcPattern *find_named(const char *name, int bold, int italic, const char *lang)
{
	FcFontSet *fonts = installed_fonts();
	if (!fonts)
		return NULL;
	char full[NAME_CAPACITY], family[NAME_CAPACITY], want_full[NAME_CAPACITY], want_family[NAME_CAPACITY];
	split_name(name, full, family, sizeof full);
	squeeze(full, want_full, sizeof want_full);
	squeeze(family, want_family, sizeof want_family);
	if (!*want_family)
		return NULL;
	FcPattern *best = NULL;
	int best_distance = 0;
	for (int i = 0; i < fonts->nfont; i++) {
		FcPattern *font = fonts->fonts[i];
		if (lang && !covers(font, lang))
			continue;
		if (has_text(font, FC_POSTSCRIPT_NAME, want_full))
			return font;
		if (!has_text(font, FC_FAMILY, want_family) && !has_text(font, FC_FAMILY, want_full))
			continue;
		int distance = style_distance(font, bold, italic);
		if (!best || distance < best_distance) {
			best = font;
			best_distance = distance;
		}
	}
	return best;
}

static fz_font *load_named_font(fz_context *ctx, const char *name, int bold, int italic, int needs_exact_metrics)
{
	(void)needs_exact_metrics;
	int len;
	/* The standard fonts are built in; their names stay with them. */
	if (!name || fz_lookup_base14_font(ctx, name, &len))
		return NULL;
	FcPattern *font = find_named(name, bold, italic, NULL);
	return font ? open_font(ctx, font, name) : NULL;
}

static const char *ordering_language(int ordering)
{
	switch (ordering) {
	case FZ_ADOBE_CNS: return "zh-tw";
	case FZ_ADOBE_GB: return "zh-cn";
	case FZ_ADOBE_JAPAN: return "ja";
	case FZ_ADOBE_KOREA: return "ko";
	default: return NULL;
	}
}

/* Fontconfig's choice among the fonts that cover lang, serif or sans; NULL when none does. */
static fz_font *load_script_font(fz_context *ctx, const char *lang, int serif)
{
	FcPattern *want = FcPatternCreate();
	if (!want)
		return NULL;
	FcPatternAddString(want, FC_FAMILY, (const FcChar8 *)(serif ? "serif" : "sans-serif"));
	FcPatternAddString(want, FC_LANG, (const FcChar8 *)lang);
	FcConfigSubstitute(NULL, want, FcMatchPattern);
	FcDefaultSubstitute(want);
	FcResult result;
	FcFontSet *sorted = FcFontSort(NULL, want, FcFalse, NULL, &result);
	fz_font *font = NULL;
	for (int i = 0; sorted && i < sorted->nfont && !font; i++)
		if (covers(sorted->fonts[i], lang))
			font = open_font(ctx, sorted->fonts[i], lang);
	if (sorted)
		FcFontSetDestroy(sorted);
	FcPatternDestroy(want);
	return font;
}

static fz_font *load_cjk_font(fz_context *ctx, const char *name, int ordering, int serif)
{
	if (name && !strcmp(name, PLACEHOLDER_FONT)) {
		int len;
		const unsigned char *data = box_font(&len);
		return fz_new_font_from_memory(ctx, name, data, len, 0, 0);
	}
	const char *lang = ordering_language(ordering);
	if (!lang)
		return NULL;
	FcPattern *named = name ? find_named(name, 0, 0, lang) : NULL;
	if (named) {
		fz_font *font = open_font(ctx, named, name);
		if (font)
			return font;
	}
	return load_script_font(ctx, lang, serif);
}

void install_system_fonts(fz_context *ctx)
{
	fz_install_load_system_font_funcs(ctx, load_named_font, load_cjk_font, NULL);
}

void release_system_fonts(void)
{
	if (!listed)
		return;
	if (fonts)
		FcFontSetDestroy(fonts);
	fonts = NULL;
	listed = 0;
	FcFini();
}

/* The character collection of a predefined CJK CMap, by its name; NULL for other names. */
static const char *cmap_ordering(const char *cmap)
{
	static const struct {
		const char *prefix;
		const char *ordering;
	} prefixes[] = {
		{"UniGB", "GB1"}, {"GB", "GB1"},
		{"UniCNS", "CNS1"}, {"CNS", "CNS1"}, {"B5", "CNS1"}, {"ETen", "CNS1"}, {"ETHK", "CNS1"},
		{"HK", "CNS1"},
		{"UniKS", "Korea1"}, {"KSC", "Korea1"},
		{"UniJIS", "Japan1"}, {"90ms", "Japan1"}, {"90pv", "Japan1"}, {"83pv", "Japan1"},
		{"78", "Japan1"}, {"Add-", "Japan1"}, {"EUC-", "Japan1"}, {"Ext-", "Japan1"},
		{"RKSJ-", "Japan1"}, {"NWP-", "Japan1"}, {"Hankaku", "Japan1"}, {"Hiragana", "Japan1"},
		{"Katakana", "Japan1"}, {"Roman", "Japan1"}, {"WP-Symbol", "Japan1"},
	};
	if (!strcmp(cmap, "H") || !strcmp(cmap, "V"))
		return "Japan1";
	for (size_t i = 0; i < sizeof prefixes / sizeof prefixes[0]; i++)
		if (!strncmp(cmap, prefixes[i].prefix, strlen(prefixes[i].prefix)))
			return prefixes[i].ordering;
	return NULL;
}

static int is_embedded(fz_context *ctx, pdf_obj *font)
{
	pdf_obj *descriptor = pdf_dict_get(ctx, font, PDF_NAME(FontDescriptor));
	return pdf_dict_get(ctx, descriptor, PDF_NAME(FontFile)) || pdf_dict_get(ctx, descriptor, PDF_NAME(FontFile2)) ||
		pdf_dict_get(ctx, descriptor, PDF_NAME(FontFile3));
}

static void set_collection(fz_context *ctx, pdf_obj *cid_font, const char *ordering)
{
	pdf_obj *info = pdf_dict_put_dict(ctx, cid_font, PDF_NAME(CIDSystemInfo), 3);
	pdf_dict_put_string(ctx, info, PDF_NAME(Registry), "Adobe", 5);
	pdf_dict_put_string(ctx, info, PDF_NAME(Ordering), ordering, strlen(ordering));
	pdf_dict_put_int(ctx, info, PDF_NAME(Supplement), 0);
}

/* A CID font that is not embedded and whose character collection is not a CJK one: the
 * library would take its character numbers as glyph numbers of whatever font stands in.
 * When a predefined CJK CMap tells the collection, the font gets that collection; when only
 * the named font itself could tell (Identity), and it is not installed, it gets boxes. */
static void mend_cid_font(fz_context *ctx, pdf_obj *font)
{
	if (!pdf_name_eq(ctx, pdf_dict_get(ctx, font, PDF_NAME(Subtype)), PDF_NAME(Type0)))
		return;
	pdf_obj *cid_font = pdf_array_get(ctx, pdf_dict_get(ctx, font, PDF_NAME(DescendantFonts)), 0);
	if (!pdf_is_dict(ctx, cid_font) || is_embedded(ctx, cid_font))
		return;
	pdf_obj *info = pdf_dict_get(ctx, cid_font, PDF_NAME(CIDSystemInfo));
	if (pdf_is_array(ctx, info))
		info = pdf_array_get(ctx, info, 0);
	const char *ordering = pdf_to_str_buf(ctx, pdf_dict_get(ctx, info, PDF_NAME(Ordering)));
	if (!strcmp(ordering, "Japan1") || !strcmp(ordering, "GB1") || !strcmp(ordering, "CNS1") ||
		!strcmp(ordering, "Korea1"))
		return;
	pdf_obj *encoding = pdf_dict_get(ctx, font, PDF_NAME(Encoding));
	const char *cmap = pdf_is_name(ctx, encoding) ? pdf_to_name(ctx, encoding) : "";
	const char *collection = cmap_ordering(cmap);
	if (collection) {
		set_collection(ctx, cid_font, collection);
		return;
	}
	const char *name = pdf_to_name(ctx, pdf_dict_get(ctx, cid_font, PDF_NAME(BaseFont)));
	if (*name && find_named(name, 0, 0, NULL))
		return;
	set_collection(ctx, cid_font, "Japan1");
	pdf_dict_put_name(ctx, cid_font, PDF_NAME(BaseFont), PLACEHOLDER_FONT);
}

static void mend_resources(fz_context *ctx, pdf_obj *resources, int depth)
{
	pdf_obj *fonts = pdf_dict_get(ctx, resources, PDF_NAME(Font));
	for (int i = 0, n = pdf_dict_len(ctx, fonts); i < n; i++)
		mend_cid_font(ctx, pdf_dict_get_val(ctx, fonts, i));
	/* Forms draw with fonts of their own; a few levels cover what documents do. */
	if (depth >= 3)
		return;
	pdf_obj *forms = pdf_dict_get(ctx, resources, PDF_NAME(XObject));
	for (int i = 0, n = pdf_dict_len(ctx, forms); i < n; i++) {
		pdf_obj *form = pdf_dict_get_val(ctx, forms, i);
		if (pdf_name_eq(ctx, pdf_dict_get(ctx, form, PDF_NAME(Subtype)), PDF_NAME(Form)))
			mend_resources(ctx, pdf_dict_get(ctx, form, PDF_NAME(Resources)), depth + 1);
	}
}

void mend_cid_fonts(fz_context *ctx, pdf_page *page)
{
	fz_try(ctx)
		mend_resources(ctx, pdf_page_resources(ctx, page), 0);
	fz_catch(ctx)
		fz_warn(ctx, "cannot check the page's fonts: %s", fz_caught_message(ctx));
}
