#include "input.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

/* Readers accept a header preceded by junk as long as it starts in the first kilobyte. */
enum { HEADER_WINDOW = 1024 };

static int has_pdf_header(const unsigned char *bytes, size_t length)
{
	static const char header[] = "%PDF-";
	const size_t header_length = sizeof header - 1;
	for (size_t i = 0; i + header_length <= length; i++)
		if (memcmp(bytes + i, header, header_length) == 0)
			return 1;
	return 0;
}

int check_pdf_file(const char *path, char *err, size_t err_size)
{
	struct stat st;
	if (stat(path, &st) != 0) {
		snprintf(err, err_size, "%s", strerror(errno));
		return -1;
	}
	if (!S_ISREG(st.st_mode)) {
		snprintf(err, err_size, "not a regular file");
		return -1;
	}
	FILE *file = fopen(path, "rb");
	if (!file) {
		snprintf(err, err_size, "%s", strerror(errno));
		return -1;
	}
	unsigned char bytes[HEADER_WINDOW];
	size_t length = fread(bytes, 1, sizeof bytes, file);
	int read_failed = ferror(file);
	fclose(file);
	if (read_failed) {
		snprintf(err, err_size, "read error");
		return -1;
	}
	if (!has_pdf_header(bytes, length)) {
		snprintf(err, err_size, "not a PDF file (no %%PDF- header)");
		return -1;
	}
	return 0;
}
