/* pagerip -r DPI [-part K/M] in.pdf base.png
 *
 * Says first how many pages the document has ("pagerip: N pages"), then renders every page
 * of a PDF into its own PNG on a white background, named
 * <folder of base><stem of base>-<page number>.png with the page number zero-padded to
 * the same width throughout the document. A page without colour is written in 8-bit grey,
 * any other in RGB. A page that cannot be written is reported on standard error as
 * "pagerip: page N of M skipped: <reason>"; a document that cannot be opened as
 * "pagerip: cannot render <path>: <reason>". With -part K/M only every M-th page from page
 * K (counting from 1) is rendered, so that M renderers can share a document; names and
 * messages stay those of the whole document. An encrypted document is opened with the
 * password in the environment variable TRACEWRIGHT_PDF_PASSWORD. A page that draws nothing
 * although its content stream is not empty is drawn again from the file as the library's
 * repair reads it, and reported either way ("pagerip: warning: page N of M ...").
 * Exit status: 0 when every page of a sound file (or part) was written, 1 otherwise, 2 for
 * a usage error.
 *
 * pagerip -merge out.pdf in.pdf... gathers the pages of PDFs into one (see merge.h).
 */
#include "input.h"
#include "merge.h"
#include "names.h"
#include "outfile.h"
#include "pngwrite.h"
#include "render.h"
#include "sysfonts.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The page-size limit decides what is too large for a given page; MAX_DPI only keeps
 * absurd values out of the arithmetic. */
enum { EXIT_USAGE = 2, MIN_DPI = 1, MAX_DPI = 100000 };

/* Holds the user password of an encrypted document. */
static const char PASSWORD_VARIABLE[] = "TRACEWRIGHT_PDF_PASSWORD";

struct options {
	int dpi;
	int part;   /* from 1 */
	int parts;
	const char *input;
	const char *base;
};

static int usage(void)
{
	fprintf(stderr, "usage: pagerip -r DPI [-part K/M] in.pdf base.png\n"
		"  renders each page to <base stem>-NNNN.png at DPI (%d to %d);\n"
		"  with -part, only pages K, K+M, K+2M, ...\n", MIN_DPI, MAX_DPI);
	return EXIT_USAGE;
}

static int parse_dpi(const char *text, int *dpi)
{
	char *end;
	errno = 0;
	long value = strtol(text, &end, 10);
	if (errno || end == text || *end || value < MIN_DPI || value > MAX_DPI)
		return -1;
	*dpi = (int)value;
	return 0;
}

static int parse_part(const char *text, struct options *options)
{
	int part, parts, used = 0;
	if (sscanf(text, "%d/%d%n", &part, &parts, &used) != 2 || text[used] != '\0' || parts < 1 ||
	    parts > 1024 || part < 1 || part > parts)
		return -1;
	options->part = part;
	options->parts = parts;
	return 0;
}

static int parse_options(int argc, char **argv, struct options *options)
{
	options->part = 1;
	options->parts = 1;
	if (argc != 5 && argc != 7)
		return -1;
	if (strcmp(argv[1], "-r") != 0 || parse_dpi(argv[2], &options->dpi) != 0)
		return -1;
	if (argc == 7 && (strcmp(argv[3], "-part") != 0 || parse_part(argv[4], options) != 0))
		return -1;
	options->input = argv[argc - 2];
	options->base = argv[argc - 1];
	return *options->input && *options->base ? 0 : -1;
}

static void print_warning(void *user, const char *message)
{
	(void)user;
	fprintf(stderr, "pagerip: warning: %s\n", message);
}

/* Errors are reported where they are caught, with what was being done. */
static void ignore_error(void *user, const char *message)
{
	(void)user;
	(void)message;
}

/* The password comes from the environment, never from the command line, where other users
 * could read it. Throws when it is missing or wrong. */
static void authenticate(fz_context *ctx, pdf_document *doc)
{
	const char *password = getenv(PASSWORD_VARIABLE);
	if (!password || !*password)
		fz_throw(ctx, FZ_ERROR_GENERIC, "the document is encrypted and needs a password (set %s)",
			PASSWORD_VARIABLE);
	if (!pdf_authenticate_password(ctx, doc, password))
		fz_throw(ctx, FZ_ERROR_GENERIC, "the password in %s is wrong for this document", PASSWORD_VARIABLE);
}

static pdf_document *open_pdf(fz_context *ctx, const char *path, int *page_count)
{
	char err[256];
	if (check_pdf_file(path, err, sizeof err) != 0) {
		fprintf(stderr, "pagerip: cannot render %s: %s\n", path, err);
		return NULL;
	}
	pdf_document *doc = NULL;
	fz_var(doc);
	fz_try(ctx) {
		doc = pdf_open_document(ctx, path);
		if (pdf_needs_password(ctx, doc))
			authenticate(ctx, doc);
		*page_count = pdf_count_pages(ctx, doc);
		if (*page_count <= 0)
			fz_throw(ctx, FZ_ERROR_GENERIC, "%s", pdf_was_repaired(ctx, doc)
				? "damaged or truncated PDF: no page could be recovered" : "the document has no pages");
	}
	fz_catch(ctx) {
		/* The header was there, so unless memory ran out the rest of the file is at fault. */
		int damaged = !doc && fz_caught(ctx) != FZ_ERROR_MEMORY;
		fprintf(stderr, "pagerip: cannot render %s: %s%s\n", path,
			damaged ? "damaged or truncated PDF: " : "", fz_caught_message(ctx));
		pdf_drop_document(ctx, doc);
		return NULL;
	}
	return doc;
}

/* Without the cache every page lookup walks the page tree from the root, which is
 * quadratic in long documents with flat trees. Returns 1 when the cache was built. */
static int cache_page_tree(fz_context *ctx, pdf_document *doc)
{
	int cached = 0;
	fz_var(cached);
	fz_try(ctx) {
		pdf_load_page_tree(ctx, doc);
		cached = 1;
	}
	fz_catch(ctx) {
		cached = 0;
	}
	return cached;
}

static int write_page_png(fz_context *ctx, const fz_pixmap *pix, const char *path, char *err, size_t err_size)
{
	struct page_image image = {
		fz_pixmap_samples(ctx, pix), fz_pixmap_width(ctx, pix), fz_pixmap_height(ctx, pix),
		fz_pixmap_stride(ctx, pix), fz_pixmap_components(ctx, pix)};
	struct png_settings settings = default_png_settings();
	struct pending_file pending;
	if (pending_open(&pending, path, err, err_size) != 0)
		return -1;
	if (encode_png(pending.file, &image, &settings, err, err_size) != 0) {
		pending_abandon(&pending);
		return -1;
	}
	return pending_commit(&pending, path, err, err_size);
}

/* One document being ripped, with a copy of it opened through the library's repair when a
 * page shows the marks of damage. */
struct rip {
	const struct options *options;
	pdf_document *doc;
	int page_count;
	int page_width; /* digits of the page numbers in the names */
	pdf_document *repaired;
	int repair_tried;
	int damaged_pages;
};

/* The document read again with its cross-reference table rebuilt from the objects in the
 * file, as the library does for files it sees are broken; NULL when that fails too. */
static pdf_document *repaired_copy(fz_context *ctx, struct rip *rip)
{
	if (rip->repair_tried)
		return rip->repaired;
	rip->repair_tried = 1;
	if (pdf_was_repaired(ctx, rip->doc))
		return NULL;
	pdf_document *doc = NULL;
	fz_var(doc);
	fz_try(ctx) {
		doc = pdf_open_document(ctx, rip->options->input);
		if (pdf_needs_password(ctx, doc))
			authenticate(ctx, doc);
		pdf_repair_xref(ctx, doc);
		pdf_repair_obj_stms(ctx, doc);
	}
	fz_catch(ctx) {
		fz_warn(ctx, "cannot repair %s: %s", rip->options->input, fz_caught_message(ctx));
		pdf_drop_document(ctx, doc);
		doc = NULL;
	}
	rip->repaired = doc;
	return doc;
}

/* A page that draws nothing although its content stream holds something is tried again from
 * the repaired document; when that draws it, its pixmap replaces pix. Either way the page
 * is reported. */
static fz_pixmap *redraw_from_repair(fz_context *ctx, struct rip *rip, int index, fz_pixmap *pix)
{
	pdf_document *repaired = repaired_copy(ctx, rip);
	rip->damaged_pages++;
	if (repaired) {
		char err[512];
		int drew_nothing = 0;
		fz_pixmap *again = render_page(ctx, repaired, index, rip->options->dpi, &drew_nothing, err, sizeof err);
		if (again && !drew_nothing) {
			fprintf(stderr, "pagerip: warning: page %d of %d drew nothing from its cross-reference table; "
				"drawn from the repaired file\n", index + 1, rip->page_count);
			fz_drop_pixmap(ctx, pix);
			return again;
		}
		fz_drop_pixmap(ctx, again);
	}
	fprintf(stderr, "pagerip: warning: page %d of %d draws nothing although its content stream is not empty; "
		"the file may be damaged\n", index + 1, rip->page_count);
	return pix;
}

/* Renders and writes one page. Returns 0, or -1 after printing why the page was skipped. */
static int rip_page(fz_context *ctx, struct rip *rip, int index)
{
	char path[PATH_MAX];
	char err[512];
	int result = -1;
	if (page_file_name(path, sizeof path, rip->options->base, index + 1, rip->page_width) != 0) {
		snprintf(err, sizeof err, "the output path is too long");
	} else {
		int drew_nothing = 0;
		fz_pixmap *pix = render_page(ctx, rip->doc, index, rip->options->dpi, &drew_nothing, err, sizeof err);
		if (pix && drew_nothing)
			pix = redraw_from_repair(ctx, rip, index, pix);
		result = pix ? write_page_png(ctx, pix, path, err, sizeof err) : -1;
		fz_drop_pixmap(ctx, pix);
	}
	if (result != 0)
		fprintf(stderr, "pagerip: page %d of %d skipped: %s\n", index + 1, rip->page_count, err);
	return result;
}

static int rip_document(fz_context *ctx, const struct options *options)
{
	struct rip rip = {options, NULL, 0, 0, NULL, 0, 0};
	rip.doc = open_pdf(ctx, options->input, &rip.page_count);
	if (!rip.doc)
		return EXIT_FAILURE;
	/* A repaired file may have lost pages without trace: its pages are written, but the
	 * run does not count as complete. */
	int repaired = pdf_was_repaired(ctx, rip.doc);
	if (repaired)
		fprintf(stderr, "pagerip: warning: %s is damaged or truncated; writing the pages that could be recovered\n",
			options->input);
	/* First, so that a caller who sees this run end early knows which pages it lacks. */
	fprintf(stderr, "pagerip: %d pages\n", rip.page_count);
	rip.page_width = page_number_width(rip.page_count);
	int cached = cache_page_tree(ctx, rip.doc);
	int failed = 0;
	for (int i = options->part - 1; i < rip.page_count; i += options->parts)
		if (rip_page(ctx, &rip, i) != 0)
			failed++;
	if (cached)
		pdf_drop_page_tree(ctx, rip.doc);
	pdf_drop_document(ctx, rip.repaired);
	pdf_drop_document(ctx, rip.doc);
	if (failed)
		fprintf(stderr, "pagerip: %d of %d pages could not be written\n", failed, rip.page_count);
	return failed || repaired || rip.damaged_pages ? EXIT_FAILURE : EXIT_SUCCESS;
}

int main(int argc, char **argv)
{
	int merging = argc > 1 && strcmp(argv[1], "-merge") == 0;
	struct options options;
	if (merging && (argc < 4 || !*argv[2]))
		return merge_usage();
	if (!merging && parse_options(argc, argv, &options) != 0)
		return usage();
	remove_pending_on_signals();
	fz_context *ctx = fz_new_context(NULL, NULL, FZ_STORE_DEFAULT);
	if (!ctx) {
		fprintf(stderr, "pagerip: cannot start the PDF library\n");
		return EXIT_FAILURE;
	}
	/* A failed merge says why in one line; the library's warnings about the damaged input
	 * would only repeat it. */
	fz_set_warning_callback(ctx, merging ? ignore_error : print_warning, NULL);
	fz_set_error_callback(ctx, ignore_error, NULL);
	int status;
	if (merging) {
		status = merge_documents(ctx, argv[2], argc - 3, argv + 3);
	} else {
		install_system_fonts(ctx);
		status = rip_document(ctx, &options);
	}
	fz_drop_context(ctx);
	release_system_fonts();
	return status;
}
