/* Output files that appear under their final name only when complete: written as an unnamed
 * file in the same folder and linked under the final name, or, where the file system cannot
 * make unnamed files, under a hidden temporary name and then renamed. */
#ifndef PAGERIP_OUTFILE_H
#define PAGERIP_OUTFILE_H

#include <limits.h>
#include <stddef.h>
#include <stdio.h>

struct pending_file {
	char temp_path[PATH_MAX];
	FILE *file;
	int unnamed; /* an O_TMPFILE file: it has no name until it is linked, so a killed run leaves nothing */
};

/* Creates the temporary file beside final_path. Returns 0, or -1 with a message in err. */
int pending_open(struct pending_file *pending, const char *final_path, char *err, size_t err_size);

/* Closes the temporary file and renames it to final_path. On failure the temporary file
 * is removed and -1 is returned with a message in err. */
int pending_commit(struct pending_file *pending, const char *final_path, char *err, size_t err_size);

/* Closes and removes the temporary file. */
void pending_abandon(struct pending_file *pending);

/* Makes SIGINT, SIGTERM and SIGHUP remove the temporary file being written before the
 * process ends with the signal. */
void remove_pending_on_signals(void);

#endif
