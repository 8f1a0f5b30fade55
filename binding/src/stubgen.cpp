// Writes the type stub of remitrax._core from the records the module registers about itself.
//
//   remitrax_stubgen [PATH]
//
// Without PATH the stub goes to standard output. Classes, functions and the constant come in
// the order the module adds them; the members of a class in the order of its records.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "stub_registry.hpp"

namespace {

using namespace remitrax::binding::stubs;

// The modules a type may name, standard ones first, each in the order the stub imports them.
constexpr std::string_view standard_modules[] = {"builtins", "collections.abc", "decimal",
                                                 "typing"};
constexpr std::string_view other_modules[] = {"pandas", "polars", "typing_extensions"};

// Whether `type` names something of `module`: "module." at its start or after a character
// that cannot end a name.
bool names_module(std::string_view type, std::string_view module) {
    const std::string prefix = std::string(module) + ".";
    for (std::size_t at = type.find(prefix); at != std::string_view::npos;
         at = type.find(prefix, at + 1)) {
        const bool starts = at == 0 || !(std::isalnum(static_cast<unsigned char>(type[at - 1])) ||
                                         type[at - 1] == '_' || type[at - 1] == '.');
        if (starts) {
            return true;
        }
    }
    return false;
}

// The docstring of a stub: the text after a text signature, if the runtime text has one.
std::string_view stub_doc(const char* doc) {
    if (doc == nullptr) {
        return {};
    }
    const std::string_view text(doc);
    const std::size_t marker = text.find("\n--\n\n");
    return marker == std::string_view::npos ? text : text.substr(marker + 5);
}

// A docstring at an indentation, in triple quotes, continuation lines indented alike.
std::string docstring(std::string_view doc, std::string_view indent) {
    std::string body;
    for (const char c : doc) {
        if (c == '\\') {
            body += "\\\\";
        } else {
            body += c;
        }
    }
    if (!body.empty() && body.back() == '"') {
        body.insert(body.size() - 1, "\\");
    }
    std::string out = std::string(indent) + "\"\"\"";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = body.find('\n', start);
        const std::string_view line = std::string_view(body).substr(
            start, end == std::string::npos ? std::string::npos : end - start);
        if (start != 0 && !line.empty()) {
            out += indent;
        }
        out += line;
        if (end == std::string::npos) {
            break;
        }
        out += '\n';
        start = end + 1;
    }
    return out + "\"\"\"\n";
}

std::string parameters(std::string_view first, std::span<const Parameter> listed,
                       bool positional_only) {
    std::string out(first);
    for (const Parameter& parameter : listed) {
        if (!out.empty()) {
            out += ", ";
        }
        out += parameter.name;
        out += ": ";
        out += parameter.type;
        if (parameter.default_text != nullptr) {
            out += " = ";
            out += parameter.default_text;
        }
    }
    if (positional_only) {
        out += ", /";
    }
    return out;
}

// The signature line and body of a function or method, at an indentation.
std::string definition(std::string_view indent, std::string_view name, const std::string& params,
                       std::string_view result, const char* doc) {
    std::string out = std::string(indent) + "def " + std::string(name) + "(" + params + ") -> " +
                      std::string(result) + ":";
    const std::string_view text = stub_doc(doc);
    if (text.empty()) {
        return out + " ...\n";
    }
    return out + "\n" + docstring(text, std::string(indent) + "    ");
}

std::string member(const Member& entry) {
    constexpr std::string_view indent = "    ";
    if (const auto* attribute = std::get_if<ClassAttribute>(&entry)) {
        std::string out = std::string(indent) + attribute->name + ": " + attribute->type;
        if (attribute->comment != nullptr) {
            out += std::string("  # ") + attribute->comment;
        }
        return out + "\n";
    }
    if (const auto* property = std::get_if<Property>(&entry)) {
        return std::string(indent) + "@property\n" +
               definition(indent, property->name, "self", property->type, property->doc);
    }
    const auto& method = std::get<Method>(entry);
    switch (method.kind) {
        case MethodKind::Static:
            return std::string(indent) + "@staticmethod\n" +
                   definition(indent, method.name,
                              parameters("", method.parameters, method.positional_only),
                              method.result, method.doc);
        case MethodKind::Constructor:
            return definition(indent, method.name,
                              parameters("cls", method.parameters, method.positional_only),
                              method.result, method.doc);
        case MethodKind::Instance:
            break;
    }
    return definition(indent, method.name,
                      parameters("self", method.parameters, method.positional_only), method.result,
                      method.doc);
}

std::string generate() {
    std::vector<const Class*> classes;
    std::vector<const Function*> functions;
    std::vector<const Variable*> variables;
    std::set<std::string> exported;
    std::map<std::string, std::vector<const Members*>> members;
    std::vector<std::string_view> types;
    for (const Record& record : records()) {
        if (const auto* c = std::get_if<Class>(&record)) {
            classes.push_back(c);
            if (c->final) {
                types.emplace_back("typing.final");
            }

            for (const char* base : c->bases) {
                types.emplace_back(base);
            }
        } else if (const auto* m = std::get_if<Members>(&record)) {
            members[m->class_name].push_back(m);
            for (const Member& entry : m->members) {
                std::visit(
                    [&](const auto& item) {
                        using Item = std::decay_t<decltype(item)>;
                        if constexpr (std::is_same_v<Item, Method>) {
                            types.emplace_back(item.result);
                            for (const Parameter& p : item.parameters) {
                                types.emplace_back(p.type);
                            }
                        } else {
                            types.emplace_back(item.type);
                        }
                    },
                    entry);
            }
        } else if (const auto* f = std::get_if<Function>(&record)) {
            functions.push_back(f);
            types.emplace_back(f->result);
            for (const Parameter& p : f->parameters) {
                types.emplace_back(p.type);
            }
        } else if (const auto* v = std::get_if<Variable>(&record)) {
            variables.push_back(v);
            types.emplace_back(v->type);
        } else {
            exported.insert(std::get<Export>(record).name);
        }
    }
    const auto by_rank = [](const auto* a, const auto* b) { return a->rank < b->rank; };
    std::ranges::sort(classes, by_rank);
    std::ranges::sort(functions, by_rank);
    std::ranges::sort(variables, by_rank);
    for (auto& [name, parts] : members) {
        std::ranges::sort(parts,
                          [](const Members* a, const Members* b) { return a->part < b->part; });
    }

    std::ostringstream out;
    out << "# The type stub of remitrax._core, written by remitrax_stubgen from the module's own\n"
           "# description of its classes and functions; regenerate it rather than edit it.\n\n";
    const auto imports = [&](std::span<const std::string_view> modules) {
        bool any = false;
        for (const std::string_view module : modules) {
            if (std::ranges::any_of(types,
                                    [&](std::string_view t) { return names_module(t, module); })) {
                out << "import " << module << "\n";
                any = true;
            }
        }
        if (any) {
            out << "\n";
        }
    };
    imports(standard_modules);
    imports(other_modules);

    // Public names: those without a leading underscore, and those exported all the same.
    struct Named {
        int rank;
        std::string name;
    };
    std::vector<Named> names;
    const auto add_name = [&](int rank, const char* name) {
        if (name[0] != '_' || exported.contains(name)) {
            names.push_back({rank, name});
        }
    };
    for (const Class* c : classes) {
        add_name(c->rank, c->name);
    }
    for (const Function* f : functions) {
        add_name(f->rank, f->name);
    }
    for (const Variable* v : variables) {
        add_name(v->rank, v->name);
    }
    // Equal ranks keep the order they were added in; std::stable_sort is avoided because
    // libstdc++'s reaches the deprecated std::get_temporary_buffer, an error under clang.
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::ranges::sort(order, [&](std::size_t a, std::size_t b) {
        return names[a].rank != names[b].rank ? names[a].rank < names[b].rank : a < b;
    });
    out << "__all__ = [\n";
    for (const std::size_t i : order) {
        out << "    \"" << names[i].name << "\",\n";
    }
    out << "]\n";

    for (const Class* c : classes) {
        out << "\n\n";
        if (c->final) {
            out << "@typing.final\n";
        }
        out << "class " << c->name;
        if (!c->bases.empty()) {
            out << "(";
            for (std::size_t i = 0; i < c->bases.size(); ++i) {
                out << (i == 0 ? "" : ", ") << c->bases[i];
            }
            out << ")";
        }
        out << ":\n";
        bool any = false;
        if (const std::string_view doc = stub_doc(c->doc); !doc.empty()) {
            out << docstring(doc, "    ");
            any = true;
        }
        for (const Members* part : members[c->name]) {
            for (const Member& entry : part->members) {
                out << (any ? "\n" : "") << member(entry);
                any = true;
            }
        }
        if (!any) {
            out << "    ...\n";
        }
    }
    for (const Function* f : functions) {
        out << "\n\n"
            << definition("", f->name, parameters("", f->parameters, false), f->result, f->doc);
    }
    out << "\n";
    for (const Variable* v : variables) {
        out << "\n" << v->name << ": " << v->type << "\n";
    }
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string stub = generate();
    if (argc < 2) {
        std::cout << stub;
        return std::cout ? 0 : 1;
    }
    std::ofstream file(argv[1], std::ios::binary);
    file << stub;
    if (!file.flush()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
