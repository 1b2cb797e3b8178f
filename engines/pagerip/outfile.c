#include "outfile.h"
#include "names.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The one temporary file in progress, for the signal handler. */
static char signal_temp_path[PATH_MAX];
static volatile sig_atomic_t signal_temp_set;

/* The mode an ordinary new file would get. The umask can only be read by setting it, so
 * it is read once. */
static mode_t file_mode(void)
{
	static mode_t mode;
	static int known;
	if (!known) {
		mode_t mask = umask(0);
		umask(mask);
		mode = (S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH) & ~mask;
		known = 1;
	}
	return mode;
}

int pending_open(struct pending_file *pending, const char *final_path, char *err, size_t err_size)
{
	pending->file = NULL;
	char folder[PATH_MAX];
	if (folder_of(folder, sizeof folder, final_path) != 0) {
		snprintf(err, err_size, "the output path is too long");
		return -1;
	}
	/* Hidden and without the .png ending, so it never matches the caller's page pattern. */
	int n = snprintf(pending->temp_path, sizeof pending->temp_path, "%s.pagerip-XXXXXX", folder);
	if (n < 0 || (size_t)n >= sizeof pending->temp_path) {
		snprintf(err, err_size, "the output path is too long");
		return -1;
	}
	signal_temp_set = 0;
	memcpy(signal_temp_path, pending->temp_path, (size_t)n + 1);
	int fd = mkstemp(signal_temp_path);
	if (fd < 0) {
		snprintf(err, err_size, "cannot create a file in the output folder: %s", strerror(errno));
		return -1;
	}
	signal_temp_set = 1;
	memcpy(pending->temp_path, signal_temp_path, (size_t)n + 1);
	/* mkstemp gives 0600; the page images get the usual mode of new files. */
	if (fchmod(fd, file_mode()) != 0 || !(pending->file = fdopen(fd, "wb"))) {
		snprintf(err, err_size, "cannot open %s: %s", pending->temp_path, strerror(errno));
		close(fd);
		pending_abandon(pending);
		return -1;
	}
	return 0;
}

int pending_commit(struct pending_file *pending, const char *final_path, char *err, size_t err_size)
{
	FILE *file = pending->file;
	pending->file = NULL;
	int write_failed = ferror(file);
	if (fclose(file) != 0 || write_failed) {
		snprintf(err, err_size, "cannot write %s: %s", pending->temp_path,
			write_failed ? "write error" : strerror(errno));
		pending_abandon(pending);
		return -1;
	}
	if (rename(pending->temp_path, final_path) != 0) {
		snprintf(err, err_size, "cannot rename %s to %s: %s", pending->temp_path, final_path, strerror(errno));
		pending_abandon(pending);
		return -1;
	}
	signal_temp_set = 0;
	return 0;
}

void pending_abandon(struct pending_file *pending)
{
	if (pending->file) {
		fclose(pending->file);
		pending->file = NULL;
	}
	signal_temp_set = 0;
	unlink(pending->temp_path);
}

static void on_signal(int sig)
{
	if (signal_temp_set)
		unlink(signal_temp_path);
	signal(sig, SIG_DFL);
	raise(sig);
}

void remove_pending_on_signals(void)
{
	const int signals[] = {SIGINT, SIGTERM, SIGHUP};
	struct sigaction action;
	memset(&action, 0, sizeof action);
	action.sa_handler = on_signal;
	sigemptyset(&action.sa_mask);
	for (size_t i = 0; i < sizeof signals / sizeof signals[0]; i++)
		sigaction(signals[i], &action, NULL);
}
