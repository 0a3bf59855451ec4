#include "syntax.h"

#include "limits.h"

namespace amxo {
namespace {

class SyntaxParser {
public:
    explicit SyntaxParser(const std::vector<Token>& tokens) : tokens_(tokens) {}

    Document document() {
        Document doc;
        while (peek().kind != TokenKind::End) {
            doc.statements.push_back(statement());
        }
        return doc;
    }

private:
    // Counts one level of nesting for the lifetime of a block being parsed.
    class Nest {
    public:
        Nest(SyntaxParser& p, const Token& at) : p_(p) {
            if (++p_.depth_ > kMaxNesting) {
                fail(at.where, "blocks nested deeper than " + std::to_string(kMaxNesting) + " levels");
            }
        }
        ~Nest() { --p_.depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;

    private:
        SyntaxParser& p_;
    };

    const Token& peek(std::size_t ahead = 0) const {
        const std::size_t i = pos_ + ahead;
        return i < tokens_.size() ? tokens_[i] : tokens_.back();
    }

    const Token& take() {
        const Token& t = peek();
        if (t.kind != TokenKind::End) {
            ++pos_;
        }
        return t;
    }

    static std::string describe(const Token& t) {
        switch (t.kind) {
        case TokenKind::End: return "end of file";
        case TokenKind::String: return "a string";
        case TokenKind::Directive: return "'%" + t.text + "'";
        default: return "'" + t.text + "'";
        }
    }

    [[noreturn]] void expected(std::string_view what) const {
        fail(peek().where, "expected " + std::string(what) + ", found " + describe(peek()));
    }

    bool accept_punct(char c) {
        if (peek().is_punct(c)) {
            take();
            return true;
        }
        return false;
    }

    void expect_punct(char c, std::string_view context) {
        if (!accept_punct(c)) {
            expected("'" + std::string(1, c) + "' " + std::string(context));
        }
    }

    bool accept_keyword(std::string_view word) {
        if (peek().is(TokenKind::Name, word)) {
            take();
            return true;
        }
        return false;
    }

    void expect_keyword(std::string_view word) {
        if (!accept_keyword(word)) {
            expected("'" + std::string(word) + "'");
        }
    }

    std::string expect_name(std::string_view what) {
        if (peek().kind != TokenKind::Name) {
            expected(what);
        }
        return take().text;
    }

    Text expect_string(std::string_view what) {
        if (peek().kind != TokenKind::String) {
            expected(what);
        }
        return take().pieces;
    }

    // A name written bare or quoted (quoted names may hold ${...} references).
    Text name_or_string(std::string_view what) {
        if (peek().kind == TokenKind::Name) {
            return Text{TextPiece{take().text, false}};
        }
        return expect_string(what);
    }

    // --- statements ---

    Statement statement() {
        const Token& t = peek();
        if (t.kind == TokenKind::Directive) {
            if (t.text == "config") {
                return config_section();
            }
            if (t.text == "define") {
                return define_section();
            }
            if (t.text == "populate") {
                return populate_section();
            }
            fail(t.where, "unknown section '%" + t.text + "'");
        }
        if (t.is(TokenKind::Name, "import")) {
            return import_statement();
        }
        if (t.is(TokenKind::Name, "entry-point")) {
            return entry_point_statement();
        }
        if (t.is(TokenKind::Name, "include")) {
            return include_statement();
        }
        expected("a section or a statement");
    }

    ConfigSection config_section() {
        ConfigSection s;
        s.where = take().where;
        s.entries = table_body("in %config");
        accept_punct(';');
        return s;
    }

    ImportStmt import_statement() {
        ImportStmt s;
        s.where = take().where;
        s.path = expect_string("a module file name in quotes");
        if (accept_keyword("as")) {
            s.alias = name_or_string("a module alias");
        }
        expect_punct(';', "after import");
        return s;
    }

    EntryPointStmt entry_point_statement() {
        EntryPointStmt s;
        s.where = take().where;
        std::string first = expect_name("an entry point function name");
        if (accept_punct('.')) {
            s.module = std::move(first);
            s.function = expect_name("an entry point function name");
        } else {
            s.function = std::move(first);
        }
        expect_punct(';', "after entry-point");
        return s;
    }

    IncludeStmt include_statement() {
        IncludeStmt s;
        s.where = take().where;
        s.path = expect_string("a file name in quotes");
        expect_punct(';', "after include");
        return s;
    }

    DefineSection define_section() {
        DefineSection s;
        const Token& open = take();
        s.where = open.where;
        Nest nest(*this, open);
        expect_punct('{', "after %define");
        while (!accept_punct('}')) {
            if (!peek().is(TokenKind::Name, "object")) {
                expected("'object' or '}' in %define");
            }
            s.objects.push_back(object_decl());
        }
        accept_punct(';');
        return s;
    }

    PopulateSection populate_section() {
        PopulateSection s;
        const Token& open = take();
        s.where = open.where;
        Nest nest(*this, open);
        expect_punct('{', "after %populate");
        while (!accept_punct('}')) {
            if (!peek().is(TokenKind::Name, "object")) {
                expected("'object' or '}' in %populate");
            }
            s.items.push_back(populate_object());
        }
        accept_punct(';');
        return s;
    }

    // --- values ---

    std::vector<Entry> table_body(std::string_view context) {
        const Token& open = peek();
        Nest nest(*this, open);
        expect_punct('{', context);
        std::vector<Entry> entries;
        while (!accept_punct('}')) {
            Entry e;
            e.where = peek().where;
            e.key = expect_name("a key name or '}'");
            expect_punct('=', "after key '" + e.key + "'");
            e.value = value();
            expect_punct(';', "after the value of '" + e.key + "'");
            entries.push_back(std::move(e));
        }
        return entries;
    }

    Value value() {
        Value v;
        const Token& t = peek();
        v.where = t.where;
        if (t.kind == TokenKind::String) {
            v.kind = Value::Kind::String;
            v.text = take().pieces;
        } else if (t.kind == TokenKind::Integer) {
            v.kind = Value::Kind::Integer;
            v.integer = take().text;
        } else if (t.is(TokenKind::Name, "true") || t.is(TokenKind::Name, "false")) {
            v.kind = Value::Kind::Bool;
            v.boolean = take().text == "true";
        } else if (t.is_punct('[')) {
            v.kind = Value::Kind::List;
            Nest nest(*this, t);
            take();
            while (!accept_punct(']')) {
                v.items.push_back(value());
                if (!accept_punct(',')) {
                    expect_punct(']', "or ',' in list");
                    break;
                }
            }
        } else if (t.is_punct('{')) {
            v.kind = Value::Kind::Table;
            v.entries = table_body("");
        } else {
            expected("a value");
        }
        return v;
    }

    // --- %define ---

    ObjectDecl object_decl() {
        ObjectDecl o;
        const Token& kw = take();  // "object"
        o.where = kw.where;
        o.name = name_or_string("an object name");
        if (accept_punct('[')) {
            expect_punct(']', "after '[' of a multi-instance object");
            o.is_template = true;
        }
        if (accept_punct(';')) {
            return o;
        }
        Nest nest(*this, kw);
        expect_punct('{', "or ';' after the object name");
        while (!accept_punct('}')) {
            object_member(o);
        }
        accept_punct(';');
        return o;
    }

    void object_member(ObjectDecl& o) {
        const Token& t = peek();
        if (t.is(TokenKind::Name, "object")) {
            o.children.push_back(object_decl());
            return;
        }
        if (t.is(TokenKind::Name, "on")) {
            take();
            if (accept_keyword("action")) {
                o.actions.push_back(action_binding(t));
            } else if (accept_keyword("event")) {
                o.events.push_back(event_binding(t));
            } else {
                expected("'action' or 'event' after 'on'");
            }
            return;
        }
        std::vector<std::string> attributes = directives();
        if (peek().kind != TokenKind::Name) {
            expected("a declaration or '}'");
        }
        if (peek().text == "object" || peek().text == "on") {
            fail(peek().where, "attribute '%" + attributes.front() + "' does not apply here");
        }
        const Location where = peek().where;
        std::string type = take().text;
        if (peek().kind == TokenKind::Name && peek(1).is_punct('(')) {
            o.functions.push_back(function_decl(where, std::move(attributes), std::move(type)));
        } else {
            o.params.push_back(param_decl(where, std::move(attributes), std::move(type)));
        }
    }

    std::vector<std::string> directives() {
        std::vector<std::string> attributes;
        while (peek().kind == TokenKind::Directive) {
            attributes.push_back(take().text);
        }
        return attributes;
    }

    ActionBinding action_binding(const Token& on) {
        ActionBinding a;
        a.where = on.where;
        a.action = expect_name("an action name");
        expect_keyword("call");
        a.function = function_ref();
        if (peek().is_punct('{')) {
            Value data;
            data.kind = Value::Kind::Table;
            data.where = peek().where;
            data.entries = table_body("");
            a.data = std::move(data);
        }
        expect_punct(';', "after the action binding");
        return a;
    }

    EventBinding event_binding(const Token& on) {
        EventBinding e;
        e.where = on.where;
        e.event = expect_string("an event name in quotes");
        expect_keyword("call");
        e.function = function_ref();
        if (accept_keyword("filter")) {
            e.filter = expect_string("a filter expression in quotes");
        }
        expect_punct(';', "after the event binding");
        return e;
    }

    FunctionRef function_ref() {
        FunctionRef f;
        f.where = peek().where;
        f.name = expect_name("a function name");
        if (accept_keyword("in")) {
            f.module = name_or_string("a module alias");
        }
        return f;
    }

    FunctionDecl function_decl(const Location& where, std::vector<std::string> attributes, std::string type) {
        if (!attributes.empty()) {
            fail(where, "attribute '%" + attributes.front() + "' does not apply to a function");
        }
        FunctionDecl f;
        f.where = where;
        f.return_type = std::move(type);
        f.name = take().text;
        take();  // '('
        if (!accept_punct(')')) {
            for (;;) {
                ArgDecl a;
                a.where = peek().where;
                a.attributes = directives();
                a.type = expect_name("an argument type");
                a.name = expect_name("an argument name");
                f.args.push_back(std::move(a));
                if (accept_punct(')')) {
                    break;
                }
                expect_punct(',', "or ')' in the argument list");
            }
        }
        expect_punct(';', "after the function declaration");
        return f;
    }

    ParamDecl param_decl(const Location& where, std::vector<std::string> attributes, std::string type) {
        ParamDecl p;
        p.where = where;
        p.attributes = std::move(attributes);
        p.type = std::move(type);
        p.name = name_or_string("a parameter name");
        if (accept_punct('=')) {
            p.value = value();
        }
        if (accept_punct(';')) {
            return p;
        }
        const Token& open = peek();
        Nest nest(*this, open);
        expect_punct('{', "or ';' after the parameter");
        while (!accept_punct('}')) {
            const Token& on = peek();
            if (on.is(TokenKind::Name, "max-length") && !p.max_length) {
                take();
                p.max_length = value();
                expect_punct(';', "after max-length");
                continue;
            }
            if (!on.is(TokenKind::Name, "on")) {
                expected("'on action', 'max-length' or '}' in a parameter block");
            }
            take();
            expect_keyword("action");
            p.actions.push_back(action_binding(on));
        }
        accept_punct(';');
        return p;
    }

    // --- %populate ---

    // Components joined by '.': bare names, indexes or quoted texts (which may hold dots).
    Text path() {
        Text text;
        for (;;) {
            const Token& t = peek();
            if (t.kind == TokenKind::Name || (t.kind == TokenKind::Integer && t.text.front() != '-' && t.text.front() != '+')) {
                text.push_back(TextPiece{take().text, false});
            } else if (t.kind == TokenKind::String) {
                const Text& pieces = take().pieces;
                text.insert(text.end(), pieces.begin(), pieces.end());
            } else {
                expected("an object path");
            }
            if (!accept_punct('.')) {
                return text;
            }
            text.push_back(TextPiece{".", false});
        }
    }

    PopulateItem populate_object() {
        PopulateItem item;
        const Token& kw = take();  // "object"
        item.kind = PopulateItem::Kind::Object;
        item.where = kw.where;
        item.path = path();
        item.body = populate_body(kw);
        return item;
    }

    std::vector<PopulateItem> populate_body(const Token& owner) {
        Nest nest(*this, owner);
        expect_punct('{', "to open the block");
        std::vector<PopulateItem> body;
        while (!accept_punct('}')) {
            const Token& t = peek();
            if (t.is(TokenKind::Name, "object")) {
                body.push_back(populate_object());
            } else if (t.is(TokenKind::Name, "parameter")) {
                body.push_back(populate_parameter());
            } else if (t.is(TokenKind::Name, "instance")) {
                body.push_back(populate_instance());
            } else {
                expected("'object', 'parameter', 'instance' or '}'");
            }
        }
        accept_punct(';');
        return body;
    }

    PopulateItem populate_parameter() {
        PopulateItem item;
        item.kind = PopulateItem::Kind::Parameter;
        item.where = take().where;
        item.name = name_or_string("a parameter name");
        expect_punct('=', "after the parameter name");
        item.value = value();
        expect_punct(';', "after the parameter value");
        return item;
    }

    // instance add(), add(3), add(0, "name"), add("name")
    PopulateItem populate_instance() {
        PopulateItem item;
        const Token& kw = take();
        item.kind = PopulateItem::Kind::Instance;
        item.where = kw.where;
        item.index = "0";
        expect_keyword("add");
        expect_punct('(', "after 'instance add'");
        if (peek().kind == TokenKind::Integer) {
            item.index = take().text;
            if (accept_punct(',')) {
                item.name = name_or_string("an instance name");
            }
        } else if (peek().kind == TokenKind::String || peek().kind == TokenKind::Name) {
            item.name = name_or_string("an instance name");
        }
        expect_punct(')', "after the instance index and name");
        if (!accept_punct(';')) {
            item.body = populate_body(kw);
        }
        return item;
    }

    const std::vector<Token>& tokens_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

}  // namespace

Document parse_document(const std::vector<Token>& tokens) {
    if (tokens.empty()) {
        return {};
    }
    return SyntaxParser(tokens).document();
}

}  // namespace amxo
