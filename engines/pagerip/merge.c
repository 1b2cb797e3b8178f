#include "merge.h"

#include "input.h"
#include "outfile.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { EXIT_USAGE = 2 };

/* Appends every page of the PDF at path to dst. Throws with the reason, the path in front. */
static void append_pages(fz_context *ctx, pdf_document *dst, const char *path)
{
	char err[256];
	if (check_pdf_file(path, err, sizeof err) != 0)
		fz_throw(ctx, FZ_ERROR_GENERIC, "%s: %s", path, err);
	pdf_document *src = NULL;
	pdf_graft_map *map = NULL;
	fz_var(src);
	fz_var(map);
	fz_try(ctx) {
		src = pdf_open_document(ctx, path);
		/* A file the library had to rebuild may have lost pages without trace. */
		if (pdf_was_repaired(ctx, src))
			fz_throw(ctx, FZ_ERROR_GENERIC, "damaged or truncated PDF");
		int count = pdf_count_pages(ctx, src);
		if (count <= 0)
			fz_throw(ctx, FZ_ERROR_GENERIC, "the document has no pages");
		/* One map per source document, so that objects its pages share are copied once. */
		map = pdf_new_graft_map(ctx, dst);
		for (int i = 0; i < count; i++)
			pdf_graft_mapped_page(ctx, map, -1, src, i);
	}
	fz_always(ctx) {
		pdf_drop_graft_map(ctx, map);
		pdf_drop_document(ctx, src);
	}
	fz_catch(ctx) {
		if (fz_caught(ctx) == FZ_ERROR_MEMORY)
			fz_rethrow(ctx);
		/* The message lives in the buffer the new one is written into. */
		snprintf(err, sizeof err, "%s", fz_caught_message(ctx));
		fz_throw(ctx, FZ_ERROR_GENERIC, "%s: %s", path, err);
	}
}

/* Writes the document into a buffer; the caller drops it. */
static fz_buffer *serialise(fz_context *ctx, pdf_document *doc)
{
	fz_buffer *buffer = fz_new_buffer(ctx, 64 * 1024);
	fz_output *out = NULL;
	fz_var(out);
	fz_try(ctx) {
		out = fz_new_output_with_buffer(ctx, buffer);
		pdf_write_options options = pdf_default_write_options;
		options.do_compress = 1;
		pdf_write_document(ctx, doc, out, &options);
		fz_close_output(ctx, out);
	}
	fz_always(ctx)
		fz_drop_output(ctx, out);
	fz_catch(ctx) {
		fz_drop_buffer(ctx, buffer);
		fz_rethrow(ctx);
	}
	return buffer;
}

static int write_file(const char *path, const unsigned char *data, size_t size, char *err, size_t err_size)
{
	struct pending_file pending;
	if (pending_open(&pending, path, err, err_size) != 0)
		return -1;
	if (fwrite(data, 1, size, pending.file) != size) {
		snprintf(err, err_size, "cannot write %s: write error", path);
		pending_abandon(&pending);
		return -1;
	}
	return pending_commit(&pending, path, err, err_size);
}

int merge_documents(fz_context *ctx, const char *output, int count, char **inputs)
{
	pdf_document *doc = NULL;
	fz_buffer *buffer = NULL;
	char err[512] = "";
	fz_var(doc);
	fz_var(buffer);
	fz_try(ctx) {
		doc = pdf_create_document(ctx);
		for (int i = 0; i < count; i++)
			append_pages(ctx, doc, inputs[i]);
		buffer = serialise(ctx, doc);
	}
	fz_always(ctx)
		pdf_drop_document(ctx, doc);
	fz_catch(ctx) {
		snprintf(err, sizeof err, "%s", fz_caught_message(ctx));
		buffer = NULL;
	}
	int result = -1;
	if (buffer) {
		unsigned char *data = NULL;
		size_t size = fz_buffer_storage(ctx, buffer, &data);
		result = write_file(output, data, size, err, sizeof err);
		fz_drop_buffer(ctx, buffer);
	}
	if (result != 0)
		fprintf(stderr, "pagerip: cannot merge into %s: %s\n", output, err);
	return result == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

int merge_usage(void)
{
	fprintf(stderr, "usage: pagerip -merge out.pdf in.pdf...\n"
		"  writes every page of the inputs, in order, into out.pdf\n");
	return EXIT_USAGE;
}
