// The syntax tree of one definition file, as written: names and texts are not expanded,
// functions not looked up, types not checked. The loader gives it meaning statement by statement.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "token.h"

namespace amxo {

struct Entry;

// A literal: "text" (with references), 42, true, [a, b], { key = value; }.
struct Value {
    enum class Kind { String, Integer, Bool, List, Table };
    Kind kind = Kind::String;
    Location where;
    Text text;                  // String
    std::string integer;        // Integer: the literal, converted when used
    bool boolean = false;       // Bool
    std::vector<Value> items;   // List
    std::vector<Entry> entries; // Table, in written order
};

struct Entry {
    Location where;
    std::string key;
    Value value;
};

// `call fn` or `call fn in module`.
struct FunctionRef {
    Location where;
    std::string name;
    std::optional<Text> module;
};

// `on action validate call fn { data };`
struct ActionBinding {
    Location where;
    std::string action;
    FunctionRef function;
    std::optional<Value> data;  // a Table
};

// `on event "dm:object-changed" call fn filter 'expression';`
struct EventBinding {
    Location where;
    Text event;
    FunctionRef function;
    std::optional<Text> filter;
};

// `%read-only uint32 Port = 0 { on action validate call ...; }`
struct ParamDecl {
    Location where;
    std::vector<std::string> attributes;
    std::string type;
    Text name;
    std::optional<Value> value;
    std::optional<Value> max_length;  // `max-length N;` in the parameter's block
    std::vector<ActionBinding> actions;
};

// One argument of a method: `%in %mandatory htable data`.
struct ArgDecl {
    Location where;
    std::vector<std::string> attributes;
    std::string type;
    std::string name;
};

// `void _Import(%in htable data);`
struct FunctionDecl {
    Location where;
    std::string return_type;
    std::string name;
    std::vector<ArgDecl> args;
};

// `object Name { ... }` or `object Name[] { ... }`.
struct ObjectDecl {
    Location where;
    Text name;
    bool is_template = false;
    std::vector<ParamDecl> params;
    std::vector<FunctionDecl> functions;
    std::vector<ActionBinding> actions;
    std::vector<EventBinding> events;
    std::vector<ObjectDecl> children;
};

// One step of a %populate block: select an object, set a parameter, or add an instance.
struct PopulateItem {
    enum class Kind { Object, Parameter, Instance };
    Kind kind = Kind::Object;
    Location where;
    Text path;                          // Object: dotted path relative to the enclosing object
    Text name;                          // Parameter: its name; Instance: its name (may be empty)
    Value value;                        // Parameter
    std::string index;                  // Instance: the index literal ("0": the next free one)
    std::vector<PopulateItem> body;     // Object, Instance
};

struct ConfigSection {
    Location where;
    std::vector<Entry> entries;
};

struct ImportStmt {
    Location where;
    Text path;
    std::optional<Text> alias;
};

struct EntryPointStmt {
    Location where;
    std::optional<std::string> module;  // `entry-point alias.fn`; absent: every import is searched
    std::string function;
};

struct IncludeStmt {
    Location where;
    Text path;
};

struct DefineSection {
    Location where;
    std::vector<ObjectDecl> objects;
};

struct PopulateSection {
    Location where;
    std::vector<PopulateItem> items;
};

using Statement = std::variant<ConfigSection, ImportStmt, EntryPointStmt, IncludeStmt, DefineSection,
                               PopulateSection>;

struct Document {
    std::vector<Statement> statements;
};

}  // namespace amxo
