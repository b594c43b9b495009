/*
 * iniplace: read and edit INI-style configuration files in place.
 *
 * Every function is one self-contained call: it opens the file named by
 * `path`, scans it from the top, reads or edits in place, closes it and
 * returns a status. Nothing is kept between calls, nothing is allocated on
 * the heap, nothing is printed.
 *
 * Locking: every call by path locks the file while it runs, shared to read
 * and exclusive to edit (open file description locks on its first bytes;
 * edits take flock() too), and lets the lock go before it closes the file,
 * so that calls on one file from any number of threads and processes (the
 * iniplace tool included, and scripts under flock(1) for edits) take turns.
 * Gets that keep coming keep no edit out, nor edits gets. A call waits at
 * most 5 seconds of the monotonic clock for a lock another holds (trying
 * again after pauses of 0.1 to 10 ms), then returns INI_EOPEN with the file
 * as it was; a process that holds the lock itself gets INI_EOPEN too. A
 * user who can only read the file can make edits wait and fail that way,
 * never gets. An edit checks, under its lock, that the path still reaches
 * the file it locked. Symbolic links are followed only where no other user
 * could have put them in the way (see docs/library.md). The building
 * blocks on a caller's stream (parse, parse_section, file_ins, file_cut)
 * take no lock.
 *
 * File format as read: lines end with a line feed (a carriage return before
 * it is ignored). A trimmed line starting with `[` is a section header and
 * ends the section before it; `[name]` names the section `name`. A line
 * holding `=` inside a section is a key line; its key is what stands before
 * the first space, tab or `=`, its value the trimmed text after the first
 * `=`. Every non-header line of a section, blank and key lines included, is
 * an entry of that section. Lines before the first header form the preamble.
 * There is no comment syntax: `;` and `#` lines are ordinary lines.
 * Comparison is byte-wise and case-sensitive.
 *
 * The wildcard "*" as a section means "the section the scan is already in"
 * (the preamble at the top of a file); as a key it matches any key line.
 *
 * Limits: a physical line longer than 998 bytes is read in pieces of 998
 * bytes, each taken as a line of its own; a line found by its first piece
 * is replaced or removed whole, one found by a later piece from that piece
 * on (so deleting it joins the pieces before it with the next line). The
 * library never writes a line (or a new header with its first line) of more
 * than 998 bytes, line feeds included, and rejects such input with
 * INI_EINVAL instead.
 *
 * Edits check the file-size limit before any byte moves and grow the file
 * first (reserving space in a file with holes): a full disk or RLIMIT_FSIZE
 * leaves the file as it was, and no signal is raised. A missing file is
 * written at NAME-journal beside it, owner-only, synced and moved into
 * place without replacing anything: it appears whole or not at all, and a
 * failure leaves nothing and returns INI_EOPEN. A call uses at most 28 KB of
 * stack in an optimised build (the presets' builds), 29 KB unoptimised
 * (-O0); ini_getkeys's handler runs on top of that.
 *
 * Built with INIPLACE_DURABLE, every edit by path is journaled in
 * NAME-journal (NAME: the file's resolved name), made owner-only (0600), and
 * a crash or a power loss leaves the old or the new file (docs/durable.md).
 * That build never edits without a journal: where none can be made (a
 * read-only directory, no space, the file-size limit), and for a file with
 * more than one hard link, an edit returns INI_EOPEN and leaves the file as
 * it was; so does an edit whose write or sync failed once the journal was
 * made (the file is put back). Anything at NAME-journal that is not a
 * regular file with one link and mode 0600, owned by the caller or the
 * file's owner, or a journal made under another name, makes every call
 * return INI_EOPEN, the file untouched. A symbolic link to a missing file
 * is not followed to make it. In both builds, a symbolic link that another
 * user made in a directory others may write is not followed (INI_EOPEN).
 */
#ifndef INIPLACE_H
#define INIPLACE_H

#include <stdio.h>

#include "iniplace_version.h"

#if defined(INIPLACE_BUILDING)
#define INIPLACE_API __attribute__((visibility("default")))
#else
#define INIPLACE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of the operations on files. */
enum {
    INI_OK = 0,          /* done; for lookups: found */
    INI_NOT_FOUND = 1,   /* lookups: no such section, key or entry */
    INI_EOPEN = -1,      /* the file could not be opened (or created), is
                            not a regular file, could not be read, or its
                            lock stayed taken for 5 s; the durable build:
                            no journal could be made, or what stands at
                            its name is not the library's own;
                            file_ins/file_cut: I/O failed */
    INI_EINVAL = -2,     /* rejected argument, unconvertible value, or a
                            text too long to write; no file was touched */
    INI_ESECTION = -102, /* ini_getsection*: null or wildcard section */
    INI_EDEST = -103,    /* ini_getsection: null destination or len < 1 */
    INI_EREREAD = -105   /* kept for callers that test for it: entries are
                            read once, so no call returns it any more */
};

/* Results of the scanners parse() and parse_section(). */
enum {
    INI_SCAN_NONE = 0,     /* section not found, or end of file */
    INI_SCAN_BOUNDARY = 1, /* section found but nothing (more) in it */
    INI_SCAN_LINE = 2      /* a key line or an entry was read into buf */
};

/* Modes of ini_getsection() and ini_getsection_string(). */
enum {
    INI_ENTRY_FIRST = 0, /* the first entry of the section */
    INI_ENTRY_MATCH = 1, /* the first entry equal to ref (presence test) */
    INI_ENTRY_NEXT = 2,  /* the entry right after the one equal to ref */
    INI_ENTRY_PREV = 3   /* the entry right before the one equal to ref */
};

/* Sizes the library works with. */
enum {
    INI_LINE_SIZE = 1000, /* working line buffer; pass it to the scanners */
    INI_MAX_TEXT = 998    /* longest text written at one place */
};

/* Frame */

/* Stores the library version (INIPLACE_VERSION_MAJOR, _MINOR and _PATCH of
 * iniplace_version.h) in the non-null out-parameters and returns 1.
 * Touches no file. */
INIPLACE_API int ini_version(int *major, int *minor, int *micro);

/* Building blocks */

/* Trims `s` in place: trailing spaces, tabs, line feeds and carriage
 * returns are overwritten with zero bytes, except the first byte of the
 * trimmed text, which is never removed (a lone line feed stays). Returns a
 * pointer into `s` past its leading spaces and tabs; NULL for NULL. */
INIPLACE_API char *trim_string(char *s);

/* Scans `stream` forward from its position for `key` inside `section`,
 * reading lines into `buf` (`size` bytes, at least 3; each read takes at
 * most size - 2 bytes). Returns INI_SCAN_LINE with the stream at the first
 * byte of the matching key line (held trimmed in `buf`); INI_SCAN_BOUNDARY
 * when the section holds no such key, with the stream at the first byte of
 * the next header or at the end of the file (for an empty key: at the
 * section's own header); INI_SCAN_NONE when the section was not found, with
 * the stream where the last read ended. Null arguments or size < 3 give
 * INI_SCAN_NONE without reading. `buf` holds the last line read, trimmed
 * in place (leading spaces and tabs stay), also when the scan ended at the
 * end of the file; when nothing was read, only its last byte changes (to a
 * zero byte, so that it is always terminated). The stream's
 * error and end-of-file state is cleared on return. */
INIPLACE_API int parse(FILE *stream, const char *section, const char *key, char *buf, int size);

/* Scans `stream` forward for the next entry of `section` (every line that
 * is not a header). Returns INI_SCAN_LINE with the entry trimmed in `buf`;
 * INI_SCAN_BOUNDARY when a header or, after the section's header, the end
 * of the file comes first; INI_SCAN_NONE when the section was not found
 * (with "*": at the end of the file). With `rewind` non-zero the stream is
 * left at the first byte of the last line read, otherwise just after it;
 * for INI_SCAN_NONE it is at the end of the file. Step through a section
 * by calling again with the section "*". `buf` holds the last line read,
 * as for parse(). Null arguments or size < 3 give INI_SCAN_NONE without
 * reading. */
INIPLACE_API int parse_section(FILE *stream, const char *section, char *buf, int size, int rewind);

/* Inserts the `len` bytes at `data` at the stream's position, moving the
 * rest of the file towards its end; the stream is left after them. The
 * file is grown first: if that fails (full disk, file-size limit) it is
 * cut back to its old length, unchanged. Returns 0, or -1 when a seek, read
 * or write failed, for a null stream or data, a negative `len`, for `len` 0
 * (nothing inserted, stream left at its position), and for a stream opened
 * for appending, whose writes would all land at the end. */
INIPLACE_API int file_ins(FILE *stream, long len, const void *data);

/* Removes `len` bytes at the stream's position (fewer when the file ends
 * sooner, down to its end), moves the rest back and shortens the file. The
 * stream is left at the new end of the file, or, when no byte had to move
 * (the cut reached the end), at the old end: seek before writing there.
 * Returns 0, or -1 when a seek, read or write failed, for a null stream, a
 * negative `len` and a stream opened for appending. `len` 0 leaves file and
 * stream untouched. */
INIPLACE_API int file_cut(FILE *stream, long len);

/* Keys */

/* Copies the value of `key` in `section` into `dst` (`len` bytes, at least
 * 1), cut to len - 1 bytes and always terminated; the rest of `len` is
 * zero-filled. Returns INI_OK, INI_NOT_FOUND (no such section or key; `dst`
 * untouched), INI_EOPEN, or INI_EINVAL for null arguments or len < 1. */
INIPLACE_API int ini_getkey(const char *path, const char *section, const char *key, char *dst,
                            int len);

/* Writes the line `key=value` into `section`: replaces the first matching
 * key line whole, or adds the line at the end of the section (before the
 * next header), or appends a new section `[section]` with the line at the
 * end of the file, creating the file if it does not exist. With the section
 * "*" the line goes into the preamble, without a header. Values are
 * trimmed when read, so trailing spaces or carriage returns do not read
 * back. Returns INI_OK, INI_EOPEN (neither opened nor created), or
 * INI_EINVAL, touching and creating nothing, for: a null argument; an empty
 * key or "*"; a key holding `=` or a line feed or starting with `[`, a space
 * or a tab; a section or value holding a line feed; a text over
 * INI_MAX_TEXT bytes (for a new section's header with its line this is
 * known only after the scan: on a path that cannot be opened, INI_EOPEN).
 * A write that fails once the file is open is not reported (INI_OK). */
INIPLACE_API int ini_setkey(const char *path, const char *section, const char *key,
                            const char *value);

/* Deletes the first matching key line ("*": the first key line) of
 * `section`. Returns INI_OK (also when there was nothing to delete),
 * INI_EOPEN (never creates the file), or INI_EINVAL for null arguments. */
INIPLACE_API int ini_delkey(const char *path, const char *section, const char *key);

/* Deletes the first section named `section` ("*": the first section of the
 * file) from its header up to the next header. Returns INI_OK (also when
 * there was nothing to delete), INI_EOPEN, or INI_EINVAL for null
 * arguments. */
INIPLACE_API int ini_delsect(const char *path, const char *section);

/* Typed values */

/* Writes `value` enclosed in double quotes (no escaping). Statuses as
 * ini_setkey; INI_EINVAL also for a null value. */
INIPLACE_API int ini_setkey_string(const char *path, const char *section, const char *key,
                                   const char *value);
/* Writes `value` in signed decimal. */
INIPLACE_API int ini_setkey_long(const char *path, const char *section, const char *key,
                                 long value);
/* Writes `value` in unsigned decimal. */
INIPLACE_API int ini_setkey_ulong(const char *path, const char *section, const char *key,
                                  unsigned long value);
/* Writes `value` as 0x and upper-case hexadecimal digits (0 gives 0x0). */
INIPLACE_API int ini_setkey_hex(const char *path, const char *section, const char *key,
                                unsigned long value);
/* Writes bits 31 to 0 of `value` as 32 binary digits, no prefix. */
INIPLACE_API int ini_setkey_bin(const char *path, const char *section, const char *key, long value);

/* Copies the value with one pair of enclosing double quotes removed into
 * `dst` with strncpy semantics: zero-filled when shorter than `len`, NOT
 * terminated when it has `len` bytes or more. On any other status `def` is
 * copied the same way when not null. Returns the ini_getkey status (an
 * empty value is INI_OK), or INI_EINVAL for null arguments or len < 1. */
INIPLACE_API int ini_getkey_string(const char *path, const char *section, const char *key,
                                   char *dst, int len, const char *def);

/* The numeric getters read the value as a whole number: first in decimal
 * (never octal: 010 is 10), then in hexadecimal with or without 0x (1e3 is
 * 483); ini_getkey_bin only in base 2, without prefix. Leading white space
 * is skipped as strtol skips it (`k=\v5` reads 5). Values out of the
 * range of the type fail; the unsigned getters wrap a minus sign. On every
 * failure `*out` receives `def`. Returns INI_OK, INI_NOT_FOUND, INI_EOPEN,
 * or INI_EINVAL for an empty or unconvertible value and null arguments (a
 * null `out` stores nothing). */
INIPLACE_API int ini_getkey_long(const char *path, const char *section, const char *key, long *out,
                                 long def);
INIPLACE_API int ini_getkey_ulong(const char *path, const char *section, const char *key,
                                  unsigned long *out, unsigned long def);
INIPLACE_API int ini_getkey_bin(const char *path, const char *section, const char *key,
                                unsigned long *out, unsigned long def);

/* Entry lists */

/* Selects one entry of `section` by `mode` (INI_ENTRY_*), compared after
 * trimming with the first 999 bytes of `ref`, and copies it, trimmed, into
 * `dst` (`len` bytes, cut to len - 1, terminated). Only the first section
 * of that name is walked, up to the next header. Returns INI_OK;
 * INI_NOT_FOUND with `dst` empty (also for an unknown mode, once the file
 * is open, and for INI_ENTRY_PREV when the entry before is empty or len is
 * 1); INI_EOPEN;
 * INI_ESECTION for a null or "*" section; INI_EDEST for a null `dst` or
 * len < 1; INI_EINVAL, `dst` untouched, for a null path, or a null `ref`
 * with modes 1 to 3 (`ref` may be null with the other modes). */
INIPLACE_API int ini_getsection(const char *path, const char *section, const char *ref, int mode,
                                char *dst, int len);

/* As ini_getsection, copying the entry into `dst` with strncpy semantics
 * (zero-filled, not terminated when it has `len` bytes or more); on any
 * other status copies `def` the same way when not null. Never returns
 * INI_EDEST: a null `dst` or len < 1 gives INI_EINVAL. */
INIPLACE_API int ini_getsection_string(const char *path, const char *section, const char *ref,
                                       int mode, char *dst, int len, const char *def);

/* Adds `entry` as the last line of `section` (before the next header, after
 * any trailing blank lines) unless an equal entry is already there; a
 * missing section is appended with its entry, a missing file created; with
 * "*" the entry goes into the preamble. The entry is written as given.
 * Returns INI_OK (added or already present), INI_EOPEN, or INI_EINVAL,
 * touching and creating nothing, for: a null argument; a section holding a
 * line feed; an empty entry (nothing but spaces and tabs); an entry
 * holding a line feed or starting (after spaces and tabs) with `[`; a text
 * over INI_MAX_TEXT bytes. A blank entry that keeps a carriage return ("\r",
 * " \r") is added: it reads back as a blank line of a CRLF file. */
INIPLACE_API int ini_setsection_string(const char *path, const char *section, const char *entry);

/* Removes the first entry of `section` equal to `entry` (after trimming),
 * its whole line. Returns INI_OK (also when there was nothing to remove),
 * INI_EOPEN (never creates the file), or INI_EINVAL for null arguments. */
INIPLACE_API int ini_delsection_string(const char *path, const char *section, const char *entry);

/* Many keys at once. These two functions come after the others (the
 * interface's 1.1; ini_version() still reports the 1.0.0 of the others,
 * whose behaviour they do not change): test INIPLACE_KEYS_AT_ONCE. */
#define INIPLACE_KEYS_AT_ONCE 1

/* Called by ini_getkeys() with each key: the section's name ("*" for the
 * preamble), the key and its value, each terminated and valid until it
 * returns. A non-zero return stops the walk. */
typedef int (*ini_key_handler)(void *user, const char *section, const char *key, const char *value);

/* Reads `path` in blocks, under its shared lock, and hands `handler` (with
 * `user`) every key of `section`, or of every section (the preamble first)
 * for a null or "*" section, in file order, as ini_getkey() reads it: the
 * key is what stands before the first space, tab or `=` of a key line, the
 * value the trimmed text after the first `=`, within the line's first 998
 * bytes. A key a get cannot reach is left out: a later line of a key that
 * stands twice in its section, a key line starting with `=`, the key "*",
 * the lines under a header that repeats an earlier one, under one that
 * names no section (`[a] x`) or under `[*]`. Returns INI_OK once every
 * key was handed; the handler's non-zero return when it stopped the walk
 * (return values other than the statuses to tell them apart);
 * INI_NOT_FOUND for a named section the file lacks; INI_EOPEN; INI_EINVAL
 * for a null path or handler. The handler may read the file with the
 * other functions, but not edit it: an edit waits for this call's lock
 * and fails after 5 seconds (and a handler that reads the file makes the
 * edits of other processes wait for the whole walk). The handler must
 * return: leaving it by longjmp keeps the file open and locked for the
 * life of the process, and a child it forks must not return into the
 * walk, whose lock the child shares. The file is read once for a section of up to
 * 192 key names; a larger section is walked in windows of 192 names, each
 * looked for again over the part of the section before it. */
INIPLACE_API int ini_getkeys(const char *path, const char *section, ini_key_handler handler,
                             void *user);

/* One setting for ini_setkeys(): `key` of `section` set to `value`, or
 * deleted for a null `value`. */
struct ini_setting {
    const char *section;
    const char *key;
    const char *value;
};

/* The most settings ini_setkeys() takes at once. */
enum { INI_SETKEYS_MAX = 1024 };

/* Makes `count` settings of `path` as one edit: each as ini_setkey() or
 * ini_delkey() would make it on the file the settings before it left (a
 * later setting of the same key wins), under one exclusive lock, so that a
 * reader sees the file before the batch or after it; in the durable build
 * under one journal, so that a crash or a power loss leaves the old or the
 * new file. Where the file and its growth fit the read block (16 KB, 8 KB
 * durable), its bytes are written once; on a larger file the settings are
 * made one after another, once the space they may grow into is reserved
 * (the default build can then leave a batch half made when a write fails
 * or the process dies half-way, as a single edit's move). A missing file is
 * made when a setting sets a key. Returns INI_OK (also for count 0,
 * touching nothing); INI_EOPEN when the file can be neither opened nor
 * made, and, unlike the single calls, when a write fails (a full disk, the
 * file-size limit: the file as it was); INI_EINVAL, the file untouched and
 * not made, when any setting is refused as its single call would refuse
 * it, for a null argument, a negative count or one over INI_SETKEYS_MAX. */
INIPLACE_API int ini_setkeys(const char *path, const struct ini_setting *settings, int count);

#ifdef __cplusplus
}
#endif

#endif
