// Turns %define sections into the plan of a load, checking everything the input controls.
#pragma once

#include "ast.h"
#include "config.h"
#include "plan.h"

namespace amxo {

// What the definer needs from the load around it.
class Resolver {
public:
    virtual ~Resolver() = default;
    // The configuration as it stands at the statement being run (for ${...}).
    virtual const Config& config() const = 0;
    // The address of a function of an imported module; throws LoadError at ref.where when no
    // module (or not the named one) defines it.
    virtual void* find_function(const FunctionRef& ref) const = 0;
};

class Definer {
public:
    // `root` is the plan object of the load's root; declarations are added below it.
    Definer(PlanObject& root, const Resolver& resolver) : root_(root), resolver_(resolver) {}

    // Adds the objects of one section. Throws LoadError at the first fault; the plan may then
    // hold part of the section, which is fine because a failed load discards its plan.
    void add(const DefineSection& section);

private:
    void declare_block(PlanObject& parent, const std::vector<ObjectDecl>& decls);
    void declare(PlanObject& parent, const ObjectDecl& decl, const std::string& name);
    void fill(PlanObject& object, const ObjectDecl& decl);
    PlanParam param(PlanObject& object, const ParamDecl& decl);
    static std::size_t max_length(const PlanParam& param, const Value& bound);
    PlanFunction function(PlanObject& object, const FunctionDecl& decl);
    PlanAction object_action(const PlanObject& object, const ActionBinding& binding);
    PlanAction parameter_action(const PlanParam& param, const ActionBinding& binding);
    PlanEvent event(const PlanObject& parent, const PlanObject& object, const EventBinding& binding);
    VarPtr action_data(const ActionBinding& binding);
    std::string name_of(const Text& text, const Location& where, std::string_view what);

    PlanObject& root_;
    const Resolver& resolver_;
    std::size_t event_count_ = 0;
};

}  // namespace amxo
