#include "names.h"

#include <stdio.h>
#include <string.h>

int page_number_width(int page_count)
{
	int digits = 1;
	for (int n = page_count; n >= 10; n /= 10)
		digits++;
	return digits > 4 ? digits : 4;
}

static size_t folder_length(const char *path)
{
	const char *slash = strrchr(path, '/');
	return slash ? (size_t)(slash - path) + 1 : 0;
}

int folder_of(char *out, size_t out_size, const char *path)
{
	size_t n = folder_length(path);
	if (n >= out_size)
		return -1;
	memcpy(out, path, n);
	out[n] = '\0';
	return 0;
}

int page_file_name(char *out, size_t out_size, const char *base, int page, int width)
{
	size_t folder_end = folder_length(base);
	const char *dot = strrchr(base + folder_end, '.');
	size_t stem_end = dot ? (size_t)(dot - base) : strlen(base);
	int n = snprintf(out, out_size, "%.*s-%0*d.png", (int)stem_end, base, width, page);
	return n < 0 || (size_t)n >= out_size ? -1 : 0;
}
