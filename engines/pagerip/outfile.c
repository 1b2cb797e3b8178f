#define _GNU_SOURCE
#include "outfile.h"
#include "names.h"

#include <errno.h>
#include <fcntl.h>
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

/* An unnamed file in the folder, linked under its name through /proc at commit. */
static int open_unnamed(struct pending_file *pending, const char *folder)
{
	if (access("/proc/self/fd", X_OK) != 0)
		return -1;
	int fd = open(folder[0] ? folder : ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, file_mode());
	if (fd < 0)
		return -1;
	if (!(pending->file = fdopen(fd, "wb"))) {
		close(fd);
		return -1;
	}
	pending->unnamed = 1;
	return 0;
}

int pending_open(struct pending_file *pending, const char *final_path, char *err, size_t err_size)
{
	pending->file = NULL;
	pending->unnamed = 0;
	char folder[PATH_MAX];
	if (folder_of(folder, sizeof folder, final_path) != 0) {
		snprintf(err, err_size, "the output path is too long");
		return -1;
	}
	if (open_unnamed(pending, folder) == 0)
		return 0;
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

static int commit_unnamed(struct pending_file *pending, const char *final_path, char *err, size_t err_size)
{
	FILE *file = pending->file;
	pending->file = NULL;
	int failed = fflush(file) != 0 || ferror(file);
	int error = failed ? errno : 0;
	if (!failed) {
		char self[64];
		snprintf(self, sizeof self, "/proc/self/fd/%d", fileno(file));
		/* Replaces what has the name, as a rename would. */
		int linked = linkat(AT_FDCWD, self, AT_FDCWD, final_path, AT_SYMLINK_FOLLOW);
		if (linked != 0 && errno == EEXIST && unlink(final_path) == 0)
			linked = linkat(AT_FDCWD, self, AT_FDCWD, final_path, AT_SYMLINK_FOLLOW);
		failed = linked != 0;
		error = failed ? errno : 0;
	}
	if (fclose(file) != 0 && !failed) {
		failed = 1;
		error = errno;
		unlink(final_path);
	}
	if (failed) {
		snprintf(err, err_size, "cannot write %s: %s", final_path, error ? strerror(error) : "write error");
		return -1;
	}
	return 0;
}

int pending_commit(struct pending_file *pending, const char *final_path, char *err, size_t err_size)
{
	if (pending->unnamed)
		return commit_unnamed(pending, final_path, err, err_size);
	FILE *file = pending->file;
	pending->file = NULL;
	errno = 0;
	int write_failed = fflush(file) != 0 || ferror(file);
	int error = errno;
	if (fclose(file) != 0 && !write_failed) {
		write_failed = 1;
		error = errno;
	}
	if (write_failed) {
		snprintf(err, err_size, "cannot write %s: %s", pending->temp_path, error ? strerror(error) : "write error");
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
	if (pending->unnamed)
		return;
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
