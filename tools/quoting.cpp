#include "quoting.h"

#include "tool.h"

#include <algorithm>
#include <cstdio>

namespace tool {

namespace {

// The length of the sequence that `lead` starts, 0 if it starts none.
std::size_t sequence_length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    return lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
}

// The length of the valid UTF-8 sequence at the start of `text`, 0 if none.
std::size_t utf8_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t length = sequence_length(byte(0));
    if (length == 0 || text.size() < length)
        return 0;
    unsigned long code = byte(0) & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i) & 0x3Fu);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : length;
}

std::string escape(unsigned code) {
    char text[sizeof "\\uDCFF"];
    std::snprintf(text, sizeof text, "\\u%04X", code);
    return text;
}

} // namespace

std::string json_string(std::string_view text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte >= 0x80 ? utf8_length(text.substr(i)) : 1;
        if (byte == '"' || byte == '\\')
            json.append(1, '\\').append(1, static_cast<char>(byte));
        else if (byte == '\n' || byte == '\t')
            json += byte == '\n' ? "\\n" : "\\t";
        else if (byte < 0x20)
            json += escape(byte);
        else if (length == 0)
            json += escape(0xDC00 + byte);
        else
            json.append(text.substr(i, length));
        i += std::max<std::size_t>(length, 1);
    }
    return json + "\"";
}

std::string json_array(const std::vector<std::string> &items) {
    std::string json = "[";
    for (const std::string &item : items)
        json += (json.size() > 1 ? "," : "") + json_string(item);
    return json + "]";
}

bool shell_name_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool shell_name(std::string_view name) {
    return !name.empty() && !(name[0] >= '0' && name[0] <= '9') &&
           std::all_of(name.begin(), name.end(), shell_name_byte);
}

std::string shell_quoted(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace tool
