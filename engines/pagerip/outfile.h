/* Output files that appear under their final name only when complete: written under a
 * hidden temporary name in the same folder, then renamed. */
#ifndef PAGERIP_OUTFILE_H
#define PAGERIP_OUTFILE_H

#include <limits.h>
#include <stddef.h>
#include <stdio.h>

struct pending_file {
	char temp_path[PATH_MAX];
	FILE *file;
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
