#pragma once
// One JSON value held in a global variable of the platform script engine
// (MSScriptControl.ScriptControl, JScript) and handled through short script
// texts built per operation.
//
// A path is script text that the program itself writes: a member name, a
// dotted chain, or names with [index] parts. Most operations join variable
// and path with "."; getText, getMember and count put nothing between them
// when the path starts with "[", so "['access_token']" works there.
//
// Data never runs as script: parse and every JSON value of the editing
// operations go through the support script's JSON.parse as escaped string
// literals, and text values are stored as escaped string literals.
//
// Nothing throws. A failing engine call stores its HRESULT (lastResult) and
// gives the empty value of its kind: empty text, 0, false, JsonType::Other.
// A document belongs to the thread that made it; it enters COM on that
// thread for as long as it lives.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/automation_object.h"
#include "platform/unique.h"
#include "text/text.h"

namespace qx {

enum class JsonType : std::int32_t {
    Null = 0,
    Number = 2,
    Object = 4,
    Array = 5,
    String = 6,
    Other = -1,
};

class JsonDocument {
public:
    // varName "da", then setUp.
    JsonDocument();
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // Releases the engine first, then leaves COM.
    virtual ~JsonDocument();

    // A new document with the same variable name on the same engine: each
    // sees what the other changes. No set-up runs.
    [[nodiscard]] virtual std::unique_ptr<JsonDocument> clone() const;

    // Enters COM (once per document), creates the engine, runs the support
    // script and declares the variable as an empty object.
    virtual void setUp();

    // Loads a JSON text into a fresh engine. True when the value is neither
    // null nor undefined. A text that is not JSON gives false and is never
    // run. A document without an engine stays without one.
    [[nodiscard]] virtual bool parse(std::string_view text);

    [[nodiscard]] virtual Text toText();

    // asJson false: the member becomes the string value, exactly as given.
    // asJson true: value is JSON text ("{}" when empty); a value that is not
    // JSON leaves the document unchanged.
    virtual void setText(std::string_view path, std::string_view value, bool asJson = false);
    // value is JSON text; an empty value makes the member undefined.
    virtual void setJson(std::string_view path, std::string_view value);
    virtual void setNumber(std::string_view path, double number);
    [[nodiscard]] virtual double getNumber(std::string_view path);
    [[nodiscard]] virtual Text getJson(std::string_view path);
    // A string member gives its text, a number member its decimal text;
    // anything else the empty text. asJson gives the member's JSON text.
    [[nodiscard]] virtual Text getText(std::string_view path, bool asJson = false);
    // A copy of the member in a document with an engine of its own; a missing
    // member gives a document holding undefined.
    [[nodiscard]] virtual std::unique_ptr<JsonDocument> getMember(std::string_view path);
    // Own members of an object, elements of an array; 0 for anything else.
    [[nodiscard]] virtual std::int32_t count(std::string_view path = {});
    // Appends to the array at path, which first becomes an empty array when
    // it is not one.
    virtual void addArrayItem(std::string_view value, std::string_view path = {}, bool asJson = false);
    [[nodiscard]] virtual std::unique_ptr<JsonDocument> getArrayMember(std::int32_t index,
                                                                       std::string_view path = {});
    // Without asJson only string elements give text.
    [[nodiscard]] virtual Text getArrayItemText(std::int32_t index, std::string_view path = {},
                                                bool asJson = false);
    // Both act on the variable itself.
    virtual void setArrayItem(std::int32_t index, std::string_view value, bool asJson = false);
    virtual void removeArrayItem(std::int32_t index);
    virtual void removeMember(std::string_view path);
    // Null and Object: an empty object; Array: an empty array; other codes
    // change nothing.
    virtual void reset(JsonType type);
    virtual void setRoot(std::string_view value, bool asJson = false);
    // Present and neither null nor undefined.
    [[nodiscard]] virtual bool exists(std::string_view path);
    // Replaces list by the member names in for-in order; returns their number.
    virtual std::int32_t keys(std::vector<Text>& list, std::string_view path = {});
    [[nodiscard]] virtual JsonType typeOf(std::string_view path = {});
    virtual void clear();

    [[nodiscard]] const Text& varName() const noexcept { return varName_; }
    // The HRESULT of the last engine call (E_POINTER without an engine).
    [[nodiscard]] HRESULT lastResult() const noexcept { return engine_.lastResult(); }
    [[nodiscard]] bool hasEngine() const noexcept { return !engine_.empty(); }

protected:
    // For a document on another script engine class (tests use one that
    // does not exist).
    explicit JsonDocument(std::string_view engineProgId);

    // The engine itself, for subclasses that need to look at its globals.
    [[nodiscard]] AutomationObject& scriptEngine() noexcept { return engine_; }

private:
    struct CloneTag {};
    JsonDocument(CloneTag, const JsonDocument& from);

    // The five kinds of engine call.
    void run(std::string_view script) noexcept;
    void evaluate(std::string_view script) noexcept;
    [[nodiscard]] Text evaluateText(std::string_view script);
    [[nodiscard]] double evaluateNumber(std::string_view script) noexcept;
    [[nodiscard]] bool evaluateLogical(std::string_view script) noexcept;

    [[nodiscard]] Text member(std::string_view path) const;         // NAME.PATH
    [[nodiscard]] Text target(std::string_view path) const;         // NAME or NAME.PATH
    [[nodiscard]] Text bracketTarget(std::string_view path) const;  // NAME[..] or NAME.PATH
    [[nodiscard]] std::unique_ptr<JsonDocument> documentOf(const Text& json) const;

    Text varName_;
    AutomationObject engine_;
    std::string_view engineProgId_;
    // Declared last so that it is destroyed last: COM is left only after the
    // engine has been released.
    std::optional<ComScope> com_;
};

// The number-text rule of the documents: fixed notation with six decimals,
// then trailing zeros of the fraction and a bare decimal point removed
// (3600 -> "3600", 2.5 -> "2.5", 0.0000001 -> "0").
[[nodiscard]] Text numberText(double number);

// A script string literal in single quotes that evaluates to exactly text.
// Quotes, backslashes, control characters and everything outside ASCII
// (U+2028 and U+2029 included, which end a line inside a literal) are written
// as escapes, so the literal is plain ASCII whatever the text holds.
[[nodiscard]] Text scriptStringLiteral(std::string_view text);

}  // namespace qx
