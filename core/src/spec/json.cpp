// Parsing spec JSON text into a value tree, with errors that say where the text went wrong.
#include "spec/json.hpp"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.hpp"

namespace remitrax {

namespace {

using nlohmann::json;

// The most of the offending token that a message repeats; the fault sits at the token's end,
// so that end is what is kept.
constexpr std::size_t max_token_shown = 40;

// Line (1-based) and column of the byte count `read`, counted as the JSON reader counts them:
// the column is the number of bytes read on the current line.
std::string position_text(std::string_view text, std::size_t read) {
    const std::string_view before = text.substr(0, std::min(read, text.size()));
    const std::size_t lines =
        static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t last_newline = before.rfind('\n');
    const std::size_t column =
        last_newline == std::string_view::npos ? read : read - last_newline - 1;
    return "line " + std::to_string(lines + 1) + ", column " + std::to_string(column);
}

// The reader's message without its "[json.exception.parse_error.101] " tag.
std::string_view untagged(std::string_view what) {
    if (what.starts_with("[json.exception.")) {
        const std::size_t end = what.find("] ");
        if (end != std::string_view::npos) {
            what.remove_prefix(end + 2);
        }
    }
    return what;
}

std::string shortened_token(std::string_view token) {
    if (token.size() <= max_token_shown) {
        return std::string(token);
    }
    std::size_t start = token.size() - max_token_shown;
    // Start on a character boundary rather than inside a UTF-8 sequence.
    while (start < token.size() && (static_cast<unsigned char>(token[start]) & 0xC0U) == 0x80U) {
        ++start;
    }
    return "..." + std::string(token.substr(start));
}

// The byte count up to and including the first bracket that opens a level deeper than
// max_json_depth. Called only after the reader stopped there, so the text before it is
// valid JSON and its strings are found by their quotes alone.
std::size_t too_deep_at(std::string_view text) {
    std::size_t depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > max_json_depth) {
                return i + 1;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return text.size();
}

// Builds the value tree from the reader's events. Unlike the library's own builder it
// refuses deep nesting and states how repeated keys resolve.
class TreeBuilder {
  public:
    explicit TreeBuilder(std::string_view text) : text_(text) {}
    // The tree of a parse cut short by std::bad_alloc is dropped while it unwinds.
    ~TreeBuilder() { release_json(root_); }
    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    bool null() { return put(json(nullptr)); }
    bool boolean(bool value) { return put(json(value)); }
    bool number_integer(json::number_integer_t value) { return put(json(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return put(json(value)); }
    bool number_float(json::number_float_t value, const json::string_t& /*text*/) {
        return put(json(value));
    }
    bool string(json::string_t& value) { return put(json(std::move(value))); }
    bool binary(json::binary_t& /*value*/) { return false; }

    bool start_object(std::size_t /*elements*/) { return open(json::value_t::object); }
    bool key(json::string_t& key) {
        key_ = std::move(key);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t /*elements*/) { return open(json::value_t::array); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t position, const std::string& last_token,
                     const json::exception& error) {
        std::string message(untagged(error.what()));
        const std::string token_part = "; last read: '" + last_token + "'";
        const std::size_t at = message.find(token_part);
        if (at != std::string::npos) {
            message.replace(at, token_part.size(),
                            "; last read: '" + shortened_token(last_token) + "'");
        }
        // Errors other than syntax errors (a number beyond a double's range) carry no
        // position of their own.
        if (!message.starts_with("parse error")) {
            message = "parse error at " + position_text(text_, position) + ": " + message;
        }
        error_ = lossy_utf8(message);
        return false;
    }

    [[nodiscard]] std::expected<json, SpecError> finish(bool parsed) {
        if (error_) {
            return std::unexpected(SpecError{SpecError::Json{std::move(*error_)}});
        }
        if (!parsed) {
            // Only the depth limit stops the reader without a parse error.
            return std::unexpected(SpecError{
                SpecError::Json{"parse error at " + position_text(text_, too_deep_at(text_)) +
                                ": arrays and objects are nested deeper than " +
                                std::to_string(max_json_depth) + " levels"}});
        }
        return std::move(root_);
    }

  private:
    // Places a value in the innermost open container (or as the root) and returns it.
    json* place(json&& value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        json& top = *stack_.back();
        if (top.is_array()) {
            auto& items = top.get_ref<json::array_t&>();
            items.push_back(std::move(value));
            return &items.back();
        }
        // Of a key written twice the later value wins, as in most JSON readers.
        json& slot = top.get_ref<json::object_t&>()[std::move(key_)];
        release_json(slot);
        slot = std::move(value);
        return &slot;
    }

    bool put(json&& value) {
        place(std::move(value));
        return true;
    }

    bool open(json::value_t kind) {
        if (stack_.size() >= max_json_depth) {
            return false;
        }
        // Containers below the innermost open one are not touched until it closes, so the
        // pointers on the stack stay valid.
        stack_.push_back(place(json(kind)));
        return true;
    }

    bool close() {
        stack_.pop_back();
        return true;
    }

    std::string_view text_;
    json root_;
    std::vector<json*> stack_;
    json::string_t key_;
    std::optional<std::string> error_;
};

// Whether destroying the value frees memory and allocates none: a leaf or an empty container.
bool childless(const json& value) noexcept {
    if (const auto* items = value.get_ptr<const json::array_t*>()) {
        return items->empty();
    }
    if (const auto* members = value.get_ptr<const json::object_t*>()) {
        return members->empty();
    }
    return true;
}

// Destroys the childless children at the end of an array or object, all of them at once when
// every child is childless. Returns the new last child, a container with children of its own,
// or null when `value` has no children left.
json* drop_childless_tail(json& value) noexcept {
    if (auto* items = value.get_ptr<json::array_t*>()) {
        auto kept = items->end();
        while (kept != items->begin() && childless(*std::prev(kept))) {
            --kept;
        }
        items->erase(kept, items->end());
        return items->empty() ? nullptr : &items->back();
    }
    if (auto* members = value.get_ptr<json::object_t*>()) {
        auto kept = members->end();
        while (kept != members->begin() && childless(std::prev(kept)->second)) {
            --kept;
        }
        // Clearing a whole tree map frees its nodes without rebalancing after each.
        if (kept == members->begin()) {
            members->clear();
        } else {
            members->erase(kept, members->end());
        }
        return members->empty() ? nullptr : &std::prev(members->end())->second;
    }
    return nullptr;
}

void copy_into(json& to, const json& from) {
    if (const auto* items = from.get_ptr<const json::array_t*>()) {
        to = json::array();
        auto& copied = to.get_ref<json::array_t&>();
        // Reserved up front, so that placing a child never moves its elder siblings.
        copied.reserve(items->size());
        for (const json& item : *items) {
            copied.emplace_back();
            copy_into(copied.back(), item);
        }
    } else if (const auto* members = from.get_ptr<const json::object_t*>()) {
        to = json::object();
        auto& copied = to.get_ref<json::object_t&>();
        for (const auto& [key, member] : *members) {
            copy_into(copied.emplace_hint(copied.end(), key, nullptr)->second, member);
        }
    } else {
        to = from;
    }
}

}  // namespace

void release_json(json& value) noexcept {
    if (childless(value)) {
        value = nullptr;
        return;
    }
    // The chain of last children from `value` down to the container being emptied. Parsed
    // trees never nest deeper than it holds; below a deeper one, built in code, the chain
    // goes on unrecorded to a container that is emptied, then starts again from its
    // deepest recorded link.
    std::array<json*, max_json_depth> path{};
    std::size_t depth = 0;
    path[depth++] = &value;
    while (depth > 0) {
        json* last = drop_childless_tail(*path[depth - 1]);
        if (last == nullptr) {
            // Empty now: its parent destroys it next.
            --depth;
        } else if (depth < path.size()) {
            path[depth++] = last;
        } else {
            while (last != nullptr) {
                last = drop_childless_tail(*last);
            }
        }
    }
    value = nullptr;
}

json copy_json(const json& value) {
    if (childless(value)) {
        return value;
    }
    json copy;
    const JsonRelease release(copy);
    copy_into(copy, value);
    // Handed out by a move, never built in place: the guard must see null when it runs.
    return std::exchange(copy, nullptr);
}

[[nodiscard]] std::expected<nlohmann::json, SpecError> read_json(std::string_view text) {
    TreeBuilder builder(text);
    const bool parsed = json::sax_parse(text, &builder);
    return builder.finish(parsed);
}

}  // namespace remitrax
