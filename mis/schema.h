// Public within qx_mis: the schema of the management information base -- syntaxes,
// attributes, classes with inheritance, name bindings and actions -- read from the
// text format of docs/schema.md.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mis {

struct Syntax {
    enum Kind { INTEGER, ENUM, BOOLEAN, STRING, OBJECTNAME, TIME, CLASSNAME };
    std::string name;
    Kind kind = STRING;
    long long min = 0, max = 0;      // INTEGER range, STRING length range
    std::vector<std::string> values; // ENUM values, as written in the schema
    std::string description;
    std::vector<std::string> expansion;

    // A short text of the rule, as shown in messages: "0..99", "locked | unlocked".
    std::string rule_text() const;
};

struct AttributeDef {
    std::string name;    // full name, module:name
    std::string display; // the part after the last colon
    const Syntax* syntax = nullptr;
    bool read_only = false;
    std::string def; // default value text (canonical)
};

struct ActionDef {
    enum Kind { GET_OBJECT_CLASS, RESET, SELF_TEST, PROGRAM };
    std::string name;
    Kind kind = SELF_TEST;
    std::string program;   // absolute path for PROGRAM
    double timeout = 10.0; // seconds, for PROGRAM
};

// One attribute of a class: the attribute and the class's default for it.
struct ClassAttr {
    const AttributeDef* attr;
    std::string def;
};

struct ClassDef {
    std::string name;
    const ClassDef* super = nullptr;
    const AttributeDef* naming = nullptr;
    std::vector<std::string> under;      // classes it may be created beneath
    std::vector<ClassAttr> attrs;        // inherited first, in order
    std::vector<ActionDef> actions;      // inherited first, in order
    std::map<std::string, size_t> index; // full attribute name -> position in attrs

    // Position of the attribute in attrs, or -1 when the class lacks it.
    int find(const AttributeDef* a) const;
    const ActionDef* action(const std::string& name) const;
    bool is_a(const std::string& cls) const; // this class or one derived from cls
};

class SchemaParser;

class Schema {
public:
    // Reads a schema file; on failure returns null and sets err to "file:line: what".
    static std::unique_ptr<Schema> load(const std::string& path, std::string& err);
    static std::unique_ptr<Schema> parse(const std::string& text, const std::string& origin,
                                         const std::string& base_dir, std::string& err);

    // Attributes by full or display name; null when unknown.
    const AttributeDef* attribute(const std::string& name) const;
    const ClassDef* cls(const std::string& name) const;
    const std::vector<std::unique_ptr<ClassDef>>& classes() const { return classes_; }
    const AttributeDef* object_class_attr() const { return object_class_; }

    // Checks text against a syntax. Returns true and the canonical text, or false and a
    // message a person can act on ("value 'x' refused by syntax Integer (0..99)").
    bool validate(const Syntax& s, const std::string& text, std::string& canonical,
                  std::string& why) const;

    // The class description the repository object's getObjectClass action returns.
    std::string describe(const ClassDef& c) const;

private:
    friend class SchemaParser; // fills the members below as it reads

    std::map<std::string, std::unique_ptr<Syntax>> syntaxes_;
    std::vector<std::unique_ptr<AttributeDef>> attributes_;
    std::map<std::string, const AttributeDef*> by_name_; // full and display names
    std::vector<std::unique_ptr<ClassDef>> classes_;
    std::map<std::string, const ClassDef*> by_class_;
    const AttributeDef* object_class_ = nullptr;
};

// Text helpers shared by the name, filter and schema code.
std::string trim(const std::string& s);
std::string display_name(const std::string& full);
std::string quote(const std::string& s); // "..." with \" and \\ escaped
bool valid_time(const std::string& s);
bool parse_integer(const std::string& s, long long& out);
bool read_file(const std::string& path, std::string& text); // false when it cannot be read

} // namespace mis
