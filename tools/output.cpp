#include "output.h"

#include "io.h"
#include "io_names.h"
#include "quoting.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace tool {

namespace {

// The first error writing standard output.
int output_error = 0;

std::string error_text(const iniplace::Status &status) {
    return status.error != 0 ? std::strerror(status.error) : "failed";
}

} // namespace

void out(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && output_error == 0)
        output_error = iniplace::io::last_error();
}

bool output_flushed() {
    if (std::fflush(stdout) != 0 && output_error == 0)
        output_error = iniplace::io::last_error();
    return output_error == 0;
}

int finish(int status) {
    (void)output_flushed();
    if (output_error == 0)
        return status;
    report({exit_file, "standard output", std::strerror(output_error)});
    return exit_file;
}

std::string one_line(std::string_view text) {
    std::string line(text);
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return line;
}

void report(const Failure &failure) {
    const std::string file = failure.file.empty() ? "" : one_line(failure.file) + ": ";
    std::fprintf(stderr, "iniplace: %s%s\n", file.c_str(), one_line(failure.message).c_str());
}

void fail(int status, std::string_view file, std::string_view message) {
    throw Failure{status, std::string(file), std::string(message)};
}

Failure caught_failure() {
    try {
        throw;
    } catch (Failure &failure) {
        return std::move(failure);
    } catch (const std::bad_alloc &) {
        return {exit_file, "", "out of memory"};
    } catch (const std::exception &error) {
        return {exit_file, "", error.what()};
    } catch (...) {
        return {exit_file, "", "failed"};
    }
}

void usage_error(std::string_view message) {
    fail(exit_usage, "", std::string(message) + " (see 'iniplace --help')");
}

void warn(std::string_view file, std::string_view message) {
    report({exit_done, std::string(file), std::string(message)});
}

std::string describe(const iniplace::Status &status) {
    switch (status.outcome) {
    case iniplace::Outcome::not_regular:
        return "not a regular file";
    case iniplace::Outcome::linked:
        return "a symbolic link to a missing file: the durable build makes no file through a "
               "link";
    case iniplace::Outcome::denied:
        return "cannot be opened: " + error_text(status);
    case iniplace::Outcome::busy:
        return "busy: another process held its lock for " +
               std::to_string(iniplace::lock_wait_ms / 1000) + " seconds; nothing changed";
    case iniplace::Outcome::not_read:
        return "cannot be read: " + error_text(status);
    case iniplace::Outcome::not_written:
        return "the edit did not take effect: " + error_text(status);
    case iniplace::Outcome::not_made:
        return "cannot be made: " + error_text(status) + "; nothing was left behind";
    case iniplace::Outcome::hard_linked:
        return "has more than one hard link, whose names would not find its journal; the "
               "durable build does not edit it";
    case iniplace::Outcome::mounted:
        return "is mounted on its own (a bind mount of the file), and the name it hides would "
               "not find its journal; the durable build does not edit it";
    case iniplace::Outcome::foreign_link:
        return "reached through a link that another user could have made in a directory others "
               "may write (a symbolic link of hers, or a second hard link): not followed; "
               "nothing changed";
    case iniplace::Outcome::untrusted:
        return "what stands at its journal's name (FILE" + std::string(iniplace::side_suffix) +
               ") is not iniplace's own: not a plain file of one link and mode 0" +
               std::to_string(iniplace::owner_only >> 6) +
               std::to_string(iniplace::owner_only >> 3 & 7) +
               std::to_string(iniplace::owner_only & 7) +
               ", this user's or the file owner's, made for this name; nothing changed";
    case iniplace::Outcome::unsafe:
        return "no journal could be made or put back: " + error_text(status) +
               "; the file was not touched";
    default:
        return error_text(status);
    }
}

void fail_file(const std::string &path, const iniplace::Status &status) {
    fail(exit_file, path, describe(status));
}

void print_items(const Call &call, const std::vector<std::string> &items) {
    if (call.format == Format::json) {
        out(json_array(items) + "\n");
        return;
    }
    for (const std::string &item : items)
        out(item + "\n");
}

} // namespace tool
