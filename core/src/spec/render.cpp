// The text forms of keys, paths, JSON values and table chains.
#include "spec/render.hpp"

#include "base/text.hpp"

namespace remitrax {

namespace {

bool key_needs_quoting(std::string_view key) {
    if (key.empty()) {
        return true;
    }
    std::size_t pos = 0;
    while (pos < key.size()) {
        const char c = key[pos];
        if (c == '#' || c == '.' || c == '/') {
            return true;
        }
        const Utf8Unit unit = decode_utf8(key, pos);
        if (unit.valid && is_white_space(unit.code_point)) {
            return true;
        }
        pos += unit.length;
    }
    return false;
}

// The JSON string form, with the escapes the JSON writer uses for string values, so that a
// key and a string value in one message look alike.
std::string json_string(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    const auto b = static_cast<unsigned char>(c);
                    out += "\\u00";
                    out.push_back(hex[b >> 4]);
                    out.push_back(hex[b & 0xF]);
                } else {
                    out.push_back(c);
                }
                break;
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace

std::string render_key(std::string_view key) {
    if (!key_needs_quoting(key)) {
        return std::string(key);
    }
    return json_string(key);
}

std::string child(std::string_view path, std::string_view key) {
    if (path.empty()) {
        return render_key(key);
    }
    std::string out(path);
    out.push_back('.');
    out += render_key(key);
    return out;
}

std::string render_value(const nlohmann::json& value) {
    if (value.is_null()) {
        return {};
    }
    if (value.is_array()) {
        return std::to_string(value.size()) + " items";
    }
    if (value.is_object()) {
        return std::to_string(value.size()) + " members";
    }
    // Parsed JSON text is always valid UTF-8; a value built in code might not be, and the
    // writer's default for that is to throw, which a renderer must not do.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string render_chain(std::span<const std::string> names) {
    if (names.empty()) {
        return "no table";
    }
    std::string out = render_key(names.front());
    for (const std::string& name : names.subspan(1)) {
        out.push_back('/');
        out += render_key(name);
    }
    return out;
}

}  // namespace remitrax
