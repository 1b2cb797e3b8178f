/* Checks on the input file before the PDF library sees it. */
#ifndef PAGERIP_INPUT_H
#define PAGERIP_INPUT_H

#include <stddef.h>

/* Returns 0 when path is a regular file with a PDF header in its first kilobyte, or -1
 * with the reason in err. */
int check_pdf_file(const char *path, char *err, size_t err_size);

#endif
