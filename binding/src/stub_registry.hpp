// A description of the module's Python surface, from which the package's type stub is
// generated: every class with its docstring and bases, every property, method and function
// with the Python types of its parameters and result and the text of each default, and the
// module's constant. Records are static data, each registered by an initialiser that runs
// when the library is loaded and does nothing else; nothing in the module reads the list. A
// generator built against the same records (stubgen.cpp) walks it and writes the stub.
//
// Types are qualified Python names (builtins.str, typing.Any, ...), the module's own classes
// unqualified. Docstrings are the runtime ones of docs.hpp; a text signature before "\n--\n\n"
// is not part of the stub's docstring. No record declares a setter: every property is
// read-only.
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace remitrax::binding::stubs {

struct Parameter {
    const char* name;
    const char* type;
    const char* default_text = nullptr;  // as the stub writes it, when there is a default
};

enum class MethodKind : std::uint8_t { Instance, Static, Constructor };

struct Method {
    const char* name;
    std::span<const Parameter> parameters;  // `self` and `cls` are not listed
    const char* result;
    const char* doc = nullptr;
    MethodKind kind = MethodKind::Instance;
    // The parameters can only be given by position, as with the interpreter's slot methods.
    bool positional_only = false;
};

struct Property {
    const char* name;
    const char* type;
    const char* doc;
};

struct ClassAttribute {
    const char* name;
    const char* type;
    const char* comment = nullptr;  // written after the declaration, e.g. a type: ignore
};

// A class: `rank` orders it in the stub, as the module adds it. The class name is its
// identity, which its member records name. A class the runtime closes to subclassing is
// final.
struct Class {
    const char* module;
    const char* name;
    const char* doc;
    std::span<const char* const> bases;
    int rank = 0;
    bool final = true;
};

using Member = std::variant<ClassAttribute, Property, Method>;

// Members of one class, in the order the stub lists them; a class may have several such
// records, in `part` order.
struct Members {
    const char* class_name;
    std::span<const Member> members;
    int part = 0;
};

struct Function {
    const char* module;
    const char* name;
    std::span<const Parameter> parameters;
    const char* result;
    const char* doc;
    int rank = 0;
};

struct Variable {
    const char* module;
    const char* name;
    const char* type;
    int rank = 0;
};

// A name listed among the module's public names although it begins with an underscore.
struct Export {
    const char* module;
    const char* name;
};

using Record = std::variant<Class, Members, Function, Variable, Export>;

// Every record registered, in the order the initialisers ran.
const std::vector<Record>& records();

// Registers one record; constructed as a namespace-scope static beside the code it describes.
struct Registration {
    explicit Registration(Record record);
};

}  // namespace remitrax::binding::stubs
