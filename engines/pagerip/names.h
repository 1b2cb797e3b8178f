/* Page image names: base stem, '-', zero-padded page number, ".png". */
#ifndef PAGERIP_NAMES_H
#define PAGERIP_NAMES_H

#include <stddef.h>

/* Digits used for page numbers in a document of page_count pages: at least 4, so that
 * the names sort in page order. */
int page_number_width(int page_count);

/* Writes the folder of base followed by its stem, '-', page (1-based) padded to width
 * digits and ".png" into out. Returns 0, or -1 when it does not fit in out_size. */
int page_file_name(char *out, size_t out_size, const char *base, int page, int width);

/* Writes the folder part of path (up to and including its last '/'; "" when it has
 * none) into out. Returns 0, or -1 when it does not fit. */
int folder_of(char *out, size_t out_size, const char *path);

#endif
