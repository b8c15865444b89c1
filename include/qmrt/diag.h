/* Diagnostics: fatal and informational reports, the "debug2" trace file and the two
 * shared message buffers every other service formats into. Single-threaded. */
#ifndef QMRT_DIAG_H
#define QMRT_DIAG_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define QMRT_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#define QMRT_NORETURN __attribute__((noreturn))
#else
#define QMRT_PRINTF_LIKE(f, a)
#define QMRT_NORETURN
#endif

/* The latest operator message (lookup warnings, exchange failures, lock refusals,
 * the 16-character clock stamp). Always terminated; longer texts are cut to fit. */
extern char qm_errstr[500];
/* The latest trace line, or the text of a failed trace-file open or write. */
extern char qm_calstr[500];

/* Prints the formatted text and a newline on standard error, then aborts.
 * A null format reports "log_die: assertion failed: msg != NULL (...)" instead. */
QMRT_NORETURN void log_die(const char *format, ...) QMRT_PRINTF_LIKE(1, 2);

/* Prints the formatted text and a newline on standard error. Returns the result of
 * writing the newline: 10, or EOF on failure. A null format is a fatal report. */
int log_info(const char *format, ...) QMRT_PRINTF_LIKE(1, 2);

/* Appends text to "debug2" in the working directory and returns 0, whether or not the
 * append succeeded. Each call reaches the file in one write on an O_APPEND descriptor,
 * so texts appended by several processes at once never interleave. "debug2" may be a
 * symbolic link (to a log volume, to /dev/null) or a FIFO with a reader, which receives
 * each text whole. When the file cannot be opened (a FIFO without a reader: error 6; a
 * lock file of the process, whose locks its closing would drop: error 16),
 * "Gagal membuka file \"debug2\", system error = N\n" is formatted into qm_calstr and
 * printed on standard output; when a write cannot finish (a full disk: error 28),
 * "Gagal menulis file \"debug2\", system error = N\n" the same way. */
int write_debug2(const char *text);

#ifdef __cplusplus
}
#endif

#endif
