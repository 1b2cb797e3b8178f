/* pagerip -merge out.pdf in.pdf...: every page of the inputs, in their order, gathered into
 * one PDF. Each page is copied with the objects it uses, so it keeps its size, its drawing
 * and its resources. The result appears under out.pdf only when whole. */
#ifndef PAGERIP_MERGE_H
#define PAGERIP_MERGE_H

#include <mupdf/fitz.h>

/* Prints the merge mode's usage; returns the usage-error status, 2. */
int merge_usage(void);

/* Writes every page of the count inputs, in order, into output. Returns 0 when output holds
 * them all, else 1 after printing "pagerip: cannot merge into <output>: <reason>". */
int merge_documents(fz_context *ctx, const char *output, int count, char **inputs);

#endif
