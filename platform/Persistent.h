#pragma once
// The persistent base: objects that can take another object's contents.
#include <string>

namespace orvelle {

class TPersistent {
public:
    virtual ~TPersistent() = default;

    // Copies this object's contents into `dest`; the base class cannot and raises EAssignError.
    virtual void AssignTo(TPersistent& dest) const;
    // Hook for objects that store extra properties with a form; nothing by default.
    virtual void DefineProperties() { }
    // Takes the contents of `source`; the base class asks `source` to AssignTo this object,
    // and raises EAssignError for a null source.
    virtual void Assign(const TPersistent* source);

    // Class name used in the assignment error message.
    virtual std::string ClassName() const { return "TPersistent"; }
};

} // namespace orvelle
